// The optimal parse's search: the parse of fewest bits, by a shortest-path search
// over the input positions, for one forced format or for all six formats at once.
// Used by optimal_parse.cpp, over the whole input or over the part of it from a
// split point on (split_search.h).
//
// Match finder: see binary_tree_finder.h. One finder serves every format (its
// window is the widest; a pair too far for a smaller k is simply not used by that
// format's lane).
//
// Costs. Every token's cost in bits is fixed by the code tables. A distance's cost
// never falls as the distance grows, so for each length the nearest distance is
// the cheapest one: the reported (length, nearest distance) pairs hold every edge
// worth having. A length code covers a range of lengths at one cost, so from a
// position p the lengths of one length code at one distance reach a range of
// later positions at one equal cost. The wide ranges (codes 11 to 15, 16 to 255
// lengths each) are registered, when a code's whole range is usable, as one
// candidate per position in a sliding-window minimum per code
// (wide_code_minimum.h) and taken when the search settles a position of the range;
// every other length is relaxed one by one. The search is exact: it finds the
// minimum number of bits over all parses.
//
// Lanes. The cost and back-reference of a position are vectors with one lane per
// format (lane_vectors.h), so every relaxation updates all formats at once; the
// search is a template on the lane count, instantiated with 8 lanes for the six
// formats and with 1 for a forced format. Every step is lane by lane with the same
// tie rules (the first relaxation of a cost keeps it against later equal ones), so
// a forced format's parse is exactly its lane of the six-format search.
//
// Costs are 32-bit per lane and rebased on the settled cost every 2^20 positions,
// so no lane overflows on any input size. Back-references are packed as in
// back_reference.h and handed on in pieces as soon as the best paths of a lane
// merge (settled_paths.h).
//
// Memory: fixed-size tables and rings (the finder's 480 KiB; costs, references
// and the wide codes' minima about 400 KiB for six formats, 60 KiB for one), in
// one block per search (table_arena.h), and the unmerged stretch of
// back-references, whatever the input size.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <memory>
#include <utility>

#include "back_reference.h"
#include "binary_tree_finder.h"
#include "implode_encoder.h"
#include "lane_vectors.h"
#include "settled_paths.h"
#include "table_arena.h"
#include "wide_code_minimum.h"

namespace implode::detail {

using namespace implode_format;

inline constexpr size_t COST_RING = 1024;  // positions the search still reaches from the one settled
static_assert(COST_RING > MAX_MATCH);
inline constexpr size_t REBASE_INTERVAL = size_t{1} << 20;
inline constexpr size_t COMMIT_INTERVAL = size_t{1} << 16;
inline constexpr unsigned WINDOW_SIXTEENTHS = 4096 / 16;
static_assert(max_distance(6) == 4096 && max_distance(4) % 16 == 0 && max_distance(5) % 16 == 0);

// What the search does with its back-references (Paths):
//  * SettledPaths<N, FORMATS>: keeps every lane's and hands each on to its sink;
//  * OneLanePaths<N>: keeps one lane's (the stream written; the sizes of all come
//    from the costs, which need no back-reference), an eighth of the memory
//    traffic and of the merge walks;
//  * NoPaths: keeps none (pricing only).
struct NoPaths {
  static constexpr bool HANDS_ON = false;
  template <typename References>
  void push(const References&) {}
  void commit(size_t) {}
  size_t committed(unsigned) const { return 0; }
  void finish(size_t) {}
};

template <unsigned N>
class OneLanePaths {
 public:
  static constexpr bool HANDS_ON = true;
  OneLanePaths(std::span<const uint8_t> data, TokenSink& sink, unsigned lane, TableArena* arena = nullptr)
      : paths_(data, {&sink}, arena), lane_(lane) {}
  void push(const ReferenceLanes<N>& via) { paths_.push(ReferenceLanes<1>{via[lane_]}); }
  void commit(size_t s) { paths_.commit(s); }
  size_t committed(unsigned) const { return paths_.committed(0); }
  void finish(size_t end) { paths_.finish(end); }

 private:
  SettledPaths<1, 1> paths_;
  unsigned lane_;
};

// N lanes for FORMATS formats; lanes past the formats repeat the last one.
template <unsigned N, unsigned FORMATS, class Paths>
class OptimalSearch {
 public:
  using Costs = CostLanes<N>;
  using References = ReferenceLanes<N>;

