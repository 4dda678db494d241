// Implode encoder: turns bytes into an implode stream (two header bytes, then
// tokens LSB-first, then the end marker) for mkpayload's compressed entries.
//
// A parse is a sequence of tokens, literals and matches within the format's
// limits: match lengths 2 to 518, a 2-byte match at most 256 bytes back, a longer
// one at most 64 * 2^k back. Two parsers produce them:
//  * parse_lazy: hash chains and one step of lazy evaluation; fast, good.
//  * parse_optimal: the parse of fewest bits for the given format, found by a
//    shortest-path search over the input with every candidate match in the window.
// Both read the whole input from memory; neither allocates per token beyond the
// token vector.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "token_costs.h"

namespace implode {

// One token: a literal (length 0, value = the byte) or a match (length 2..518,
// value = distance).
struct Token {
  uint16_t length;
  uint16_t value;
  bool is_literal() const { return length == 0; }
};

std::vector<Token> parse_lazy(std::span<const uint8_t> data, StreamFormat format);
std::vector<Token> parse_optimal(std::span<const uint8_t> data, StreamFormat format);

// Exact size in bits of the optimal parse of `data` for each of the six formats
// (binary/ASCII literals x k = 4, 5, 6), tokens and end marker, without the header.
// Index: literals * 3 + (dict_bits - 4).
std::array<uint64_t, 6> optimal_bits_all_formats(std::span<const uint8_t> data);

// Bits of a parse (tokens and end marker, without the 16 header bits).
uint64_t parse_bits(std::span<const Token> tokens, StreamFormat format);

// The whole stream: header, tokens, end marker, zero bits up to the byte boundary.
std::vector<uint8_t> write_stream(std::span<const Token> tokens, StreamFormat format);

// Bytes of a stream whose tokens and end marker take `bits`.
inline uint64_t stream_bytes(uint64_t bits) { return 2 + (bits + 7) / 8; }

}  // namespace implode
