// Implode encoder: turns bytes into an implode stream (two header bytes, then
// tokens LSB-first, then the end marker) for mkpayload's compressed entries.
//
// A parse is a sequence of tokens, literals and matches within the format's
// limits: match lengths 2 to 518, a 2-byte match at most 256 bytes back, a longer
// one at most 64 * 2^k back. Two parsers produce them:
//  * parse_lazy: hash chains and one step of lazy evaluation; fast, good.
//  * parse_optimal: the parse of fewest bits for the given format, found by a
//    shortest-path search over the input with every candidate match in the window;
//    parse_optimal_all_formats runs that search for all six formats in one pass.
//    A forced format's parse is exactly the one the six-format pass hands on for
//    it (one search, one choice among equally small parses).
// Both read the whole input from memory; neither allocates per token beyond the
// token vector.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "implode_costs.h"

namespace implode {

// One token: a literal (length 0, value = the byte) or a match (length 2..518,
// value = distance).
struct Token {
  uint16_t length;
  uint16_t value;
  bool is_literal() const { return length == 0; }
};

// Receives a parse token by token, in input order.
class TokenSink {
 public:
  virtual ~TokenSink() = default;
  virtual void literal(uint8_t byte) = 0;
  virtual void match(unsigned length, unsigned distance) = 0;
};

void parse_lazy(std::span<const uint8_t> data, StreamFormat format, TokenSink& sink);
// Memory beyond the input: fixed-size match finder and search rings (about 450
// KiB) and the back-references of the positions whose best paths have not merged
// yet, 12 bytes each. The parse is handed on in pieces as soon as every path the
// search still considers agrees on them (checked every 64 Ki positions; on real
// data the paths merge within a few tokens); should they not agree, the
// references are kept until they do, so the parse is always minimal.
void parse_optimal(std::span<const uint8_t> data, StreamFormat format, TokenSink& sink);

// The same, collected (for tests and tools).
std::vector<Token> parse_lazy(std::span<const uint8_t> data, StreamFormat format);
std::vector<Token> parse_optimal(std::span<const uint8_t> data, StreamFormat format);

// Counts the bits of the tokens it receives (end marker included, header not).
class BitCounter final : public TokenSink {
 public:
  explicit BitCounter(StreamFormat format) : format_(format) {}
  void literal(uint8_t byte) override { bits_ += literal_cost(format_, byte); }
  void match(unsigned length, unsigned distance) override { bits_ += match_cost(format_, length, distance); }
  uint64_t bits() const { return bits_ + END_MARKER_BITS; }

 private:
  StreamFormat format_;
  uint64_t bits_ = 0;
};

// Writes the stream as the tokens arrive: header first, end marker and padding
// to the byte boundary at finish().
class StreamWriter final : public TokenSink {
 public:
  explicit StreamWriter(StreamFormat format);
  void literal(uint8_t byte) override;
  void match(unsigned length, unsigned distance) override;
  std::vector<uint8_t> finish();

 private:
  void put(uint32_t value, unsigned n);
  void put_length_value(unsigned value);
  StreamFormat format_;
  std::vector<uint8_t> out_;
  uint64_t buffer_ = 0;
  unsigned count_ = 0;
};

// Optimal parses of `data` for all six formats (binary/ASCII literals x k = 4, 5,
// 6) in one pass over the input, each handed to its own sink; returns the size in
// bits of each (tokens and end marker, without the header). Sinks and sizes are
// by format_index() (implode_costs.h). Memory as parse_optimal's, with about 1.2
// MiB of rings and 40 bytes per back-referenced position.
std::array<uint64_t, STREAM_FORMATS> parse_optimal_all_formats(std::span<const uint8_t> data,
                                                               const std::array<TokenSink*, STREAM_FORMATS>& sinks);
std::array<uint64_t, STREAM_FORMATS> optimal_bits_all_formats(std::span<const uint8_t> data);

// Bits of a parse (tokens and end marker, without the 16 header bits).
uint64_t parse_bits(std::span<const Token> tokens, StreamFormat format);

// The whole stream: header, tokens, end marker, zero bits up to the byte boundary.
std::vector<uint8_t> write_stream(std::span<const Token> tokens, StreamFormat format);

// Bytes of a stream whose tokens and end marker take `bits`.
inline uint64_t stream_bytes(uint64_t bits) { return 2 + (bits + 7) / 8; }

}  // namespace implode