  // The wide codes' rings come from `arena` where it has room (table_arena.h).
  OptimalSearch(std::span<const uint8_t> data, const std::array<StreamFormat, FORMATS>& formats, Paths paths,
                TableArena* arena = nullptr)
      : data_(data), paths_(std::move(paths)) {
    std::array<StreamFormat, N> lane_format;
    for (unsigned l = 0; l < N; ++l) lane_format[l] = formats[std::min(l, FORMATS - 1)];
    for (unsigned b = 0; b < 256; ++b)
      for (unsigned l = 0; l < N; ++l)
        literal_cost_[b].set(l, static_cast<int32_t>(literal_cost(lane_format[l], static_cast<uint8_t>(b))));
    // A match of 3 or more bytes: the distance's cost depends on the distance only
    // through (distance - 1) >> 4 (the high part for every k >= 4, and whether it
    // fits the window); a lane whose window it exceeds is out.
    for (unsigned i = 0; i < WINDOW_SIXTEENTHS; ++i) {
      const unsigned distance = i * 16 + 1;
      for (unsigned l = 0; l < N; ++l) {
        const unsigned k = lane_format[l].dict_bits;
        distance_cost_[i].set(
            l, distance <= max_distance(k) ? static_cast<int32_t>(distance_bits[(distance - 1) >> k] + k) : UNREACHED);
      }
    }
    for (const StreamFormat& f : formats) widest_window_ = std::max(widest_window_, f.window());
    ring_.fill({Costs::filled(UNREACHED), References::filled(LITERAL_REFERENCE)});
    ring_[0].cost = Costs::filled(0);
    for (unsigned w = 0; w < WIDE_CODES; ++w)
      wide_[w] = make_in_arena<WideCodeMinimum<N>>(arena, length_code_ranges[FIRST_WIDE_CODE + w], arena);
  }

  // Settles position p (its cost is final once every earlier position has been
  // fed) and relaxes every edge leaving it.
  void feed(size_t p, const Pair* pairs, size_t count) {
    Costs here = settle(p);
    if (p > 0 && p % REBASE_INTERVAL == 0) {
      rebase(here);
      here = Costs::filled(0);
    }
    settled_ = here;
    if constexpr (Paths::HANDS_ON)
      if (p % COMMIT_INTERVAL == 0 && p > 0) {
        if constexpr (CHOOSES_LANE) {
          std::array<int64_t, FORMATS> so_far;
          for (unsigned l = 0; l < FORMATS; ++l) so_far[l] = settled_cost(l);
          paths_.choose_lane(so_far);
        }
        paths_.commit(p);
      }

    relax(p + 1, here + literal_cost_[data_[p]], LITERAL_REFERENCE);
    if (count == 0) {  // no match: no wide code registers here either
      close_wide_codes(p);
      return;
    }
    // Matches: lengths (previous pair's length, this pair's length] at this pair's
    // distance.
    unsigned shortest = MIN_MATCH;
    for (size_t j = 0; j < count; ++j) {
      const unsigned longest = pairs[j].length;
      const unsigned distance = pairs[j].distance;
      if (shortest == MIN_MATCH) {
        if (distance <= MAX_SHORT_DISTANCE)  // a 2-byte match costs the same in every format
          relax(p + 2, here + Costs::filled(static_cast<int32_t>(match_cost(StreamFormat{}, 2, distance))),
                match_reference(2, distance));
        shortest = 3;
      }
      if (shortest > longest) continue;
      // Later pairs lie farther back still. (The six formats have k = 6 among them,
      // whose window is the finder's: none is too far for all of them.)
      if (FORMATS == 1 && distance > widest_window_) break;
      const Costs with_distance = here + distance_cost_[(distance - 1) >> 4];
      for (unsigned code = length_code_index(shortest - MIN_MATCH); code < 16; ++code) {
        const LengthCode& lc = length_code_ranges[code];
        if (lc.first > longest) break;
        const Costs cost = with_distance + Costs::filled(static_cast<int32_t>(lc.bits));
        if (code >= FIRST_WIDE_CODE && shortest <= lc.first && lc.last <= longest) {
          wide_[code - FIRST_WIDE_CODE]->add(p, cost, static_cast<uint16_t>(distance));
          open_wide_ |= 1u << (code - FIRST_WIDE_CODE);
          quiet_from_ = std::max(quiet_from_, p + 1 + lc.last);
          continue;
        }
        const unsigned from = std::max(shortest, lc.first), to = std::min(longest, lc.last);
        for (unsigned length = from; length <= to; ++length) relax(p + length, cost, match_reference(length, distance));
      }
      shortest = longest + 1;
    }
    close_wide_codes(p);
  }

