// Optimal parses for all six formats (binary/ASCII literals x k = 4, 5, 6) in one
// pass: the shortest-path search of the optimal parser (see optimal_parser.cpp),
// run for the six formats side by side. One match finder serves them all (its
// window is the widest; a pair too far for a smaller k is simply not used by that
// format), and the costs and back-references of one position are vectors of
// lanes, one per format, so every relaxation updates all formats at once.
//
// The wide length codes (11 to 15) go through a sliding-window minimum per code
// with its argument: a position whose pair covers a code's whole range registers
// one value, and the minimum over the positions whose range covers q is taken
// when q settles. It is computed in blocks of the code's width (van Herk /
// Gil-Werman: prefix minima forward, suffix minima once a block is complete),
// lane by lane.
//
// Costs are 32-bit per lane and rebased on the settled cost every 2^20 positions,
// so no lane overflows on any input size. Each lane hands its parse to its sink in
// pieces, as soon as the best paths of that lane merge (as in the single-format
// parser).
#include <algorithm>
#include <array>
#include <cassert>
#include <memory>

#include "binary_tree_finder.h"
#include "implode_encoder.h"

namespace implode {
namespace {

using namespace implode_format;

constexpr unsigned LANES = 8;  // six formats, padded to a vector width
constexpr unsigned FORMATS = 6;
// Eight 32-bit lanes as two 4-lane GCC/Clang vectors: one instruction per half
// where the target has 128-bit vector registers, plain code where it has none.
typedef int32_t Vec4 __attribute__((vector_size(16)));
typedef uint32_t RefVec4 __attribute__((vector_size(16)));
template <typename V, typename E>
struct LaneVector {
  V half[2];
  E operator[](unsigned l) const { return half[l / 4][l % 4]; }
  void set(unsigned l, E v) { half[l / 4][l % 4] = v; }
  friend LaneVector operator+(const LaneVector& a, const LaneVector& b) {
    return {{a.half[0] + b.half[0], a.half[1] + b.half[1]}};
  }
};
using Lanes = LaneVector<Vec4, int32_t>;
using LaneRefs = LaneVector<RefVec4, uint32_t>;
constexpr int32_t UNREACHED = 0x3FFFFFFF;
constexpr size_t RING = 1024;  // > MAX_MATCH
constexpr size_t REBASE_INTERVAL = size_t{1} << 20;
constexpr size_t COMMIT_INTERVAL = size_t{1} << 16;
constexpr size_t FRONTIER = MAX_MATCH;
constexpr unsigned WINDOW_SIXTEENTHS = 4096 / 16;
static_assert(max_distance(6) == 4096 && max_distance(4) % 16 == 0 && max_distance(5) % 16 == 0);

constexpr StreamFormat lane_format(unsigned lane) {
  const unsigned f = lane < FORMATS ? lane : FORMATS - 1;
  return {static_cast<LiteralCoding>(f / 3), 4 + f % 3};
}

// Back-reference: 0 = literal, else length << 13 | distance - 1.
constexpr uint32_t pack_match(unsigned length, unsigned distance) { return length << 13 | (distance - 1); }

inline Lanes lanes_add(const Lanes& a, const Lanes& b) { return a + b; }
inline Lanes lanes_fill(int32_t v) { return {{Vec4{} + v, Vec4{} + v}}; }
inline LaneRefs refs_fill(uint32_t v) { return {{RefVec4{} + v, RefVec4{} + v}}; }

// Lane-wise minimum of (value, reference) pairs; ties keep the first.
inline void take_smaller(Lanes& value, LaneRefs& ref, const Lanes& other, const LaneRefs& other_ref) {
  for (unsigned h = 0; h < 2; ++h) {
    const Vec4 smaller = other.half[h] < value.half[h];
    value.half[h] = smaller ? other.half[h] : value.half[h];
    ref.half[h] = smaller ? other_ref.half[h] : ref.half[h];
  }
}
inline void take_smaller(Lanes& value, LaneRefs& ref, Lanes other, uint32_t other_ref) {
  take_smaller(value, ref, other, refs_fill(other_ref));
}

struct LiteralCosts {
  std::array<Lanes, 256> by_byte;
  LiteralCosts() {
    for (unsigned b = 0; b < 256; ++b)
      for (unsigned l = 0; l < LANES; ++l)
        by_byte[b].set(l, static_cast<int32_t>(literal_cost(lane_format(l), static_cast<uint8_t>(b))));
  }
};

// Distance cost per lane for a match of 3 or more bytes (lanes: binary k = 4, 5, 6,
// ASCII k = 4, 5, 6, then padding); a lane whose window the distance exceeds is
// out. The cost depends on the distance only through (distance - 1) >> 4: the high
// part for every k >= 4 and whether it fits the window.
struct DistanceCosts {
  std::array<Lanes, WINDOW_SIXTEENTHS> by_sixteenth;
  DistanceCosts() {
    for (unsigned i = 0; i < WINDOW_SIXTEENTHS; ++i) {
      const unsigned distance = i * 16 + 1;  // any distance with this (distance - 1) >> 4
      int32_t by_k[3];
      for (unsigned k = 4; k <= 6; ++k)
        by_k[k - 4] = distance <= max_distance(k) ? static_cast<int32_t>(distance_bits[(distance - 1) >> k] + k)
                                                   : UNREACHED;
      by_sixteenth[i] = {{Vec4{by_k[0], by_k[1], by_k[2], by_k[0]}, Vec4{by_k[1], by_k[2], by_k[2], by_k[2]}}};
    }
  }
};

// Sliding-window minimum, with the position it came from, over positions p in
// [q - last, q - first] for one wide length code, in blocks of the code's width.
class WideCodeMinimum {
 public:
  explicit WideCodeMinimum(const LengthCode& code)
      : first_(code.first), last_(code.last), width_(code.last - code.first + 1),
        lead_blocks_((code.first - 1) / width_), lead_offset_((code.first - 1) % width_) {
    value_.fill(lanes_fill(UNREACHED));
    prefix_.fill(lanes_fill(UNREACHED));
    suffix_.fill(lanes_fill(UNREACHED));
    prefix_from_.fill(refs_fill(0));
    suffix_from_.fill(refs_fill(0));
  }

