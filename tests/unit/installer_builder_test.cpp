// mkpayload's builder and unpacker: layout, refusals, and a round trip through
// the extractor's own code.
#include "installer_builder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "entry_rules.h"
#include "file_io.h"
#include "installer_inspect.h"
#include "payload_builder.h"
#include "payload_layout.h"
#include "payload_reader.h"

namespace {

namespace fs = std::filesystem;
using namespace mkpayload;

const std::vector<uint8_t> STUB = bytes_of("MZ stub image of odd length");

InputEntry input(std::string name, std::vector<uint8_t> content, bool compress = false) {
  InputEntry entry;
  entry.name = std::move(name);
  entry.content = std::move(content);
  entry.compression.compress = compress;
  entry.source = "test";
  return entry;
}

std::vector<uint8_t> build(const std::vector<InputEntry>& entries, std::string* error_out = nullptr) {
  std::vector<BuiltEntry> built;
  std::string error;
  auto out = build_installer(STUB, entries, built, error);
  if (error_out) *error_out = error;
  return out ? *out : std::vector<uint8_t>{};
}

TEST(InstallerBuilder, LayoutReadsBackEntryByEntry) {
  std::vector<uint8_t> command = bytes_of("echo hi");
  command.push_back(0);
  const auto installer = build({input("a.txt", bytes_of("alpha")), input("$EXEC", command), input("empty", {})});
  ASSERT_FALSE(installer.empty());
  EXPECT_EQ(installer.size() % 8, 0u) << "padded for signing tools";
  EXPECT_TRUE(std::equal(STUB.begin(), STUB.end(), installer.begin()));

  std::span<const uint8_t> bytes = installer;
  payload::PayloadReader reader(read_from_memory, &bytes, bytes.size());
  ASSERT_EQ(reader.open(), payload::ReadStatus::ok);
  EXPECT_EQ(reader.trailer().entry_count, 3);
  EXPECT_EQ(reader.trailer().payload_offset, STUB.size());
  const char* names[] = {"a.txt", "$EXEC", "empty"};
  for (const char* name : names) {
    payload::EntryView entry;
    ASSERT_EQ(reader.next(entry), payload::ReadStatus::ok);
    EXPECT_EQ(entry.name, name);
    EXPECT_LE(entry.header.size, 0) << "stored";
  }
  // the label block follows the last entry
  EXPECT_EQ(std::vector<uint8_t>(installer.begin() + static_cast<ptrdiff_t>(reader.position()),
                                 installer.begin() + static_cast<ptrdiff_t>(reader.position()) + 12),
            std::vector<uint8_t>(payload::LABEL_BLOCK.begin(), payload::LABEL_BLOCK.end()));
}

TEST(InstallerBuilder, RefusesNamesTheExtractorWouldRefuseOrThatDoNotFit) {
  for (const std::string& name :
       std::vector<std::string>{"..\\x", "C:\\x", "CON", "_SELF", "x.", std::string(MAX_ENTRY_NAME_BYTES + 1, 'n')}) {
    std::string error;
    EXPECT_TRUE(build({input(name, bytes_of("x"))}, &error).empty()) << name;
    EXPECT_NE(error.find("entry name"), std::string::npos) << error;
  }
  EXPECT_FALSE(build({input(std::string(MAX_ENTRY_NAME_BYTES, 'n'), bytes_of("x"))}).empty());
}

TEST(InstallerBuilder, StubWithPayloadNeedsReplaceAndSignedStubIsRefused) {
  const auto installer = build({input("a", bytes_of("a"))});
  std::string error;
  EXPECT_FALSE(usable_stub(installer, false, error));
  EXPECT_NE(error.find("--replace-payload"), std::string::npos);
  auto stub = usable_stub(installer, true, error);
  ASSERT_TRUE(stub);
  EXPECT_EQ(std::vector<uint8_t>(stub->begin(), stub->end()), STUB);

  // a PE image whose security directory names a table at its end
  std::vector<uint8_t> signed_stub(0x200, 0);
  signed_stub[0] = 'M';
  signed_stub[1] = 'Z';
  payload::store_u32(&signed_stub[0x3C], 0x40);
  signed_stub[0x40] = 'P';
  signed_stub[0x41] = 'E';
  signed_stub[0x40 + 20] = 224;
  signed_stub[0x40 + 24] = 0x0B;
  signed_stub[0x40 + 25] = 0x01;
  payload::store_u32(&signed_stub[0x40 + 24 + 92], 16);
  payload::store_u32(&signed_stub[0x40 + 24 + 128], 0x180);
  payload::store_u32(&signed_stub[0x40 + 24 + 132], 0x80);
  EXPECT_FALSE(usable_stub(signed_stub, true, error));
  EXPECT_NE(error.find("signed"), std::string::npos);

  // a signed stub with bytes added behind its table is refused as well: the
  // stale entry would be inside the finished installer
  signed_stub.resize(0x208, 0);
  error.clear();
  EXPECT_FALSE(usable_stub(signed_stub, true, error));
  EXPECT_NE(error.find("signed"), std::string::npos);
}

class Unpacking : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("kvn-unpack-" + std::to_string(std::random_device{}()));
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }
  fs::path dir;
};