  // The cost of the position fed last, from the search's start.
  int64_t settled_cost(unsigned lane) const { return base_cost_[lane] + settled_[lane]; }

  Paths& paths() { return paths_; }

  // Hands on each lane's parse as far as it is final, with positions up to p
  // settled; returns how far the parse of `lane` has been handed on.
  size_t commit(size_t p, unsigned lane) {
    paths_.commit(p);
    return paths_.committed(lane);
  }

  // Settles the end of the input, hands on the rest of every lane's parse and
  // returns each format's size in bits (end marker included).
  std::array<uint64_t, FORMATS> finish() {
    const size_t end = data_.size();
    const Costs last = settle(end);
    std::array<uint64_t, FORMATS> bits;
    for (unsigned l = 0; l < FORMATS; ++l) bits[l] = static_cast<uint64_t>(base_cost_[l] + last[l]) + END_MARKER_BITS;
    if constexpr (CHOOSES_LANE) {
      std::array<int64_t, FORMATS> final_costs;
      for (unsigned l = 0; l < FORMATS; ++l) final_costs[l] = static_cast<int64_t>(bits[l]);
      paths_.choose_lane(final_costs);
    }
    paths_.finish(end);
    return bits;
  }

 private:
  // Paths that choose the lane they hand on (chosen_lane_paths.h) are given the
  // lanes' costs before the first commit and before the end.
  static constexpr bool CHOOSES_LANE = requires(Paths & x, const std::array<int64_t, FORMATS>& c) { x.choose_lane(c); };

  // Closes p in the wide codes that must (WideCodeMinimum::open()): on most
  // positions none.
  void close_wide_codes(size_t p) {
    for (unsigned m = open_wide_; m != 0; m &= m - 1) {
      const unsigned w = static_cast<unsigned>(std::countr_zero(m));
      wide_[w]->close(p);
      if (!wide_[w]->open()) open_wide_ &= ~(1u << w);
    }
  }

  void relax(size_t q, const Costs& cost, uint32_t via) {
    Reach& r = ring_[q % COST_RING];
    take_smaller(r.cost, r.via, cost, References::filled(via));
  }

  Costs settle(size_t q) {
    Reach& r = ring_[q % COST_RING];
    Costs best = r.cost;
    References via = r.via;
    if (q < quiet_from_) {  // else no wide code can reach q
      for (auto& w : wide_) {
        if (w->quiet_at(q)) continue;
        const auto covering = w->covering(q);
        if (!covering || !any_smaller(covering->cost, best)) continue;  // the usual case
        for (unsigned l = 0; l < N; ++l) {
          if (covering->cost[l] < best[l]) {
            best.set(l, covering->cost[l]);
            const size_t from = covering->from[l];
            via.set(l, match_reference(static_cast<unsigned>(q - from), w->distance_of(from)));
          }
        }
      }
    }
    r.cost = Costs::filled(UNREACHED);  // the slot serves position q + COST_RING next
    paths_.push(via);
    return best;
  }

  void rebase(const Costs& base) {
    for (Reach& r : ring_) rebase_cost(r.cost, base);
    for (auto& w : wide_) w->rebase(base);
    for (unsigned l = 0; l < FORMATS; ++l) base_cost_[l] += base[l];
  }

  std::span<const uint8_t> data_;
  std::array<Costs, 256> literal_cost_;
  std::array<Costs, WINDOW_SIXTEENTHS> distance_cost_;
  unsigned widest_window_ = 0;
  // The best cost found so far into each position the search still reaches, and
  // the last token of that path: together, as every relaxation reads and writes
  // both (one cache line a position with eight lanes).
  struct Reach {
    Costs cost;
    References via;
  };
  alignas(64) std::array<Reach, COST_RING> ring_;
  std::array<ArenaObject<WideCodeMinimum<N>>, WIDE_CODES> wide_;
  unsigned open_wide_ = 0;  // a bit per wide code that must close the positions (see close_wide_codes)
  std::array<int64_t, FORMATS> base_cost_{};
  Costs settled_ = Costs::filled(0);
  // From here on no wide code's window holds a registered position (until the
  // next registration). Before the first, the windows start before position 0.
  size_t quiet_from_ = length_code_ranges[15].last;
  Paths paths_;
};

}  // namespace implode::detail
