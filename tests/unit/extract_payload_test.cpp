// extract_payload over an in-memory host: statuses, the order of effects, the
// decoder callbacks, and that hostile sizes never lead to large reads.
#include "extract_payload.h"

#include <gtest/gtest.h>

#include "memory_host.h"
#include "payload_builder.h"
#include "payload_layout.h"

namespace {

using namespace extractor;

const std::vector<uint8_t> STUB = bytes_of("MZ this stands in for the extractor program image.");
const char* TARGET_DIR = "C:\\Temp\\KVN.1";

struct Extraction {
  MemoryHost host;
  char failed[FAILED_FILE_NAME_CAPACITY] = {};
  int32_t status = -999;

  explicit Extraction(std::vector<uint8_t> file) {
    host.own_file = std::move(file);
    host.existing_dirs.insert(TARGET_DIR);
  }
  int32_t run(const char* dir = TARGET_DIR) { return status = extract_payload(host, "self.exe", dir, failed); }
  std::string path(const std::string& name) const { return std::string(TARGET_DIR) + "\\" + name; }
};

TEST(ExtractPayload, StoredEntriesCommandsAndStubCopyInPayloadOrder) {
  Extraction x(raw_installer(STUB, {{"a.txt", bytes_of("alpha")},
                                    {"$EXEC", bytes_of(std::string("echo hi\0ignored", 15))},
                                    {"empty", {}},
                                    {"a.txt", bytes_of("replaced")},
                                    {"$exec", bytes_of("plain file")}}));
  EXPECT_EQ(x.run(), EXTRACT_OK);
  EXPECT_EQ(x.host.events, (std::vector<std::string>{"write " + x.path("a.txt"), "command echo hi",
                                                     "write " + x.path("empty"), "write " + x.path("a.txt"),
                                                     "write " + x.path("$exec"), "self " + x.path("_SELF")}));
  EXPECT_EQ(x.host.files[x.path("a.txt")], bytes_of("replaced"));
  EXPECT_TRUE(x.host.files[x.path("empty")].empty());
  EXPECT_EQ(x.host.files[x.path("_SELF")], STUB);
  EXPECT_FALSE(x.host.open) << "the own file is closed at the end";
}

TEST(ExtractPayload, DirectoryEndingInBackslashGetsNoSecond) {
  Extraction x(raw_installer(STUB, {{"f", bytes_of("x")}}));
  x.host.existing_dirs.insert("D:");
  EXPECT_EQ(x.run("D:\\"), EXTRACT_OK);
  EXPECT_EQ(x.host.events.front(), "write D:\\f");
  EXPECT_EQ(x.host.events.back(), "self D:\\_SELF");
}

TEST(ExtractPayload, CountOfZeroOrLessWritesOnlyTheStubCopy) {
  for (int32_t count : {0, -1, INT32_MIN}) {
    Extraction x(raw_installer(STUB, {{"never", bytes_of("x")}}, count));
    EXPECT_EQ(x.run(), EXTRACT_OK);
    EXPECT_EQ(x.host.events, (std::vector<std::string>{"self " + x.path("_SELF")}));
  }
}

TEST(ExtractPayload, StatusesOfTheRunItself) {
  Extraction unopened(raw_installer(STUB, {}));
  unopened.host.can_open = false;
  EXPECT_EQ(unopened.run(), EXTRACT_CANNOT_OPEN_SELF);

  Extraction no_payload(raw_installer(STUB, {}, 1, 0));
  EXPECT_EQ(no_payload.run(), EXTRACT_NO_PAYLOAD);
  EXPECT_FALSE(no_payload.host.open);

  Extraction tiny(bytes_of("1234567"));
  EXPECT_EQ(tiny.run(), EXTRACT_PAYLOAD_TRUNCATED);

  Extraction self_fails(raw_installer(STUB, {}));
  self_fails.host.fail_self = true;
  EXPECT_EQ(self_fails.run(), EXTRACT_SELF_COPY_FAILED);
}

TEST(ExtractPayload, CreationFailureNamesTheFileAndKeepsEarlierFiles) {
  Extraction x(raw_installer(STUB, {{"first", bytes_of("1")}, {"missing\\dir.txt", bytes_of("2")}}));
  EXPECT_EQ(x.run(), -3);
  EXPECT_STREQ(x.failed, (x.path("missing\\dir.txt")).c_str());
  EXPECT_EQ(x.host.files.count(x.path("first")), 1u);
  EXPECT_EQ(x.host.files.count(x.path("_SELF")), 0u) << "no stub copy after a failure";

  Extraction denied(raw_installer(STUB, {{"f", bytes_of("1")}}));
  denied.host.fail_create_with = 5;
  EXPECT_EQ(denied.run(), -5);
}

TEST(ExtractPayload, ShortWriteBeepsLowAndStopsFailedTimesBeepHighAndGoOn) {
  Extraction short_write(raw_installer(STUB, {{"f", bytes_of("content")}, {"g", bytes_of("never")}}));
  short_write.host.fail_write = true;
  EXPECT_EQ(short_write.run(), EXTRACT_WRITE_FAILED);
  EXPECT_EQ(short_write.host.beeps, (std::vector<std::pair<uint32_t, uint32_t>>{{99, 99}}));
  EXPECT_EQ(short_write.host.files.count(short_write.path("g")), 0u);

  Extraction no_times(raw_installer(STUB, {{"f", bytes_of("content")}, {"g", bytes_of("more")}}));
  no_times.host.fail_times = true;
  EXPECT_EQ(no_times.run(), EXTRACT_OK);
  EXPECT_EQ(no_times.host.beeps, (std::vector<std::pair<uint32_t, uint32_t>>{{9999, 99}, {9999, 99}}));
}

TEST(ExtractPayload, DamagedPayloadsGetDistinctStatusesAndKeepEarlierFiles) {
  const RawEntry good{"good", bytes_of("kept")};
  struct Case {
    const char* what;
    std::vector<uint8_t> file;
    int32_t status;
  };
  RawEntry long_name{std::string(600, 'n'), {}};
  RawEntry no_nul{"ABCDEFGH", bytes_of("zz"), INT64_MIN, -1, -1, true};
  RawEntry lying_stored{"s", bytes_of("abcd"), INT64_MIN, 10};
  RawEntry int_min{"m", {}, INT32_MIN, 0};
  RawEntry huge_data{"h", bytes_of("abc"), -100000, 100000};
  RawEntry huge_name{"n", {}, INT64_MIN, -1, 0x7FFFFFF0};
  std::vector<uint8_t> base = raw_installer(STUB, {good});
  std::vector<uint8_t> offset_past = base, offset_in_trailer = base;
  payload::store_u32(&offset_past[offset_past.size() - 4], static_cast<uint32_t>(base.size() + 1));
  payload::store_u32(&offset_in_trailer[offset_in_trailer.size() - 4], static_cast<uint32_t>(base.size() - 4));
  const Case cases[] = {
      {"count beyond the entries", raw_installer(STUB, {good}, 5), EXTRACT_PAYLOAD_TRUNCATED},
      {"data past the end", raw_installer(STUB, {good, huge_data}), EXTRACT_PAYLOAD_TRUNCATED},
      {"name past the end", raw_installer(STUB, {good, huge_name}), EXTRACT_PAYLOAD_TRUNCATED},
      {"name without NUL", raw_installer(STUB, {good, no_nul}), EXTRACT_ENTRY_MALFORMED},
      {"600-byte name", raw_installer(STUB, {good, long_name}), EXTRACT_PATH_TOO_LONG},
      {"stored U differs from -S", raw_installer(STUB, {good, lying_stored}), EXTRACT_ENTRY_MALFORMED},
      {"S = INT32_MIN", raw_installer(STUB, {good, int_min}), EXTRACT_ENTRY_MALFORMED},
      {"payload offset past the end", offset_past, EXTRACT_PAYLOAD_TRUNCATED},
      {"payload offset inside the trailer", offset_in_trailer, EXTRACT_PAYLOAD_TRUNCATED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Extraction x(c.file);
    EXPECT_EQ(x.run(), c.status);
    EXPECT_LE(x.host.largest_read, x.host.own_file.size()) << "no read larger than the file";
    if (std::string(c.what).find("offset") == std::string::npos) {
      EXPECT_EQ(x.host.files[x.path("good")], bytes_of("kept"));
    }
    EXPECT_EQ(x.host.files.count(x.path("_SELF")), 0u);
  }
}

TEST(ExtractPayload, PathOfExactlyTheCapacityFitsOneMoreDoesNot) {
  const std::string dir = TARGET_DIR;
  const size_t room = TARGET_PATH_CAPACITY - 1 - dir.size() - 1;  // NUL and separator
  Extraction fits(raw_installer(STUB, {{std::string(room, 'f'), bytes_of("x")}}));
  EXPECT_EQ(fits.run(), EXTRACT_OK);
  Extraction too_long(raw_installer(STUB, {{std::string(room + 1, 'f'), bytes_of("x")}}));
  EXPECT_EQ(too_long.run(), EXTRACT_PATH_TOO_LONG);
}

TEST(ExtractPayload, NamesLeavingTheWorkDirectoryAreRefusedAsInvalid) {
  for (const char* name :
       {"..\\up", "a\\..\\..\\up", "C:\\x", "C:x", "\\x", "/x", "x:y", "CON", "nul.txt", "com1", "x.", "x ", ""}) {
    SCOPED_TRACE(name);
    Extraction x(raw_installer(STUB, {{"good", bytes_of("g")}, {name, bytes_of("evil")}}));
    EXPECT_EQ(x.run(), -static_cast<int32_t>(INVALID_NAME_ERROR));
    EXPECT_EQ(x.host.files.size(), 1u) << "only the earlier entry";
  }
  Extraction sub(raw_installer(STUB, {{"sub\\ok.txt", bytes_of("fine")}}));
  sub.host.existing_dirs.insert(std::string(TARGET_DIR) + "\\sub");
  EXPECT_EQ(sub.run(), EXTRACT_OK);
}

// The callbacks, driven directly the way a decoder drives them.
TEST(EntryCallbacks, ReadHandsOutAtMostWhatIsLeftThenZero) {
  const uint8_t input[5] = {1, 2, 3, 4, 5};
  EntryStreams s{input, nullptr, 0, 0, 5, 0, 0, nullptr, false};
  uint8_t block[2048];
  uint32_t size = 2048;
  EXPECT_EQ(entry_read_callback(block, &size, &s), 5u);
  EXPECT_EQ(size, 5u);
  EXPECT_EQ(block[4], 5);
  EXPECT_EQ((s.input_position), 5u);
  size = 2048;
  EXPECT_EQ(entry_read_callback(block, &size, &s), 0u);
  EXPECT_EQ(size, 2048u) << "the count is left alone at the end";
}

TEST(EntryCallbacks, WritesAppendUntilTheCapacityThenStopWithTheMessage) {
  MemoryHost host;
  uint8_t output[10] = {};
  EntryStreams s{nullptr, output, 0, 0, 0, 0, 10, &host, false};
  const uint8_t block[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  uint32_t n = 6;
  entry_write_callback(block, &n, &s);
  n = 4;
  entry_write_callback(block, &n, &s);  // exactly reaches the capacity
  EXPECT_EQ(s.produced, 10u);
  EXPECT_TRUE(host.fatal_messages.empty());
  n = 1;
  entry_write_callback(block, &n, &s);
  ASSERT_EQ(host.fatal_messages.size(), 1u);
  EXPECT_EQ(host.fatal_messages[0], "UnCompressed data will overflow buffer (10 1 10)");
  EXPECT_EQ(s.produced, 10u);
  n = 0;
  entry_write_callback(block, &n, &s);
  EXPECT_EQ(host.fatal_messages.size(), 1u) << "nothing after the stop";
}

TEST(EntryCallbacks, CapacityTestDoesNotWrapAround) {
  MemoryHost host;
  uint8_t output[4] = {};
  EntryStreams s{nullptr, output, 0, 0, 0, 0xFFFFFFF0u, 0xFFFFFFF8u, &host, false};
  uint32_t n = 0x20;
  entry_write_callback(output, &n, &s);
  ASSERT_EQ(host.fatal_messages.size(), 1u);
  EXPECT_EQ(host.fatal_messages[0], "UnCompressed data will overflow buffer (-16 32 -8)");
}

// A compressed entry: the two-byte header 00 04 and a stream for the one byte
// 0x41 followed by the end marker.
const std::vector<uint8_t> STREAM_OF_A = {0x00, 0x04, 0x82, 0x02, 0xFE, 0x01};

TEST(ExtractPayload, CompressedEntryDeliversWhatTheStreamProduces) {
  Extraction exact(raw_installer(STUB, {{"a", STREAM_OF_A, 6, 1}}));
  EXPECT_EQ(exact.run(), EXTRACT_OK);
  EXPECT_EQ(exact.host.files[exact.path("a")], bytes_of("A"));

  // a declared size larger than the output: the file gets what was produced
  Extraction larger(raw_installer(STUB, {{"a", STREAM_OF_A, 6, 4000000000u}}));
  EXPECT_EQ(larger.run(), EXTRACT_OK);
  EXPECT_EQ(larger.host.files[larger.path("a")], bytes_of("A"));

  // a damaged stream still gives its bytes, and extraction goes on
  Extraction damaged(raw_installer(STUB, {{"a", {0x00, 0x09, 1, 2, 3}, 5, 10}, {"b", bytes_of("next")}}));
  EXPECT_EQ(damaged.run(), EXTRACT_OK);
  EXPECT_TRUE(damaged.host.files[damaged.path("a")].empty());
  EXPECT_EQ(damaged.host.files[damaged.path("b")], bytes_of("next"));
}

TEST(ExtractPayload, CompressedEntryOutgrowingItsSizeStopsTheRun) {
  Extraction x(raw_installer(STUB, {{"a", STREAM_OF_A, 6, 0}, {"b", bytes_of("never")}}));
  EXPECT_EQ(x.run(), EXTRACT_FATAL_STOP);
  EXPECT_EQ(x.host.fatal_messages, (std::vector<std::string>{"UnCompressed data will overflow buffer (0 1 0)"}));
  EXPECT_EQ(x.host.events.size(), 0u);
}

TEST(ExtractPayload, CompressedCommandRuns) {
  // binary mode literals for "dir": flag 0 then 8 bits each, then the end marker
  Extraction x(raw_installer(STUB, {{"$EXEC", {0x00, 0x04, 0xC8, 0xA4, 0x91, 0x0B, 0xF8, 0x07}, 8, 3}}));
  EXPECT_EQ(x.run(), EXTRACT_OK);
  EXPECT_EQ(x.host.commands, (std::vector<std::string>{"dir"}));
}

TEST(MaxExplodedSize, BoundsTheLongestMatchesPerBit) {
  // 22 bits per 518-byte match: 100 stream bytes hold 36 such tokens at most
  EXPECT_GE(payload::max_exploded_size(100), uint64_t(98 * 8 / 22) * 518);
  EXPECT_LT(payload::max_exploded_size(100), 40u * 518);
  EXPECT_EQ(payload::max_exploded_size(0), 518u);
  // Computed without 64-bit division: the same as S * 8 / 22 in 64 bits.
  for (uint32_t s = 0; s < 2000; ++s) EXPECT_EQ(payload::max_exploded_size(s), (uint64_t(s) * 8 / 22 + 1) * 518) << s;
  for (uint32_t s = 0xFFFFFFFF; s > 0xFFFFF000; --s)
    EXPECT_EQ(payload::max_exploded_size(s), (uint64_t(s) * 8 / 22 + 1) * 518) << s;
}

}  // namespace