  Lanes& value_at(size_t p) { return value_[p % RING]; }
  // Position p has stored its value. The other positions of its block hold
  // UNREACHED from here on (close() sees to the later ones).
  void registered(size_t p) {
    if (!block_registered_)
      for (size_t x = p - offset_in_block_; x < p; ++x) value_[x % RING] = lanes_fill(UNREACHED);
    last_registered_ = p + 1;
    block_registered_ = true;
  }
  // No position whose range covers q or a later position has registered.
  bool quiet_at(size_t q) const { return q >= last_registered_ + last_; }
  uint16_t& distance_at(size_t p) { return distance_[p % RING]; }
  uint16_t distance_of(size_t p) const { return distance_[p % RING]; }

  // After position p's value is final. A block in which no position registered
  // holds no value below UNREACHED: its prefix minima are UNREACHED and its suffix
  // minima are not computed (covering() knows the block by its flag).
  void close(size_t p) {
    if (!block_registered_) {
      prefix_[p % RING] = lanes_fill(UNREACHED);
      if (++offset_in_block_ == width_) {
        block_flags_[close_block_++ % BLOCK_FLAGS] = false;
        offset_in_block_ = 0;
      }
      return;
    }
    if (last_registered_ != p + 1) value_[p % RING] = lanes_fill(UNREACHED);
    const Lanes& v = value_[p % RING];
    const LaneRefs from = refs_fill(static_cast<uint32_t>(p));
    Lanes& pre = prefix_[p % RING];
    LaneRefs& pre_from = prefix_from_[p % RING];
    if (offset_in_block_ == 0) {
      pre = v;
      pre_from = from;
    } else {
      pre = prefix_[(p - 1) % RING];
      pre_from = prefix_from_[(p - 1) % RING];
      take_smaller(pre, pre_from, v, from);
    }
    if (++offset_in_block_ == width_) {  // block complete: suffix minima backwards
      Lanes running = v;
      LaneRefs running_from = from;
      suffix_[p % RING] = running;
      suffix_from_[p % RING] = running_from;
      for (size_t i = 1; i < width_; ++i) {
        const size_t x = p - i;
        take_smaller(running, running_from, value_[x % RING], static_cast<uint32_t>(x));
        suffix_[x % RING] = running;
        suffix_from_[x % RING] = running_from;
      }
      offset_in_block_ = 0;
      block_flags_[close_block_++ % BLOCK_FLAGS] = true;
      block_registered_ = false;
    }
  }

