// The installation steps for one kit, run over a recording fake of the platform:
// a registry of text values, a set of existing directories, the work directory's
// listing, and a log of every directory creation, copy and record in order.
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

constexpr const char* JDK = "Java Development Kit";
constexpr const char* JRE = "Java Runtime Environment";

struct FakePlatform {
  std::map<std::pair<std::string, std::string>, std::string> registry;  // (key, value) -> data bytes
  std::set<std::string> directories;                                    // directories that exist (or get created)
  std::set<std::string> locked;                                         // directories where creation is refused
  std::vector<std::pair<std::string, bool>> listing;                    // name, is a directory
  std::map<std::string, std::string> files;                             // files of the kits: path -> content
  bool listing_opens = true;
  std::vector<std::string> log;  // "read KEY|VALUE", "exists P", "open P", "mkdir P", "copy S -> D", "record D"
  std::map<std::string, std::string> copies;  // destination -> source

  void set_kit(const std::string& kit, const std::string& version, const std::string& home) {
    registry[{"SOFTWARE\\JavaSoft\\" + kit, "CurrentVersion"}] = version + '\0';
    registry[{"SOFTWARE\\JavaSoft\\" + kit + "\\" + version, "JavaHome"}] = home + '\0';
  }
  void add_files(std::initializer_list<const char*> names) {
    for (const char* name : names) listing.emplace_back(name, false);
  }

  // Like RegQueryValueExA: fails when the data is larger than the buffer.
  bool read_registry_text(const char* key_path, const char* value_name, std::span<char> text) {
    log.push_back(std::string("read ") + key_path + "|" + value_name);
    auto found = registry.find({key_path, value_name});
    if (found == registry.end() || found->second.size() > text.size()) return false;
    std::memcpy(text.data(), found->second.data(), found->second.size());
    return javaext::finish_registry_text(text, found->second.size());
  }
  bool path_exists(const char* path) {
    log.push_back(std::string("exists ") + path);
    return files.count(path) != 0 || directories.count(path) != 0;
  }
  std::size_t read_file_start(const char* path, std::span<char> bytes) {
    log.push_back(std::string("open ") + path);
    auto found = files.find(path);
    if (found == files.end()) return 0;
    const std::size_t length = std::min(found->second.size(), bytes.size());
    std::memcpy(bytes.data(), found->second.data(), length);
    return length;
  }
  void create_directory(const char* path) {
    log.push_back(std::string("mkdir ") + path);
    const std::string p = path;
    const std::string parent = p.substr(0, p.rfind('\\'));
    if (!locked.count(p) && directories.count(parent)) directories.insert(p);
  }
  template <class Visit>
  bool for_each_name(Visit&& visit) {
    if (!listing_opens) return false;
    for (const auto& [name, is_directory] : listing) visit(name.c_str());
    return true;
  }
  bool copy_file(const char* source, const char* destination) {
    log.push_back(std::string("copy ") + source + " -> " + destination);
    const std::string d = destination;
    for (const auto& [name, is_directory] : listing) {
      if (name == source && is_directory) return false;  // a directory cannot be copied as a file
    }
    if (!directories.count(d.substr(0, d.rfind('\\')))) return false;
    copies[d] = source;
    return true;
  }
  void record_installed_file(const char* destination) { log.push_back(std::string("record ") + destination); }

  std::vector<std::string> entries_starting(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const std::string& entry : log) {
      if (entry.rfind(prefix, 0) == 0) out.push_back(entry);
    }
    return out;
  }
};

int install(FakePlatform& platform, const char* kit, const char* suffix) {
  return javaext::install_kit_extensions(platform, kit, suffix);
}

TEST(KitInstallation, UnregisteredKitDoesNothing) {
  FakePlatform p;
  p.add_files({"a.jar", "b.dll"});
  EXPECT_EQ(install(p, JDK, "\\jre"), javaext::KIT_VERSION_NOT_READ);
  EXPECT_THAT(p.log, ElementsAre("read SOFTWARE\\JavaSoft\\Java Development Kit|CurrentVersion"));
}

