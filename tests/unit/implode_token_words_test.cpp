// The fast parse's token list: blocks of large pages, joined by moving blocks and
// read back (optionally releasing what was read) in the order written; the
// builder's room for its inputs, in large pages too; taking pages in one call,
// which changes no byte; and the parse's zeroed room, taken again by the next
// parse.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>
#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

#include "fresh_pages.h"
#include "token_words.h"

namespace {

using implode::TokenWords;

// A word that says where it was pushed, so any loss, repeat or reordering shows.
uint32_t word_at(size_t list, size_t i) { return static_cast<uint32_t>(list << 28 ^ i * 2654435761u); }

std::vector<uint32_t> read_back(TokenWords& words, bool release) {
  std::vector<uint32_t> seen;
  words.for_each([&](uint32_t w) { seen.push_back(w); }, release);
  return seen;
}

// Lengths around the block edges: a short list's own block, half a large page
// (rounded up to a whole one), and past one and two large pages.
TEST(ImplodeTokenWords, ReadsBackJoinedListsInOrderAcrossBlocks) {
  constexpr size_t LARGE = implode::LARGE_PAGE_BYTES / sizeof(uint32_t);
  const std::vector<std::pair<size_t, size_t>> cases = {
      // {bound, words pushed} of each list
      {0, 0}, {10, 10}, {5000, 4999}, {LARGE / 2, LARGE / 2 + 1}, {3 * LARGE, 2 * LARGE + 7}, {LARGE + 1, LARGE}};
  for (bool release : {false, true}) {
    for (size_t a = 0; a < cases.size(); ++a) {
      const size_t b = (a + 2) % cases.size();
      SCOPED_TRACE(testing::Message() << "lists " << a << " and " << b << (release ? " released" : ""));
      TokenWords first(cases[a].first), second(cases[b].first);
      std::vector<uint32_t> expected;
      for (size_t i = 0; i < cases[a].second; ++i) {
        first.push(word_at(1, i));
        expected.push_back(word_at(1, i));
      }
      for (size_t i = 0; i < cases[b].second; ++i) {
        second.push(word_at(2, i));
        expected.push_back(word_at(2, i));
      }
      first.append(std::move(second));
      EXPECT_TRUE(read_back(second, false).empty());
      EXPECT_TRUE(read_back(first, release) == expected);
      EXPECT_EQ(read_back(first, false).size(), release ? 0 : expected.size());
    }
  }
}

// A list over another owner's room fills it, reads back, and gives nothing back
// when its words are released or it goes: the room stays its owner's.
TEST(ImplodeTokenWords, ListInBorrowedRoomLeavesTheRoomToItsOwner) {
  constexpr size_t WORDS = 3000;
  std::vector<uint32_t> room(WORDS + 1, 0xFEEDu);
  std::vector<uint32_t> expected;
  for (bool release : {false, true}) {
    SCOPED_TRACE(release ? "released" : "kept");
    TokenWords words(room.data(), WORDS);
    EXPECT_TRUE(words.borrows());
    expected.clear();
    for (size_t i = 0; i < WORDS; ++i) {
      words.push(word_at(3, i));
      expected.push_back(word_at(3, i));
    }
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), room.begin()));
    EXPECT_TRUE(read_back(words, release) == expected);
  }
  EXPECT_EQ(room[WORDS], 0xFEEDu);  // not written past its words
  EXPECT_FALSE(TokenWords(WORDS).borrows());
}

// Room for a file's bytes: every page writable at every size, and from a large
// page on, starting at a large page's boundary so that each whole large page in
// it can be one (where the system maps memory so; elsewhere the heap's).
TEST(ImplodeFreshBytes, WholeRoomAtEverySizeAndLargeOnesOnALargePageEdge) {
  constexpr size_t LARGE = implode::LARGE_PAGE_BYTES;
  for (const size_t size : {size_t{0}, size_t{1}, size_t{4097}, LARGE - 1, LARGE, LARGE + 1, 3 * LARGE + 5}) {
    SCOPED_TRACE(size);
    const implode::FreshBytes room = implode::fresh_bytes(size);
    ASSERT_NE(room.get(), nullptr);
    std::vector<size_t> at;  // a byte on every page, and the last
    for (size_t i = 0; i < size; i += 1000) at.push_back(i);
    if (size > 0) at.push_back(size - 1);
    for (size_t i : at) room[i] = static_cast<uint8_t>(i * 7 + 1);
    for (size_t i : at) ASSERT_EQ(room[i], static_cast<uint8_t>(i * 7 + 1)) << i;
#if defined(__linux__)
    if (size >= LARGE) {
      EXPECT_EQ(reinterpret_cast<uintptr_t>(room.get()) % LARGE, 0u);
    }
#endif
  }
}

