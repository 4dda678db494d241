// Optimal parser: the parse of fewest bits, by a shortest-path search over the
// input positions.
//
// Match finder: see binary_tree_finder.h.
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
// Handing the parse on. Each settled position keeps a back-reference (its best
// last token) in a ring. Any later position's best path passes through one of the
// last 518 settled positions (no token is longer), so once the best paths of all
// of those run through a common position m, the path up to m is final: it is
// handed to the sink and its back-references are free. This is tried every 64 Ki
// positions; best paths merge within a few tokens on real data, so the
// back-references held stay near 64 Ki positions (12 bytes each with the marks of
// the merge walk). Should paths not merge, the references are kept until they do:
// the parse stays minimal and correct at the price of memory.
//
// Memory: fixed-size rings (tree 64 KiB, costs 70 KiB) and the unmerged stretch of
// back-references, whatever the input size.
#include <algorithm>
#include <array>
#include <limits>
#include <memory>

#include "binary_tree_finder.h"
#include "implode_encoder.h"

namespace implode {
namespace {

using namespace implode_format;

using detail::BinaryTreeFinder;
using detail::Pair;
constexpr size_t RING = 1024;             // > MAX_MATCH: positions the search still reaches
constexpr uint64_t INFINITE = std::numeric_limits<uint64_t>::max() / 4;
constexpr size_t COMMIT_INTERVAL = size_t{1} << 16;  // positions between attempts
constexpr size_t FRONTIER = MAX_MATCH;              // settled positions a later path may leave from

// Back-reference of one position: 0 = literal, else length << 13 | distance - 1.
constexpr uint32_t pack_match(unsigned length, unsigned distance) { return length << 13 | (distance - 1); }

// The shortest-path search for one format. Positions are fed in order; the costs
// of positions not yet reached live in rings.
class PathSearch {
 public:
  PathSearch(std::span<const uint8_t> data, StreamFormat format, TokenSink& sink)
      : data_(data), format_(format), window_(format.window()), sink_(sink),
        back_() {
    cost_.fill(INFINITE);
    cost_[0] = 0;
    via_.fill(0);
    for (auto& ring : wide_value_) ring.fill(INFINITE);
  }

  // Settles position p (its cost is final once every earlier position has been
  // fed) and relaxes every edge leaving it.
  void feed(size_t p, const Pair* pairs, size_t count) {
    const uint64_t here = settle(p);
    if (p - committed_ >= COMMIT_INTERVAL && p % COMMIT_INTERVAL == 0) commit_settled(p);
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

  // Settles the end of the input and hands on the rest of the path. Returns the
  // cost of the whole input, without the end marker.
  uint64_t finish() {
    const uint64_t total = settle(data_.size());
    emit_path(committed_, data_.size());
    committed_ = data_.size();
    return total;
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
    back_.push_back(via);  // position q = base_ + its index
    return best;
  }

  size_t predecessor(size_t q) const {
    const uint32_t via = back_[q - base_];
    return via == 0 ? q - 1 : q - (via >> 13);
  }

  // Hands on the tokens of the best path from `from` to `to` (`from` lies on it).
  void emit_path(size_t from, size_t to) {
    std::vector<size_t>& steps = steps_;
    steps.clear();
    for (size_t q = to; q > from; q = predecessor(q)) steps.push_back(q);
    for (auto it = steps.rbegin(); it != steps.rend(); ++it) {
      const uint32_t via = back_[*it - base_];
      if (via == 0) sink_.literal(data_[*it - 1]);
      else sink_.match(via >> 13, (via & 0x1FFF) + 1);
    }
  }

  // With positions up to s settled: finds the latest position that the best paths
  // of all frontier positions (s - 517 .. s) pass through and hands on the path up
  // to it. Every such path passes through committed_, the previous such point.
  void commit_settled(size_t s) {
    mark_.resize(back_.size(), 0);
    meet_.resize(back_.size(), 0);
    if (++epoch_ == 0) {
      std::fill(mark_.begin(), mark_.end(), 0);
      epoch_ = 1;
    }
    for (size_t q = s;; q = predecessor(q)) {  // s's own path; each point meets itself
      mark_[q - base_] = epoch_;
      meet_[q - base_] = static_cast<uint32_t>(q - committed_);
      if (q == committed_) break;
    }
    size_t merge = s;
    const size_t first = s - committed_ > FRONTIER ? s - FRONTIER : committed_;
    std::vector<size_t>& walked = steps_;
    for (size_t f = first; f < s; ++f) {
      walked.clear();
      size_t q = f;
      while (mark_[q - base_] != epoch_) {
        walked.push_back(q);
        q = predecessor(q);
      }
      const uint32_t meet = meet_[q - base_];
      for (size_t w : walked) {
        mark_[w - base_] = epoch_;
        meet_[w - base_] = meet;
      }
      merge = std::min(merge, committed_ + meet);
    }
    if (merge == committed_) return;
    emit_path(committed_, merge);
    committed_ = merge;
    // Drop the references before the merge point.
    const size_t drop = committed_ - base_;
    back_.erase(back_.begin(), back_.begin() + static_cast<std::ptrdiff_t>(drop));
    mark_.erase(mark_.begin(), mark_.begin() + static_cast<std::ptrdiff_t>(drop));
    meet_.erase(meet_.begin(), meet_.begin() + static_cast<std::ptrdiff_t>(drop));
    base_ = committed_;
  }


  std::span<const uint8_t> data_;
  StreamFormat format_;
  size_t window_;
  std::array<uint64_t, RING> cost_;
  std::array<uint32_t, RING> via_;
  std::array<std::array<uint64_t, RING>, WIDE_CODES> wide_value_;
  std::array<std::array<uint16_t, RING>, WIDE_CODES> wide_distance_{};
  std::array<SlidingMinimum, WIDE_CODES> wide_queue_{};
  TokenSink& sink_;
  std::vector<uint32_t> back_;  // best last token by position, from base_ on
  std::vector<uint32_t> mark_;  // epoch of the last commit walk that reached a position
  std::vector<uint32_t> meet_;  // where that walk met the latest position's path
  uint32_t epoch_ = 0;
  size_t committed_ = 0;        // the path up to here has been handed on
  size_t base_ = 0;             // position of back_[0]
  std::vector<size_t> steps_;
};

}  // namespace

void parse_optimal(std::span<const uint8_t> data, StreamFormat format, TokenSink& sink) {
  BinaryTreeFinder finder(data);
  auto search = std::make_unique<PathSearch>(data, format, sink);
  std::array<Pair, MAX_MATCH> pairs;
  for (size_t p = 0; p < data.size(); ++p) search->feed(p, pairs.data(), finder.find_and_insert(p, pairs.data()));
  search->finish();
}

}  // namespace implode
