// extract_payload with UTF-16 paths, as the extractor runs on Windows: a work
// directory of any characters, entry names converted by the host from their
// bytes, limits counted in UTF-16 code units, names that their conversion makes
// unsafe refused, and the failed file named with every character it holds.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "extract_payload.h"
#include "payload_builder.h"

namespace {

using namespace extractor;

const std::vector<uint8_t> STUB = bytes_of("MZ this stands in for the extractor program image.");
// A user's temporary folder that no ANSI code page holds whole.
const std::u16string WORK_DIR = u"C:\\Users\\Юлия 日本\\Temp\\KVN.1";

// Code page 1252 as far as the tests need it: Latin-1 but for 0x80, the euro
// sign, and 0x81, which the page leaves undefined; like a broken double-byte
// sequence it converts to the page's default character '?'.
char16_t cp1252(uint8_t byte) {
  if (byte == 0x80) return u'€';
  return byte == 0x81 ? u'?' : char16_t(byte);
}

struct WideMemoryHost final : WideExtractHost {
  std::vector<uint8_t> own_file;
  std::set<std::u16string> existing_dirs{WORK_DIR};
  std::map<std::u16string, std::vector<uint8_t>> files;
  std::vector<std::u16string> events;  // u"write <path>", u"self <path>"
  std::vector<std::string> commands;   // as the host received them: bytes
  bool open = false;

  bool open_own_file(const char16_t*) override { return open = true; }
  uint64_t own_file_size() override { return own_file.size(); }
  bool read_own_file(uint64_t offset, std::span<uint8_t> out) override {
    if (offset > own_file.size() || out.size() > own_file.size() - offset) return false;
    std::copy_n(own_file.begin() + static_cast<ptrdiff_t>(offset), out.size(), out.begin());
    return true;
  }
  void close_own_file() override { open = false; }
  size_t convert_entry_name(std::string_view name, std::span<char16_t> out) override {
    if (name.size() > out.size()) return 0;
    for (size_t i = 0; i < name.size(); ++i) out[i] = cp1252(static_cast<uint8_t>(name[i]));
    return name.size();
  }
  EntryFileResult write_entry_file(const char16_t* path, FileContent& content) override {
    const std::u16string p(path);
    events.push_back(u"write " + p);
    if (!existing_dirs.count(p.substr(0, p.rfind(u'\\')))) return {3, false, false};
    return {0, pour(content, p), true};
  }
  void run_command(const char* command) override { commands.emplace_back(command); }
  bool write_self_copy(const char16_t* path, FileContent& stub) override {
    events.push_back(u"self " + std::u16string(path));
    return pour(stub, path);
  }
  void beep(uint32_t, uint32_t) override {}
  void fatal_stop(const char*) override {}

 private:
  bool pour(FileContent& content, const std::u16string& path) {
    std::vector<uint8_t>& file = files[path];
    file.clear();
    return write_every_block(content, [&](std::span<const uint8_t> block) {
      file.insert(file.end(), block.begin(), block.end());
      return true;
    });
  }
};

struct WideExtraction {
  WideMemoryHost host;
  char16_t failed[FAILED_FILE_NAME_CAPACITY] = {};

