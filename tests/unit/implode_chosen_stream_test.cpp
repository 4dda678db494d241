// The best level's search chooses, as it runs, which format's stream it writes
// (optimal_stream_chosen). Whatever it chooses, the stream must be exactly that
// format's optimal stream and the sizes those of the search that only prices; on
// an input of up to 64 Ki bytes the choice must be the smallest format. Split on
// two threads, the search from the split point must write the lane the first one
// chose. Also the table block the searches take their tables from, and keep for
// the next search.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <random>
#include <thread>
#include <vector>
#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "implode_corpus.h"
#include "implode_encoder.h"
#include "table_arena.h"

namespace {

using namespace implode_test;

// Runs of 1 to 16 bytes from a small alphabet: long runs far back are rare, so
// the 16-entry window (k = 4) is smallest, not the widest one.
Bytes short_runs(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes data;
  while (data.size() < n) data.insert(data.end(), 1 + rng() % 16, static_cast<uint8_t>(rng() % 40));
  data.resize(n);
  return data;
}

unsigned smallest_of(const std::array<uint64_t, implode::STREAM_FORMATS>& bits, unsigned candidates) {
  unsigned best = implode::STREAM_FORMATS;
  for (unsigned i = 0; i < implode::STREAM_FORMATS; ++i)
    if ((candidates >> i & 1) && (best == implode::STREAM_FORMATS || bits[i] < bits[best])) best = i;
  return best;
}

TEST(ImplodeChosenStream, WritesTheOptimalStreamOfTheFormatItChooses) {
  Bytes text_then_runs = generated_text(70000, 81);  // text up to the choice, runs after it
  const Bytes runs = short_runs(60000, 82);
  text_then_runs.insert(text_then_runs.end(), runs.begin(), runs.end());
  struct Case {
    const char* name;
    Bytes data;
  };
  const std::vector<Case> cases = {
      {"one byte", Bytes{7}},
      {"four bytes", Bytes{1, 2, 1, 2}},
      {"text", generated_text(40000, 83)},
      {"short runs", short_runs(50000, 84)},
      {"short runs past the choice", short_runs(140000, 85)},
      {"zeros", Bytes(70000, 0)},
      {"random", random_bytes(30000, 86)},
      {"text, then runs after the choice", text_then_runs},
      {"exactly the first commit", generated_text(65536, 87)},
      {"PE-like image", pe_like_image(90000, 88)},
  };
  // Every format; each literal coding; each window; one format.
  const unsigned masks[] = {0b111111, 0b000111, 0b111000, 0b001001, 0b100000, 0b000001};
  for (const auto& [name, data] : cases) {
    SCOPED_TRACE(name);
    const auto priced = implode::optimal_sizes_all_formats(data);
    for (unsigned mask : masks) {
      SCOPED_TRACE(testing::Message() << "candidates " << mask);
      implode::ChosenOptimalStream found = implode::optimal_stream_chosen(data, mask, 0);
      ASSERT_LT(found.written, implode::STREAM_FORMATS);
      EXPECT_TRUE(mask >> found.written & 1);
      EXPECT_EQ(found.bits, priced);
      if (data.size() <= 65536) {
        EXPECT_EQ(found.written, smallest_of(priced, mask));
      }
      const implode::StreamFormat f = implode::format_at_index(found.written);
      ASSERT_TRUE(found.stream);
      EXPECT_TRUE(found.stream->finish() == implode::write_stream(implode::parse_optimal(data, f), f));
    }
  }
}

// An input searched with the split point `split` (0: one search).
struct SplitCase {
  const char* name;
  Bytes data;
  size_t split;
};

// The best level's second core made ready before the search (a thread that
// takes a search's tables and waits to become the search's second thread)
// changes no stream, with the finder ahead or split, and is made only where a
// search of that size would use two threads.
TEST(ImplodeChosenStream, SecondCoreMadeReadyChangesNoStream) {
  EXPECT_FALSE(implode::SecondCoreAhead(16 << 10).started());
  const std::vector<SplitCase> cases = {
      {"text, the finder ahead", generated_text(40000, 95), 0},
      {"short runs, the finder ahead", short_runs(100000, 96), 0},
      {"text, split", generated_text(200000, 97), 97920},
  };
  for (const auto& [name, data, split] : cases) {
    SCOPED_TRACE(name);
    implode::ChosenOptimalStream without = implode::optimal_stream_chosen(data, 0b111111, split);
    const implode::SecondCoreAhead second_core(data.size());
    implode::ChosenOptimalStream with = implode::optimal_stream_chosen(data, 0b111111, split);
    EXPECT_EQ(with.bits, without.bits);
    ASSERT_EQ(with.written, without.written);
    EXPECT_TRUE(with.stream->finish() == without.stream->finish());
  }
}

// The search from the split point cannot choose: it writes the lane that the
// search from the start chose at its first commit, whichever that is.
TEST(ImplodeChosenStream, SplitSearchWritesTheLaneTheFirstSearchChose) {
  Bytes text_then_runs = generated_text(100000, 91);
  const Bytes runs = short_runs(150000, 92);
  text_then_runs.insert(text_then_runs.end(), runs.begin(), runs.end());
  const std::vector<SplitCase> cases = {
      {"short runs", short_runs(260000, 93), 130560},
      {"text", generated_text(200000, 94), 97920},
      {"text, then runs from before the split on", text_then_runs, 130560},
  };
  for (const auto& [name, data, split] : cases) {
    SCOPED_TRACE(name);
    for (unsigned mask : {0b111111u, 0b000111u, 0b001001u}) {
      SCOPED_TRACE(testing::Message() << "candidates " << mask);
      implode::ChosenOptimalStream one = implode::optimal_stream_chosen(data, mask, 0);
      implode::ChosenOptimalStream two = implode::optimal_stream_chosen(data, mask, split);
      EXPECT_EQ(two.bits, one.bits);
      ASSERT_EQ(two.written, one.written);
      EXPECT_TRUE(two.stream->finish() == one.stream->finish());
    }
  }
}

TEST(TableArena, TablesAreZeroedAlignedAndComeFromTheHeapOnceItIsFull) {
  implode::TableArena arena;
  size_t taken = 0;
  std::vector<implode::ArenaTable<uint32_t>> tables;
  // Odd sizes, so that alignment is needed; more than the block holds in all.
  for (size_t entries = 1000; taken < 2 * implode::TableArena::BYTES; entries = entries * 3 + 5) {
    tables.push_back(implode::arena_table<uint32_t>(&arena, entries));
    const uint32_t* t = tables.back().get();
    ASSERT_NE(t, nullptr);
    for (size_t i = 0; i < entries; ++i) ASSERT_EQ(t[i], 0u) << "entry " << i << " of " << entries;
    const bool fits = taken + entries * sizeof(uint32_t) <= implode::TableArena::BYTES;
    EXPECT_EQ(arena.holds(t), fits) << entries << " entries after " << taken << " bytes";
    if (fits) {
      EXPECT_EQ(reinterpret_cast<uintptr_t>(t) % 64, 0u);  // a cache line
    }
    if (fits)
      taken = (taken + entries * sizeof(uint32_t) + 63) / 64 * 64;
    else
      taken += entries * sizeof(uint32_t);
    std::memset(tables.back().get(), 0xA5, entries * sizeof(uint32_t));  // each its own memory
  }
  // Without an arena every table is the heap's.
  const auto heap = implode::arena_table<uint32_t>(nullptr, 100);
  EXPECT_FALSE(arena.holds(heap.get()));
  EXPECT_EQ(heap[99], 0u);
}

bool all_zero(const uint8_t* bytes, size_t size) {
  return std::all_of(bytes, bytes + size, [](uint8_t b) { return b == 0; });
}

// An arena that goes keeps its block for the next one, holding on to no more
// than the first large page of it; the next arena's tables are zero wherever the
// earlier search wrote.
TEST(TableArena, NextArenaTakesTheBlockBackZeroedAndOnlyItsFirstLargePageStaysTaken) {
  constexpr size_t LARGE = implode::LARGE_PAGE_BYTES;
  constexpr size_t BYTES = implode::TableArena::BYTES;
  const implode::ReusedZeroedRoom held(1, 0);  // takes any room an earlier test left, so the first arena is fresh
  std::byte* first_block = nullptr;
  {
    implode::TableArena arena;
    std::vector<implode::ArenaTable<uint8_t>> tables;
    for (size_t bytes = 100003, taken = 0; taken < LARGE + LARGE / 2; taken += (bytes + 63) / 64 * 64) {
      tables.push_back(implode::arena_table<uint8_t>(&arena, bytes));  // past the first large page
      if (taken == 0) first_block = reinterpret_cast<std::byte*>(tables.back().get());
      ASSERT_TRUE(arena.holds(tables.back().get()));
      std::memset(tables.back().get(), 0xA5, bytes);
    }
  }
#if defined(__linux__)
  // The block kept: its second large page is the system's again.
  std::vector<unsigned char> resident((BYTES - LARGE) / static_cast<size_t>(sysconf(_SC_PAGESIZE)));
  ASSERT_EQ(mincore(first_block + LARGE, BYTES - LARGE, resident.data()), 0);
  EXPECT_EQ(std::count_if(resident.begin(), resident.end(), [](unsigned char r) { return r & 1; }), 0);
#endif
  implode::TableArena later;
  size_t taken = 0;
  for (size_t bytes = 1000; taken + bytes <= BYTES; bytes = bytes * 2 + 7) {
    const auto table = implode::arena_table<uint8_t>(&later, bytes);
#if defined(__linux__)
    if (taken == 0) {
      EXPECT_EQ(reinterpret_cast<std::byte*>(table.get()), first_block);
    }
#endif
    ASSERT_TRUE(all_zero(table.get(), bytes)) << bytes << " bytes after " << taken;
    taken = (taken + bytes + 63) / 64 * 64;
  }
}

// A room announced for another thread to take (the best level's early
// thread): once that thread has begun, an arena made meanwhile waits for the
// room and takes that block instead of mapping one of its own; one not yet
// begun is called off (the arena maps its own at once, and the thread then
// takes nothing). One room is announced at a time.
TEST(TableArena, WaitsForTheRoomAnotherThreadIsTakingAndCallsOffOneNotBegun) {
  for (const bool begun : {true, false}) {
    SCOPED_TRACE(begun ? "begun" : "not begun");
    const implode::ReusedZeroedRoom drained(1, 0);  // takes any room kept before
    ASSERT_TRUE(implode::announce_room());
    EXPECT_FALSE(implode::announce_room());
    std::atomic<bool> taking{false}, arena_coming{false};
    std::atomic<const void*> taken_block{nullptr};
    std::thread taker;
    if (begun) {
      taker = std::thread([&] {
        if (!implode::begin_announced_room()) return;
        taking.store(true);
        while (!arena_coming.load()) std::this_thread::yield();  // taken while the arena waits for it
        {
          implode::TableArena arena;
          const auto table = implode::arena_table<uint8_t>(&arena, 64);
          taken_block.store(table.get());
          arena.take_first_pages();
        }
        implode::end_announced_room();
      });
      while (!taking.load()) std::this_thread::yield();
    }
    arena_coming.store(true);
    implode::TableArena arena;
    const auto table = implode::arena_table<uint8_t>(&arena, 64);
    if (begun) {
      taker.join();
      EXPECT_EQ(static_cast<const void*>(table.get()), taken_block.load());
    } else {
      EXPECT_FALSE(implode::begin_announced_room());  // called off
    }
    ASSERT_TRUE(all_zero(table.get(), 64));
  }
  // None is left announced: a new one may be.
  ASSERT_TRUE(implode::announce_room());
  ASSERT_TRUE(implode::begin_announced_room());
  implode::end_announced_room();
}

// A larger room that another user kept, written to its end, serves an arena and
// is kept again zero past its first large page, to its end.
TEST(TableArena, LargerRoomOfAnotherUserIsKeptZeroPastItsFirstLargePage) {
  constexpr size_t LARGE = implode::LARGE_PAGE_BYTES;
  constexpr size_t WHOLE = implode::TableArena::BYTES + LARGE;
  const implode::ReusedZeroedRoom held(1, 0);  // takes any room an earlier test left
  {
    implode::ReusedZeroedRoom room(WHOLE, 0, true);
    std::memset(room.get(), 0xA5, room.size());
  }
  {
    implode::TableArena arena;
    const auto table = implode::arena_table<uint8_t>(&arena, LARGE + 1);  // past its first large page
    ASSERT_TRUE(arena.holds(table.get()));
    ASSERT_TRUE(all_zero(table.get(), LARGE + 1));
  }
  const implode::ReusedZeroedRoom later(WHOLE, 0);
  EXPECT_TRUE(all_zero(later.get(), WHOLE));
}

}  // namespace