TEST(KitInstallation, VersionWithoutHomeDoesNothing) {
  FakePlatform p;
  p.registry[{"SOFTWARE\\JavaSoft\\Java Runtime Environment", "CurrentVersion"}] = std::string("1.8\0", 4);
  p.add_files({"a.jar"});
  EXPECT_EQ(install(p, JRE, ""), javaext::KIT_HOME_NOT_READ);
  EXPECT_THAT(p.log, ElementsAre("read SOFTWARE\\JavaSoft\\Java Runtime Environment|CurrentVersion",
                                 "read SOFTWARE\\JavaSoft\\Java Runtime Environment\\1.8|JavaHome"));
}

TEST(KitInstallation, InstallsArchivesAndLibrariesAndRecordsEachCopy) {
  FakePlatform p;
  p.set_kit(JDK, "1.8", "C:\\jdk");
  p.directories = {"C:\\jdk", "C:\\jdk\\jre", "C:\\jdk\\jre\\lib"};
  p.add_files({".", "..", "Tools.JAR", "Port.Dll", "a.jar.bak", ".x.jar", "README", "_SELF", "b.jar"});
  EXPECT_EQ(install(p, JDK, "\\jre"), javaext::KIT_INSTALLED);
  EXPECT_THAT(p.entries_starting("mkdir"),
              ElementsAre("mkdir C:\\jdk\\jre\\lib\\ext", "mkdir C:\\jdk\\jre\\lib\\ext\\x86"));
  EXPECT_THAT(p.entries_starting("copy"), ElementsAre("copy Tools.JAR -> C:\\jdk\\jre\\lib\\ext\\Tools.JAR",
                                                      "copy Port.Dll -> C:\\jdk\\jre\\lib\\ext\\x86\\Port.Dll",
                                                      "copy b.jar -> C:\\jdk\\jre\\lib\\ext\\b.jar"));
  EXPECT_THAT(p.entries_starting("record"),
              ElementsAre("record C:\\jdk\\jre\\lib\\ext\\Tools.JAR", "record C:\\jdk\\jre\\lib\\ext\\x86\\Port.Dll",
                          "record C:\\jdk\\jre\\lib\\ext\\b.jar"));
  // Each record follows its own copy.
  const auto copy_at = std::find(p.log.begin(), p.log.end(), "copy b.jar -> C:\\jdk\\jre\\lib\\ext\\b.jar");
  ASSERT_NE(copy_at, p.log.end());
  EXPECT_EQ(*(copy_at + 1), "record C:\\jdk\\jre\\lib\\ext\\b.jar");
}

TEST(KitInstallation, MissingRuntimeDirectoryMeansNoCopiesAndNoRecordsButStatusZero) {
  FakePlatform p;
  p.set_kit(JDK, "1.8", "C:\\jdk");
  p.directories = {"C:\\jdk"};  // no jre folder
  p.add_files({"a.jar", "b.dll"});
  EXPECT_EQ(install(p, JDK, "\\jre"), javaext::KIT_INSTALLED);
  EXPECT_EQ(p.entries_starting("mkdir").size(), 2u);
  EXPECT_EQ(p.entries_starting("copy").size(), 2u);  // attempted, both fail
  EXPECT_THAT(p.entries_starting("record"), IsEmpty());
}

TEST(KitInstallation, FailedCopyOfDirectoryNamedLikeArchiveIsNotRecorded) {
  FakePlatform p;
  p.set_kit(JRE, "1.8", "C:\\jre");
  p.directories = {"C:\\jre", "C:\\jre\\lib"};
  p.listing = {{"sub.jar", true}, {"real.jar", false}};
  EXPECT_EQ(install(p, JRE, ""), javaext::KIT_INSTALLED);
  EXPECT_THAT(p.entries_starting("record"), ElementsAre("record C:\\jre\\lib\\ext\\real.jar"));
}

TEST(KitInstallation, HomeEndingInBackslashIsUsedUnchanged) {
  FakePlatform p;
  p.set_kit(JRE, "1.8", "C:\\jre\\");
  p.directories = {"C:\\jre\\", "C:\\jre\\\\lib"};
  p.add_files({"a.jar"});
  EXPECT_EQ(install(p, JRE, ""), javaext::KIT_INSTALLED);
  EXPECT_THAT(p.entries_starting("mkdir"), ElementsAre("mkdir C:\\jre\\\\lib\\ext", "mkdir C:\\jre\\\\lib\\ext\\x86"));
  EXPECT_THAT(p.entries_starting("record"), ElementsAre("record C:\\jre\\\\lib\\ext\\a.jar"));
}

