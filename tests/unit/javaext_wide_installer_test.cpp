// The installation steps over a platform of UTF-16 texts, as the Windows layer
// runs them: homes, names, destinations and records keep every character.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "kit_installation.h"
#include "registry_text.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

struct WidePlatform {
  using Char = char16_t;

  std::map<std::pair<std::u16string, std::u16string>, std::u16string> registry;
  std::set<std::u16string> directories;
  std::map<std::u16string, std::string> files;
  std::vector<std::u16string> listing;
  std::vector<std::u16string> log;

  void set_kit(const std::u16string& kit, const std::u16string& version, const std::u16string& home) {
    registry[{u"SOFTWARE\\JavaSoft\\" + kit, u"CurrentVersion"}] = version + u'\0';
    registry[{u"SOFTWARE\\JavaSoft\\" + kit + u"\\" + version, u"JavaHome"}] = home + u'\0';
  }

  bool read_registry_text(const char16_t* key_path, const char16_t* value_name, std::span<char16_t> text) {
    auto found = registry.find({key_path, value_name});
    if (found == registry.end() || found->second.size() > text.size()) return false;
    std::copy(found->second.begin(), found->second.end(), text.begin());
    return javaext::finish_registry_text(text, found->second.size());
  }
  bool path_exists(const char16_t* path) {
    log.push_back(u"exists " + std::u16string(path));
    return files.count(path) || directories.count(path);
  }
  std::size_t read_file_start(const char16_t* path, std::span<char> bytes) {
    log.push_back(u"open " + std::u16string(path));
    auto found = files.find(path);
    if (found == files.end()) return 0;
    const std::size_t length = std::min(found->second.size(), bytes.size());
    std::memcpy(bytes.data(), found->second.data(), length);
    return length;
  }
  void create_directory(const char16_t* path) {
    log.push_back(u"mkdir " + std::u16string(path));
    const std::u16string p = path;
    if (directories.count(p.substr(0, p.rfind(u'\\')))) directories.insert(p);
  }
  template <class Visit>
  bool for_each_name(Visit&& visit) {
    for (const std::u16string& name : listing) visit(name.c_str());
    return true;
  }
  bool copy_file(const char16_t* source, const char16_t* destination) {
    log.push_back(u"copy " + std::u16string(source) + u" -> " + destination);
    const std::u16string d = destination;
    return directories.count(d.substr(0, d.rfind(u'\\'))) != 0;
  }
  void record_installed_file(const char16_t* destination) { log.push_back(u"record " + std::u16string(destination)); }

  std::vector<std::u16string> entries_starting(std::u16string_view prefix) const {
    std::vector<std::u16string> out;
    for (const std::u16string& entry : log) {
      if (entry.rfind(prefix, 0) == 0) out.push_back(entry);
    }
    return out;
  }
};

const std::u16string HOME = u"C:\\Program Files\\Java\\jre Юлия 日本";

TEST(WideKitInstallation, HomeAndNamesOfAnyCharactersReachDestinationsAndRecords) {
  WidePlatform p;
  p.set_kit(u"Java Runtime Environment", u"1.8", HOME);
  p.directories = {HOME, HOME + u"\\lib"};
  p.files[HOME + u"\\release"] = "JAVA_VERSION=\"1.8.0_392\"\n";
  p.listing = {u".", u"..", u"Zoë.JAR", u"日本.dll", u"_SELF", u"a.jar.bak"};
  EXPECT_EQ(javaext::install_kit_extensions(p, u"Java Runtime Environment", u""), javaext::KIT_INSTALLED);
  EXPECT_THAT(p.entries_starting(u"mkdir"),
              ElementsAre(u"mkdir " + HOME + u"\\lib\\ext", u"mkdir " + HOME + u"\\lib\\ext\\x86"));
  EXPECT_THAT(p.entries_starting(u"record"), ElementsAre(u"record " + HOME + u"\\lib\\ext\\Zoë.JAR",
                                                         u"record " + HOME + u"\\lib\\ext\\x86\\日本.dll"));
}

TEST(WideKitInstallation, ModernJavaAtAHomeOfAnyCharactersGetsNothing) {
  WidePlatform p;
  p.set_kit(u"Java Development Kit", u"17", HOME);
  p.directories = {HOME, HOME + u"\\lib"};
  p.files[HOME + u"\\lib\\modules"] = "jimage";
  p.listing = {u"a.jar"};
  EXPECT_EQ(javaext::install_kit_extensions(p, u"Java Development Kit", u"\\jre"), javaext::KIT_MODULAR_JAVA);
  EXPECT_THAT(p.log, ElementsAre(u"exists " + HOME + u"\\lib\\modules"));
}

TEST(WideKitInstallation, RecordLimitCountsCharacters) {
  // 260 characters, more than 260 bytes in any encoding of these letters: recorded.
  const std::u16string ext = HOME + u"\\lib\\ext";
  const std::u16string fits = std::u16string(260 - ext.size() - 1 - 4, u'я') + u".jar";
  const std::u16string too_long = u"я" + fits;
  WidePlatform p;
  p.set_kit(u"Java Runtime Environment", u"1.8", HOME);
  p.directories = {HOME, HOME + u"\\lib"};
  p.listing = {fits, too_long};
  EXPECT_EQ(javaext::install_kit_extensions(p, u"Java Runtime Environment", u""), javaext::KIT_INSTALLED);
  EXPECT_THAT(p.entries_starting(u"record"), ElementsAre(u"record " + ext + u"\\" + fits));
  EXPECT_THAT(p.entries_starting(u"copy"), ElementsAre(u"copy " + fits + u" -> " + ext + u"\\" + fits));
}

}  // namespace
