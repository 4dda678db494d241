// The decoder's lookups, derived from the format's code tables (implode_codes.h):
// one load on the next stream bits tells which code they begin with and what it
// stands for. build_lookups() derives them; the host build runs it at compile time
// (`lookups`, constant data), the Windows stub at the first decoding, into
// zero-initialised memory, so that the tables take no room in the stub's file
// (KVN_EXPLODE_TABLES_AT_RUN_TIME; the stub has no fast path and builds only
// build_code_lookups' part). A test checks every entry of both against a
// plain search of the codes.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

#include "implode_codes.h"

namespace explode {

// A length code: the length value of its first length, its own bits and the
// extra bits that follow it (the length value is base + extra).
struct LengthCode {
  uint16_t base;
  uint8_t code_bits;
  uint8_t extra_bits;
};

// A distance position code: the high part of the distance and the code's bits.
struct DistanceCode {
  uint8_t high;
  uint8_t code_bits;
};

// The token table resolves a token's whole leading part (flag bit, then an ASCII
// literal's code, or a length code with its extra bits) with one load when it fits
// in TOKEN_INDEX_BITS: ASCII literals of up to 12 code bits and length codes 0-13
// (match lengths up to 135). The rest (longer ASCII codes, longer lengths, the end
// marker) is marked slow and takes the step-by-step route. The fast path reads it
// through the fast token tables below, which are built from it.
inline constexpr unsigned TOKEN_INDEX_BITS = 13;
inline constexpr uint32_t TOKEN_INDEX_MASK = (1u << TOKEN_INDEX_BITS) - 1;

struct TokenEntry {
  uint16_t value : 10;  // the literal byte, or the match's length value
  uint16_t taken : 4;   // stream bits of the leading part, flag bit included (at most TOKEN_INDEX_BITS)
  uint16_t match : 1;
  uint16_t slow : 1;  // the leading part is longer than the index: decode it step by step
};
static_assert(sizeof(TokenEntry) == 2);

constexpr TokenEntry token_entry(uint32_t value, uint32_t taken, bool match) {
  TokenEntry entry{};
  entry.value = value & 0x3FFu;
  entry.taken = taken & 0xFu;
  entry.match = match;
  return entry;
}
using TokenTable = std::array<TokenEntry, 1u << TOKEN_INDEX_BITS>;

// A token as far as the same TOKEN_INDEX_BITS resolve it for one dictionary size
// k: an ASCII literal, or a match whose distance position code lies within the
// index too (most short matches: flag, 2-5 leading bits and a 2-8 bit position
// code), whose distance then needs only the low bits that follow. One load gives
// the fast path everything it needs to take the token in straight-line code:
// the bits to take, where the low distance bits start, the output length and a
// displacement to copy from (a literal is copied from a table of byte values, see
// explode.cpp). Whatever it cannot resolve is marked special.
struct FastToken {
  uint32_t shift : 6;    // stream bits of the token (a match: through its low distance bits)
  uint32_t literal : 1;  // a literal: its byte is `displace` - LITERAL_DISPLACE
  // Take the step-by-step route: a special token, or a resolved match longer
  // than STRAIGHT_MATCH.
  uint32_t stepwise : 1;
  uint32_t through : 4;    // bits before the low distance bits; a literal: its shift (no low bits)
  uint32_t advance : 8;    // output bytes: 1 for a literal, the length of a match
  uint32_t displace : 12;  // a literal's byte + LITERAL_DISPLACE; a match's distance less its low bits

