// The constant code tables and the decoder's lookups built from them: every code
// table complete (Kraft sum exactly 1), each code the bit-complement of the
// canonical code for the same lengths (derived here independently), the ASCII
// lookups holding the expected numbers of codes, and every bit sequence of up to
// 13 bits decoding through the lookups to the code that a plain search finds.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <set>
#include <tuple>

#include "explode_lookups.h"
#include "explode_reference.h"

namespace {

using namespace implode_format;
using namespace explode_test;

template <typename Bits>
void expect_complete(const Bits& bits) {
  // Sum of 2^-n over all codes, scaled by 2^16.
  uint64_t sum = 0;
  for (auto n : bits) sum += uint64_t{1} << (16 - n);
  EXPECT_EQ(sum, uint64_t{1} << 16);
}

// Canonical prefix code (lengths sorted, then index; codes increase by one and
// shift left when the length grows), written with the first bit as the MSB.
template <typename Bits>
std::vector<uint32_t> canonical_codes(const Bits& bits) {
  std::vector<uint32_t> codes(bits.size());
  uint32_t code = 0;
  unsigned length = 0;
  for (unsigned n = 1; n <= 16; ++n) {
    for (size_t i = 0; i < bits.size(); ++i) {
      if (bits[i] != n) continue;
      if (length != 0) ++code;
      code <<= (n - length);
      length = n;
      codes[i] = code;
    }
  }
  return codes;
}

uint32_t reverse_bits(uint32_t v, unsigned n) {
  uint32_t r = 0;
  for (unsigned i = 0; i < n; ++i) r |= ((v >> i) & 1) << (n - 1 - i);
  return r;
}

template <typename Bits, typename Codes>
void expect_complement_of_canonical(const Bits& bits, const Codes& codes) {
  const auto canonical = canonical_codes(bits);
  for (size_t i = 0; i < bits.size(); ++i) {
    const unsigned n = bits[i];
    // Table values hold the first bit in bit 0: reverse to MSB-first, complement.
    const uint32_t msb_first = reverse_bits(codes[i], n);
    EXPECT_EQ(msb_first, ~canonical[i] & ((1u << n) - 1)) << "index " << i;
    EXPECT_LT(uint32_t{codes[i]}, 1u << n) << "index " << i;
  }
}

TEST(ExplodeTables, CodesAreComplete) {
  expect_complete(length_bits);
  expect_complete(distance_bits);
  expect_complete(ascii_bits);
}

TEST(ExplodeTables, CodesAreComplementsOfCanonicalCodes) {
  expect_complement_of_canonical(length_bits, length_codes);
  expect_complement_of_canonical(distance_bits, distance_codes);
  expect_complement_of_canonical(ascii_bits, ascii_codes);
}

TEST(ExplodeTables, LengthBasesChainWithoutGapsUpToTheEndMarker) {
  unsigned next = 0;
  for (size_t i = 0; i < 16; ++i) {
    EXPECT_EQ(length_base[i], next) << i;
    next += 1u << length_extra_bits[i];
    if (length_extra_bits[i] == 0) {
      EXPECT_EQ(length_base[i], i);
    }
  }
  EXPECT_EQ(next - 1, END_LENGTH_VALUE);
  EXPECT_EQ(MAX_MATCH, END_LENGTH_VALUE - 1 + 2);
}

TEST(ExplodeTables, AsciiCodeOfCharacter255IsLongSoTheEscapeMarkIsFree) {
  EXPECT_GT(ascii_bits[255], 8);
  for (size_t ch = 0; ch < 256; ++ch) {
    EXPECT_GE(ascii_bits[ch], 4);
    EXPECT_LE(ascii_bits[ch], 13);
  }
}

// Runs the decoder on a one-literal ASCII stream and returns its work area,
// filled beforehand with `fill`.
std::unique_ptr<ExplodeWork> ascii_work_area(uint8_t fill = 0xEE) {
  const auto stream = StreamWriter(1, 4).literal('e').end().data();
  auto work = std::make_unique<ExplodeWork>();
  std::memset(work.get(), fill, sizeof(ExplodeWork));
  EXPECT_EQ(run_real(stream, {}, work.get()).status, EXPLODE_OK);
  return work;
}

// Characters entered in a lookup: entries that two runs over differently filled
// work areas agree on were written by the decoder.
size_t distinct_characters(const uint8_t* a, const uint8_t* b, size_t size, bool skip_escape) {
  std::set<uint8_t> seen;
  for (size_t j = 0; j < size; ++j)
    if (a[j] == b[j] && !(skip_escape && a[j] == 255)) seen.insert(a[j]);
  return seen.size();
}

TEST(ExplodeTables, AsciiLookupsHoldTheExpectedNumbersOfCodes) {
  const auto work = ascii_work_area(0xEE);
  const auto other = ascii_work_area(0x11);
  EXPECT_EQ(distinct_characters(work->ascii_lookup, other->ascii_lookup, 256, true), 69u);
  EXPECT_EQ(distinct_characters(work->ascii_lookup4, other->ascii_lookup4, 256, false), 86u);
  EXPECT_EQ(distinct_characters(work->ascii_lookup6, other->ascii_lookup6, 128, false), 69u);
  EXPECT_EQ(distinct_characters(work->ascii_lookup8, other->ascii_lookup8, 256, false), 32u);
  // Every long code leaves at most 8 bits (7 in ascii_lookup6) for the last step.
  for (size_t ch = 0; ch < 256; ++ch) EXPECT_LE(work->ascii_bits_work[ch], 8) << ch;
}

// Plain search: index of the code that the bit field `v` (first bit in bit 0)
// begins with.
template <typename Bits, typename Codes>
size_t search_code(const Bits& bits, const Codes& codes, uint32_t v) {
  size_t found = bits.size();
  for (size_t i = 0; i < bits.size(); ++i)
    if ((v & ((1u << bits[i]) - 1)) == codes[i]) {
      EXPECT_EQ(found, bits.size()) << "two codes match " << v;
      found = i;
    }
  return found;
}

TEST(ExplodeTables, LengthAndDistanceLookupsMatchPlainSearch) {
  for (uint32_t v = 0; v < 256; ++v) {
    const size_t i = search_code(length_bits, length_codes, v);
    const explode::LengthCode length = explode::lookups.length[v];
    EXPECT_EQ((std::tuple{length.base, length.code_bits, length.extra_bits}),
              (std::tuple{length_base[i], length_bits[i], length_extra_bits[i]}))
        << v;
    const size_t h = search_code(distance_bits, distance_codes, v);
    const explode::DistanceCode distance = explode::lookups.distance[v];
    EXPECT_EQ((std::tuple{size_t{distance.high}, distance.code_bits}), (std::tuple{h, distance_bits[h]})) << v;
  }
}

// What the token table must hold for the index bits v that start a token: the
// token's leading part (an ASCII literal's code, or a length code with its extra
// bits) found by a plain search of the codes, or the slow mark when that part is
// longer than the index. As (value, bits taken, match, slow).
std::tuple<unsigned, unsigned, bool, bool> expected_token_entry(uint32_t v) {
  using explode::TOKEN_INDEX_BITS;
  if ((v & 1) == 0) {
    const size_t ch = search_code(ascii_bits, ascii_codes, v >> 1);
    const unsigned taken = 1u + ascii_bits[ch];
    if (taken > TOKEN_INDEX_BITS) return {0, 0, false, true};
    return {static_cast<unsigned>(ch), taken, false, false};
  }
  const size_t i = search_code(length_bits, length_codes, v >> 1);
  const unsigned taken = 1u + length_bits[i] + length_extra_bits[i];
  if (taken > TOKEN_INDEX_BITS) return {0, 0, false, true};
  const uint32_t extra = (v >> (1 + length_bits[i])) & ((1u << length_extra_bits[i]) - 1);
  return {length_base[i] + extra, taken, true, false};
}

TEST(ExplodeTables, TokenTableMatchesPlainSearchForEveryIndex) {
  for (uint32_t v = 0; v <= explode::TOKEN_INDEX_MASK; ++v) {
    const explode::TokenEntry e = explode::lookups.tokens[v];
    ASSERT_EQ((std::tuple<unsigned, unsigned, bool, bool>{e.value, e.taken, e.match, e.slow}), expected_token_entry(v))
        << "bits " << v;
  }
}

TEST(ExplodeTables, AsciiLookupChainMatchesPlainSearchForEveryThirteenBits) {
  // Walks the decoder's lookup steps on each 13-bit field and checks the character
  // and the total bits taken against a plain search of the code table.
  const auto work = ascii_work_area();
  for (uint32_t v = 0; v < (1u << 13); ++v) {
    uint32_t ch;
    uint32_t taken = 0;
    if ((v & 0xFF) != 0) {
      ch = work->ascii_lookup[v & 0xFF];
      if (ch == 255) {
        if (v & 0x3F) {
          taken = 4;
          ch = work->ascii_lookup4[(v >> 4) & 0xFF];
        } else {
          taken = 6;
          ch = work->ascii_lookup6[(v >> 6) & 0x7F];
        }
      }
    } else {
      taken = 8;
      ch = work->ascii_lookup8[(v >> 8) & 0xFF];
    }
    taken += work->ascii_bits_work[ch];
    const size_t expect = search_code(ascii_bits, ascii_codes, v);
    ASSERT_EQ(ch, expect) << "bits " << v;
    ASSERT_EQ(taken, ascii_bits[ch]) << "bits " << v;
  }
}

}  // namespace

