// The best level's match finder run ahead on its own thread hands the search
// exactly what calling it in turn would: every position once, in order, with the
// same pairs. Checked where the hand-over has edges: blocks that end early for
// want of pair room, the ring of blocks wrapping many times, inputs shorter than
// one block, and a search that stops with an exception while the finder waits
// for room or is still finding.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string_view>
#include <vector>

#include "finder_ahead.h"
#include "implode_corpus.h"

namespace {

using namespace implode_test;
using implode::detail::BinaryTreeFinder;
using implode::detail::FinderBlocks;
using implode::detail::Pair;

struct Fed {
  std::vector<size_t> positions;
  std::vector<size_t> counts;
  std::vector<Pair> pairs;
};

Fed feed_all(const Bytes& data, bool ahead) {
  BinaryTreeFinder finder(data);
  Fed fed;
  implode::detail::feed_found_pairs(finder, data.size(), ahead, [&](size_t p, const Pair* pairs, size_t count) {
    fed.positions.push_back(p);
    fed.counts.push_back(count);
    fed.pairs.insert(fed.pairs.end(), pairs, pairs + count);
  });
  return fed;
}

// The finder ahead handed on what the finder called in turn did: the same
// positions, pair counts and pairs.
void expect_same_feed(const Fed& ahead, const Fed& in_turn) {
  EXPECT_EQ(ahead.positions, in_turn.positions);
  EXPECT_EQ(ahead.counts, in_turn.counts);
  ASSERT_EQ(ahead.pairs.size(), in_turn.pairs.size());
  for (size_t i = 0; i < in_turn.pairs.size(); ++i) {
    ASSERT_EQ(ahead.pairs[i].length, in_turn.pairs[i].length) << "pair " << i;
    ASSERT_EQ(ahead.pairs[i].distance, in_turn.pairs[i].distance) << "pair " << i;
  }
}

// Copies of a random string's prefixes, longer ones farther back, then the string
// itself: at the string and the positions after it, every copy offers a longer
// match than the nearer ones, a pair each (dozens a position, where text has a
// few). Repeated, so that many blocks fill their pair room before their positions.
Bytes many_pairs_a_position(size_t n, uint32_t seed) {
  const Bytes s = random_bytes(90, seed);
  Bytes data;
  while (data.size() < n) {
    for (size_t length = 70; length >= 4; --length) {
      data.insert(data.end(), s.begin(), s.begin() + static_cast<ptrdiff_t>(length));
      data.push_back(static_cast<uint8_t>(s[length] ^ 0x80));  // ends the copy's match
    }
    data.insert(data.end(), s.begin(), s.end());
  }
  data.resize(n);
  return data;
}

// The most pairs any BLOCK_POSITIONS positions in a row have.
size_t most_pairs_in_a_block(const Fed& fed) {
  size_t most = 0, sum = 0;
  for (size_t i = 0; i < fed.counts.size(); ++i) {
    sum += fed.counts[i];
    if (i >= FinderBlocks::BLOCK_POSITIONS) sum -= fed.counts[i - FinderBlocks::BLOCK_POSITIONS];
    most = std::max(most, sum);
  }
  return most;
}

TEST(ImplodeFinderAhead, HandsOnTheSamePairsInTheSameOrder) {
  const size_t ring_positions = FinderBlocks::BLOCKS * FinderBlocks::BLOCK_POSITIONS;
  struct Case {
    const char* name;
    Bytes data;
  };
  const Case cases[] = {
      {"text, the ring wrapping", generated_text(5 * ring_positions + 777, 21)},
      {"many pairs a position", many_pairs_a_position(3 * ring_positions, 22)},
      {"a zero run (one long pair a position)", Bytes(2 * ring_positions + 5, 0)},
      {"random bytes", random_bytes(ring_positions + 1, 23)},
      {"shorter than a block", generated_text(FinderBlocks::BLOCK_POSITIONS - 1, 24)},
      {"exactly one block", generated_text(FinderBlocks::BLOCK_POSITIONS, 25)},
      {"one byte", Bytes(1, 'x')},
      {"nothing", Bytes()},
  };
  for (const auto& [name, data] : cases) {
    SCOPED_TRACE(name);
    const Fed in_turn = feed_all(data, false), ahead = feed_all(data, true);
    ASSERT_EQ(in_turn.positions.size(), data.size());
    for (size_t p = 0; p < data.size(); ++p) ASSERT_EQ(in_turn.positions[p], p);
    ASSERT_NO_FATAL_FAILURE(expect_same_feed(ahead, in_turn));
    if (std::string_view(name) == "many pairs a position") {  // the input does what it is for
      EXPECT_GT(most_pairs_in_a_block(in_turn), FinderBlocks::BLOCK_PAIRS - implode_format::MAX_MATCH);
    }
  }
}

// The search finds for itself until the finder's thread asks for the finder,
// which it does when it starts: at a different position on every call. Each
// hand-over point must give the same pairs; the calls here cover many of them
// (the thread's start varies by tens of microseconds, a few hundred positions).
TEST(ImplodeFinderAhead, HandsOverTheFinderAtAnyPosition) {
  const Bytes data = generated_text(3 * FinderBlocks::BLOCK_POSITIONS * FinderBlocks::BLOCKS, 41);
  const Fed in_turn = feed_all(data, false);
  for (int call = 0; call < 24; ++call) {
    SCOPED_TRACE(call);
    ASSERT_NO_FATAL_FAILURE(expect_same_feed(feed_all(data, true), in_turn));
  }
}

// A search that throws stops the finder: the call returns with the exception, no
// matter where the finder is (waiting for a full ring to empty, or finding).
TEST(ImplodeFinderAhead, ASearchThatThrowsStopsTheFinder) {
  const Bytes data = generated_text(4 * FinderBlocks::BLOCKS * FinderBlocks::BLOCK_POSITIONS, 31);
  for (size_t stop_at : {size_t{0}, size_t{1000}, data.size() / 2, data.size() - 1}) {
    SCOPED_TRACE(stop_at);
    BinaryTreeFinder finder(data);
    size_t fed = 0;
    EXPECT_THROW(implode::detail::feed_found_pairs(finder, data.size(), true,
                                                   [&](size_t p, const Pair*, size_t) {
                                                     if (p == stop_at) throw std::runtime_error("stop");
                                                     ++fed;
                                                   }),
                 std::runtime_error);
    EXPECT_EQ(fed, stop_at);
  }
}

}  // namespace