  // Minimum of the values registered by positions whose range covers q, and those
  // positions. Called once for each q, in increasing order. False when no
  // position in the window registered (nothing stored in value and from).
  bool covering(size_t q, Lanes& value, LaneRefs& from) {
    if (q < first_) return false;
    const size_t hi = q - first_;
    if (q < last_) {  // the window starts before position 0
      value = prefix_[hi % RING];
      from = prefix_from_[hi % RING];
      return true;
    }
    const size_t lo = q - last_;
    if (last_registered_ <= lo) return false;  // nothing registered in the window (the usual case)
    // Block and offset of lo, from those of q (positions up to q - 1 are closed):
    // lo = q - (first - 1) - (width - 1), first - 1 = lead_blocks * width + lead_offset.
    const bool before = offset_in_block_ < lead_offset_;
    const bool aligned = offset_in_block_ + (before ? width_ : 0) - lead_offset_ == 0;
    const size_t lo_block = close_block_ - 1 - lead_blocks_ - (before ? 1 : 0);
    if (block_flags_[lo_block % BLOCK_FLAGS]) {
      value = suffix_[lo % RING];
      from = suffix_from_[lo % RING];
    } else {
      value = lanes_fill(UNREACHED);  // what the suffix minima of such a block are
    }
    if (!aligned) take_smaller(value, from, prefix_[hi % RING], prefix_from_[hi % RING]);
    return true;
  }

  void rebase(const Lanes& base) {
    for (auto* ring : {&value_, &prefix_, &suffix_})
      for (Lanes& v : *ring)
        for (unsigned l = 0; l < LANES; ++l)
          if (v[l] < UNREACHED / 2) v.set(l, v[l] - base[l]);
  }

 private:
  size_t first_, last_, width_;
  size_t offset_in_block_ = 0;     // of the position being closed
  size_t last_registered_ = 0;     // 1 + the latest position that registered a value
  // Blocks by number (position / width): whether a position in it registered.
  // The window reaches back at most MAX_MATCH / 16 + 2 blocks.
  static constexpr size_t BLOCK_FLAGS = 64;
  static_assert(BLOCK_FLAGS > MAX_MATCH / 16 + 2);
  std::array<bool, BLOCK_FLAGS> block_flags_{};
  bool block_registered_ = false;  // in the block being closed, so far
  size_t close_block_ = 0;         // number of the block being closed
  size_t lead_blocks_, lead_offset_;  // first - 1 in blocks and the rest
  std::array<Lanes, RING> value_;
  std::array<uint16_t, RING> distance_{};
  std::array<Lanes, RING> prefix_;
  std::array<Lanes, RING> suffix_;
  std::array<LaneRefs, RING> prefix_from_;
  std::array<LaneRefs, RING> suffix_from_;
};

class AllFormatsSearch {
 public:
  AllFormatsSearch(std::span<const uint8_t> data, const std::array<TokenSink*, FORMATS>& sinks)
      : data_(data), sinks_(sinks) {
    cost_.fill(lanes_fill(UNREACHED));
    cost_[0] = lanes_fill(0);
    via_.fill(refs_fill(0));
    for (unsigned w = 0; w < WIDE_CODES; ++w)
      wide_[w] = std::make_unique<WideCodeMinimum>(length_code_ranges[FIRST_WIDE_CODE + w]);
    committed_.fill(0);
  }