TEST(KitInstallation, ListingThatDoesNotOpenStillReportsZero) {
  FakePlatform p;
  p.set_kit(JRE, "1.8", "C:\\jre");
  p.directories = {"C:\\jre", "C:\\jre\\lib"};
  p.listing_opens = false;
  EXPECT_EQ(install(p, JRE, ""), javaext::KIT_INSTALLED);
  EXPECT_EQ(p.entries_starting("mkdir").size(), 2u);
  EXPECT_THAT(p.entries_starting("copy"), IsEmpty());
}

TEST(KitInstallation, VersionTextCapacityIs64WithNul) {
  FakePlatform p;
  const std::string version63(63, '9');
  p.set_kit(JRE, version63, "C:\\jre");
  EXPECT_EQ(install(p, JRE, ""), javaext::KIT_INSTALLED);

  FakePlatform q;
  q.set_kit(JRE, std::string(64, '9'), "C:\\jre");  // 65 bytes with the NUL
  EXPECT_EQ(install(q, JRE, ""), javaext::KIT_VERSION_NOT_READ);
  EXPECT_EQ(q.log.size(), 1u);

  FakePlatform r;  // 64 bytes of data without a NUL: no room left for one
  r.registry[{"SOFTWARE\\JavaSoft\\Java Runtime Environment", "CurrentVersion"}] = std::string(64, '9');
  EXPECT_EQ(install(r, JRE, ""), javaext::KIT_VERSION_NOT_READ);
}

TEST(KitInstallation, EmptyVersionOrHomeCountsAsNotRead) {
  FakePlatform p;
  p.set_kit(JRE, "", "C:\\jre");
  EXPECT_EQ(install(p, JRE, ""), javaext::KIT_VERSION_NOT_READ);
  FakePlatform q;
  q.set_kit(JRE, "1.8", "");  // would install into "\lib\ext" of the current drive
  q.add_files({"a.jar"});
  EXPECT_EQ(install(q, JRE, ""), javaext::KIT_HOME_NOT_READ);
  EXPECT_THAT(q.entries_starting("mkdir"), IsEmpty());
}

TEST(KitInstallation, HomeTextCapacityIs1024WithNul) {
  FakePlatform p;
  p.set_kit(JRE, "1.8", "C:\\" + std::string(1020, 'h'));  // 1024 bytes with the NUL: read
  p.add_files({"a.jar"});
  EXPECT_EQ(install(p, JRE, ""), javaext::KIT_INSTALLED);
  // But its extension directory cannot fit 1024 bytes: nothing is created or copied.
  EXPECT_THAT(p.entries_starting("mkdir"), IsEmpty());
  EXPECT_THAT(p.entries_starting("copy"), IsEmpty());

  FakePlatform q;
  q.set_kit(JRE, "1.8", "C:\\" + std::string(1021, 'h'));  // 1025 bytes with the NUL
  EXPECT_EQ(install(q, JRE, ""), javaext::KIT_HOME_NOT_READ);
}

TEST(KitInstallation, KeyPathThatDoesNotFitIsNotRead) {
  FakePlatform p;
  const std::string kit(1024 - 1 - std::strlen("SOFTWARE\\JavaSoft\\"), 'k');  // key path exactly 1023
  p.registry[{"SOFTWARE\\JavaSoft\\" + kit, "CurrentVersion"}] = std::string("1\0", 2);
  EXPECT_EQ(install(p, kit.c_str(), ""), javaext::KIT_HOME_NOT_READ);  // second key path is longer
  EXPECT_EQ(p.log.size(), 1u);

  FakePlatform q;
  const std::string too_long = kit + "k";
  EXPECT_EQ(install(q, too_long.c_str(), ""), javaext::KIT_VERSION_NOT_READ);
  EXPECT_THAT(q.log, IsEmpty());
}

TEST(KitInstallation, ExtensionDirectoryFitsButX86DirectoryDoesNot) {
  // home + "\lib\ext" is 1023 characters; home + "\lib\ext\x86" is 1027.
  const std::string home = "C:\\" + std::string(1023 - 3 - 8, 'h');
  FakePlatform p;
  p.set_kit(JRE, "1.8", home);
  p.directories = {home, home + "\\lib"};
  p.add_files({"a.jar", "b.dll"});
  EXPECT_EQ(install(p, JRE, ""), javaext::KIT_INSTALLED);
  EXPECT_THAT(p.entries_starting("mkdir"), ElementsAre("mkdir " + home + "\\lib\\ext"));
  // a.jar's destination (1029 characters) does not fit either: nothing copied.
  EXPECT_THAT(p.entries_starting("copy"), IsEmpty());
}

