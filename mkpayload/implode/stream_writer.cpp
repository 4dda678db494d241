// Writes a parse as an implode stream. Fields go out least significant bit first;
// code values are stored with their first bit in bit 0, so they are written as
// plain fields too.
#include <cassert>

#include "implode_encoder.h"

namespace implode {
namespace {

using namespace implode_format;

class BitSink {
 public:
  explicit BitSink(std::vector<uint8_t>& out) : out_(out) {}
  void put(uint32_t value, unsigned n) {
    buffer_ |= static_cast<uint64_t>(value & ((1u << n) - 1)) << count_;
    count_ += n;
    while (count_ >= 8) {
      out_.push_back(static_cast<uint8_t>(buffer_));
      buffer_ >>= 8;
      count_ -= 8;
    }
  }
  void finish() {
    if (count_ > 0) out_.push_back(static_cast<uint8_t>(buffer_));
    buffer_ = 0;
    count_ = 0;
  }

 private:
  std::vector<uint8_t>& out_;
  uint64_t buffer_ = 0;
  unsigned count_ = 0;
};

void put_length_value(BitSink& bits, unsigned value) {
  const unsigned i = length_code_index(value);
  bits.put(1, 1);
  bits.put(length_codes[i], length_bits[i]);
  bits.put(value - length_base[i], length_extra_bits[i]);
}

}  // namespace

uint64_t parse_bits(std::span<const Token> tokens, StreamFormat format) {
  uint64_t bits = END_MARKER_BITS;
  for (const Token& t : tokens)
    bits += t.is_literal() ? literal_cost(format, static_cast<uint8_t>(t.value)) : match_cost(format, t.length, t.value);
  return bits;
}

std::vector<uint8_t> write_stream(std::span<const Token> tokens, StreamFormat format) {
  std::vector<uint8_t> out;
  out.reserve(static_cast<size_t>(stream_bytes(parse_bits(tokens, format))));
  out.push_back(static_cast<uint8_t>(format.literals));
  out.push_back(static_cast<uint8_t>(format.dict_bits));
  BitSink bits(out);
  for (const Token& t : tokens) {
    if (t.is_literal()) {
      const auto byte = static_cast<uint8_t>(t.value);
      bits.put(0, 1);
      if (format.literals == LiteralCoding::binary) bits.put(byte, 8);
      else bits.put(ascii_codes[byte], ascii_bits[byte]);
      continue;
    }
    assert(match_allowed(format, t.length, t.value));
    put_length_value(bits, t.length - MIN_MATCH);
    const unsigned low_bits = t.length == MIN_MATCH ? 2 : format.dict_bits;
    const unsigned d = t.value - 1u;
    const unsigned h = d >> low_bits;
    bits.put(distance_codes[h], distance_bits[h]);
    bits.put(d, low_bits);
  }
  put_length_value(bits, END_LENGTH_VALUE);
  bits.finish();
  return out;
}

}  // namespace implode