  void feed(size_t p, const detail::Pair* pairs, size_t count) {
    Lanes here = settle(p);
    if (p > 0 && p % REBASE_INTERVAL == 0) {
      rebase(here);
      here = lanes_fill(0);
    }
    if (p % COMMIT_INTERVAL == 0 && p > 0) commit_all(p);

    relax(p + 1, lanes_add(here, literals_.by_byte[data_[p]]), 0);
    unsigned shortest = MIN_MATCH;
    for (size_t j = 0; j < count; ++j) {
      const unsigned longest = pairs[j].length;
      const unsigned distance = pairs[j].distance;
      if (shortest == MIN_MATCH) {
        if (distance <= MAX_SHORT_DISTANCE)
          relax(p + 2, lanes_add(here, lanes_fill(static_cast<int32_t>(match_cost(lane_format(0), 2, distance)))),
                pack_match(2, distance));
        shortest = 3;
      }
      if (shortest > longest) continue;
      const Lanes with_distance = here + distance_costs_.by_sixteenth[(distance - 1) >> 4];
      for (unsigned code = length_code_index(shortest - MIN_MATCH); code < 16; ++code) {
        const LengthCode& lc = length_code_ranges[code];
        if (lc.first > longest) break;
        const Lanes cost = lanes_add(with_distance, lanes_fill(static_cast<int32_t>(lc.bits)));
        if (code >= FIRST_WIDE_CODE && shortest <= lc.first && lc.last <= longest) {
          WideCodeMinimum& wide = *wide_[code - FIRST_WIDE_CODE];
          wide.value_at(p) = cost;  // one pair covers a code's whole range at most once
          wide.distance_at(p) = static_cast<uint16_t>(distance);
          wide.registered(p);
          quiet_from_ = std::max(quiet_from_, p + 1 + lc.last);
          continue;
        }
        const unsigned from = std::max(shortest, lc.first), to = std::min(longest, lc.last);
        for (unsigned length = from; length <= to; ++length) relax(p + length, cost, pack_match(length, distance));
      }
      shortest = longest + 1;
    }
    for (auto& w : wide_) w->close(p);
  }

  // Settles the end of the input, hands on the rest of every lane's parse and
  // returns each format's size in bits (end marker included).
  std::array<uint64_t, FORMATS> finish() {
    const size_t end = data_.size();
    const Lanes last = settle(end);
    std::array<uint64_t, FORMATS> bits;
    for (unsigned l = 0; l < FORMATS; ++l) {
      bits[l] = static_cast<uint64_t>(base_cost_[l] + last[l]) + END_MARKER_BITS;
      emit_path(l, committed_[l], end);
      committed_[l] = end;
    }
    return bits;
  }

 private:
  void relax(size_t q, const Lanes& cost, uint32_t via) {
    Lanes& slot = cost_[q % RING];
    take_smaller(slot, via_[q % RING], cost, via);
  }

  Lanes settle(size_t q) {
    Lanes best = cost_[q % RING];
    LaneRefs via = via_[q % RING];
    if (q >= quiet_from_) return settled(q, best, via);  // no wide code can reach q
    for (auto& w : wide_) {
      if (w->quiet_at(q)) continue;
      Lanes value;
      LaneRefs from = refs_fill(0);
      if (!w->covering(q, value, from)) continue;
      const Vec4 wins = (value.half[0] < best.half[0]) | (value.half[1] < best.half[1]);
      if ((wins[0] | wins[1] | wins[2] | wins[3]) == 0) continue;  // the usual case
      for (unsigned l = 0; l < LANES; ++l) {
        if (value[l] < best[l]) {
          best.set(l, value[l]);
          via.set(l, pack_match(static_cast<unsigned>(q - from[l]), w->distance_of(from[l])));
        }
      }
    }
    return settled(q, best, via);
  }

  Lanes settled(size_t q, const Lanes& best, const LaneRefs& via) {
    cost_[q % RING] = lanes_fill(UNREACHED);
    back_.push_back(via);  // position q = base_ + its index
    return best;
  }

  size_t predecessor(unsigned lane, size_t q) const {
    const uint32_t via = back_[q - base_][lane];
    return via == 0 ? q - 1 : q - (via >> 13);
  }

  void emit_path(unsigned lane, size_t from, size_t to) {
    steps_.clear();
    for (size_t q = to; q > from; q = predecessor(lane, q)) steps_.push_back(q);
    TokenSink& sink = *sinks_[lane];
    for (auto it = steps_.rbegin(); it != steps_.rend(); ++it) {
      const uint32_t via = back_[*it - base_][lane];
      if (via == 0) sink.literal(data_[*it - 1]);
      else sink.match(via >> 13, (via & 0x1FFF) + 1);
    }
  }

