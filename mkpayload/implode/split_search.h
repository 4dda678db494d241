// The optimal search on two cores: the input is split at a point S, one search
// runs from position 0 (A) and one from S (B) at the same time, and the two are
// spliced where they provably agree. The result is the single search's, bit for
// bit, whatever the input.
//
// Why the splice is exact. B is the same search run as if the input began at S:
// costs are counted from S (0 there), every other position starts unreached, and
// its match finder is primed with the 4096 positions before S, so it reports for
// every position from S on the very pairs that A's finder reports (the finder's
// output depends on the bytes of the window alone, see binary_tree_finder.h). Let
// d_A(p) and d_B(p) be the settled costs of position p in a lane. Every edge into
// a position q leaves from one of the MAX_MATCH positions before it (no token is
// longer; a wide code's window lies inside those too). Suppose that for some m,
// d_A(p) - d_B(p) = c for every p in [m, m + MAX_MATCH). Then for q = m + MAX_MATCH
// every relaxation into q arrives in both searches in the same order with costs
// that differ by exactly c, so every comparison (strict, lane by lane) and every
// tie rule decides the same way: d_A(q) = d_B(q) + c and q gets the same
// back-reference. By induction this holds for every later q. (The tie rules of the
// wide codes' minima depend on where their blocks begin; S is a multiple of every
// block width, so the blocks coincide. Rebasing subtracts the same amount from
// every cost in the ring, which changes no comparison.) Hence:
//  * the lane's size is B's size plus c;
//  * the single search's parse, traced back from the end, follows B's
//    back-references down to the last position below m + MAX_MATCH, and A's
//    before it; any position u >= m + MAX_MATCH on A's final path (a merge point:
//    every path A can still take passes through it) is on that parse, and so on
//    B's path too. The written lane's stream is A's tokens up to u, then B's
//    tokens from u on.
// A looks for such a window in every lane while it settles the positions after S
// (B records its costs there), then commits until the written lane's merge point
// passes the window. Should that not happen within the overlap allowed (paths that
// do not merge, say), A goes on alone to the end and B's work is dropped: the
// result is the same, only later.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <functional>
#include <optional>
#include <vector>
#if KVN_IMPLODE_THREADS
#include <atomic>
#endif

#include "chosen_lane_paths.h"
#include "core_thread.h"
#include "finder_ahead.h"
#include "optimal_search.h"

namespace implode::detail {

// S must be a multiple of every wide length code's width (16, 32, 64, 128, 255).
inline constexpr size_t SPLIT_ALIGNMENT = 128 * 255;
static_assert(SPLIT_ALIGNMENT % 16 == 0 && SPLIT_ALIGNMENT % 255 == 0);
// Positions after S where a window may start (on real data the paths agree
// within a few hundred), and B's costs there are held (32-bit: no rebase falls
// inside, and they are at most 14 bits a position).
inline constexpr size_t SPLICE_OVERLAP = size_t{1} << 14;
static_assert(SPLICE_OVERLAP < REBASE_INTERVAL && SPLICE_OVERLAP * 14 < INT32_MAX);
inline constexpr size_t SPLICE_SLACK = size_t{1} << 14;  // more positions for the merge point

// B's written lane: its stream, and where each token starts in it (bits) while
// the splice point may still fall there.
class SpliceRecorder final : public TokenSink {
 public:
  SpliceRecorder(StreamFormat format, size_t record_until) : writer(format), record_until_(record_until) {}
  void literal(uint8_t byte) override {
    note();
    writer.literal(byte);
    ++position_;
  }
  void match(unsigned length, unsigned distance) override {
    note();
    writer.match(length, distance);
    position_ += length;
  }
  // The bit where the token at `position` (from B's start) begins, if one does.
  std::optional<uint64_t> bit_at(size_t position) const {
    const auto it = std::lower_bound(starts_.begin(), starts_.end(), Start{position, 0},
                                     [](const Start& a, const Start& b) { return a.position < b.position; });
    if (it == starts_.end() || it->position != position) return std::nullopt;
    return it->bit;
  }
  StreamWriter writer;