  // Not resolved: a slow leading part (then advance is 0), or a match whose
  // distance position code reaches past the index (then shift holds its leading
  // part's bits and advance its length). Both have no low distance bits here.
  constexpr bool special() const { return !literal && shift == through; }
};
static_assert(sizeof(FastToken) == 4);
using FastTokenTable = std::array<FastToken, 1u << TOKEN_INDEX_BITS>;

// The most stream bits a token that is not stepwise takes: its leading part and
// distance position code within the index, then at most 6 low distance bits.
inline constexpr unsigned MAX_STRAIGHT_TOKEN_BITS = TOKEN_INDEX_BITS + 6;

inline constexpr unsigned MIN_DICT_BITS = 4;
// The longest match the fast path copies in straight-line code.
inline constexpr unsigned STRAIGHT_MATCH = 32;
// A literal's displacement is its byte + 16, so that a displacement below 16 is
// always a match at a distance below 16.
inline constexpr unsigned LITERAL_DISPLACE = 16;
inline constexpr unsigned DICT_SIZES = 3;  // k = 4, 5, 6

// Two ASCII literals whose codes, with their flag bits, fit in the index
// together: the text streams' commonest token pair, taken in one step.
constexpr bool ascii_pair_fits(unsigned first, unsigned second) {
  return 2u + implode_format::ascii_bits[first] + implode_format::ascii_bits[second] <= TOKEN_INDEX_BITS;
}
constexpr unsigned ascii_pair_count() {
  unsigned n = 0;
  for (unsigned a = 0; a < 256; ++a)
    for (unsigned b = 0; b < 256; ++b) n += ascii_pair_fits(a, b);
  return n;
}
// The pairs' bytes, two a pair, lie before the single literals' table in
// ascii_literal_bytes; a pair's displacement must fit the token's 12 bits.
inline constexpr unsigned ASCII_PAIR_BYTES = 2 * ascii_pair_count();
static_assert(ASCII_PAIR_BYTES + 255 + LITERAL_DISPLACE < (1u << 12));

struct Lookups {
  // Indexed by the 8 stream bits where a length code starts.
  std::array<LengthCode, 256> length{};
  // Indexed by the 8 stream bits where a distance position code starts.
  std::array<DistanceCode, 256> distance{};
  // Indexed by the TOKEN_INDEX_BITS stream bits from a token's flag bit.
  TokenTable tokens{};
  // The same index, for ASCII and binary literals, each for k = 4, 5, 6.
  std::array<std::array<FastTokenTable, DICT_SIZES>, 2> fast_tokens{};
  // 255 down to 0, then room for a 32-byte load: entry 255 - b holds b, so a
  // literal b is copied from &literal_bytes[255 + LITERAL_DISPLACE] - its
  // displacement, as a match is copied from the output position - its distance.
  std::array<uint8_t, 256 + 32> literal_bytes{};
  // The ASCII fast tokens with every two literals that fit the index as one
  // token (advance 2), for k = 4, 5, 6; otherwise as fast_tokens[1].
  std::array<FastTokenTable, DICT_SIZES> ascii_pair_tokens{};
  // Every pair's two bytes, then literal_bytes' values: a pair is copied from
  // &ascii_literal_bytes[ASCII_PAIR_BYTES + 255 + LITERAL_DISPLACE] - its
  // displacement, a single literal as from literal_bytes.
  std::array<uint8_t, ASCII_PAIR_BYTES + 256 + 32> ascii_literal_bytes{};
};

// lookup[j] = f(i) for the code i that the 8 bits j begin with. Codes are
// entered from the last index down; with a complete prefix code every entry is
// set.
template <typename Entry, size_t N, typename Make>
constexpr void build_code_lookup(std::array<Entry, 256>& lookup, const std::array<uint8_t, N>& bits,
                                 const std::array<uint8_t, N>& codes, Make make) {
  for (size_t i = N; i-- > 0;)
    for (unsigned j = codes[i]; j < 256; j += 1u << bits[i]) lookup[j] = make(i);
}

// Enters a token part of `taken` bits whose low bits are `pattern` into every
// index that starts with it.
constexpr void enter_token(TokenTable& t, uint32_t pattern, unsigned taken, unsigned value, bool match) {
  for (uint32_t j = pattern; j < t.size(); j += 1u << taken) t[j] = token_entry(value, taken, match);
}

// The fast token for index bits v and dictionary bits k, from the token table and
// the distance lookup (which must be built).
constexpr FastToken fast_token(const Lookups& t, bool binary, unsigned k, uint32_t v) {
  TokenEntry lead = t.tokens[v];
  // A binary literal: the flag bit and the byte's 8 bits.
  if (binary && (v & 1) == 0) lead = token_entry((v >> 1) & 0xFF, 9, false);
  FastToken fast{};
  if (lead.slow) {
    fast.stepwise = true;
    return fast;
  }
  fast.shift = lead.taken;
  fast.through = lead.taken;
  if (!lead.match) {
    fast.literal = true;
    fast.advance = 1;
    fast.displace = (lead.value + LITERAL_DISPLACE) & 0xFFFu;
    return fast;
  }
  const unsigned length = lead.value + implode_format::MIN_MATCH;
  fast.advance = length & 0xFFu;
  // The index bits after the leading part, zeros above the index.
  const unsigned taken = lead.taken;
  const DistanceCode code = t.distance[(v >> taken) & 0xFF];
  if (taken + code.code_bits > TOKEN_INDEX_BITS) {
    fast.stepwise = true;
    return fast;
  }
  const unsigned low_bits = length == implode_format::MIN_MATCH ? 2 : k;
  const unsigned displace = (unsigned{code.high} << low_bits) + 1;
  fast.through = (taken + code.code_bits) & 0xFu;
  fast.shift = (taken + code.code_bits + low_bits) & 0x3Fu;
  fast.displace = displace & 0xFFFu;
  fast.stepwise = length > STRAIGHT_MATCH;
  return fast;
}

// Fills the length and distance lookups, all that the exact path reads.
constexpr void build_code_lookups(Lookups& t) {
  using namespace implode_format;
  build_code_lookup(t.length, length_bits, length_codes, [](size_t i) {
    return LengthCode{length_base[i], length_bits[i], length_extra_bits[i]};
  });
  build_code_lookup(t.distance, distance_bits, distance_codes, [](size_t h) {
    return DistanceCode{static_cast<uint8_t>(h), distance_bits[h]};
  });
}

// Fills ascii_pair_tokens and ascii_literal_bytes from fast_tokens[1] and
// literal_bytes. A pair's bytes lie at twice its rank in (first, second) order,
// counted by the first byte's row and the second's rank among the bytes short
// enough to follow it.
constexpr void build_ascii_pairs(Lookups& t) {
  using implode_format::ascii_bits;
  constexpr unsigned SHORTEST = 4, LONGEST_SECOND = TOKEN_INDEX_BITS - 2 - SHORTEST;
  static_assert(*std::min_element(ascii_bits.begin(), ascii_bits.end()) == SHORTEST);
  std::array<uint16_t, 256> row{};                                  // pairs before those that start with each byte
  std::array<std::array<uint8_t, 256>, LONGEST_SECOND + 1> rank{};  // bytes before b of at most m code bits
  unsigned n = 0;
  for (unsigned a = 0; a < 256; ++a) {
    row[a] = static_cast<uint16_t>(n);
    for (unsigned b = 0; b < 256; ++b) n += ascii_pair_fits(a, b);
  }
  for (unsigned m = 0; m <= LONGEST_SECOND; ++m)
    for (unsigned b = 0, r = 0; b < 256; ++b) {
      rank[m][b] = static_cast<uint8_t>(r);
      r += ascii_bits[b] <= m;
    }
  // Every pair that fits starts some index, so the token loop below writes
  // every pair's bytes.
  t.ascii_literal_bytes.fill(0);
  for (unsigned i = 0; i < t.literal_bytes.size(); ++i)
    t.ascii_literal_bytes[ASCII_PAIR_BYTES + i] = t.literal_bytes[i];
  for (unsigned k = 0; k < DICT_SIZES; ++k) {
    const FastTokenTable& single = t.fast_tokens[1][k];
    for (uint32_t v = 0; v < single.size(); ++v) {
      FastToken token = single[v];
      const FastToken next = single[v >> token.shift];
      if (token.literal && next.literal && unsigned{token.shift} + next.shift <= TOKEN_INDEX_BITS) {
        const unsigned a = token.displace - LITERAL_DISPLACE, b = next.displace - LITERAL_DISPLACE;
        const unsigned at = 2 * (row[a] + rank[TOKEN_INDEX_BITS - 2 - ascii_bits[a]][b]);
        t.ascii_literal_bytes[at] = static_cast<uint8_t>(a);
        t.ascii_literal_bytes[at + 1] = static_cast<uint8_t>(b);
        token.shift = (token.shift + next.shift) & 0x3Fu;
        token.through = token.shift & 0xFu;
        token.advance = 2;
        token.displace = (ASCII_PAIR_BYTES + 255 + LITERAL_DISPLACE - at) & 0xFFFu;
      }
      t.ascii_pair_tokens[k][v] = token;
    }
  }
}

// Fills `t`, every entry of it, whatever it held before.
constexpr void build_lookups(Lookups& t) {
  using namespace implode_format;
  build_code_lookups(t);
  TokenEntry slow{};
  slow.slow = true;
  t.tokens.fill(slow);
  for (uint32_t ch = 0; ch < 256; ++ch) {
    const unsigned taken = 1u + ascii_bits[ch];
    if (taken <= TOKEN_INDEX_BITS) enter_token(t.tokens, uint32_t{ascii_codes[ch]} << 1, taken, ch, false);
  }
  for (uint32_t i = 0; i < 16; ++i) {
    const unsigned taken = 1 + length_bits[i] + length_extra_bits[i];
    if (taken > TOKEN_INDEX_BITS) continue;
    for (uint32_t x = 0; x < (1u << length_extra_bits[i]); ++x)
      enter_token(t.tokens, 1 | uint32_t{length_codes[i]} << 1 | x << (1 + length_bits[i]), taken, length_base[i] + x,
                  true);
  }
  for (unsigned mode = 0; mode < 2; ++mode)
    for (unsigned k = MIN_DICT_BITS; k < MIN_DICT_BITS + DICT_SIZES; ++k)
      for (uint32_t v = 0; v < t.tokens.size(); ++v)
        t.fast_tokens[mode][k - MIN_DICT_BITS][v] = fast_token(t, mode == 0, k, v);
  t.literal_bytes.fill(0);
  for (uint32_t b = 0; b < 256; ++b) t.literal_bytes[255 - b] = static_cast<uint8_t>(b);
  build_ascii_pairs(t);
}

constexpr Lookups make_lookups() {
  Lookups t;
  build_lookups(t);
  return t;
}

#if !KVN_EXPLODE_TABLES_AT_RUN_TIME
inline constexpr Lookups lookups = make_lookups();
#endif

}  // namespace explode
