// Optimal parse: the parse of fewest bits, by a shortest-path search over the input
// positions, for one forced format or for all six formats in one pass.
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
#include <algorithm>
#include <array>
#include <cassert>
#include <memory>
#include <type_traits>

#include "finder_ahead.h"
#include "implode_encoder.h"
#include "optimal_search.h"
#include "split_search.h"
#include "two_cores.h"

namespace implode {

using namespace implode_format;
using detail::OptimalSearch;

namespace {

template <unsigned N, unsigned FORMATS, class Paths>
std::array<uint64_t, FORMATS> run_search(std::span<const uint8_t> data,
                                         const std::array<StreamFormat, FORMATS>& formats, Paths paths) {
  TableArena arena;
  detail::BinaryTreeFinder finder(data, &arena);
  auto optimal = make_in_arena<OptimalSearch<N, FORMATS, Paths>>(&arena, data, formats, std::move(paths), &arena);
  detail::feed_found_pairs(
      finder, data.size(), detail::finder_ahead_pays(data.size()),
      [&](size_t p, const detail::Pair* pairs, size_t count) { optimal->feed(p, pairs, count); }, &arena);
  return optimal->finish();
}

// The six formats in index order: lane i of the six-format search prices format i.
constexpr std::array<StreamFormat, STREAM_FORMATS> every_format = [] {
  std::array<StreamFormat, STREAM_FORMATS> formats{};
  for (unsigned i = 0; i < STREAM_FORMATS; ++i) formats[i] = format_at_index(i);
  return formats;
}();

}  // namespace

void parse_optimal(std::span<const uint8_t> data, StreamFormat format, TokenSink& sink) {
  run_search<1, 1>(data, {format}, SettledPaths<1, 1>(data, {&sink}));
}

std::array<uint64_t, STREAM_FORMATS> parse_optimal_all_formats(std::span<const uint8_t> data,
                                                               const std::array<TokenSink*, STREAM_FORMATS>& sinks) {
  return run_search<8, STREAM_FORMATS>(data, every_format, SettledPaths<8, STREAM_FORMATS>(data, sinks));
}

ChosenOptimalStream optimal_stream_chosen(std::span<const uint8_t> data, unsigned candidates, size_t split) {
  assert(candidates != 0 && candidates < 1u << STREAM_FORMATS);
  ChosenOptimalStream result;
  const auto writer_for = [&](unsigned lane) -> StreamWriter& {
    result.stream = std::make_unique<StreamWriter>(format_at_index(lane));
    result.stream->reserve(data.size() + 16);  // pages are taken as they are written
    return *result.stream;
  };
  const auto found = detail::split_search<8, STREAM_FORMATS>(data, every_format, candidates, writer_for, split);
  result.bits = found.bits;
  result.written = found.written;
  return result;
}

uint64_t optimal_stream(std::span<const uint8_t> data, StreamFormat format, StreamWriter& out, size_t split) {
  return detail::split_search<1, 1>(
             data, {format}, 1, [&](unsigned) -> StreamWriter& { return out; }, split)
      .bits[0];
}

#if KVN_IMPLODE_THREADS
SecondCoreAhead::SecondCoreAhead(size_t largest) {
  if (!detail::finder_ahead_pays(largest)) return;  // also where it would be split
  // Announced before the thread starts, so that a search that comes first
  // waits for the room or calls it off (fresh_pages.h), and never takes both.
  const bool announced = announce_room();
  early_.reset(new detail::EarlyCoreThread([announced] {
    if (announced && !begin_announced_room()) return;  // called off: the search took its own
    {
      TableArena arena;
      arena.take_first_pages();
    }  // kept when it goes, for the first search (table_arena.h)
    if (announced) end_announced_room();
  }));
}

void SecondCoreAhead::Stop::operator()(detail::EarlyCoreThread* early) const { delete early; }
#else
SecondCoreAhead::SecondCoreAhead(size_t) {}

void SecondCoreAhead::Stop::operator()(detail::EarlyCoreThread*) const {}  // never made
#endif

SecondCoreAhead::~SecondCoreAhead() = default;

size_t optimal_split_point(size_t size) {
  if (size < MIN_SPLIT_INPUT || !detail::two_cores()) return 0;
  // A little past the middle: A also settles the overlap.
  return (size / 2 + detail::SPLICE_OVERLAP / 4) / detail::SPLIT_ALIGNMENT * detail::SPLIT_ALIGNMENT;
}

// The two searches take as long as the slower one, so the split goes where the
// work before it is half the whole, not the bytes. A search's time per position
// is about a fixed part plus a part per node of the finder's tree walk, and the
// walk varies along an input far more than anything else: on shell32.dll from 1
// to 20 nodes a position by megabyte, its first half the heavier (at the middle,
// the first search ran about 1.4 times as long as the second). So the walk is
// sampled: at evenly spaced points, the nodes of SAMPLE positions after a window
// of priming, each sample standing for its stretch of the input; the fixed part
// is worth FIXED_NODES nodes a position (10 puts shell32.dll's split at 0.42 of
// the input, where runs with fixed splits of 0.39 to 0.5 were fastest). Any
// aligned split gives the same stream; this one only decides how soon it is
// ready. Some 1 % of the work on a large input.
size_t optimal_split_point(std::span<const uint8_t> data) {
  const size_t size = data.size();
  const size_t middle = optimal_split_point(size);
  if (middle == 0) return 0;
  constexpr size_t SAMPLE = 1024, PRIMING = detail::WINDOW, FIXED_NODES = 10;
  constexpr size_t MAX_SAMPLES = 32, BYTES_PER_SAMPLE = size_t{128} << 10;
  const size_t samples = std::clamp<size_t>(size / BYTES_PER_SAMPLE, 2, MAX_SAMPLES);
  // Each sample and its priming lie within its own stretch, in order.
  static_assert(BYTES_PER_SAMPLE / 2 > SAMPLE + PRIMING && MIN_SPLIT_INPUT >= 2 * BYTES_PER_SAMPLE);
  detail::BinaryTreeFinder finder(data);
  std::array<detail::Pair, MAX_MATCH> pairs;
  std::array<uint64_t, MAX_SAMPLES> work{};
  uint64_t total = 0;
  for (size_t i = 0; i < samples; ++i) {
    const size_t start = size * (2 * i + 1) / (2 * samples) - SAMPLE / 2;
    for (size_t p = start - PRIMING; p < start; ++p) finder.find_and_insert(p, pairs.data());
    const uint64_t before = finder.nodes_walked();
    for (size_t p = start; p < start + SAMPLE; ++p) finder.find_and_insert<true>(p, pairs.data());
    work[i] = finder.nodes_walked() - before + FIXED_NODES * SAMPLE;
    total += work[i];
  }
  // The half-way point of the work, within its sample's stretch by proportion.
  uint64_t before = 0;
  size_t i = 0;
  while (before + work[i] < total / 2) before += work[i++];
  const size_t stretch_start = size * i / samples, stretch = size * (i + 1) / samples - stretch_start;
  const size_t halfway = stretch_start + static_cast<size_t>((total / 2 - before) * stretch / work[i]);
  // Aligned (detail::split_search), and no further from the middle than a sixth.
  const size_t a = detail::SPLIT_ALIGNMENT;
  const size_t lowest = (size / 3 + a) / a * a, highest = (size - size / 3) / a * a;
  return std::clamp((halfway + a / 2) / a * a, lowest, std::max(lowest, highest));
}

std::array<uint64_t, STREAM_FORMATS> optimal_sizes_all_formats(std::span<const uint8_t> data) {
  return run_search<8, STREAM_FORMATS>(data, every_format, detail::NoPaths{});
}

std::array<uint64_t, STREAM_FORMATS> optimal_bits_all_formats(std::span<const uint8_t> data) {
  std::array<std::unique_ptr<BitCounter>, STREAM_FORMATS> counters;
  std::array<TokenSink*, STREAM_FORMATS> sinks;
  for (unsigned i = 0; i < STREAM_FORMATS; ++i) {
    counters[i] = std::make_unique<BitCounter>(format_at_index(i));
    sinks[i] = counters[i].get();
  }
  const auto bits = parse_optimal_all_formats(data, sinks);
  for (unsigned i = 0; i < STREAM_FORMATS; ++i)
    assert(counters[i]->bits() == bits[i]);  // the parse handed on is the one costed
  return bits;
}

}  // namespace implode
