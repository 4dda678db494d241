// Whether storing an input is sure to beat every optimal stream, found before the
// best level's search and far faster than it: a search that only prices, over
// costs that are at most each format's, gives a lower bound on every format's
// optimal size.
//
// The model, four lanes in one vector: binary literals with k = 4, 5 and 6, each
// at its format's exact costs, and ASCII literals with every match at the least
// it costs for any k (packed data lies near the line between storing and binary
// literals, guice.jar's optimum 1 % above it; its ASCII literals cost far more).
// The edges are every literal, a 2-byte match at the nearest distance (at most
// 256) that offers it, and for longer lengths the nearest distance that offers
// each (the nearest is the cheapest), from hash chains walked to the end of the
// window. Where a chain is too long to walk, every length left is taken as
// offered at the cheapest distance: more edges, a lower bound still. Every parse
// of a format is a path of its lane costing no fewer bits, so each lane's
// shortest path is at most its formats' optimum. When every lane reaches the size
// at which the stream is no smaller than the input, so does every format's
// optimal stream, and the best level stores the input: exactly its decision after
// the full search.
//
// The bound matters only for input that does not compress (packed archives,
// media); elsewhere it gives up early, checking every 1024 positions: as soon as
// a lane can no longer reach the size even with every later byte at its dearest
// literal, or once the positions so far have cost fewer than 7 bits each in some
// lane (such input compresses). Its tables are small (about 115 KiB), so a small
// input pays few page faults for it.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>

#include "common_length.h"
#include "implode_encoder.h"
#include "lane_vectors.h"

