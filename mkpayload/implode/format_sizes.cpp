// Exact optimal stream size for all six formats (binary/ASCII literals x k = 4, 5,
// 6) in one pass: the same shortest-path search as the optimal parser, without the
// path, run for the six formats side by side. One match finder serves them all
// (its window is the widest, and a pair too far for a smaller k is simply not used
// by that format), and the costs of one position are a vector of lanes, one per
// format, so every relaxation updates all formats at once.
//
// The wide length codes (11 to 15) go through a sliding-window minimum per code:
// a position whose pair covers a code's whole range registers one value, and the
// minimum over the positions whose range covers q is taken when q settles. It is
// computed in blocks of the code's width (van Herk / Gil-Werman: prefix minima
// forward, suffix minima once a block is complete), which works lane by lane.
//
// Costs are 32-bit per lane and rebased on the settled cost every 2^20 positions,
// so no lane overflows on any input size.
#include <algorithm>
#include <array>
#include <memory>

#include "binary_tree_finder.h"
#include "implode_encoder.h"

namespace implode {
namespace {

using namespace implode_format;

constexpr unsigned LANES = 8;  // six formats, padded to a vector width
constexpr unsigned FORMATS = 6;
using Lanes = std::array<int32_t, LANES>;
constexpr int32_t UNREACHED = 0x3FFFFFFF;
constexpr size_t RING = 1024;  // > MAX_MATCH
constexpr size_t REBASE_INTERVAL = size_t{1} << 20;

constexpr StreamFormat lane_format(unsigned lane) {
  const unsigned f = lane < FORMATS ? lane : FORMATS - 1;
  return {static_cast<LiteralCoding>(f / 3), 4 + f % 3};
}

inline Lanes lanes_min(const Lanes& a, const Lanes& b) {
  Lanes r;
  for (unsigned l = 0; l < LANES; ++l) r[l] = a[l] < b[l] ? a[l] : b[l];
  return r;
}
inline Lanes lanes_add(const Lanes& a, const Lanes& b) {
  Lanes r;
  for (unsigned l = 0; l < LANES; ++l) r[l] = a[l] + b[l];
  return r;
}
inline Lanes lanes_fill(int32_t v) {
  Lanes r;
  r.fill(v);
  return r;
}

// Literal cost by byte, per lane.
struct LiteralCosts {
  std::array<Lanes, 256> by_byte;
  LiteralCosts() {
    for (unsigned b = 0; b < 256; ++b)
      for (unsigned l = 0; l < LANES; ++l)
        by_byte[b][l] = static_cast<int32_t>(literal_cost(lane_format(l), static_cast<uint8_t>(b)));
  }
};

// Sliding-window minimum over positions p in [q - last, q - first] for one wide
// length code, in blocks of width = last - first + 1.
class WideCodeMinimum {
 public:
  explicit WideCodeMinimum(const LengthCode& code) : first_(code.first), last_(code.last), width_(code.last - code.first + 1) {
    value_.fill(lanes_fill(UNREACHED));
    prefix_.fill(lanes_fill(UNREACHED));
    suffix_.fill(lanes_fill(UNREACHED));
  }

  Lanes& value_at(size_t p) { return value_[p % RING]; }

  // After position p's value is final.
  void close(size_t p) {
    const Lanes& v = value_[p % RING];
    prefix_[p % RING] = offset_in_block_ == 0 ? v : lanes_min(prefix_[(p - 1) % RING], v);
    if (++offset_in_block_ == width_) {  // block complete: suffix minima backwards
      Lanes running = v;
      suffix_[p % RING] = running;
      for (size_t i = 1; i < width_; ++i) {
        running = lanes_min(running, value_[(p - i) % RING]);
        suffix_[(p - i) % RING] = running;
      }
      offset_in_block_ = 0;
    }
  }

  // Minimum of the values registered by positions whose range covers q. Called
  // once for each q, in increasing order.
  Lanes covering(size_t q) {
    if (q < first_) return lanes_fill(UNREACHED);
    const size_t hi = q - first_;
    if (q < last_) return prefix_[hi % RING];  // the window starts before position 0
    const size_t lo = q - last_;
    const bool aligned = lo_offset_in_block_ == 0;  // lo % width_, kept without division
    if (++lo_offset_in_block_ == width_) lo_offset_in_block_ = 0;
    if (aligned) return suffix_[lo % RING];  // exactly one block
    return lanes_min(suffix_[lo % RING], prefix_[hi % RING]);
  }

  void rebase(const Lanes& base) {
    for (auto* ring : {&value_, &prefix_, &suffix_})
      for (Lanes& v : *ring)
        for (unsigned l = 0; l < LANES; ++l)
          if (v[l] < UNREACHED / 2) v[l] -= base[l];
  }

