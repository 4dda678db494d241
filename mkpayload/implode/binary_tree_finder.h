// Match finder shared by the optimal parser and the format-size search: a binary
// tree of the suffixes in the 4096-byte window, one tree per 2-byte prefix, newest
// position at the root (the "bt" finder of LZMA). The tree is ordered by suffix and
// heap-ordered by position, so the search path of a new position visits, for every
// length L, the most recent earlier position whose suffix shares L bytes with it:
// the finder reports, for every length up to the longest, the nearest distance
// that offers it. There is no search cut-off; a match of the full 518 bytes ends
// the search and the new position takes the old one's place in the tree (beyond
// 518 bytes no comparison is ever made).
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <span>
#include <vector>

#include "common_length.h"
#include "implode_codes.h"

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
  explicit BinaryTreeFinder(std::span<const uint8_t> data)
      : data_(data),
        head_(static_cast<uint32_t*>(std::calloc(HEADS, sizeof(uint32_t)))),
        left_(TREE_SLOTS, NONE),
        right_(TREE_SLOTS, NONE) {
    if (!head_) throw std::bad_alloc();
  }

  // Inserts `pos` and stores in `out` the lengths that grow along the search path,
  // each with the nearest distance offering it. Returns the number of pairs.
  size_t find_and_insert(size_t pos, Pair* out) {
    const size_t limit = std::min<size_t>(MAX_MATCH, data_.size() - pos);
    if (limit < MIN_MATCH) return 0;
    const uint8_t* const cur = data_.data() + pos;
    const unsigned key = cur[0] | cur[1] << 8;
    uint32_t cand = head_[key] - 1;  // NONE where 0
    head_[key] = static_cast<uint32_t>(pos + 1);
    uint32_t* smaller_slot = &left_[pos % TREE_SLOTS];  // where the next smaller suffix goes
    uint32_t* larger_slot = &right_[pos % TREE_SLOTS];
    size_t smaller_len = MIN_MATCH, larger_len = MIN_MATCH;  // the 2-byte prefix is shared
    size_t best = MIN_MATCH - 1;
    size_t count = 0;
    for (;;) {
      // NONE too: in 64 bits, pos - NONE wraps far past any window (positions
      // are below NONE, as the tree stores them in 32 bits).
      if (static_cast<uint64_t>(pos) - cand > WINDOW) {
        *smaller_slot = *larger_slot = NONE;
        return count;
      }
      const uint8_t* const old = data_.data() + cand;
      const size_t len = common_length(old, cur, std::min(smaller_len, larger_len), limit);
      // Written always, kept when longer (no branch to mispredict). Fewer than
      // MAX_MATCH pairs are ever kept: a length of `limit` ends the walk below.
      out[count] = {static_cast<uint16_t>(len), static_cast<uint16_t>(pos - cand)};
      count += len > best;
      best = std::max(best, len);
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

 private:
  // The latest position + 1 of each 2-byte prefix, 0 for none: zeros, so the
  // system hands the table over untouched and a small input faults in only the
  // pages of the prefixes it has.
  static constexpr size_t HEADS = size_t{1} << 16;
  struct Free {
    void operator()(uint32_t* p) const { std::free(p); }
  };
  std::span<const uint8_t> data_;
  std::unique_ptr<uint32_t[], Free> head_;
  std::vector<uint32_t> left_;
  std::vector<uint32_t> right_;
};

}  // namespace implode::detail
