// Match finder shared by the optimal parser and the format-size search: a binary
// tree of the suffixes in the 4096-byte window, newest position at the root (the
// "bt" finder of LZMA). The tree is ordered by suffix and heap-ordered by
// position, so the search path of a new position visits, for every length L, the
// most recent earlier position in the tree whose suffix shares L bytes with it:
// the finder reports, for every length up to the longest, the nearest distance
// that offers it. There is no search cut-off; a match of the full 518 bytes ends
// the search and the new position takes the old one's place in the tree (beyond
// 518 bytes no comparison is ever made).
//
// One tree per hash of the first four bytes, so every position sharing four bytes
// is in the new position's tree and the walk finds lengths 4 and up; the trees
// are smaller than trees by two bytes (the walk's nodes, each a branch that is as
// good as random, are its cost). A collision only adds nodes that share fewer
// bytes, which the walk passes. Length 2 comes from a table of the latest
// position of every 2-byte prefix, length 3 from a chain of the positions by hash
// of three bytes, the first with the same three bytes: each the nearest distance
// offering that length. Where the nearest position for one length also offers
// the next, the next one's pair covers it; the pairs are exactly those of one
// tree per 2-byte prefix (the nearest distance of every length is a property of
// the window's bytes alone, whatever finds it).
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <span>
#include <vector>

#include "common_length.h"
#include "implode_codes.h"
#include "table_arena.h"

namespace implode::detail {

using namespace implode_format;

constexpr uint32_t NONE = std::numeric_limits<uint32_t>::max();
constexpr size_t WINDOW = 4096;            // widest window (k = 6)
constexpr size_t TREE_SLOTS = 2 * WINDOW;  // a slot per position in the window and beyond

struct Pair {
  uint16_t length;
  uint16_t distance;
};

class BinaryTreeFinder {
 public:
  // The tables come from `arena` where it has room (table_arena.h), zeroed. The
  // slot tables need no filling: a position's slots are written when it is
  // inserted, before any walk or chain can reach it (filling them on the
  // search's core had the finder's core fetch them back: whole best runs on
  // GPL-3 took 0.975 to 0.98 of the time without it).
  explicit BinaryTreeFinder(std::span<const uint8_t> data, TableArena* arena = nullptr)
      : data_(data),
        latest2_(arena_table<uint32_t>(arena, PREFIXES2)),
        latest3_(arena_table<uint32_t>(arena, HASHES)),
        earlier3_(arena_table<uint32_t>(arena, TREE_SLOTS)),
        root4_(arena_table<uint32_t>(arena, HASHES)),
        left_(arena_table<uint32_t>(arena, TREE_SLOTS)),
        right_(arena_table<uint32_t>(arena, TREE_SLOTS)) {}

