// The optimal parser finds the fewest bits over all parses: checked against a
// brute-force shortest path that tries every length at every distance, on small
// inputs of few symbols (many overlapping matches), and on inputs with long runs
// (the length codes' wide ranges).
#include <gtest/gtest.h>

#include <limits>
#include <memory>

#include "implode_corpus.h"
#include "implode_encoder.h"

namespace {

using namespace implode_test;
using implode::StreamFormat;

// Fewest bits of tokens for `data` (end marker included), trying every literal
// and every (length, distance) that the format allows and the data offers.
uint64_t brute_force_bits(const Bytes& data, StreamFormat f) {
  const size_t n = data.size();
  std::vector<uint64_t> best(n + 1, std::numeric_limits<uint64_t>::max());
  best[0] = 0;
  for (size_t p = 0; p < n; ++p) {
    best[p + 1] = std::min(best[p + 1], best[p] + implode::literal_cost(f, data[p]));
    for (size_t d = 1; d <= p && d <= 4096; ++d) {
      for (size_t len = 1; len <= 518 && p + len <= n && data[p + len - 1] == data[p + len - 1 - d]; ++len) {
        if (len >= 2 && implode::match_allowed(f, static_cast<unsigned>(len), static_cast<unsigned>(d)))
          best[p + len] = std::min(
              best[p + len], best[p] + implode::match_cost(f, static_cast<unsigned>(len), static_cast<unsigned>(d)));
      }
    }
  }
  return best[n] + implode::END_MARKER_BITS;
}

std::vector<StreamFormat> all_formats() {
  std::vector<StreamFormat> formats;
  for (unsigned i = 0; i < implode::STREAM_FORMATS; ++i) formats.push_back(implode::format_at_index(i));
  return formats;
}

void expect_optimal(const Bytes& data) {
  const auto all = implode::optimal_bits_all_formats(data);
  for (auto f : all_formats()) {
    const auto tokens = implode::parse_optimal(data, f);
    const uint64_t bits = implode::parse_bits(tokens, f);
    const uint64_t brute = brute_force_bits(data, f);
    ASSERT_EQ(bits, brute) << "size " << data.size() << " mode " << int(f.literals) << " k " << f.dict_bits;
    ASSERT_EQ(all[implode::format_index(f)], brute);
    // A lazy parse is a parse too: it can never beat the optimum.
    EXPECT_GE(implode::parse_bits(implode::parse_lazy(data, f), f), brute);
  }
}

TEST(ImplodeOptimal, SmallInputsOfFewSymbolsMatchBruteForce) {
  for (uint32_t seed = 0; seed < 120; ++seed) {
    const size_t n = 1 + seed % 60;
    expect_optimal(random_bytes(n, seed, 2 + seed % 4));
  }
}

TEST(ImplodeOptimal, MediumInputsWithFarMatchesMatchBruteForce) {
  // Repeats beyond 256 (no 2-byte match) and beyond 1024 and 2048 bytes (k = 4, 5).
  for (uint32_t seed = 0; seed < 3; ++seed) {
    Bytes data = random_bytes(1500, 100 + seed, 6);
    const Bytes head(data.begin(), data.begin() + 400);
    data.insert(data.end(), head.begin(), head.end());
    const Bytes tail = random_bytes(300, 200 + seed, 3);
    data.insert(data.end(), tail.begin(), tail.end());
    data.insert(data.end(), head.begin(), head.begin() + 50);
    expect_optimal(data);
  }
}

TEST(ImplodeOptimal, LongRunsAndRepeatsMatchBruteForce) {
  // Runs longer than the longest match, and repeats that end inside each wide
  // length code's range.
  Bytes data(600, 'a');
  const Bytes text = generated_text(700, 11);
  data.insert(data.end(), text.begin(), text.end());
  for (size_t cut : {30, 60, 100, 200, 300, 520}) data.insert(data.end(), text.begin(), text.begin() + cut);
  data.insert(data.end(), 540, 0);
  expect_optimal(data);
}

// Collects one format's parse from the all-formats search and checks it as it
// comes: every token within the format's limits and true to the input.
class CheckingSink final : public implode::TokenSink {
 public:
  CheckingSink(const Bytes& data, StreamFormat f) : data_(data), counter_(f), format_(f) {}
  void literal(uint8_t byte) override {
    ASSERT_LT(pos_, data_.size());
    ASSERT_EQ(byte, data_[pos_]);
    ++pos_;
    counter_.literal(byte);
  }
  void match(unsigned length, unsigned distance) override {
    ASSERT_TRUE(implode::match_allowed(format_, length, distance));
    ASSERT_LE(distance, pos_);
    ASSERT_LE(pos_ + length, data_.size());
    for (unsigned i = 0; i < length; ++i) ASSERT_EQ(data_[pos_ + i], data_[pos_ + i - distance]);
    pos_ += length;
    counter_.match(length, distance);
  }
  size_t position() const { return pos_; }
  uint64_t bits() const { return counter_.bits(); }