  // For each lane: the latest position that the best paths of all frontier
  // positions pass through; the path up to it is handed on.
  void commit_all(size_t s) {
    marks_.resize(back_.size(), Mark{0, 0});
    for (unsigned lane = 0; lane < FORMATS; ++lane) {
      if (++epoch_ == 0) {
        std::fill(marks_.begin(), marks_.end(), Mark{0, 0});
        epoch_ = 1;
      }
      const size_t committed = committed_[lane];
      // s's path, kept with its tokens: the part up to the merge point is handed
      // on from here without reading the back-references again.
      path_.clear();
      for (size_t q = s;;) {
        marks_[q - base_] = {epoch_, static_cast<uint32_t>(q - committed)};
        if (q == committed) break;
        const uint32_t via = back_[q - base_][lane];
        path_.push_back({q, via});
        q = via == 0 ? q - 1 : q - (via >> 13);
      }
      size_t merge = s;
      const size_t first = s - committed > FRONTIER ? s - FRONTIER : committed;
      for (size_t f = first; f < s; ++f) {
        steps_.clear();
        size_t q = f;
        while (marks_[q - base_].epoch != epoch_) {
          steps_.push_back(q);
          q = predecessor(lane, q);
        }
        const uint32_t meet = marks_[q - base_].meet;
        for (size_t w : steps_) marks_[w - base_] = {epoch_, meet};
        merge = std::min(merge, committed + meet);
      }
      if (merge > committed) {
        TokenSink& sink = *sinks_[lane];
        for (auto it = path_.rbegin(); it != path_.rend() && it->position <= merge; ++it) {
          if (it->via == 0) sink.literal(data_[it->position - 1]);
          else sink.match(it->via >> 13, (it->via & 0x1FFF) + 1);
        }
        committed_[lane] = merge;
      }
    }
    const size_t drop = *std::min_element(committed_.begin(), committed_.end()) - base_;
    back_.erase(back_.begin(), back_.begin() + static_cast<std::ptrdiff_t>(drop));
    marks_.erase(marks_.begin(), marks_.begin() + static_cast<std::ptrdiff_t>(drop));
    base_ += drop;
  }

  void rebase(const Lanes& base) {
    for (Lanes& v : cost_)
      for (unsigned l = 0; l < LANES; ++l)
        if (v[l] < UNREACHED / 2) v.set(l, v[l] - base[l]);
    for (auto& w : wide_) w->rebase(base);
    for (unsigned l = 0; l < LANES; ++l) base_cost_[l] += base[l];
  }

  std::span<const uint8_t> data_;
  std::array<TokenSink*, FORMATS> sinks_;
  LiteralCosts literals_;
  DistanceCosts distance_costs_;
  std::array<Lanes, RING> cost_;
  std::array<LaneRefs, RING> via_;
  std::array<std::unique_ptr<WideCodeMinimum>, WIDE_CODES> wide_;
  std::array<int64_t, LANES> base_cost_{};
  // From here on no wide code's window holds a registered position (until the
  // next registration). Before the first, the windows start before position 0.
  size_t quiet_from_ = length_code_ranges[15].last;
  // Back-references from base_ on, and the marks of the merge walk.
  std::vector<LaneRefs> back_;
  // Per position: the last merge walk that reached it (epoch) and where that
  // walk met the latest position's path (offset from the committed point).
  struct Mark {
    uint32_t epoch;
    uint32_t meet;
  };
  std::vector<Mark> marks_;
  struct Step {
    size_t position;  // reached by the token
    uint32_t via;
  };
  std::vector<Step> path_;
  uint32_t epoch_ = 0;
  size_t base_ = 0;
  std::array<size_t, FORMATS> committed_;
  std::vector<size_t> steps_;
};

}  // namespace

std::array<uint64_t, 6> parse_optimal_all_formats(std::span<const uint8_t> data, const std::array<TokenSink*, 6>& sinks) {
  detail::BinaryTreeFinder finder(data);
  auto search = std::make_unique<AllFormatsSearch>(data, sinks);
  std::array<detail::Pair, MAX_MATCH> pairs;
  for (size_t p = 0; p < data.size(); ++p) search->feed(p, pairs.data(), finder.find_and_insert(p, pairs.data()));
  return search->finish();
}

std::array<uint64_t, 6> optimal_bits_all_formats(std::span<const uint8_t> data) {
  std::array<std::unique_ptr<BitCounter>, 6> counters;
  std::array<TokenSink*, 6> sinks;
  for (unsigned f = 0; f < 6; ++f) {
    counters[f] = std::make_unique<BitCounter>(lane_format(f));
    sinks[f] = counters[f].get();
  }
  const auto bits = parse_optimal_all_formats(data, sinks);
  for (unsigned f = 0; f < 6; ++f) assert(counters[f]->bits() == bits[f]);  // the parse handed on is the one costed
  return bits;
}

}  // namespace implode