  // Inserts `pos` and stores in `out` the lengths that grow along the search path,
  // each with the nearest distance offering it. Returns the number of pairs.
  // COUNTS_NODES adds the nodes walked to nodes_walked() (not in the searches'
  // walks: a count in the walk's loop cost them 1 to 2 %).
  template <bool COUNTS_NODES = false>
  size_t find_and_insert(size_t pos, Pair* out) {
    const size_t limit = std::min<size_t>(MAX_MATCH, data_.size() - pos);
    if (limit < MIN_MATCH) return 0;
    const uint8_t* const cur = data_.data() + pos;
    // In 64 bits, pos - NONE wraps far past any window (positions are below
    // NONE, as the tables store them in 32 bits).
    const auto in_window = [pos](uint32_t p) { return static_cast<uint64_t>(pos) - p <= WINDOW; };

    // The next position's table entries, fetched while this one walks its tree
    // (entries by the input's bytes: cache misses, mostly, on large inputs).
    if (limit > 4) {
      __builtin_prefetch(&latest2_[cur[1] | cur[2] << 8]);
      uint32_t next4;
      std::memcpy(&next4, cur + 1, 4);
      __builtin_prefetch(&root4_[next4 * HASH_MULTIPLIER >> (32 - HASH_BITS)]);
      __builtin_prefetch(&latest3_[(next4 & 0xFFFFFF) * HASH_MULTIPLIER >> (32 - HASH_BITS)]);
    }
    const unsigned prefix = cur[0] | cur[1] << 8;
    const uint32_t nearest2 = latest2_[prefix] - 1;  // NONE where 0
    latest2_[prefix] = static_cast<uint32_t>(pos + 1);
    size_t count = 0;
    if (in_window(nearest2)) out[count++] = {MIN_MATCH, static_cast<uint16_t>(pos - nearest2)};
    if (limit < 3) return count;

    // Length 3: the nearest position with the same three bytes, the first such on
    // the chain of its hash.
    const unsigned hash3 = (cur[0] | cur[1] << 8 | cur[2] << 16) * HASH_MULTIPLIER >> (32 - HASH_BITS);
    uint32_t nearest3 = latest3_[hash3] - 1;
    earlier3_[pos % TREE_SLOTS] = nearest3;
    latest3_[hash3] = static_cast<uint32_t>(pos + 1);
    while (in_window(nearest3) && std::memcmp(data_.data() + nearest3, cur, 3) != 0)
      nearest3 = earlier3_[nearest3 % TREE_SLOTS];
    if (in_window(nearest3)) {
      if (count == 1 && out[0].distance == pos - nearest3) count = 0;  // it offers length 2 too
      out[count++] = {3, static_cast<uint16_t>(pos - nearest3)};
    }
    if (limit < 4) return count;
    // The tree, walked even without a 3-byte match: the position goes into it.

    uint32_t first4;
    std::memcpy(&first4, cur, 4);
    const unsigned hash4 = first4 * HASH_MULTIPLIER >> (32 - HASH_BITS);
    uint32_t cand = root4_[hash4] - 1;
    root4_[hash4] = static_cast<uint32_t>(pos + 1);
    uint32_t* smaller_slot = &left_[pos % TREE_SLOTS];  // where the next smaller suffix goes
    uint32_t* larger_slot = &right_[pos % TREE_SLOTS];
    size_t smaller_len = 0, larger_len = 0;  // a tree by hash: no prefix is known to be shared
    size_t best = 3;
    for (;;) {
      if (!in_window(cand)) {
        *smaller_slot = *larger_slot = NONE;
        return count;
      }
      if constexpr (COUNTS_NODES) ++nodes_walked_;
      const uint8_t* const old = data_.data() + cand;
      const size_t len = long_common_length(old, cur, std::min(smaller_len, larger_len), limit);
      if (len > best) {
        // The first report (the nearest 4-byte match) at the 3-byte one's distance
        // covers length 3 too.
        if (best == 3 && count > 0 && out[count - 1].distance == pos - cand) --count;
        best = len;
        out[count++] = {static_cast<uint16_t>(len), static_cast<uint16_t>(pos - cand)};
      }
      const size_t slot = cand % TREE_SLOTS;
      if (len == limit) {  // equal as far as any comparison goes: take its place
        *smaller_slot = left_[slot];
        *larger_slot = right_[slot];
        return count;
      }
      if (old[len] < cur[len]) {
        *smaller_slot = cand;
        smaller_slot = &right_[slot];
        cand = *smaller_slot;
        smaller_len = len;
      } else {
        *larger_slot = cand;
        larger_slot = &left_[slot];
        cand = *larger_slot;
        larger_len = len;
      }
    }
  }

  // Tree nodes compared so far by find_and_insert<true>: most of the finder's
  // work, and the part that varies along an input (optimal_split_point estimates
  // work by it).
  uint64_t nodes_walked() const { return nodes_walked_; }

 private:
  static constexpr size_t PREFIXES2 = size_t{1} << 16;
  static constexpr unsigned HASH_BITS = 14;
  static constexpr size_t HASHES = size_t{1} << HASH_BITS;
  static constexpr uint32_t HASH_MULTIPLIER = 0x9E3779B1u;
  std::span<const uint8_t> data_;
  ArenaTable<uint32_t> latest2_;   // by 2-byte prefix: the latest position + 1, 0 for none
  ArenaTable<uint32_t> latest3_;   // by hash of three bytes: the latest position + 1, 0 for none
  ArenaTable<uint32_t> earlier3_;  // by slot: the position before it on its chain
  ArenaTable<uint32_t> root4_;     // by hash of four bytes: the root of the tree, + 1, 0 for none
  ArenaTable<uint32_t> left_;
  ArenaTable<uint32_t> right_;
  uint64_t nodes_walked_ = 0;
};

}  // namespace implode::detail
