// Bit costs of the implode format's tokens, from its fixed code tables. The format
// has no adaptive codes, so every token's cost is known before the parse.
#pragma once

#include <array>
#include <cstdint>

#include "implode_codes.h"

namespace implode {

enum class LiteralCoding : uint8_t { binary = 0, ascii = 1 };

struct StreamFormat {
  LiteralCoding literals = LiteralCoding::binary;
  unsigned dict_bits = 6;  // k: 4, 5 or 6 (dictionary of 1024, 2048, 4096 bytes)
  unsigned window() const { return implode_format::max_distance(dict_bits); }
  bool operator==(const StreamFormat&) const = default;
};

// The six stream formats (binary/ASCII literals x k = 4, 5, 6) by index:
// literals * 3 + (k - 4). The encoder's six-format search keeps the parse of
// format i in its lane i; callers index its results the same way.
inline constexpr unsigned STREAM_FORMATS = 6;
constexpr unsigned format_index(StreamFormat f) { return static_cast<unsigned>(f.literals) * 3 + (f.dict_bits - 4); }
constexpr StreamFormat format_at_index(unsigned index) {
  return {static_cast<LiteralCoding>(index / 3), 4 + index % 3};
}

inline constexpr unsigned END_MARKER_BITS = 1 + 7 + 8;

// Length code index by length value (match length - 2, 0..517), as a table: the
// parsers and the writer look it up for every match.
inline constexpr std::array<uint8_t, implode_format::MAX_MATCH> length_code_by_value = [] {
  std::array<uint8_t, implode_format::MAX_MATCH> t{};
  for (unsigned value = 0; value < t.size(); ++value) {
    unsigned i = 15;
    while (implode_format::length_base[i] > value) --i;
    t[value] = static_cast<uint8_t>(i);
  }
  return t;
}();
constexpr unsigned length_code_index(unsigned value) { return length_code_by_value[value]; }

// Bits of flag, length code and extra bits, by match length (index 0..518).
inline constexpr std::array<uint8_t, implode_format::MAX_MATCH + 1> length_cost_table = [] {
  std::array<uint8_t, implode_format::MAX_MATCH + 1> t{};
  for (unsigned length = 2; length <= implode_format::MAX_MATCH; ++length) {
    const unsigned i = length_code_index(length - 2);
    t[length] = static_cast<uint8_t>(1 + implode_format::length_bits[i] + implode_format::length_extra_bits[i]);
  }
  return t;
}();

inline unsigned literal_cost(StreamFormat f, uint8_t byte) {
  return f.literals == LiteralCoding::binary ? 9u : 1u + implode_format::ascii_bits[byte];
}

// Bits of the distance part: position code of the high part, then the low bits.
inline unsigned distance_cost(StreamFormat f, unsigned length, unsigned distance) {
  const unsigned low_bits = length == 2 ? 2 : f.dict_bits;
  return implode_format::distance_bits[(distance - 1) >> low_bits] + low_bits;
}

inline bool match_allowed(StreamFormat f, unsigned length, unsigned distance) {
  if (length < implode_format::MIN_MATCH || length > implode_format::MAX_MATCH || distance == 0) return false;
  return distance <= (length == 2 ? implode_format::MAX_SHORT_DISTANCE : f.window());
}

inline unsigned match_cost(StreamFormat f, unsigned length, unsigned distance) {
  return length_cost_table[length] + distance_cost(f, length, distance);
}

// Length codes by match length range.
struct LengthCode {
  unsigned first, last;  // match lengths
  unsigned bits;         // flag + code + extra bits
};
inline constexpr std::array<LengthCode, 16> length_code_ranges = [] {
  std::array<LengthCode, 16> r{};
  for (unsigned i = 0; i < 16; ++i) {
    const unsigned first = implode_format::length_base[i] + implode_format::MIN_MATCH;
    const unsigned last =
        i == 15 ? implode_format::MAX_MATCH : first + (1u << implode_format::length_extra_bits[i]) - 1;
    r[i] = {first, last, 1u + implode_format::length_bits[i] + implode_format::length_extra_bits[i]};
  }
  return r;
}();
// Codes 11 to 15 cover 16 to 255 lengths each: the optimal parser handles their
// ranges as a whole.
inline constexpr unsigned FIRST_WIDE_CODE = 11;
inline constexpr unsigned WIDE_CODES = 16 - FIRST_WIDE_CODE;
static_assert(implode_format::length_extra_bits[FIRST_WIDE_CODE] == 4 &&
              implode_format::length_extra_bits[FIRST_WIDE_CODE - 1] == 3);

}  // namespace implode