TEST(KitInstallation, DestinationOf260CharactersIsRecordedAnd261IsNeitherCopiedNorRecorded) {
  const std::string home = "C:\\" + std::string(200, 'h');
  const std::string ext = home + "\\lib\\ext";  // 211 characters
  const std::string name260(260 - ext.size() - 1, 'n');
  const std::string jar260 = name260.substr(4) + ".jar";
  const std::string jar261 = name260.substr(3) + ".jar";
  const std::string dll260 = name260.substr(4 + 4) + ".dll";  // "\x86" adds four
  const std::string dll261 = name260.substr(3 + 4) + ".dll";
  FakePlatform p;
  p.set_kit(JRE, "1.8", home);
  p.directories = {home, home + "\\lib"};
  p.add_files({jar260.c_str(), jar261.c_str(), dll260.c_str(), dll261.c_str()});
  EXPECT_EQ(install(p, JRE, ""), javaext::KIT_INSTALLED);
  ASSERT_EQ((ext + "\\" + jar260).size(), 260u);
  ASSERT_EQ((ext + "\\x86\\" + dll261).size(), 261u);
  EXPECT_THAT(p.entries_starting("copy"), ElementsAre("copy " + jar260 + " -> " + ext + "\\" + jar260,
                                                      "copy " + dll260 + " -> " + ext + "\\x86\\" + dll260));
  EXPECT_THAT(p.entries_starting("record"),
              ElementsAre("record " + ext + "\\" + jar260, "record " + ext + "\\x86\\" + dll260));
}

TEST(KitInstallation, BothKitsIntoTheSameDirectoryCopyAndRecordTwice) {
  FakePlatform p;
  p.set_kit(JDK, "1.8", "C:\\java");
  p.set_kit(JRE, "1.8", "C:\\java\\jre");
  p.directories = {"C:\\java", "C:\\java\\jre", "C:\\java\\jre\\lib"};
  p.add_files({"a.jar"});
  EXPECT_EQ(install(p, JDK, "\\jre"), javaext::KIT_INSTALLED);
  EXPECT_EQ(install(p, JRE, ""), javaext::KIT_INSTALLED);
  EXPECT_THAT(p.entries_starting("record"),
              ElementsAre("record C:\\java\\jre\\lib\\ext\\a.jar", "record C:\\java\\jre\\lib\\ext\\a.jar"));
}

TEST(KitInstallation, NullArgumentsAreHandled) {
  FakePlatform p;
  EXPECT_EQ(install(p, nullptr, ""), javaext::KIT_VERSION_NOT_READ);
  EXPECT_THAT(p.log, IsEmpty());
  p.set_kit(JRE, "1.8", "C:\\jre");
  p.directories = {"C:\\jre", "C:\\jre\\lib"};
  p.add_files({"a.jar"});
  EXPECT_EQ(install(p, JRE, nullptr), javaext::KIT_INSTALLED);  // no suffix
  EXPECT_THAT(p.entries_starting("record"), ElementsAre("record C:\\jre\\lib\\ext\\a.jar"));
}

// Java 9 and later stop at start-up when their home holds lib\ext: such a kit,
// known by its lib\modules or by its release file, gets nothing.
TEST(ModularJava, HomeHoldingLibModulesGetsNothing) {
  FakePlatform p;
  p.set_kit(JRE, "17", "C:\\jdk-17");
  p.directories = {"C:\\jdk-17", "C:\\jdk-17\\lib"};
  p.files["C:\\jdk-17\\lib\\modules"] = "jimage";
  p.add_files({"a.jar", "b.dll"});
  EXPECT_EQ(install(p, JRE, ""), javaext::KIT_MODULAR_JAVA);
  EXPECT_THAT(p.log, ElementsAre("read SOFTWARE\\JavaSoft\\Java Runtime Environment|CurrentVersion",
                                 "read SOFTWARE\\JavaSoft\\Java Runtime Environment\\17|JavaHome",
                                 "exists C:\\jdk-17\\lib\\modules"));
  EXPECT_THAT(p.copies, IsEmpty());
}

