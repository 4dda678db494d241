// Fields of an implode stream as written: a token's flag, codes and extra bits
// in one value (first bit in bit 0) and their number, from tables by length
// value and by byte. Fields go out least significant bit first; code values are
// stored with their first bit in bit 0, so they are written as plain fields too.
#pragma once

#include <array>
#include <cstdint>

#include "implode_costs.h"

namespace implode::stream_fields {

using namespace implode_format;

// A whole field as written: its bits (first bit in bit 0) and their number.
struct Field {
  uint32_t bits;
  uint32_t count;
};

// Flag, length code and extra bits, by length value (match length - 2, end marker
// included).
inline constexpr std::array<Field, MAX_MATCH> length_fields = [] {
  std::array<Field, MAX_MATCH> t{};
  for (unsigned value = 0; value < t.size(); ++value) {
    const unsigned i = length_code_index(value);
    t[value] = {1u | uint32_t{length_codes[i]} << 1 | (value - length_base[i]) << (1 + length_bits[i]),
                1u + length_bits[i] + length_extra_bits[i]};
  }
  return t;
}();

// Flag and literal, by byte, for each literal coding.
inline constexpr std::array<std::array<Field, 256>, 2> literal_fields = [] {
  std::array<std::array<Field, 256>, 2> t{};
  for (unsigned b = 0; b < 256; ++b) {
    t[0][b] = {b << 1, 9};
    t[1][b] = {uint32_t{ascii_codes[b]} << 1, 1u + ascii_bits[b]};
  }
  return t;
}();

// A match's length field (at most 16 bits) and distance field (at most 8 + 6) as
// one field of at most 30 bits.
inline Field match_field(unsigned dict_bits, unsigned length, unsigned distance) {
  const Field f = length_fields[length - MIN_MATCH];
  const unsigned low_bits = length == MIN_MATCH ? 2 : dict_bits;
  const unsigned d = distance - 1;
  const unsigned h = d >> low_bits;
  const uint32_t distance_field = distance_codes[h] | (d & ((1u << low_bits) - 1)) << distance_bits[h];
  return {f.bits | distance_field << f.count, f.count + distance_bits[h] + low_bits};
}

}  // namespace implode::stream_fields
