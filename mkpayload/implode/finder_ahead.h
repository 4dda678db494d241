// The optimal search's two halves of work, the match finder and the search
// proper, on two cores: the finder runs on a thread of its own a few blocks of
// positions ahead, and the search takes each position's pairs from the block
// they were stored in. The search sees exactly the pairs, in exactly the order,
// that calling the finder itself would give it, so its result is the same bit for
// bit; only the time differs. The finder takes a little less than half of the
// work, and the hand-overs cost some: 200 KB searched 1.3 to 1.5 times as fast.
//
// A new thread takes a while to run (0.2 to 0.35 ms in a fresh process on our
// machines, longer where the other core is busy): until it asks for the finder,
// the search finds for itself, so that it never waits for the thread to start
// (a thread made ready before the search, SecondCoreAhead in implode_encoder.h,
// asks at once). It looks for the question every HANDOVER_CHECK positions and
// then hands over the finder and the position to go on from. Both threads spin
// a third of a millisecond before they sleep when they wait for each other
// (spin_wait.h): the hand-over's answer comes within microseconds and the next
// block within about a tenth of a millisecond (with the search sleeping
// whenever it caught up with the finder, it waited 0.85 ms in all on 64 KiB of
// text, 0.35 ms spinning first).
//
// Used where one search covers the input: not on inputs split in two (see
// split_search.h), whose halves each take a core already.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#if KVN_IMPLODE_THREADS
#include <atomic>

#include "spin_wait.h"
#endif

#include "binary_tree_finder.h"
#include "core_thread.h"
#include "table_arena.h"
#include "two_cores.h"