 private:
  const Bytes& data_;
  size_t pos_ = 0;
  implode::BitCounter counter_;
  StreamFormat format_;
};

TEST(ImplodeOptimal, AllFormatsPassHandsOnValidMinimalParses) {
  Bytes data = generated_text(140000, 31);
  const Bytes noise = random_bytes(30000, 32, 100);
  data.insert(data.begin() + 50000, noise.begin(), noise.end());
  data.insert(data.end(), 1000, 0);
  std::vector<std::unique_ptr<CheckingSink>> checkers;
  std::array<implode::TokenSink*, implode::STREAM_FORMATS> sinks;
  for (auto f : all_formats()) {
    checkers.push_back(std::make_unique<CheckingSink>(data, f));
    sinks[implode::format_index(f)] = checkers.back().get();
  }
  const auto bits = implode::parse_optimal_all_formats(data, sinks);
  for (auto f : all_formats()) {
    const auto& c = *checkers[implode::format_index(f)];
    EXPECT_EQ(c.position(), data.size());
    EXPECT_EQ(c.bits(), bits[implode::format_index(f)]);
    EXPECT_EQ(bits[implode::format_index(f)], implode::parse_bits(implode::parse_optimal(data, f), f));
  }
}

TEST(ImplodeOptimal, PiecesHandedOnEarlyKeepTheParseMinimal) {
  // Past 64 Ki positions the parser hands on the merged part of the path while it
  // searches on; the sizes search never does. Both must find the same minimum.
  Bytes data = generated_text(150000, 21);
  const Bytes noise = random_bytes(60000, 22, 40);
  data.insert(data.begin() + 70000, noise.begin(), noise.end());
  data.insert(data.end(), 3000, 0);
  const auto all = implode::optimal_bits_all_formats(data);
  for (auto f : all_formats()) {
    const auto tokens = implode::parse_optimal(data, f);
    EXPECT_EQ(implode::parse_bits(tokens, f), all[implode::format_index(f)]);
    EXPECT_TRUE(implode::write_stream(tokens, f) == [&] {
      implode::StreamWriter writer(f);
      implode::parse_optimal(data, f, writer);
      return writer.finish();
    }());
  }
}

// A forced format gets the very stream that the six-format search writes for
// that format, and both are as small as the brute force finds: one search, one
// choice among equally small parses. A run of more than two longest matches has
// many such parses (a search of its own for one format, with other tie rules, used
// to pick another for the run of 1080 zeros).
TEST(ImplodeOptimal, ForcedFormatStreamIsTheAllFormatsStreamOfThatFormat) {
  Bytes run{'x'};
  run.insert(run.end(), 1080, 0);
  run.push_back('y');
  // The brute force takes every length at every distance: on the run that is slow
  // (seconds; a minute under the sanitizers), so there it checks two formats.
  struct Input {
    const char* name;
    Bytes data;
    bool brute_force_every_format;
  };
  const std::vector<Input> inputs = {
      {"few symbols", random_bytes(50, 7, 3), true},
      {"text", generated_text(600, 12), true},
      {"a run of 1080 zeros", run, false},
  };
  for (const auto& [name, data, brute_force_every_format] : inputs) {
    SCOPED_TRACE(name);
    std::array<std::unique_ptr<implode::StreamWriter>, implode::STREAM_FORMATS> writers;
    std::array<implode::TokenSink*, implode::STREAM_FORMATS> sinks;
    for (auto f : all_formats()) {
      writers[implode::format_index(f)] = std::make_unique<implode::StreamWriter>(f);
      sinks[implode::format_index(f)] = writers[implode::format_index(f)].get();
    }
    const auto bits = implode::parse_optimal_all_formats(data, sinks);
    for (auto f : all_formats()) {
      SCOPED_TRACE(testing::Message() << "mode " << int(f.literals) << " k " << f.dict_bits);
      implode::StreamWriter forced(f);
      implode::parse_optimal(data, f, forced);
      const Bytes forced_stream = forced.finish();
      EXPECT_TRUE(forced_stream == writers[implode::format_index(f)]->finish());
      if (!brute_force_every_format && f != implode::format_at_index(0) && f != implode::format_at_index(5)) continue;
      const uint64_t brute = brute_force_bits(data, f);
      EXPECT_EQ(bits[implode::format_index(f)], brute);
      EXPECT_EQ(forced_stream.size(), implode::stream_bytes(brute));
    }
  }
}

}  // namespace

