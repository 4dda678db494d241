// Stored entries and the stub copy go from the own file to their target in
// blocks of COPY_BLOCK_SIZE through one buffer; a compressed entry still goes out
// in one write. Checked over the in-memory host, with the largest single read
// and allocation recorded.
//
// Linked with --wrap=malloc: every malloc of the statically linked code under
// test passes through __wrap_malloc, which records the largest request.
#include <gtest/gtest.h>

#include <cstdlib>

#include "extract_payload.h"
#include "memory_host.h"
#include "own_file_content.h"
#include "payload_builder.h"

namespace {

size_t largest_allocation = 0;

}  // namespace

extern "C" void* __real_malloc(size_t size);
extern "C" void* __wrap_malloc(size_t size) {
  largest_allocation = std::max(largest_allocation, size);
  return __real_malloc(size);
}

namespace {

using namespace extractor;

const char* TARGET_DIR = "C:\\Temp\\KVN.2";
constexpr size_t BLOCK = COPY_BLOCK_SIZE;

// Bytes that differ from block to block and within each block, so a block
// written twice, skipped or out of place shows.
std::vector<uint8_t> pattern(size_t size, uint32_t seed) {
  std::vector<uint8_t> bytes(size);
  uint32_t x = seed;
  for (uint8_t& b : bytes) {
    x = x * 1103515245u + 12345u;
    b = static_cast<uint8_t>(x >> 24);
  }
  return bytes;
}

struct Extraction {
  MemoryHost host;
  char failed[FAILED_FILE_NAME_CAPACITY] = {};