namespace implode::detail {

// Below this size the thread's start and hand-overs cost more than they save. On
// our machines, with the thread placed on the other core at once (core_thread.h),
// the search finding for itself until the thread runs, and the ring among the
// search's tables, whole mkpayload runs took against the search alone: on 12 and
// 16 KiB of English text 1.02 to 1.08 times as long, on 24 KiB 0.94 to 0.96, on
// 16 KiB of an executable 0.91 to 0.93. (With none of the three, a run on 35 KB
// of text took 1.16 times as long, on 64 KiB as long, on 128 KiB 0.82 times.)
inline constexpr size_t MIN_FINDER_AHEAD_INPUT = size_t{24} << 10;

// Whether an input of `size` bytes is searched with the finder ahead.
inline bool finder_ahead_pays(size_t size) { return size >= MIN_FINDER_AHEAD_INPUT && two_cores(); }

// Pairs handed from the finder's thread to the search's: a ring of blocks, each
// some positions' pair counts and their pairs one after another. A block ends at
// BLOCK_POSITIONS positions or when fewer than MAX_MATCH pairs (the most one
// position can have) would still fit.
struct FinderBlocks {
  static constexpr uint32_t BLOCKS = 16;
  // A finder that has filled the ring waits until this many blocks are free, and
  // the search wakes it only then: one wake-up (a system call on the search's
  // side) every few blocks instead of one a block.
  static constexpr uint32_t WAKE_EVERY = BLOCKS / 2;
  static constexpr size_t BLOCK_POSITIONS = 1024;
  static constexpr size_t BLOCK_PAIRS = 4096;  // about twice what 1024 positions of text or code hold
  static_assert(BLOCK_PAIRS >= MAX_MATCH);
  struct Block {
    size_t positions = 0;
    std::array<uint16_t, BLOCK_POSITIONS> counts;
    std::array<Pair, BLOCK_PAIRS> pairs;
  };
  std::array<Block, BLOCKS> ring;
#if KVN_IMPLODE_THREADS
  std::atomic<uint32_t> filled{0};     // blocks the finder has stored
  std::atomic<uint32_t> taken{0};      // blocks the search is done with
  std::atomic<bool> abandoned{false};  // the search stopped early (an exception)
  // The hand-over of the finder: the thread asks once it runs; the search
  // answers with the position the thread finds from (the input's size: none).
  static constexpr size_t HANDOVER_CHECK = 64;
  static constexpr size_t NOT_HANDED = SIZE_MAX;
  std::atomic<bool> asking{false};
  std::atomic<size_t> handed{NOT_HANDED};
#endif
};

// Calls feed(p, pairs, count) for every position p of [0, finder's data size) in
// order, with the finder's pairs for p; with `ahead`, the finder works on another
// thread (see above), else between the calls. Should feed throw, the finder's
// thread stops and the exception goes on. The ring of blocks comes from `arena`
// where it has room (table_arena.h).
template <class Feed>
void feed_found_pairs(BinaryTreeFinder& finder, size_t size, bool ahead, Feed&& feed, TableArena* arena = nullptr) {
#if KVN_IMPLODE_THREADS
  if (ahead) {
    // The ring among the search's tables where there is room: as fresh heap
    // pages (288 KiB) its faults took a small input longer than the finder saved.
    const auto blocks = make_in_arena<FinderBlocks>(arena);
    FinderBlocks& b = *blocks;
    CoreThread finding([&] {
      b.asking.store(true, std::memory_order_relaxed);
      size_t p = wait_for_change(b.handed, FinderBlocks::NOT_HANDED);
      for (uint32_t n = 0; p < size; ++n) {
        if (n - b.taken.load(std::memory_order_acquire) >= FinderBlocks::BLOCKS) {
          // The first count the search wakes it at that frees this block.
          const uint32_t wake = n - FinderBlocks::BLOCKS + FinderBlocks::WAKE_EVERY;
          const uint32_t free = wake - wake % FinderBlocks::WAKE_EVERY;
          for (uint32_t taken = b.taken.load(std::memory_order_acquire);
               taken < free && !b.abandoned.load(std::memory_order_relaxed);
               taken = b.taken.load(std::memory_order_acquire))
            b.taken.wait(taken, std::memory_order_acquire);
        }
        if (b.abandoned.load(std::memory_order_relaxed)) return;
        FinderBlocks::Block& block = b.ring[n % FinderBlocks::BLOCKS];
        size_t i = 0, stored = 0;
        for (; i < FinderBlocks::BLOCK_POSITIONS && p < size && stored <= FinderBlocks::BLOCK_PAIRS - MAX_MATCH;
             ++i, ++p) {
          const size_t count = finder.find_and_insert(p, block.pairs.data() + stored);
          block.counts[i] = static_cast<uint16_t>(count);
          stored += count;
        }
        block.positions = i;
        b.filled.store(n + 1, std::memory_order_release);
        b.filled.notify_one();
      }
    });
    // Before the thread is joined: a search that stopped early (every block
    // filled was taken only when it finished) lets a waiting finder go.
    struct Abandon {
      FinderBlocks& b;
      ~Abandon() {
        if (b.filled.load(std::memory_order_relaxed) == b.taken.load(std::memory_order_relaxed)) return;
        b.abandoned.store(true, std::memory_order_relaxed);
        b.taken.fetch_add(1, std::memory_order_release);  // wakes a waiting finder, which then sees it
        b.taken.notify_one();
      }
    } abandon{b};
    // A search that stops before it hands over the finder (an exception) lets
    // the thread go.
    struct HandOver {
      FinderBlocks& b;
      size_t size;
      void to_thread(size_t from) {
        b.handed.store(from, std::memory_order_release);
        b.handed.notify_one();
      }
      ~HandOver() {
        if (b.handed.load(std::memory_order_relaxed) == FinderBlocks::NOT_HANDED) to_thread(size);
      }
    } hand_over{b, size};
    std::array<Pair, MAX_MATCH> own_pairs;
    size_t p = 0;
    for (; p < size && !(p % FinderBlocks::HANDOVER_CHECK == 0 && b.asking.load(std::memory_order_relaxed)); ++p)
      feed(p, own_pairs.data(), finder.find_and_insert(p, own_pairs.data()));
    hand_over.to_thread(p);
    for (uint32_t n = 0; p < size; ++n) {
      if (b.filled.load(std::memory_order_acquire) == n) wait_for_change(b.filled, n);
      const FinderBlocks::Block& block = b.ring[n % FinderBlocks::BLOCKS];
      const Pair* pairs = block.pairs.data();
      for (size_t i = 0; i < block.positions; ++i, ++p) {
        feed(p, pairs, block.counts[i]);
        pairs += block.counts[i];
      }
      b.taken.store(n + 1, std::memory_order_release);
      if ((n + 1) % FinderBlocks::WAKE_EVERY == 0) b.taken.notify_one();
    }
    return;
  }
#else
  (void)ahead;
  (void)arena;
#endif
  std::array<Pair, MAX_MATCH> pairs;
  for (size_t p = 0; p < size; ++p) feed(p, pairs.data(), finder.find_and_insert(p, pairs.data()));
}

}  // namespace implode::detail