// ---- the best level's search on two threads ---------------------------------

// Split at `split`, the search gives the single search's sizes and, for the lane
// it writes, its stream, bit for bit: on text, on the fingerprint inputs, and on
// inputs made to keep the paths apart (runs across the split point, periodic and
// random data). Where they never agree in time the split search finishes alone;
// the result must be the same either way.
TEST(ImplodeSplitSearch, EqualsTheSingleSearchForEveryWrittenLane) {
  Bytes noisy = generated_text(150000, 51);
  const Bytes noise = random_bytes(40000, 52, 256);
  noisy.insert(noisy.begin() + 60000, noise.begin(), noise.end());
  Bytes run_across = generated_text(200000, 62);
  std::fill(run_across.begin() + 50000, run_across.begin() + 90000, 0);  // 32640 and 65280 fall inside
  Bytes periodic(160000);
  const Bytes period = random_bytes(1000, 63);
  for (size_t i = 0; i < periodic.size(); ++i)
    periodic[i] = i % 7 < 4 ? static_cast<uint8_t>('a' + i % 3) : period[i % period.size()];
  struct Case {
    const char* name;
    Bytes data;
    size_t split;
  };
  const std::vector<Case> cases = {
      {"text", generated_text(180000, 61), 65280},
      {"text, noise (fingerprint input)", noisy, 32640},
      {"PE-like image (fingerprint input)", pe_like_image(200000, 8), 97920},
      {"a zero run across the split", run_across, 65280},
      {"zeros", Bytes(150000, 0), 32640},
      {"periodic", periodic, 65280},
      {"random", random_bytes(120000, 64), 32640},
      {"three symbols", random_bytes(120000, 65, 3), 65280},
  };
  for (const auto& [name, data, split] : cases) {
    SCOPED_TRACE(name);
    for (unsigned written = 0; written < implode::STREAM_FORMATS; ++written) {
      SCOPED_TRACE(testing::Message() << "lane " << written);
      const auto one = implode::optimal_stream_chosen(data, 1u << written, 0);
      const auto two = implode::optimal_stream_chosen(data, 1u << written, split);
      ASSERT_EQ(one.written, written);
      ASSERT_EQ(two.written, written);
      EXPECT_EQ(two.bits, one.bits);
      EXPECT_TRUE(two.stream->finish() == one.stream->finish());
    }
    // One forced format: the stream of parse_optimal.
    const StreamFormat f = implode::format_at_index(static_cast<unsigned>(split % 5));
    implode::StreamWriter forced(f);
    const uint64_t bits = implode::optimal_stream(data, f, forced, split);
    EXPECT_EQ(bits, implode::parse_bits(implode::parse_optimal(data, f), f));
    EXPECT_TRUE(forced.finish() == implode::write_stream(implode::parse_optimal(data, f), f));
  }
}

