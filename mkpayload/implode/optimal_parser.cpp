// Optimal parser: the parse of fewest bits, by a shortest-path search over the
// input positions.
//
// Match finder. A binary tree of the suffixes in the 4096-byte window, one tree per
// 2-byte prefix, newest position at the root (LZMA's "bt" finder). The tree is
// ordered by suffix and heap-ordered by position, so the search path of a new
// position visits, for every length L, the most recent earlier position whose
// suffix shares L bytes with it: the finder reports, for every length up to the
// longest, the nearest distance that offers it. There is no search cut-off; a
// match of the full 518 bytes ends the search and the new position takes the old
// one's place in the tree (beyond 518 bytes no comparison is ever made).
//
// Costs. Every token's cost in bits is fixed by the code tables. A distance's cost
// never falls as the distance grows, so for each length the nearest distance is
// the cheapest one: the reported (length, nearest distance) pairs hold every edge
// worth having. A length code covers a range of lengths at one cost, so from a
// position p the lengths of one length code at one distance reach a range of
// later positions at one equal cost. The wide ranges (codes 11 to 15, 16 to 255
// lengths each) are kept, when a code's whole range is usable, as one candidate
// per position in a sliding-window minimum per length code, and taken when the
// search reaches the range; every other length is relaxed one by one. The search
// is exact: it finds the minimum number of bits over all parses.
//
// Memory: the tree and the search state are fixed-size rings; the full parse keeps
// one 32-bit back-reference per input position to trace the path back.
#include <algorithm>
#include <array>
#include <limits>
#include <memory>

#include "implode_encoder.h"

namespace implode {
namespace {

using namespace implode_format;

constexpr uint32_t NONE = std::numeric_limits<uint32_t>::max();
constexpr size_t WINDOW = 4096;           // widest window (k = 6)
constexpr size_t TREE_SLOTS = 2 * WINDOW; // a slot per position in the window and beyond
constexpr size_t RING = 1024;             // > MAX_MATCH: positions the search still reaches
constexpr uint64_t INFINITE = std::numeric_limits<uint64_t>::max() / 4;

struct Pair {
  uint16_t length;
  uint16_t distance;
};

class BinaryTreeFinder {
 public:
  explicit BinaryTreeFinder(std::span<const uint8_t> data)
      : data_(data), head_(1u << 16, NONE), left_(TREE_SLOTS, NONE), right_(TREE_SLOTS, NONE) {}