  explicit WideExtraction(std::vector<uint8_t> file) { host.own_file = std::move(file); }
  int32_t run(const std::u16string& dir = WORK_DIR) { return extract_payload(host, u"self.exe", dir.c_str(), failed); }
  std::u16string failed_name() const { return failed; }
};

constexpr int32_t INVALID_NAME = -static_cast<int32_t>(INVALID_NAME_ERROR);

TEST(WidePaths, EntryNamesAreConvertedBelowAWorkDirectoryOfAnyCharacters) {
  WideExtraction x(raw_installer(STUB, {{"caf\xE9.txt", bytes_of("latte")},
                                        {"$EXEC", bytes_of("echo caf\xE9> .seen")},
                                        {"5\x80.jar", bytes_of("jar")}}));
  ASSERT_EQ(x.run(), EXTRACT_OK);
  EXPECT_EQ(x.host.events,
            (std::vector<std::u16string>{u"write " + WORK_DIR + u"\\café.txt", u"write " + WORK_DIR + u"\\5€.jar",
                                         u"self " + WORK_DIR + u"\\_SELF"}));
  EXPECT_EQ(x.host.files[WORK_DIR + u"\\café.txt"], bytes_of("latte"));
  EXPECT_EQ(x.host.files[WORK_DIR + u"\\_SELF"], STUB);
  // A command stays bytes: the host converts it where it starts the interpreter.
  EXPECT_EQ(x.host.commands, (std::vector<std::string>{"echo caf\xE9> .seen"}));
}

TEST(WidePaths, TargetPathLimitCountsCodeUnitsNotBytes) {
  // WORK_DIR has 27 code units but 35 bytes of UTF-8: only code units count.
  const size_t room = TARGET_PATH_CAPACITY - 1 - WORK_DIR.size() - 1;  // NUL and separator
  WideExtraction fits(raw_installer(STUB, {{std::string(room - 4, '\xE9') + ".txt", bytes_of("x")}}));
  EXPECT_EQ(fits.run(), EXTRACT_OK);
  WideExtraction too_long(raw_installer(STUB, {{std::string(room - 3, '\xE9') + ".txt", bytes_of("x")}}));
  EXPECT_EQ(too_long.run(), EXTRACT_PATH_TOO_LONG);
  EXPECT_TRUE(too_long.host.events.empty());
}

TEST(WidePaths, StubCopyPathThatDoesNotFitIsTooLong) {
  const std::u16string dir = u"C:\\" + std::u16string(TARGET_PATH_CAPACITY - 1 - 3 - 6, u'я');  // "\_SELF" is 6
  WideExtraction fits(raw_installer(STUB, {}));
  EXPECT_EQ(fits.run(dir), EXTRACT_OK);
  WideExtraction too_long(raw_installer(STUB, {}));
  EXPECT_EQ(too_long.run(dir + u"я"), EXTRACT_PATH_TOO_LONG);
}

TEST(WidePaths, NamesThatTheirConversionMakesUnsafeAreRefused) {
  struct Case {
    const char* name;
    const char16_t* converted;
  };
  const Case cases[] = {
      {"COM\xB9.txt", u"COM¹.txt"},  // a device on Windows, not a byte rule
      {"lpt\xB3", u"lpt³"},
      {"a\x81"
       "b.txt",
       u"a?b.txt"},  // the default character is a wildcard
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WideExtraction x(raw_installer(STUB, {{"good", bytes_of("g")}, {c.name, bytes_of("evil")}}));
    EXPECT_EQ(x.run(), INVALID_NAME);
    EXPECT_EQ(x.host.files.size(), 1u) << "only the earlier entry";
    EXPECT_EQ(x.failed_name(), WORK_DIR + u"\\" + c.converted);
  }
}

TEST(WidePaths, ByteRulesStillRunBeforeConversion) {
  for (const char* name : {"..\\up", "C:\\x", "x:y", "CON", "x.", ""}) {
    SCOPED_TRACE(name);
    WideExtraction x(raw_installer(STUB, {{name, bytes_of("evil")}}));
    EXPECT_EQ(x.run(), INVALID_NAME);
    EXPECT_TRUE(x.host.files.empty());
  }
}

TEST(WidePaths, RefusedNameTooLongForThePathIsNamedAlone) {
  const std::string name = std::string(490, '\xE9') + "*";  // the path would need 519 code units
  WideExtraction x(raw_installer(STUB, {{name, bytes_of("evil")}}));
  EXPECT_EQ(x.run(), INVALID_NAME);
  EXPECT_EQ(x.failed_name(), std::u16string(490, u'é') + u"*");
}

TEST(WidePaths, CreationFailureNamesTheWholePath) {
  WideExtraction x(raw_installer(STUB, {{"first.txt", bytes_of("kept")},
                                        {"d\xEF"
                                         "r\\f.txt",
                                         bytes_of("x")}}));
  EXPECT_EQ(x.run(), -3);
  EXPECT_EQ(x.failed_name(), WORK_DIR + u"\\dïr\\f.txt");
  EXPECT_EQ(x.host.files.count(WORK_DIR + u"\\first.txt"), 1u);
}

}  // namespace