// The split point is chosen only where the splice can work: a multiple of every
// wide code's width (the blocks of their minima must coincide), with room for
// the overlap, and none for small inputs.
TEST(ImplodeSplitSearch, SplitPointIsAlignedAndLeavesRoomForTheOverlap) {
  EXPECT_EQ(implode::optimal_split_point(implode::MIN_SPLIT_INPUT - 1), 0u);
  for (size_t size : {implode::MIN_SPLIT_INPUT, size_t{5761904}, size_t{13752878}}) {
    const size_t split = implode::optimal_split_point(size);
    if (split == 0) GTEST_SKIP() << "one thread on this build or machine";
    EXPECT_EQ(split % (128 * 255), 0u);
    EXPECT_GT(split, size / 3);
    EXPECT_LT(split + (size_t{3} << 14), size);
  }
}

// The split point for given data goes where the work is: before the middle when
// the first half is the heavy one (two symbols: deep trees, long walks), after it
// when the second is, at the middle when both halves are alike; always aligned,
// within a sixth of the middle, with room for the overlap.
TEST(ImplodeSplitSearch, SplitPointForDataBalancesTheWork) {
  const size_t half = size_t{1} << 18;
  const Bytes heavy = random_bytes(half, 11, 2), light(half, 0);
  const auto joined = [](const Bytes& a, const Bytes& b) {
    Bytes j = a;
    j.insert(j.end(), b.begin(), b.end());
    return j;
  };
  struct Case {
    const char* name;
    Bytes data;
    int side;  // -1: before the middle, 0: at it (within one alignment step), 1: after it
  };
  const std::vector<Case> cases = {
      {"heavy, then light", joined(heavy, light), -1},
      {"light, then heavy", joined(light, heavy), 1},
      {"alike", joined(heavy, random_bytes(half, 12, 2)), 0},
      {"smallest split input", random_bytes(implode::MIN_SPLIT_INPUT, 13, 2), 0},
  };
  for (const auto& [name, data, side] : cases) {
    SCOPED_TRACE(name);
    const size_t split = implode::optimal_split_point(std::span<const uint8_t>(data));
    if (split == 0) GTEST_SKIP() << "one thread on this build or machine";
    const size_t size = data.size(), middle = size / 2, step = 128 * 255;
    EXPECT_EQ(split % step, 0u);
    EXPECT_GT(split, size / 3);
    EXPECT_LT(split, size - size / 3);
    EXPECT_LT(split + (size_t{3} << 14), size);
    if (side < 0) {
      EXPECT_LT(split + step, middle);
    } else if (side > 0) {
      EXPECT_GT(split, middle + step);
    } else {
      EXPECT_LE(split > middle ? split - middle : middle - split, step);
    }
  }
  EXPECT_EQ(implode::optimal_split_point(std::span<const uint8_t>(Bytes(implode::MIN_SPLIT_INPUT - 1, 0))), 0u);
}

// Pricing alone (no parse handed on) finds the sizes that the full search does.
TEST(ImplodeSplitSearch, PricingAloneFindsTheSameSizes) {
  const Bytes data = pe_like_image(120000, 9);
  EXPECT_EQ(implode::optimal_sizes_all_formats(data), implode::optimal_bits_all_formats(data));
}