// Taking pages in one call leaves what they hold as it was, over any range:
// one that starts or ends inside a large page, spans several, or is one byte.
// (Each large page is first written to, with its own byte.)
TEST(ImplodePopulatePages, LeavesTheMemoryAsItWas) {
  constexpr size_t LARGE = implode::LARGE_PAGE_BYTES;
  const implode::FreshBytes room = implode::fresh_bytes(3 * LARGE + 5);
  const auto pattern = [](size_t i) { return static_cast<uint8_t>(i * 13 + (i >> 12) + 1); };
  // The bytes the populating may write to: each large page's first, and those around them.
  std::vector<size_t> at = {0, 1, 4095, 4096, 3 * LARGE + 4};
  for (size_t page = LARGE; page <= 3 * LARGE; page += LARGE)
    for (size_t i = page - 2; i < page + 2; ++i) at.push_back(i);
  for (size_t i : at) room[i] = pattern(i);
  const struct {
    size_t from, bytes;
  } ranges[] = {{0, 3 * LARGE + 5}, {1, LARGE}, {LARGE - 1, 2}, {LARGE + 100, 2 * LARGE - 95}, {2 * LARGE, 1}, {5, 0}};
  for (const auto& r : ranges) {
    SCOPED_TRACE(testing::Message() << "from " << r.from << ", " << r.bytes << " bytes");
    implode::populate_pages(room.get() + r.from, r.bytes);
    for (size_t i : at) ASSERT_EQ(room[i], pattern(i)) << i;
  }
}

#if defined(__linux__)
// Nor does it write before the range where the range starts inside the small
// page that begins a large page: those bytes are another owner's (here they
// cannot be written at all).
TEST(ImplodePopulatePages, WritesNothingBeforeTheRange) {
  constexpr size_t LARGE = implode::LARGE_PAGE_BYTES;
  const auto small = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  void* const mapped = mmap(nullptr, 3 * LARGE, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(mapped, MAP_FAILED);
  auto* const large = reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(mapped) + LARGE - 1) & ~(LARGE - 1));
  ASSERT_EQ(mprotect(large, small, PROT_READ), 0);
  implode::populate_pages(large + 1, LARGE);  // a write to large[0] would end the test here
  EXPECT_EQ(large[0], 0);
  large[LARGE] = 1;  // the rest as it was: writable
  munmap(mapped, 3 * LARGE);
}
#endif

bool all_zero(const implode::ReusedZeroedRoom& room, size_t size) {
  return std::all_of(room.get(), room.get() + size, [](uint8_t b) { return b == 0; });
}

// Zeroed room is zero whether it is fresh or taken again after another user
// wrote it, larger or smaller than it, or while another one is held.
TEST(ImplodeReusedZeroedRoom, ZeroWhetherFreshOrTakenAgain) {
  for (const size_t size : {size_t{100000}, size_t{60000}, size_t{100000}, size_t{300000}, size_t{1}}) {
    SCOPED_TRACE(size);
    implode::ReusedZeroedRoom room(size, size / 2);
    ASSERT_TRUE(all_zero(room, size));
    {
      implode::ReusedZeroedRoom other(size, 2 * size);  // held together: room of its own
      EXPECT_NE(other.get(), room.get());
      EXPECT_TRUE(all_zero(other, size));
      std::fill_n(other.get(), size, uint8_t{0x5A});
    }
    std::fill_n(room.get(), size, uint8_t{0xA5});
  }
}

// Room asked in large pages is whole large pages: zero and writable to the last
// byte, and kept for a later user that asks for up to all of it.
TEST(ImplodeReusedZeroedRoom, LargePagesServeLaterRoomUpToTheirWholeSize) {
  constexpr size_t WHOLE = implode::LARGE_PAGE_BYTES;
  const implode::ReusedZeroedRoom held(1, 0);  // takes the room an earlier test left, so the next is fresh
  const uint8_t* first;
  {
    implode::ReusedZeroedRoom room(100000, 50000, true);
    first = room.get();
    ASSERT_TRUE(all_zero(room, 100000));
    std::fill_n(room.get(), 100000, uint8_t{0xA5});
  }
  implode::ReusedZeroedRoom later(WHOLE, 0);
  EXPECT_GE(later.size(), WHOLE);
#if defined(__linux__)
  EXPECT_EQ(later.get(), first);
#endif
  EXPECT_TRUE(all_zero(later, WHOLE));
  std::fill_n(later.get(), WHOLE, uint8_t{0x5A});
}

}  // namespace
