// Combined lookups for the decoder's fast path, computed at compile time from the
// code tables: one load gives both what a code stands for and how many bits it
// and its fixed-size fields take. (The exact path keeps to the work area's
// lookups; a test checks the fast tables against a plain search of the codes.)
#pragma once

#include <array>
#include <cstdint>

#include "implode_codes.h"

namespace explode_fast {

// A whole token's leading part (flag bit, then an ASCII literal's code, or a
// length code with its extra bits) is resolved by one load when it fits in
// TOKEN_INDEX_BITS: ASCII literals of up to 10 code bits and length codes 0-11
// (lengths up to 39). The rest (longer ASCII codes, longer lengths, the end
// marker) is marked TOKEN_SLOW and takes the step-by-step route. Binary literals
// need no table: the decoder takes them on the flag bit alone. 11 bits keep the
// table at 4 KiB (it is part of every installer's stub); 12 were no faster.
inline constexpr unsigned TOKEN_INDEX_BITS = 11;
inline constexpr uint32_t TOKEN_INDEX_MASK = (1u << TOKEN_INDEX_BITS) - 1;
// Entry: literal byte or length value in bits 0-9, bits taken in bits 10-13.
inline constexpr uint32_t TOKEN_VALUE_MASK = 0x3FF;
inline constexpr unsigned TOKEN_TAKEN_SHIFT = 10;
inline constexpr uint32_t TOKEN_MATCH = 0x4000;
inline constexpr uint32_t TOKEN_SLOW = 0x8000;
using TokenTable = std::array<uint16_t, 1u << TOKEN_INDEX_BITS>;

struct Tables {
  // Indexed by the TOKEN_INDEX_BITS stream bits from a token's flag bit.
  TokenTable tokens{};
  // Indexed by the 8 stream bits after the flag bit. Length code: length base |
  // code bits << 16 | extra bits << 24.
  std::array<uint32_t, 256> length{};
  // Indexed by the 8 stream bits after the length part. Distance position code:
  // high part | code bits << 8.
  std::array<uint16_t, 256> distance{};
};

// Enters a token part of `taken` bits whose low bits are `pattern` into every
// index that starts with it.
constexpr void enter_token(TokenTable& t, uint32_t pattern, unsigned taken, uint32_t entry) {
  for (uint32_t j = pattern; j < t.size(); j += 1u << taken)
    t[j] = static_cast<uint16_t>(entry | taken << TOKEN_TAKEN_SHIFT);
}

constexpr Tables make_tables() {
  using namespace implode_format;
  Tables t;
  t.tokens.fill(TOKEN_SLOW);
  for (uint32_t ch = 0; ch < 256; ++ch) {
    const unsigned taken = 1u + ascii_bits[ch];
    if (taken <= TOKEN_INDEX_BITS) enter_token(t.tokens, uint32_t{ascii_codes[ch]} << 1, taken, ch);
  }
  for (uint32_t i = 0; i < 16; ++i) {
    const unsigned taken = 1 + length_bits[i] + length_extra_bits[i];
    if (taken > TOKEN_INDEX_BITS) continue;
    for (uint32_t x = 0; x < (1u << length_extra_bits[i]); ++x)
      enter_token(t.tokens, 1 | uint32_t{length_codes[i]} << 1 | x << (1 + length_bits[i]), taken,
                  (length_base[i] + x) | TOKEN_MATCH);
  }
  for (unsigned i = 0; i < 16; ++i)
    for (unsigned j = length_codes[i]; j < 256; j += 1u << length_bits[i])
      t.length[j] = length_base[i] | unsigned{length_bits[i]} << 16 | unsigned{length_extra_bits[i]} << 24;
  for (unsigned h = 0; h < 64; ++h)
    for (unsigned j = distance_codes[h]; j < 256; j += 1u << distance_bits[h])
      t.distance[j] = static_cast<uint16_t>(h | unsigned{distance_bits[h]} << 8);
  return t;
}

inline constexpr Tables tables = make_tables();

}  // namespace explode_fast