 private:
  void note() {
    if (position_ <= record_until_) starts_.push_back({position_, writer.bits()});
  }
  struct Start {
    size_t position;
    uint64_t bit;
  };
  std::vector<Start> starts_;
  size_t position_ = 0;
  size_t record_until_;
};

// What a search found: every lane's size in bits, and the lane it wrote.
template <unsigned FORMATS>
struct SearchResult {
  std::array<uint64_t, FORMATS> bits;
  unsigned written;
};

// Runs the search of `formats` over `data`, writing one lane of `candidates` (a
// bit per lane, see chosen_lane_paths.h) to the writer that `writer_for` gives
// for it, and returning every lane's size; split at `split` (0: one search, no
// thread).
template <unsigned N, unsigned FORMATS>
SearchResult<FORMATS> split_search(std::span<const uint8_t> data, const std::array<StreamFormat, FORMATS>& formats,
                                   unsigned candidates, const std::function<StreamWriter&(unsigned lane)>& writer_for,
                                   size_t split) {
  const size_t n = data.size();
  using Paths = ChosenLanePaths<N, FORMATS>;
  using Search = OptimalSearch<N, FORMATS, Paths>;
  TableArena arena;  // each search's tables in one block (table_arena.h)
  BinaryTreeFinder finder(data, &arena);
  StreamWriter* out = nullptr;
  const bool two =
      KVN_IMPLODE_THREADS && split > 0 && split % SPLIT_ALIGNMENT == 0 && split + SPLICE_OVERLAP + SPLICE_SLACK < n;
  std::atomic<unsigned> lane{NO_LANE};  // A's choice, which B follows
  auto search = make_in_arena<Search>(&arena, data, formats,
                                      Paths(
                                          data, candidates,
                                          [&](unsigned l) -> TokenSink& {
                                            out = &writer_for(l);
                                            return *out;
                                          },
                                          &arena, two ? &lane : nullptr),
                                      &arena);
  if (!two) {
    feed_found_pairs(
        finder, n, finder_ahead_pays(n),
        [&](size_t p, const Pair* found, size_t count) { search->feed(p, found, count); }, &arena);
    const auto bits = search->finish();
    return {bits, search->paths().lane()};
  }
#if KVN_IMPLODE_THREADS
  std::array<Pair, MAX_MATCH> pairs;
  // B: from the split point on, in its own thread. It records its settled costs
  // over the overlap and says how far it has come.
  const size_t overlap = SPLICE_OVERLAP;
  std::vector<std::array<int32_t, FORMATS>> b_costs(overlap);
  std::atomic<size_t> b_progress{0};  // positions of the overlap recorded
  std::atomic<bool> b_dropped{false};
  // B stopped by an exception (its memory refused, say): A goes on alone, to
  // the same result. B's progress jumps to the end so that A does not wait.
  std::atomic<bool> b_failed{false};
  std::optional<SpliceRecorder> recorder;  // for A's lane, once B knows it
  std::array<uint64_t, FORMATS> b_bits{};
  const auto b_search_rest = [&] {
    std::array<Pair, MAX_MATCH> b_pairs;
    TableArena b_arena;
    BinaryTreeFinder b_finder(data, &b_arena);
    for (size_t p = split - std::min(split, WINDOW); p < split; ++p) b_finder.find_and_insert(p, b_pairs.data());
    const std::span<const uint8_t> rest = data.subspan(split);
    const auto record = [&](unsigned l) -> TokenSink& {
      recorder.emplace(formats[l], overlap + SPLICE_SLACK + MAX_MATCH);
      recorder->writer.reserve(n - split + 16);  // pages are taken as they are written
      return *recorder;
    };
    auto b_search = make_in_arena<Search>(&b_arena, rest, formats,
                                          Paths(rest, candidates, record, &b_arena, nullptr, &lane), &b_arena);
    for (size_t p = split; p < n; ++p) {
      const size_t q = p - split;
      b_search->feed(q, b_pairs.data(), b_finder.find_and_insert(p, b_pairs.data()));
      if (q < overlap) {
        for (unsigned l = 0; l < FORMATS; ++l) b_costs[q][l] = static_cast<int32_t>(b_search->settled_cost(l));
        if (q % 256 == 255 || q + 1 == overlap) {
          b_progress.store(q + 1, std::memory_order_release);
          b_progress.notify_one();
        }
      } else if (q % 4096 == 0 && b_dropped.load(std::memory_order_relaxed)) {
        return;
      }
    }
    b_bits = b_search->finish();
  };
  CoreThread b([&] {
    try {
      b_search_rest();
    } catch (...) {
      b_failed.store(true, std::memory_order_relaxed);
      b_progress.store(SIZE_MAX, std::memory_order_release);
      b_progress.notify_one();
    }
  });
  struct Joiner {
    CoreThread& t;
    std::atomic<unsigned>& lane;
    std::atomic<bool>& dropped;
    unsigned fallback_lane;
    ~Joiner() {
      if (!t.joinable()) return;
      // Should A stop before it chooses (an exception), B must not wait for it.
      dropped.store(true, std::memory_order_relaxed);
      unsigned none = NO_LANE;
      if (lane.compare_exchange_strong(none, fallback_lane)) lane.notify_all();
      t.join();
    }
  } joiner{b, lane, b_dropped, static_cast<unsigned>(std::countr_zero(candidates))};

  // A: up to the split point as usual; then it compares each lane's costs with
  // B's until every lane has a window of MAX_MATCH positions at one difference.
  std::array<int64_t, FORMATS> difference{};
  std::array<size_t, FORMATS> window_start{};
  std::array<bool, FORMATS> agreed{};
  unsigned lanes_agreed = 0;
  bool spliced = false;
  size_t merge = 0;
  size_t p = 0;
  for (; p < n; ++p) {
    search->feed(p, pairs.data(), finder.find_and_insert(p, pairs.data()));
    if (p < split) continue;
    const size_t q = p - split;
    if (lanes_agreed < FORMATS) {
      if (q >= overlap) break;  // no window in time: A goes on alone
      for (size_t seen = b_progress.load(std::memory_order_acquire); seen <= q;
           seen = b_progress.load(std::memory_order_acquire))
        b_progress.wait(seen, std::memory_order_acquire);
      if (b_failed.load(std::memory_order_relaxed)) break;
      for (unsigned l = 0; l < FORMATS; ++l) {
        if (agreed[l]) continue;
        const int64_t d = search->settled_cost(l) - b_costs[q][l];
        if (q == 0 || d != difference[l]) {
          difference[l] = d;
          window_start[l] = p;
        } else if (p + 1 - window_start[l] >= MAX_MATCH) {
          agreed[l] = true;
          ++lanes_agreed;
        }
      }
      continue;
    }
    if (q >= overlap + SPLICE_SLACK) break;  // the merge point did not pass the window in time
    if (q % 256 != 0) continue;
    merge = search->commit(p, lane.load(std::memory_order_relaxed));
    if (merge >= window_start[search->paths().lane()] + MAX_MATCH) {
      spliced = true;
      break;
    }
  }
  if (spliced) {
    b.join();
    spliced = !b_failed.load(std::memory_order_relaxed);
  }
  if (spliced) {
    const auto bit = recorder->bit_at(merge - split);
    spliced = bit.has_value();  // always, by the argument above
    if (spliced) {
      out->append(recorder->writer, *bit);
      std::array<uint64_t, FORMATS> bits;
      for (unsigned l = 0; l < FORMATS; ++l)
        bits[l] = static_cast<uint64_t>(static_cast<int64_t>(b_bits[l]) + difference[l]);
      return {bits, search->paths().lane()};
    }
  }
  b_dropped.store(true, std::memory_order_relaxed);
  for (++p; p < n; ++p) search->feed(p, pairs.data(), finder.find_and_insert(p, pairs.data()));
  const auto bits = search->finish();
  return {bits, search->paths().lane()};
#else
  return {};
#endif
}

}  // namespace implode::detail
