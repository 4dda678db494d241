// The optimal parser's sliding-window minimum for the wide length codes, against a
// plain minimum over the window computed here from the registrations: random costs
// from a few values (many ties), in stretches where no position registers (whole
// blocks empty), few do or most do, costs that no path reaches, and rebases on the
// way. The position it names among equal costs decides which of the equally small
// parses the encoder writes, so the tie rule of wide_code_minimum.h is checked
// exactly, lane by lane, for one lane and for eight; with every position closed,
// and with positions closed only while the minimum says it must (open()), as the
// search closes them.
#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <optional>
#include <random>
#include <vector>

#include "wide_code_minimum.h"

namespace {

using implode::LengthCode;
using implode::UNREACHED;

struct Expected {
  int32_t cost;
  size_t from;
};

// The window's minimum for one lane by the documented rule. Positions that did not
// register count as UNREACHED.
Expected plain_minimum(const std::vector<int32_t>& cost, const LengthCode& code, size_t q) {
  const size_t width = code.last - code.first + 1;
  const size_t hi = q - code.first;
  auto earliest = [&](size_t from, size_t to) {
    Expected m{UNREACHED, from};
    for (size_t x = from; x <= to; ++x)
      if (cost[x] < m.cost) m = {cost[x], x};
    return m;
  };
  auto latest = [&](size_t from, size_t to) {
    Expected m{UNREACHED, to};
    for (size_t x = to + 1; x-- > from;)
      if (cost[x] < m.cost) m = {cost[x], x};
    return m;
  };
  if (q < code.last) return earliest(0, hi);
  const size_t lo = q - code.last;
  if (lo % width == 0) return latest(lo, hi);
  const Expected tail = latest(lo, (lo / width + 1) * width - 1);
  const Expected head = earliest(hi / width * width, hi);
  return head.cost < tail.cost ? head : tail;
}

template <unsigned N>
void check_against_plain_minimum(const LengthCode& code, uint32_t seed, bool closes_every_position) {
  SCOPED_TRACE(testing::Message() << "lanes " << N << " lengths " << code.first << "-" << code.last
                                  << (closes_every_position ? ", every position closed" : ", closed while open"));
  std::mt19937 rng(seed);
  constexpr size_t POSITIONS = 6000;
  auto minimum = std::make_unique<implode::WideCodeMinimum<N>>(code);
  std::array<std::vector<int32_t>, N> cost;  // by lane, by position
  for (auto& lane : cost) lane.assign(POSITIONS, UNREACHED);
  std::vector<bool> registered(POSITIONS);
  std::vector<uint16_t> distance(POSITIONS);
  unsigned percent_registering = 0;
  size_t stretch_end = 0;
  size_t ties = 0, empty_tails = 0;

  for (size_t q = 0; q < POSITIONS; ++q) {
    // Settle q: the search asks first, with positions up to q - 1 closed.
    const auto got = minimum->covering(q);
    const size_t window_start = q < code.last ? 0 : q - code.last;
    bool any = false;
    for (size_t x = window_start; q >= code.first && x <= q - code.first; ++x) any = any || registered[x];
    if (minimum->quiet_at(q)) {
      ASSERT_FALSE(any) << "quiet at " << q;
    }
    if (q < code.first) {
      ASSERT_FALSE(got.has_value()) << q;
    } else if (!got) {
      ASSERT_FALSE(any) << "nothing reported at " << q;
    } else {
      for (unsigned l = 0; l < N; ++l) {
        const Expected want = plain_minimum(cost[l], code, q);
        ASSERT_EQ(std::min(got->cost[l], UNREACHED), std::min(want.cost, UNREACHED)) << "q " << q << " lane " << l;
        if (want.cost >= UNREACHED) continue;
        ASSERT_EQ(got->from[l], want.from) << "q " << q << " lane " << l;
        ASSERT_EQ(minimum->distance_of(got->from[l]), distance[want.from]);
        size_t equal = 0;
        for (size_t x = window_start; x <= q - code.first; ++x) equal += cost[l][x] == want.cost;
        ties += equal > 1;
        const size_t width = code.last - code.first + 1;
        if (q >= code.last && (q - code.last) % width != 0) {
          bool tail_registered = false;
          for (size_t x = q - code.last; x % width != 0; ++x) tail_registered = tail_registered || registered[x];
          empty_tails += !tail_registered;
        }
      }
    }

    // Now and then the search rebases every cost that a path reaches.
    if (q > 0 && rng() % 900 == 0) {
      typename implode::WideCodeMinimum<N>::Costs base;
      for (unsigned l = 0; l < N; ++l) {
        base.set(l, static_cast<int32_t>(rng() % 40));
        for (int32_t& c : cost[l])
          if (c < UNREACHED / 2) c -= base[l];
      }
      minimum->rebase(base);
    }

    // Register at q, in stretches of a random density (none at all in a quarter of
    // them: long enough to leave whole blocks empty).
    if (q >= stretch_end) {
      stretch_end = q + 1 + rng() % 800;
      static constexpr unsigned densities[] = {0, 3, 40, 100};
      percent_registering = densities[rng() % 4];
    }
    if (rng() % 100 < percent_registering) {
      typename implode::WideCodeMinimum<N>::Costs c;
      for (unsigned l = 0; l < N; ++l) {
        // A few values only, so that equal costs are common; now and then a cost
        // beyond UNREACHED (a distance out of this lane's window).
        c.set(l,
              rng() % 10 == 0 ? UNREACHED + static_cast<int32_t>(rng() % 30) : 1000 + static_cast<int32_t>(rng() % 4));
        cost[l][q] = c[l];
      }
      registered[q] = true;
      distance[q] = static_cast<uint16_t>(1 + rng() % 4096);
      minimum->add(q, c, distance[q]);
    }
    if (closes_every_position || minimum->open()) minimum->close(q);
  }
  // The random walk did reach the cases it is there for.
  EXPECT_GT(ties, 100u);
  EXPECT_GT(empty_tails, 10u);
}

class WideCodeMinimumTest : public testing::TestWithParam<unsigned> {};

TEST_P(WideCodeMinimumTest, OneLaneMatchesAPlainMinimum) {
  for (const bool every : {true, false})
    check_against_plain_minimum<1>(implode::length_code_ranges[GetParam()], 100 + GetParam(), every);
}

TEST_P(WideCodeMinimumTest, EightLanesMatchAPlainMinimumEachOnItsOwn) {
  for (const bool every : {true, false})
    check_against_plain_minimum<8>(implode::length_code_ranges[GetParam()], 200 + GetParam(), every);
}

INSTANTIATE_TEST_SUITE_P(WideLengthCodes, WideCodeMinimumTest, testing::Range(implode::FIRST_WIDE_CODE, 16u));

}  // namespace