TEST_F(Unpacking, RoundTripThroughTheExtractorCode) {
  std::mt19937 random(7);
  std::vector<uint8_t> text;
  for (int i = 0; i < 3000; ++i) {
    const std::string word = "word" + std::to_string(random() % 50) + " ";
    text.insert(text.end(), word.begin(), word.end());
  }
  std::vector<uint8_t> noise(5000);
  for (auto& b : noise) b = static_cast<uint8_t>(random());
  const auto installer = build({input("text.txt", text, true), input("noise.bin", noise, true), input("e", {}, true)});
  ASSERT_FALSE(installer.empty());
  testing::internal::CaptureStdout();
  EXPECT_EQ(extract_installer(InstallerImage(installer), dir / "out"), 0);
  testing::internal::GetCapturedStdout();
  std::string error;
  EXPECT_EQ(*read_whole_file(dir / "out" / "text.txt", error), text);
  EXPECT_EQ(*read_whole_file(dir / "out" / "noise.bin", error), noise);
  EXPECT_TRUE(read_whole_file(dir / "out" / "e", error)->empty());
  EXPECT_EQ(*read_whole_file(dir / "out" / "_SELF", error), STUB);
  testing::internal::CaptureStdout();
  EXPECT_EQ(verify_installer(InstallerImage(installer)), 0);
  testing::internal::GetCapturedStdout();
}

TEST_F(Unpacking, HostileNamesNeverWriteOutsideTheDirectory) {
  const auto installer = raw_installer(STUB, {{"ok.txt", bytes_of("ok")}, {"../escaped.txt", bytes_of("evil")}});
  testing::internal::CaptureStderr();
  EXPECT_EQ(extract_installer(InstallerImage(installer), dir / "out"), 1);
  const std::string report = testing::internal::GetCapturedStderr();
  EXPECT_NE(report.find("error=-123"), std::string::npos) << report;
  EXPECT_FALSE(fs::exists(dir / "escaped.txt"));
  EXPECT_TRUE(fs::exists(dir / "out" / "ok.txt"));
  testing::internal::CaptureStdout();
  EXPECT_EQ(verify_installer(InstallerImage(installer)), 1);
  EXPECT_NE(testing::internal::GetCapturedStdout().find("unsafe name"), std::string::npos);
}

// Inputs are read into memory of their own kind from 2 MiB on (see
// fresh_bytes()): sizes on both sides of that edge and of a large page's
// multiple come back byte for byte, and one over the limit is refused.
TEST_F(Unpacking, InputFilesAroundTheLargePageSizeReadBackWhole) {
  constexpr size_t LARGE = 2 << 20;
  for (const size_t size : {size_t{0}, size_t{1}, LARGE - 1, LARGE, LARGE + 1, 2 * LARGE + 4097}) {
    SCOPED_TRACE(size);
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 2654435761u >> 24);
    const fs::path file = dir / "input.bin";
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(size));
    std::string error;
    const auto read = read_file_bytes(file, error);
    ASSERT_TRUE(read) << error;
    EXPECT_TRUE(std::ranges::equal(read->bytes(), bytes));
    if (size > 0) {
      EXPECT_FALSE(read_file_bytes(file, error, size - 1)) << "over its limit";
    }
  }
}

TEST_F(Unpacking, DamagedStreamIsAFaultForVerify) {
  auto installer = raw_installer(STUB, {{"a", {0x00, 0x04, 0x82, 0x02, 0xFE}, 5, 1}});  // cut before its end marker
  testing::internal::CaptureStdout();
  EXPECT_EQ(verify_installer(InstallerImage(installer)), 1);
  EXPECT_NE(testing::internal::GetCapturedStdout().find("damaged stream"), std::string::npos);
}

}  // namespace

namespace {

using namespace mkpayload;

TEST(InstallerBuilder, CompressionFaultBecomesAnErrorNotACrash) {
  InputEntry entry = input("a.txt", bytes_of("some text some text some text"), true);
  entry.compression.dict_bits = 9;  // not a dictionary size the format has
  std::string error;
  EXPECT_TRUE(build({entry}, &error).empty());
  EXPECT_NE(error.find("test: "), std::string::npos) << error;
}

}  // namespace
