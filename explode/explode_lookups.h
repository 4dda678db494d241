// The decoder's lookups, computed at compile time from the format's code tables
// (implode_codes.h): one load on the next stream bits tells which code they begin
// with and what it stands for. A test checks every entry against a plain search
// of the codes.
#pragma once

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

// The fast path's token table resolves a token's whole leading part (flag bit,
// then an ASCII literal's code, or a length code with its extra bits) with one
// load when it fits in TOKEN_INDEX_BITS: ASCII literals of up to 10 code bits and
// length codes 0-11 (lengths up to 39). The rest (longer ASCII codes, longer
// lengths, the end marker) is marked slow and takes the step-by-step route.
// Binary literals need no table: the decoder takes them on the flag bit alone.
// 11 bits keep the table at 4 KiB (it is part of every installer's stub); 12 were
// no faster.
inline constexpr unsigned TOKEN_INDEX_BITS = 11;
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

struct Lookups {
  // Indexed by the 8 stream bits where a length code starts.
  std::array<LengthCode, 256> length{};
  // Indexed by the 8 stream bits where a distance position code starts.
  std::array<DistanceCode, 256> distance{};
  // Indexed by the TOKEN_INDEX_BITS stream bits from a token's flag bit.
  TokenTable tokens{};
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

constexpr Lookups make_lookups() {
  using namespace implode_format;
  Lookups t;
  build_code_lookup(t.length, length_bits, length_codes, [](size_t i) {
    return LengthCode{length_base[i], length_bits[i], length_extra_bits[i]};
  });
  build_code_lookup(t.distance, distance_bits, distance_codes, [](size_t h) {
    return DistanceCode{static_cast<uint8_t>(h), distance_bits[h]};
  });
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
  return t;
}

inline constexpr Lookups lookups = make_lookups();

}  // namespace explode
