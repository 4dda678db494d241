// A back-reference of the optimal parse: the best last token into one position,
// packed into 32 bits so that the references of all lanes of a position fit one
// vector. 0 is a literal; a match keeps its length above DISTANCE_BITS bits that
// hold its distance - 1.
#pragma once

#include <cstdint>

#include "implode_codes.h"

namespace implode {

inline constexpr unsigned DISTANCE_BITS = 12;
inline constexpr unsigned LENGTH_BITS = 10;
static_assert(implode_format::max_distance(6) <= 1u << DISTANCE_BITS);
static_assert(implode_format::MAX_MATCH < 1u << LENGTH_BITS && DISTANCE_BITS + LENGTH_BITS <= 32);

inline constexpr uint32_t LITERAL_REFERENCE = 0;  // no match has length 0

constexpr uint32_t match_reference(unsigned length, unsigned distance) {
  return static_cast<uint32_t>(length) << DISTANCE_BITS | (distance - 1);
}
constexpr bool is_literal(uint32_t reference) { return reference == LITERAL_REFERENCE; }
constexpr unsigned match_length(uint32_t reference) { return reference >> DISTANCE_BITS; }
constexpr unsigned match_distance(uint32_t reference) { return (reference & ((1u << DISTANCE_BITS) - 1)) + 1; }
// Input bytes the token covers: the position it starts from is this many before.
constexpr unsigned token_span(uint32_t reference) { return is_literal(reference) ? 1 : match_length(reference); }

}  // namespace implode