  explicit Extraction(std::vector<uint8_t> file) {
    host.own_file = std::move(file);
    host.existing_dirs.insert(TARGET_DIR);
  }
  int32_t run() {
    largest_allocation = 0;
    return extract_payload(host, "self.exe", TARGET_DIR, failed);
  }
  std::string path(const std::string& name) const { return std::string(TARGET_DIR) + "\\" + name; }
  const std::vector<uint8_t>& file(const std::string& name) { return host.files[path(name)]; }
};

const std::vector<uint8_t> STUB = pattern(5000, 1);

TEST(StoredEntryInBlocks, SpanningSeveralBlocksArrivesByteExactInFullBlocks) {
  const std::vector<uint8_t> data = pattern(3 * BLOCK + 123, 2);
  Extraction x(raw_installer(STUB, {{"big.bin", data}}));
  EXPECT_EQ(x.run(), EXTRACT_OK);
  EXPECT_EQ(x.file("big.bin"), data);
  EXPECT_TRUE(x.host.beeps.empty());
  EXPECT_EQ(x.host.block_sizes[x.path("big.bin")], (std::vector<size_t>{BLOCK, BLOCK, BLOCK, 123}));
}

TEST(StoredEntryInBlocks, WriteFailingAtABlockBoundaryBeepsOnceAndKeepsTheEarlierBlocks) {
  const std::vector<uint8_t> data = pattern(4 * BLOCK, 3);
  Extraction x(raw_installer(STUB, {{"big.bin", data}, {"after", bytes_of("never")}}));
  x.host.fail_write_at_block = 2;
  EXPECT_EQ(x.run(), EXTRACT_WRITE_FAILED);
  EXPECT_EQ(x.host.beeps, (std::vector<std::pair<uint32_t, uint32_t>>{{99, 99}}));
  EXPECT_EQ(x.file("big.bin"), std::vector<uint8_t>(data.begin(), data.begin() + 2 * BLOCK));
  EXPECT_EQ(x.host.events, (std::vector<std::string>{"write " + x.path("big.bin")})) << "nothing after the failure";
  EXPECT_FALSE(x.host.open);
}

TEST(StoredEntryInBlocks, ReadFailingInTheMiddleIsStatus8WithoutABeep) {
  const std::vector<uint8_t> data = pattern(3 * BLOCK, 4);
  std::vector<uint8_t> file = raw_installer(STUB, {{"big.bin", data}, {"after", bytes_of("never")}});
  const size_t data_start = STUB.size() + 12 + sizeof("big.bin");
  Extraction x(file);
  x.host.fail_read_covering = data_start + BLOCK + BLOCK / 2;  // inside the second block
  EXPECT_EQ(x.run(), EXTRACT_PAYLOAD_TRUNCATED);
  EXPECT_TRUE(x.host.beeps.empty());
  EXPECT_EQ(x.file("big.bin"), std::vector<uint8_t>(data.begin(), data.begin() + BLOCK));
  EXPECT_EQ(x.host.files.count(x.path("_SELF")), 0u);
  EXPECT_FALSE(x.host.open);
}

TEST(StubCopyInBlocks, EqualsTheStubAndFailsWithStatus8WhenItCannotBeRead) {
  const std::vector<uint8_t> stub = pattern(2 * BLOCK + BLOCK / 3, 5);
  Extraction x(raw_installer(stub, {{"f", bytes_of("x")}}));
  EXPECT_EQ(x.run(), EXTRACT_OK);
  EXPECT_EQ(x.file("_SELF"), stub);
  EXPECT_EQ(x.host.block_sizes[x.path("_SELF")], (std::vector<size_t>{BLOCK, BLOCK, BLOCK / 3}));
  EXPECT_FALSE(x.host.open) << "closed after the copy";

  Extraction unreadable(raw_installer(stub, {{"f", bytes_of("x")}}));
  unreadable.host.fail_read_covering = BLOCK + 1;
  EXPECT_EQ(unreadable.run(), EXTRACT_PAYLOAD_TRUNCATED);
  EXPECT_EQ(unreadable.file("f"), bytes_of("x"));
  EXPECT_FALSE(unreadable.host.open);
}

TEST(StoredEntryInBlocks, LargestReadAndAllocationDoNotGrowWithTheEntry) {
  for (const size_t size : {size_t(0), size_t(1), BLOCK - 1, BLOCK, BLOCK + 1, size_t(24) << 20}) {
    SCOPED_TRACE(size);
    const std::vector<uint8_t> data = pattern(size, 6);
    Extraction x(raw_installer(STUB, {{"f", data}}));
    EXPECT_EQ(x.run(), EXTRACT_OK);
    EXPECT_EQ(x.file("f"), data);
    EXPECT_LE(x.host.largest_read, BLOCK);
    EXPECT_LE(largest_allocation, BLOCK) << "the copy buffer is the largest allocation";
    EXPECT_GT(largest_allocation, 0u) << "the wrap sees the extractor's allocations";
  }
}

// Zeros as an implode stream: binary literals, 4 KiB dictionary (header 00 06),
// one literal 0, then matches of 518 bytes at distance 1 and the end marker.
std::vector<uint8_t> zero_stream(uint32_t matches) {
  std::vector<uint8_t> out = {0x00, 0x06};
  uint32_t bit_buffer = 0, bit_count = 0;
  auto put = [&](uint32_t value, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
      bit_buffer |= ((value >> i) & 1u) << bit_count;
      if (++bit_count == 8) {
        out.push_back(static_cast<uint8_t>(bit_buffer));
        bit_buffer = bit_count = 0;
      }
    }
  };
  put(0, 1), put(0, 8);  // literal flag, byte 0
  for (uint32_t i = 0; i < matches; ++i) {
    put(1, 1), put(0x00, 7), put(254, 8);  // match flag, length code 15, extra 254: length 518
    put(0x03, 2), put(0, 6);               // distance high part 0, low bits 0: distance 1
  }
  put(1, 1), put(0x00, 7), put(255, 8);  // end marker
  if (bit_count) out.push_back(static_cast<uint8_t>(bit_buffer));
  return out;
}

TEST(CompressedEntry, LargerThanABlockStillGoesOutInOneWrite) {
  const std::vector<uint8_t> stream = zero_stream(200);
  const uint32_t unpacked = 1 + 200 * 518;
  ASSERT_GT(unpacked, BLOCK);
  Extraction x(raw_installer(STUB, {{"zeros", stream, int64_t(stream.size()), unpacked}}));
  EXPECT_EQ(x.run(), EXTRACT_OK);
  EXPECT_EQ(x.file("zeros"), std::vector<uint8_t>(unpacked, 0));
  EXPECT_EQ(x.host.block_sizes[x.path("zeros")], (std::vector<size_t>{unpacked}));
}

}  // namespace