TEST(ModularJava, ReleaseFileOfNineOrLaterDecidesWithoutLibModules) {
  struct Case {
    const char* release;
    int status;
  };
  const Case cases[] = {
      {"JAVA_VERSION=\"9\"\n", javaext::KIT_MODULAR_JAVA},
      {"IMPLEMENTOR=\"Eclipse Adoptium\"\nJAVA_VERSION=\"25.0.3\"\n", javaext::KIT_MODULAR_JAVA},
      {"JAVA_VERSION=\"1.8.0_392\"\n", javaext::KIT_INSTALLED},
      {"JAVA_VERSION=\"1.7\"\n", javaext::KIT_INSTALLED},
      {"JAVA_VERSION=\"seventeen\"\n", javaext::KIT_INSTALLED},  // no version: lib\modules alone decides
      {"OS_NAME=\"Windows\"\n", javaext::KIT_INSTALLED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.release);
    FakePlatform p;
    p.set_kit(JRE, "1", "C:\\java");
    p.directories = {"C:\\java", "C:\\java\\lib"};
    p.files["C:\\java\\release"] = c.release;
    p.add_files({"a.jar"});
    EXPECT_EQ(install(p, JRE, ""), c.status);
    const bool installs = c.status == javaext::KIT_INSTALLED;
    EXPECT_EQ(p.entries_starting("mkdir").size(), installs ? 2u : 0u);
    EXPECT_EQ(p.entries_starting("record").size(), installs ? 1u : 0u);
    EXPECT_THAT(p.entries_starting("open"), ElementsAre("open C:\\java\\release"));
  }
}

TEST(ModularJava, OlderKitIsProbedThenInstalledAsAlways) {
  FakePlatform p;
  p.set_kit(JDK, "1.8", "C:\\jdk8");
  p.directories = {"C:\\jdk8", "C:\\jdk8\\jre", "C:\\jdk8\\jre\\lib", "C:\\jdk8\\lib"};
  p.files["C:\\jdk8\\release"] = "JAVA_VERSION=\"1.8.0_392\"\nOS_NAME=\"Windows\"\n";
  p.add_files({"a.jar", "b.dll"});
  EXPECT_EQ(install(p, JDK, "\\jre"), javaext::KIT_INSTALLED);
  // The home, then the runtime below it: neither holds lib\modules or a modern release.
  EXPECT_THAT(std::vector<std::string>(p.log.begin() + 2, p.log.begin() + 6),
              ElementsAre("exists C:\\jdk8\\lib\\modules", "open C:\\jdk8\\release",
                          "exists C:\\jdk8\\jre\\lib\\modules", "open C:\\jdk8\\jre\\release"));
  EXPECT_THAT(p.entries_starting("record"),
              ElementsAre("record C:\\jdk8\\jre\\lib\\ext\\a.jar", "record C:\\jdk8\\jre\\lib\\ext\\x86\\b.dll"));
}

TEST(ModularJava, RuntimeBelowTheHomeCountsToo) {
  FakePlatform p;
  p.set_kit(JDK, "11", "C:\\odd");
  p.directories = {"C:\\odd", "C:\\odd\\jre", "C:\\odd\\jre\\lib"};
  p.files["C:\\odd\\jre\\release"] = "JAVA_VERSION=\"11.0.2\"\n";
  p.add_files({"a.jar"});
  EXPECT_EQ(install(p, JDK, "\\jre"), javaext::KIT_MODULAR_JAVA);
  EXPECT_THAT(p.entries_starting("mkdir"), IsEmpty());
}

TEST(ModularJava, ProbeThatDoesNotFitItsPathLeavesTheKitAsItWas) {
  // home + "\lib\ext" is 1023 characters: "\lib\modules" cannot be formed,
  // "\release" (as long as "\lib\ext") can, and the kit is installed as before.
  const std::string home = "C:\\" + std::string(1023 - 3 - 8, 'h');
  FakePlatform p;
  p.set_kit(JRE, "1.8", home);
  p.directories = {home, home + "\\lib"};
  p.add_files({"a.jar"});
  EXPECT_EQ(install(p, JRE, ""), javaext::KIT_INSTALLED);
  EXPECT_THAT(p.entries_starting("exists"), IsEmpty());
  EXPECT_THAT(p.entries_starting("open"), ElementsAre("open " + home + "\\release"));
  EXPECT_THAT(p.entries_starting("mkdir"), ElementsAre("mkdir " + home + "\\lib\\ext"));
}

}  // namespace