namespace implode {

using namespace implode_format;

namespace {

// Four lanes, one vector: binary literals with k = 4, 5 and 6 (each that format's
// exact costs), and ASCII literals with each match at the least it costs for any
// k. Packed data is near the line between storing and compressing with binary
// literals (guice.jar's optimum is 1 % above it), so those lanes must be exact;
// its ASCII literals cost far more.
constexpr unsigned LANES = 4;
using Costs = CostHalf;
static_assert(sizeof(Costs) == LANES * sizeof(int32_t));
constexpr unsigned ASCII_LANE = 3;
constexpr unsigned lane_dict_bits(unsigned lane) { return 4 + lane; }  // the binary lanes

using LaneBits = std::array<int32_t, LANES>;  // a table's lanes (vector elements are not constexpr)
struct Tables {
  std::array<LaneBits, 256> literal;
  // Distance part of a match of 3 or more bytes by (distance - 1) / 16 (the high
  // part and the window depend on nothing finer for k >= 4).
  std::array<LaneBits, max_distance(6) / 16> long_distance;
  LaneBits cheapest_long_distance;  // high part 0
};
constexpr Tables tables = [] {
  Tables t{};
  for (unsigned b = 0; b < 256; ++b)
    for (unsigned l = 0; l < LANES; ++l) t.literal[b][l] = l == ASCII_LANE ? 1 + ascii_bits[b] : 9;
  const auto part = [](unsigned i, unsigned k) -> int32_t {
    return i * 16 + 1 <= max_distance(k) ? distance_bits[(i * 16) >> k] + k : UNREACHED;
  };
  for (unsigned i = 0; i < t.long_distance.size(); ++i) {
    for (unsigned l = 0; l < ASCII_LANE; ++l) t.long_distance[i][l] = part(i, lane_dict_bits(l));
    t.long_distance[i][ASCII_LANE] = std::min({part(i, 4), part(i, 5), part(i, 6)});
  }
  t.cheapest_long_distance = t.long_distance[0];
  return t;
}();
constexpr std::array<unsigned, LANES> dearest_literal = {9, 9, 9, 14};

constexpr unsigned HASH2_BITS = 12, HASH3_BITS = 14;
constexpr size_t LONG_WINDOW = max_distance(6);
constexpr size_t RING = 1024;  // positions the search still reaches
static_assert(RING > MAX_MATCH);
constexpr size_t REBASE_INTERVAL = size_t{1} << 20;  // keeps the 32-bit lanes small (see lane_vectors.h)
constexpr size_t CHECK_INTERVAL = 1024;              // positions between the give-up checks
// Candidates walked before the rest of the lengths are taken as offered: a bound
// on the work per position, which the bound needs only on repetitive data (that
// compresses: the search gives up there soon).
constexpr unsigned CHAIN_LIMIT = 1024;
constexpr uint32_t NO_POSITION = UINT32_MAX;

// The candidates for matches: every earlier position with the same 2-byte (within
// 256 bytes) or 3-byte hash (within 4096), newest first. A collision only adds a
// candidate, which the comparison then turns away.
struct State {
  std::array<uint32_t, size_t{1} << HASH2_BITS> head2;
  std::array<uint32_t, size_t{1} << HASH3_BITS> head3;
  std::array<uint32_t, MAX_SHORT_DISTANCE> next2;
  std::array<uint32_t, LONG_WINDOW> next3;
  std::array<Costs, RING> cost;
};

unsigned hash2(const uint8_t* p) { return (p[0] | p[1] << 8) * 0x9E3779B1u >> (32 - HASH2_BITS); }
unsigned hash3(const uint8_t* p) { return (p[0] | p[1] << 8 | p[2] << 16) * 0x9E3779B1u >> (32 - HASH3_BITS); }

// Vectors go by reference and are built in place: the 32-bit Windows build has
// no SSE, where a vector returned by value would take another calling convention.
void load(Costs& to, const LaneBits& b) { std::memcpy(&to, b.data(), sizeof to); }
void take_least(Costs& to, const Costs& c) { to = c < to ? c : to; }

// The model's shortest path to the end in each lane; false where it gives up.
bool bound_reaches(std::span<const uint8_t> data, uint64_t bits) {
  const size_t n = data.size();
  // The first check, without the tables: the ASCII lane costs at most its
  // literals, so where those alone stay under 7 bits a byte (text) the bound
  // gives up there in any case.
  if (n > CHECK_INTERVAL) {
    uint64_t ascii_literals = 0;
    for (size_t p = 0; p < CHECK_INTERVAL; ++p) ascii_literals += tables.literal[data[p]][ASCII_LANE];
    if (ascii_literals < 7 * uint64_t{CHECK_INTERVAL}) return false;
  }
  auto state = std::make_unique<State>();
  State& s = *state;
  s.head2.fill(NO_POSITION);
  s.head3.fill(NO_POSITION);
  const Costs unreached = Costs{} + UNREACHED;
  s.cost.fill(unreached);
  s.cost[0] = Costs{};
  std::array<int64_t, LANES> rebased{};  // subtracted from the lanes so far
  const uint8_t* const base = data.data();
  for (size_t p = 0; p < n; ++p) {
    Costs here = s.cost[p % RING];
    s.cost[p % RING] = unreached;
    if (p % CHECK_INTERVAL == 0 && p > 0) {
      int64_t least = INT64_MAX;
      for (unsigned l = 0; l < LANES; ++l) {
        const int64_t so_far = rebased[l] + here[l];
        if (uint64_t(so_far) + dearest_literal[l] * uint64_t{n - p} + END_MARKER_BITS < bits) return false;
        least = std::min(least, so_far);
      }
      if (uint64_t(least) < 7 * uint64_t{p}) return false;
      if (p % REBASE_INTERVAL == 0) {
        for (Costs& c : s.cost)
          for (unsigned l = 0; l < LANES; ++l)
            if (c[l] < UNREACHED) c[l] -= here[l];
        for (unsigned l = 0; l < LANES; ++l) rebased[l] += here[l];
        here = Costs{};
      }
    }
    Costs literal;
    load(literal, tables.literal[base[p]]);
    take_least(s.cost[(p + 1) % RING], here + literal);
    const size_t limit = std::min<size_t>(MAX_MATCH, n - p);
    if (limit < MIN_MATCH) continue;
    const uint8_t* const cur = base + p;

    const unsigned h2 = hash2(cur);
    for (uint32_t c = s.head2[h2]; c != NO_POSITION && p - c <= MAX_SHORT_DISTANCE;
         c = s.next2[c % MAX_SHORT_DISTANCE]) {
      if (base[c] == cur[0] && base[c + 1] == cur[1]) {  // the nearest: the cheapest
        const auto bits2 = static_cast<int32_t>(match_cost(StreamFormat{}, 2, static_cast<unsigned>(p - c)));
        take_least(s.cost[(p + 2) % RING], here + bits2);
        break;
      }
    }
    s.next2[p % MAX_SHORT_DISTANCE] = s.head2[h2];
    s.head2[h2] = static_cast<uint32_t>(p);

    if (limit < 3) continue;
    // Candidates newest first: each that is longer than all before it brings the
    // lengths beyond those at its distance, the nearest that offers them.
    const unsigned h3 = hash3(cur);
    size_t longest = 2;
    unsigned walked = 0;
    for (uint32_t c = s.head3[h3]; c != NO_POSITION && p - c <= LONG_WINDOW && longest < limit;
         c = s.next3[c % LONG_WINDOW]) {
      const bool gave_up = ++walked > CHAIN_LIMIT;                  // the rest of the lengths, at the cheapest distance
      if (!gave_up && base[c + longest] != cur[longest]) continue;  // cannot be longer (a collision, mostly)
      const size_t length = gave_up ? limit : common_length(base + c, cur, 0, limit);
      if (length <= longest) continue;
      Costs with_distance;
      load(with_distance, gave_up ? tables.cheapest_long_distance : tables.long_distance[(p - c - 1) >> 4]);
      with_distance += here;
      for (size_t l = longest + 1; l <= length; ++l)
        take_least(s.cost[(p + l) % RING], with_distance + length_cost_table[l]);
      longest = length;
    }
    s.next3[p % LONG_WINDOW] = s.head3[h3];
    s.head3[h3] = static_cast<uint32_t>(p);
  }
  const Costs& end = s.cost[n % RING];
  for (unsigned l = 0; l < LANES; ++l)
    if (uint64_t(rebased[l] + end[l]) + END_MARKER_BITS < bits) return false;
  return true;
}

}  // namespace

bool optimal_streams_not_smaller(std::span<const uint8_t> data) {
  const size_t n = data.size();
  // stream_bytes(bits) = 2 + ceil(bits / 8) >= n  <=>  bits > 8 * (n - 3).
  if (n <= 3) return true;  // two header bytes and the end marker's two
  return bound_reaches(data, 8 * uint64_t{n - 3} + 1);
}

}  // namespace implode
