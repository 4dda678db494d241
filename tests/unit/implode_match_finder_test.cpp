// The best level's match finder reports, at every position, each length's
// nearest distance within the 4096-byte window: the pairs of lengths that grow,
// each with the distance where it is first offered. Checked position by position
// against a plain scan of every distance, nearest first, on inputs where the
// tricky cases live: few symbols (deep trees, hash collisions past the third
// byte), runs and periods (matches as long as the input allows, the window's
// edge), and the last bytes of the input.
#include <gtest/gtest.h>

#include <vector>

#include "binary_tree_finder.h"
#include "common_length.h"
#include "implode_corpus.h"

namespace {

using namespace implode_test;
using implode::detail::Pair;

// Distances from 1 up: a pair wherever the common length beats every nearer one.
std::vector<Pair> scanned_pairs(const Bytes& data, size_t pos) {
  const size_t limit = std::min<size_t>(implode_format::MAX_MATCH, data.size() - pos);
  std::vector<Pair> pairs;
  if (limit < implode_format::MIN_MATCH) return pairs;
  size_t longest = implode_format::MIN_MATCH - 1;
  for (size_t d = 1; d <= pos && d <= implode::detail::WINDOW && longest < limit; ++d) {
    size_t len = 0;
    while (len < limit && data[pos - d + len] == data[pos + len]) ++len;
    if (len > longest) {
      pairs.push_back({static_cast<uint16_t>(len), static_cast<uint16_t>(d)});
      longest = len;
    }
  }
  return pairs;
}

TEST(ImplodeMatchFinder, ReportsEachLengthsNearestDistance) {
  Bytes periodic(7000), runs;
  const Bytes period = random_bytes(4097, 81);
  for (size_t i = 0; i < periodic.size(); ++i) periodic[i] = period[i % period.size()];
  for (uint32_t i = 0; runs.size() < 7000; ++i) runs.insert(runs.end(), 1 + i * 7 % 600, static_cast<uint8_t>(i % 3));
  Bytes text = generated_text(7000, 82);
  text.insert(text.end(), {'t', 'h', 'e'});  // a 3-byte match in the last bytes
  struct Case {
    const char* name;
    Bytes data;
  };
  const std::vector<Case> cases = {
      {"two symbols", random_bytes(6000, 83, 2)},
      {"four symbols", random_bytes(6000, 84, 4)},
      {"random bytes", random_bytes(6000, 85)},
      {"text", text},
      {"zeros", Bytes(5000, 0)},
      {"a period one past the window", periodic},
      {"runs of up to 600 bytes", runs},
      {"PE-like image", pe_like_image(9000, 86)},
  };
  for (const auto& [name, data] : cases) {
    SCOPED_TRACE(name);
    implode::detail::BinaryTreeFinder finder(data);
    std::vector<Pair> found(implode_format::MAX_MATCH);
    for (size_t pos = 0; pos < data.size(); ++pos) {
      found.resize(implode_format::MAX_MATCH);
      found.resize(finder.find_and_insert(pos, found.data()));
      const std::vector<Pair> expected = scanned_pairs(data, pos);
      ASSERT_EQ(found.size(), expected.size()) << "at " << pos;
      for (size_t j = 0; j < found.size(); ++j) {
        ASSERT_EQ(found[j].length, expected[j].length) << "at " << pos << ", pair " << j;
        ASSERT_EQ(found[j].distance, expected[j].distance) << "at " << pos << ", pair " << j;
      }
    }
  }
}

// The tree walk's comparison (an 8-byte step, then 32-byte ones) against a plain
// byte loop: the first difference at every offset of the first steps and on either
// side of each step's end, from bounds that start mid-step, up to limits that end
// mid-step or exactly on one.
TEST(ImplodeMatchFinder, LongCommonLengthIsThePlainOne) {
  const Bytes base = random_bytes(600, 87);
  for (const size_t from : {0, 1, 5, 8, 13, 31, 40}) {
    for (const size_t limit : {0, 7, 8, 9, 39, 40, 41, 72, 73, 200, 518}) {
      if (from > limit) continue;
      // Differences from the bound on (none before it: the bound is a known common
      // prefix), and none at all (base.size()).
      std::vector<size_t> differences = {base.size()};
      for (size_t d = from; d <= from + 120; ++d) differences.push_back(d);
      for (const size_t differ : differences) {
        Bytes other = base;
        if (differ < other.size()) other[differ] ^= 0x40;
        size_t plain = from;
        while (plain < limit && base[plain] == other[plain]) ++plain;
        ASSERT_EQ(implode::long_common_length(base.data(), other.data(), from, limit), plain)
            << "from " << from << ", limit " << limit << ", first difference " << differ;
      }
    }
  }
}

}  // namespace