  // Inserts `pos` and stores in `out` the lengths that grow along the search path,
  // each with the nearest distance offering it. Returns the number of pairs.
  size_t find_and_insert(size_t pos, Pair* out) {
    const size_t limit = std::min<size_t>(MAX_MATCH, data_.size() - pos);
    if (limit < MIN_MATCH) return 0;
    const uint8_t* const cur = data_.data() + pos;
    const unsigned key = cur[0] | cur[1] << 8;
    uint32_t cand = head_[key];
    head_[key] = static_cast<uint32_t>(pos);
    uint32_t* smaller_slot = &left_[pos % TREE_SLOTS];  // where the next smaller suffix goes
    uint32_t* larger_slot = &right_[pos % TREE_SLOTS];
    size_t smaller_len = MIN_MATCH, larger_len = MIN_MATCH;  // the 2-byte prefix is shared
    size_t best = MIN_MATCH - 1;
    size_t count = 0;
    for (;;) {
      if (cand == NONE || pos - cand > WINDOW) {
        *smaller_slot = *larger_slot = NONE;
        return count;
      }
      const uint8_t* const old = data_.data() + cand;
      size_t len = std::min(smaller_len, larger_len);
      while (len < limit && old[len] == cur[len]) ++len;
      if (len > best) {
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

 private:
  std::span<const uint8_t> data_;
  std::vector<uint32_t> head_;
  std::vector<uint32_t> left_;
  std::vector<uint32_t> right_;
};

// Length codes by match length range.
struct LengthCode {
  unsigned first, last;  // match lengths
  unsigned bits;         // flag + code + extra bits
};
constexpr std::array<LengthCode, 16> length_code_ranges = [] {
  std::array<LengthCode, 16> r{};
  for (unsigned i = 0; i < 16; ++i) {
    const unsigned first = length_base[i] + MIN_MATCH;
    const unsigned last = i == 15 ? MAX_MATCH : first + (1u << length_extra_bits[i]) - 1;
    r[i] = {first, last, 1u + length_bits[i] + length_extra_bits[i]};
  }
  return r;
}();
constexpr unsigned FIRST_WIDE_CODE = 11;  // codes whose ranges go through the sliding minimum
constexpr unsigned WIDE_CODES = 16 - FIRST_WIDE_CODE;
static_assert(length_extra_bits[FIRST_WIDE_CODE] == 4 && length_extra_bits[FIRST_WIDE_CODE - 1] == 3);

// Back-reference of one position: 0 = literal, else length << 13 | distance - 1.
constexpr uint32_t pack_match(unsigned length, unsigned distance) { return length << 13 | (distance - 1); }

// The shortest-path search for one format. Positions are fed in order; the costs
// of positions not yet reached live in rings.
class PathSearch {
 public:
  PathSearch(std::span<const uint8_t> data, StreamFormat format, bool keep_path)
      : data_(data), format_(format), window_(format.window()) {
    cost_.fill(INFINITE);
    cost_[0] = 0;
    via_.fill(0);
    for (auto& ring : wide_value_) ring.fill(INFINITE);
    if (keep_path) back_.assign(data.size() + 1, 0);
  }

  // Settles position p (its cost is final once every earlier position has been
  // fed) and relaxes every edge leaving it.
  void feed(size_t p, const Pair* pairs, size_t count) {
    const uint64_t here = settle(p);
    // Literal.
    relax(p + 1, here + literal_cost(format_, data_[p]), 0);
    // Matches: lengths (previous pair's length, this pair's length] at this pair's
    // distance.
    unsigned shortest = MIN_MATCH;
    for (size_t j = 0; j < count; ++j) {
      const unsigned longest = pairs[j].length;
      const unsigned distance = pairs[j].distance;
      if (shortest == MIN_MATCH) {
        if (distance <= MAX_SHORT_DISTANCE) relax(p + 2, here + match_cost(format_, 2, distance), pack_match(2, distance));
        shortest = 3;
      }
      if (shortest > longest) continue;
      if (distance > window_) break;  // later pairs lie farther back still
      const uint64_t base = here + distance_cost(format_, 3, distance);
      for (unsigned code = length_code_index(shortest - MIN_MATCH); code < 16; ++code) {
        const LengthCode& lc = length_code_ranges[code];
        if (lc.first > longest) break;
        const uint64_t cost = base + lc.bits;
        if (code >= FIRST_WIDE_CODE && shortest <= lc.first && lc.last <= longest) {
          wide_value_[code - FIRST_WIDE_CODE][p % RING] = cost;
          wide_distance_[code - FIRST_WIDE_CODE][p % RING] = static_cast<uint16_t>(distance);
          continue;
        }
        const unsigned from = std::max(shortest, lc.first), to = std::min(longest, lc.last);
        for (unsigned length = from; length <= to; ++length) relax(p + length, cost, pack_match(length, distance));
      }
      shortest = longest + 1;
    }
  }

  // Cost of the whole input (all positions fed), without the end marker.
  uint64_t finish() { return settle(data_.size()); }

  std::vector<Token> path() const {
    std::vector<Token> tokens;
    for (size_t q = data_.size(); q > 0;) {
      const uint32_t b = back_[q];
      if (b == 0) {
        tokens.push_back({0, data_[q - 1]});
        --q;
      } else {
        const unsigned length = b >> 13;
        tokens.push_back({static_cast<uint16_t>(length), static_cast<uint16_t>((b & 0x1FFF) + 1)});
        q -= length;
      }
    }
    std::reverse(tokens.begin(), tokens.end());
    return tokens;
  }

 private:
  struct WideEntry {
    uint64_t cost;
    uint32_t from;
    uint16_t distance;
  };
  // Monotone queue of (cost, start) for one wide length code: the minimum of the
  // candidates whose range covers the position being settled.
  struct SlidingMinimum {
    std::array<WideEntry, RING> entries;
    size_t head = 0, tail = 0;
  };

  void relax(size_t q, uint64_t cost, uint32_t via) {
    uint64_t& slot = cost_[q % RING];
    if (cost < slot) {
      slot = cost;
      via_[q % RING] = via;
    }
  }

  uint64_t settle(size_t q) {
    uint64_t best = cost_[q % RING];
    uint32_t via = via_[q % RING];
    for (unsigned w = 0; w < WIDE_CODES; ++w) {
      const LengthCode& lc = length_code_ranges[FIRST_WIDE_CODE + w];
      SlidingMinimum& queue = wide_queue_[w];
      if (q >= lc.first) {  // the candidate of position q - first enters its range
        const size_t from = q - lc.first;
        const uint64_t value = wide_value_[w][from % RING];
        if (value != INFINITE) {
          while (queue.tail != queue.head && queue.entries[(queue.tail - 1) % RING].cost >= value) --queue.tail;
          queue.entries[queue.tail++ % RING] = {value, static_cast<uint32_t>(from), wide_distance_[w][from % RING]};
          wide_value_[w][from % RING] = INFINITE;
        }
      }
      while (queue.tail != queue.head && queue.entries[queue.head % RING].from + lc.last < q) ++queue.head;
      if (queue.tail != queue.head) {
        const WideEntry& e = queue.entries[queue.head % RING];
        if (e.cost < best) {
          best = e.cost;
          via = pack_match(static_cast<unsigned>(q - e.from), e.distance);
        }
      }
    }
    cost_[q % RING] = INFINITE;  // the slot serves position q + RING next
    if (!back_.empty()) back_[q] = via;
    return best;
  }

  std::span<const uint8_t> data_;
  StreamFormat format_;
  size_t window_;
  std::array<uint64_t, RING> cost_;
  std::array<uint32_t, RING> via_;
  std::array<std::array<uint64_t, RING>, WIDE_CODES> wide_value_;
  std::array<std::array<uint16_t, RING>, WIDE_CODES> wide_distance_{};
  std::array<SlidingMinimum, WIDE_CODES> wide_queue_{};
  std::vector<uint32_t> back_;
};

}  // namespace

std::vector<Token> parse_optimal(std::span<const uint8_t> data, StreamFormat format) {
  BinaryTreeFinder finder(data);
  auto search = std::make_unique<PathSearch>(data, format, true);
  std::array<Pair, MAX_MATCH> pairs;
  for (size_t p = 0; p < data.size(); ++p) search->feed(p, pairs.data(), finder.find_and_insert(p, pairs.data()));
  search->finish();
  return search->path();
}

std::array<uint64_t, 6> optimal_bits_all_formats(std::span<const uint8_t> data) {
  BinaryTreeFinder finder(data);
  std::array<std::unique_ptr<PathSearch>, 6> searches;
  for (unsigned f = 0; f < 6; ++f)
    searches[f] = std::make_unique<PathSearch>(data, StreamFormat{static_cast<LiteralCoding>(f / 3), 4 + f % 3}, false);
  std::array<Pair, MAX_MATCH> pairs;
  for (size_t p = 0; p < data.size(); ++p) {
    const size_t count = finder.find_and_insert(p, pairs.data());
    for (auto& s : searches) s->feed(p, pairs.data(), count);
  }
  std::array<uint64_t, 6> bits;
  for (unsigned f = 0; f < 6; ++f) bits[f] = searches[f]->finish() + END_MARKER_BITS;
  return bits;
}

}  // namespace implode