 private:
  size_t first_, last_, width_;
  size_t offset_in_block_ = 0;     // of the position being closed
  size_t lo_offset_in_block_ = 0;  // of the first position of the window being queried
  std::array<Lanes, RING> value_;
  std::array<Lanes, RING> prefix_;
  std::array<Lanes, RING> suffix_;
};

class AllFormatsSearch {
 public:
  explicit AllFormatsSearch(std::span<const uint8_t> data) : data_(data) {
    cost_.fill(lanes_fill(UNREACHED));
    cost_[0] = lanes_fill(0);
    for (unsigned w = 0; w < WIDE_CODES; ++w)
      wide_[w] = std::make_unique<WideCodeMinimum>(length_code_ranges[FIRST_WIDE_CODE + w]);
    for (unsigned l = 0; l < LANES; ++l) window_[l] = static_cast<int32_t>(lane_format(l).window());
  }

  void feed(size_t p, const detail::Pair* pairs, size_t count) {
    Lanes here = settle(p);
    if (p > 0 && p % REBASE_INTERVAL == 0) {
      rebase(here);
      here = lanes_add(here, negate(here));
    }
    for (auto& w : wide_) w->value_at(p) = lanes_fill(UNREACHED);

    relax(p + 1, lanes_add(here, literals_.by_byte[data_[p]]));
    unsigned shortest = MIN_MATCH;
    for (size_t j = 0; j < count; ++j) {
      const unsigned longest = pairs[j].length;
      const unsigned distance = pairs[j].distance;
      if (shortest == MIN_MATCH) {
        if (distance <= MAX_SHORT_DISTANCE)
          relax(p + 2, lanes_add(here, lanes_fill(static_cast<int32_t>(match_cost(lane_format(0), 2, distance)))));
        shortest = 3;
      }
      if (shortest > longest) continue;
      // Distance cost per lane; a lane whose window the distance exceeds is out.
      Lanes with_distance;
      bool any = false;
      for (unsigned l = 0; l < LANES; ++l) {
        if (static_cast<int32_t>(distance) <= window_[l]) {
          with_distance[l] = here[l] + static_cast<int32_t>(distance_cost(lane_format(l), 3, distance));
          any = true;
        } else {
          with_distance[l] = UNREACHED;
        }
      }
      if (!any) break;  // later pairs lie farther back still
      for (unsigned code = length_code_index(shortest - MIN_MATCH); code < 16; ++code) {
        const LengthCode& lc = length_code_ranges[code];
        if (lc.first > longest) break;
        const Lanes cost = lanes_add(with_distance, lanes_fill(static_cast<int32_t>(lc.bits)));
        if (code >= FIRST_WIDE_CODE && shortest <= lc.first && lc.last <= longest) {
          Lanes& v = wide_[code - FIRST_WIDE_CODE]->value_at(p);
          v = lanes_min(v, cost);
          continue;
        }
        const unsigned from = std::max(shortest, lc.first), to = std::min(longest, lc.last);
        for (unsigned length = from; length <= to; ++length) relax(p + length, cost);
      }
      shortest = longest + 1;
    }
    for (auto& w : wide_) w->close(p);
  }

  std::array<uint64_t, FORMATS> finish() {
    const Lanes last = settle(data_.size());
    std::array<uint64_t, FORMATS> bits;
    for (unsigned l = 0; l < FORMATS; ++l)
      bits[l] = static_cast<uint64_t>(static_cast<int64_t>(base_[l]) + last[l]) + END_MARKER_BITS;
    return bits;
  }

 private:
  static Lanes negate(const Lanes& a) {
    Lanes r;
    for (unsigned l = 0; l < LANES; ++l) r[l] = -a[l];
    return r;
  }

  void relax(size_t q, const Lanes& cost) {
    Lanes& slot = cost_[q % RING];
    slot = lanes_min(slot, cost);
  }

  Lanes settle(size_t q) {
    Lanes best = cost_[q % RING];
    for (auto& w : wide_) best = lanes_min(best, w->covering(q));
    cost_[q % RING] = lanes_fill(UNREACHED);
    return best;
  }

  // Subtracts each lane's settled cost from every pending value of that lane.
  void rebase(const Lanes& base) {
    for (Lanes& v : cost_)
      for (unsigned l = 0; l < LANES; ++l)
        if (v[l] < UNREACHED / 2) v[l] -= base[l];
    for (auto& w : wide_) w->rebase(base);
    for (unsigned l = 0; l < LANES; ++l) base_[l] += base[l];
  }

  std::span<const uint8_t> data_;
  LiteralCosts literals_;
  Lanes window_;
  std::array<Lanes, RING> cost_;
  std::array<std::unique_ptr<WideCodeMinimum>, WIDE_CODES> wide_;
  std::array<int64_t, LANES> base_{};
};

}  // namespace

std::array<uint64_t, 6> optimal_bits_all_formats(std::span<const uint8_t> data) {
  detail::BinaryTreeFinder finder(data);
  auto search = std::make_unique<AllFormatsSearch>(data);
  std::array<detail::Pair, MAX_MATCH> pairs;
  for (size_t p = 0; p < data.size(); ++p) search->feed(p, pairs.data(), finder.find_and_insert(p, pairs.data()));
  return search->finish();
}

}  // namespace implode