namespace {

// The fast token a plain search of the codes gives for index bits v (zeros above
// the index), dictionary bits k and literal mode: (shift, through, literal,
// stepwise, advance, displacement).
std::tuple<unsigned, unsigned, bool, bool, unsigned, unsigned> expected_fast_token(uint32_t v, unsigned k,
                                                                                   bool binary) {
  using explode::LITERAL_DISPLACE;
  using explode::STRAIGHT_MATCH;
  using explode::TOKEN_INDEX_BITS;
  const auto special = [](unsigned taken, unsigned length) {
    return std::tuple<unsigned, unsigned, bool, bool, unsigned, unsigned>{taken, taken, false, true, length, 0};
  };
  if ((v & 1) == 0) {
    if (binary) return {9, 9, true, false, 1, ((v >> 1) & 0xFF) + LITERAL_DISPLACE};
    const size_t ch = search_code(ascii_bits, ascii_codes, v >> 1);
    const unsigned taken = 1u + ascii_bits[ch];
    if (taken > TOKEN_INDEX_BITS) return special(0, 0);
    return {taken, taken, true, false, 1, static_cast<unsigned>(ch) + LITERAL_DISPLACE};
  }
  const size_t i = search_code(length_bits, length_codes, v >> 1);
  const unsigned taken = 1u + length_bits[i] + length_extra_bits[i];
  if (taken > TOKEN_INDEX_BITS) return special(0, 0);
  const unsigned length = length_base[i] + ((v >> (1 + length_bits[i])) & ((1u << length_extra_bits[i]) - 1)) + 2;
  const size_t h = search_code(distance_bits, distance_codes, v >> taken);
  const unsigned through = taken + distance_bits[h];
  if (through > TOKEN_INDEX_BITS) return special(taken, length);
  const unsigned low_bits = length == 2 ? 2 : k;
  return {through + low_bits,      through, false,
          length > STRAIGHT_MATCH, length,  (static_cast<unsigned>(h) << low_bits) + 1};
}

void expect_fast_tokens_match_plain_search(const explode::Lookups& t) {
  for (unsigned binary = 0; binary < 2; ++binary) {
    for (unsigned k = 4; k <= 6; ++k) {
      const explode::FastTokenTable& table = t.fast_tokens[binary ? 0 : 1][k - explode::MIN_DICT_BITS];
      for (uint32_t v = 0; v <= explode::TOKEN_INDEX_MASK; ++v) {
        const explode::FastToken e = table[v];
        auto got = std::tuple<unsigned, unsigned, bool, bool, unsigned, unsigned>{
            e.shift, e.through, e.literal, e.stepwise, e.advance, e.special() ? 0u : unsigned{e.displace}};
        ASSERT_EQ(got, expected_fast_token(v, k, binary)) << "bits " << v << " k " << k << " binary " << binary;
        // The decoder takes two straight tokens per refill of 56 bits.
        if (!e.stepwise) {
          ASSERT_LE(e.shift, explode::MAX_STRAIGHT_TOKEN_BITS) << "bits " << v << " k " << k;
        }
      }
    }
  }
}

TEST(ExplodeTables, FastTokensMatchPlainSearchForEveryIndex) {
  expect_fast_tokens_match_plain_search(explode::lookups);
}

// The Windows stub builds the lookups when it first decodes, into memory that
// starts zeroed; here into memory full of other bytes, which must not matter.
TEST(ExplodeTables, LookupsBuiltAtRunTimeEqualTheConstantOnesAndPlainSearch) {
  for (const uint8_t fill : {uint8_t{0x00}, uint8_t{0xEE}}) {
    auto built = std::make_unique<explode::Lookups>();
    std::memset(static_cast<void*>(built.get()), fill, sizeof(explode::Lookups));
    explode::build_lookups(*built);
    EXPECT_EQ(std::memcmp(built.get(), &explode::lookups, sizeof(explode::Lookups)), 0) << "fill " << int{fill};
    for (uint32_t v = 0; v <= explode::TOKEN_INDEX_MASK; ++v) {
      const explode::TokenEntry e = built->tokens[v];
      ASSERT_EQ((std::tuple<unsigned, unsigned, bool, bool>{e.value, e.taken, e.match, e.slow}),
                expected_token_entry(v))
          << "bits " << v;
    }
    expect_fast_tokens_match_plain_search(*built);
    for (uint32_t b = 0; b < 256; ++b)
      EXPECT_EQ(built->literal_bytes[255 + explode::LITERAL_DISPLACE - (b + explode::LITERAL_DISPLACE)], b);
  }
}

// ASCII streams read pair tokens: wherever the index holds two whole literals,
// one token for both, whose copy source holds their two bytes; elsewhere the
// single token. Checked against the plain search, in the constant lookups and in
// lookups built over other bytes.
void expect_ascii_pairs_match_plain_search(const explode::Lookups& t) {
  using explode::ASCII_PAIR_BYTES;
  using explode::LITERAL_DISPLACE;
  const auto& bytes = t.ascii_literal_bytes;
  const size_t source = ASCII_PAIR_BYTES + 255 + LITERAL_DISPLACE;  // the literals' copy source, as an index
  size_t pairs = 0;
  for (unsigned k = 4; k <= 6; ++k) {
    const explode::FastTokenTable& table = t.ascii_pair_tokens[k - explode::MIN_DICT_BITS];
    for (uint32_t v = 0; v <= explode::TOKEN_INDEX_MASK; ++v) {
      const explode::FastToken e = table[v];
      const auto got = std::tuple<unsigned, unsigned, bool, bool, unsigned, unsigned>{
          e.shift, e.through, e.literal, e.stepwise, e.advance, e.special() ? 0u : unsigned{e.displace}};
      const auto first = expected_fast_token(v, k, false);
      const auto [shift, through, literal, stepwise, advance, displace] = first;
      const auto second = expected_fast_token(v >> shift, k, false);
      if (!literal || !std::get<2>(second) || shift + std::get<0>(second) > explode::TOKEN_INDEX_BITS) {
        ASSERT_EQ(got, first) << "bits " << v << " k " << k;
        continue;
      }
      ++pairs;
      // Both literals' bits, two bytes, copied from where the pair's bytes lie (below).
      const unsigned both = shift + std::get<0>(second);
      ASSERT_EQ(
          (std::tuple<unsigned, unsigned, bool, bool, unsigned>{e.shift, e.through, e.literal, e.stepwise, e.advance}),
          (std::tuple<unsigned, unsigned, bool, bool, unsigned>{both, both, true, false, 2}))
          << "bits " << v << " k " << k;
      ASSERT_GE(source, e.displace);
      const size_t at = source - e.displace;
      ASSERT_LE(at + 32, bytes.size()) << "bits " << v;  // the straight route copies 32 bytes
      EXPECT_EQ(bytes[at], displace - LITERAL_DISPLACE) << "bits " << v << " k " << k;
      EXPECT_EQ(bytes[at + 1], std::get<5>(second) - LITERAL_DISPLACE) << "bits " << v << " k " << k;
    }
  }
  // Each pair of codes that fits takes every index that starts with it.
  size_t expected = 0;
  for (unsigned a = 0; a < 256; ++a)
    for (unsigned b = 0; b < 256; ++b) {
      const unsigned bits = 2 + ascii_bits[a] + ascii_bits[b];
      if (bits <= explode::TOKEN_INDEX_BITS) expected += size_t{1} << (explode::TOKEN_INDEX_BITS - bits);
    }
  EXPECT_EQ(pairs, 3 * expected);
  for (uint32_t b = 0; b < 256; ++b) EXPECT_EQ(bytes[source - (b + LITERAL_DISPLACE)], b);
}

TEST(ExplodeTables, AsciiPairTokensMatchPlainSearch) {
  expect_ascii_pairs_match_plain_search(explode::lookups);
  auto built = std::make_unique<explode::Lookups>();
  std::memset(static_cast<void*>(built.get()), 0xEE, sizeof(explode::Lookups));
  explode::build_lookups(*built);
  expect_ascii_pairs_match_plain_search(*built);
}

}  // namespace
