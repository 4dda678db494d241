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
#include <array>
#include <memory>

#include "implode_encoder.h"

namespace implode {

// A forced format takes its lane of the six-format search, so that it gets the
// very stream that the search picks for that format. (A search of its own, with a
// monotone queue for the wide length codes, used to pick another among equally
// small parses.)
void parse_optimal(std::span<const uint8_t> data, StreamFormat format, TokenSink& sink) {
  std::array<std::unique_ptr<BitCounter>, 6> counters;
  std::array<TokenSink*, 6> sinks;
  for (unsigned i = 0; i < 6; ++i) {
    counters[i] = std::make_unique<BitCounter>(StreamFormat{static_cast<LiteralCoding>(i / 3), 4 + i % 3});
    sinks[i] = counters[i].get();
  }
  sinks[format_index(format)] = &sink;
  parse_optimal_all_formats(data, sinks);
}

}  // namespace implode
