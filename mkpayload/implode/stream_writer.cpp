// Writes a parse as an implode stream. Fields go out least significant bit first;
// code values are stored with their first bit in bit 0, so they are written as
// plain fields too.
#include <cassert>

#include "implode_encoder.h"

namespace implode {
using namespace implode_format;

StreamWriter::StreamWriter(StreamFormat format) : format_(format) {
  out_.push_back(static_cast<uint8_t>(format.literals));
  out_.push_back(static_cast<uint8_t>(format.dict_bits));
}

// Fields are at most 16 bits, so the buffer never holds more than 47 bits.
void StreamWriter::put(uint32_t value, unsigned n) {
  buffer_ |= static_cast<uint64_t>(value & ((1u << n) - 1)) << count_;
  count_ += n;
  if (count_ >= 32) {
    const uint8_t bytes[4] = {static_cast<uint8_t>(buffer_), static_cast<uint8_t>(buffer_ >> 8),
                              static_cast<uint8_t>(buffer_ >> 16), static_cast<uint8_t>(buffer_ >> 24)};
    out_.insert(out_.end(), bytes, bytes + 4);
    buffer_ >>= 32;
    count_ -= 32;
  }
}

void StreamWriter::put_length_value(unsigned value) {
  const unsigned i = length_code_index(value);
  put(1, 1);
  put(length_codes[i], length_bits[i]);
  put(value - length_base[i], length_extra_bits[i]);
}

void StreamWriter::literal(uint8_t byte) {
  put(0, 1);
  if (format_.literals == LiteralCoding::binary) put(byte, 8);
  else put(ascii_codes[byte], ascii_bits[byte]);
}

void StreamWriter::match(unsigned length, unsigned distance) {
  assert(match_allowed(format_, length, distance));
  put_length_value(length - MIN_MATCH);
  const unsigned low_bits = length == MIN_MATCH ? 2 : format_.dict_bits;
  const unsigned d = distance - 1;
  const unsigned h = d >> low_bits;
  put(distance_codes[h], distance_bits[h]);
  put(d, low_bits);
}

std::vector<uint8_t> StreamWriter::finish() {
  put_length_value(END_LENGTH_VALUE);
  for (; count_ > 0; count_ = count_ > 8 ? count_ - 8 : 0) {  // the last byte padded with zeros
    out_.push_back(static_cast<uint8_t>(buffer_));
    buffer_ >>= 8;
  }
  buffer_ = 0;
  return std::move(out_);
}

uint64_t parse_bits(std::span<const Token> tokens, StreamFormat format) {
  BitCounter counter(format);
  for (const Token& t : tokens) {
    if (t.is_literal()) counter.literal(static_cast<uint8_t>(t.value));
    else counter.match(t.length, t.value);
  }
  return counter.bits();
}

std::vector<uint8_t> write_stream(std::span<const Token> tokens, StreamFormat format) {
  StreamWriter writer(format);
  for (const Token& t : tokens) {
    if (t.is_literal()) writer.literal(static_cast<uint8_t>(t.value));
    else writer.match(t.length, t.value);
  }
  return writer.finish();
}

namespace {

// Collects a parse.
class TokenCollector final : public TokenSink {
 public:
  void literal(uint8_t byte) override { tokens.push_back({0, byte}); }
  void match(unsigned length, unsigned distance) override {
    tokens.push_back({static_cast<uint16_t>(length), static_cast<uint16_t>(distance)});
  }
  std::vector<Token> tokens;
};

}  // namespace

std::vector<Token> parse_lazy(std::span<const uint8_t> data, StreamFormat format) {
  TokenCollector c;
  parse_lazy(data, format, c);
  return std::move(c.tokens);
}

std::vector<Token> parse_optimal(std::span<const uint8_t> data, StreamFormat format) {
  TokenCollector c;
  parse_optimal(data, format, c);
  return std::move(c.tokens);
}

}  // namespace implode
