// Writes a parse as an implode stream. Fields go out least significant bit first;
// code values are stored with their first bit in bit 0, so they are written as
// plain fields too.
#include <array>
#include <cassert>

#include "implode_encoder.h"

namespace implode {
using namespace implode_format;

namespace {

// A whole field as written: its bits (first bit in bit 0) and their number.
struct Field {
  uint32_t bits;
  uint32_t count;
};

// Flag, length code and extra bits, by length value (match length - 2, end marker
// included).
constexpr std::array<Field, MAX_MATCH> length_fields = [] {
  std::array<Field, MAX_MATCH> t{};
  for (unsigned value = 0; value < t.size(); ++value) {
    const unsigned i = length_code_index(value);
    t[value] = {1u | uint32_t{length_codes[i]} << 1 | (value - length_base[i]) << (1 + length_bits[i]),
                1u + length_bits[i] + length_extra_bits[i]};
  }
  return t;
}();

// Flag and literal, by byte, for each literal coding.
constexpr std::array<std::array<Field, 256>, 2> literal_fields = [] {
  std::array<std::array<Field, 256>, 2> t{};
  for (unsigned b = 0; b < 256; ++b) {
    t[0][b] = {b << 1, 9};
    t[1][b] = {uint32_t{ascii_codes[b]} << 1, 1u + ascii_bits[b]};
  }
  return t;
}();

}  // namespace

StreamWriter::StreamWriter(StreamFormat format) : format_(format) {
  out_.push_back(static_cast<uint8_t>(format.literals));
  out_.push_back(static_cast<uint8_t>(format.dict_bits));
}

// Fields are at most 32 bits and the buffer holds fewer than 32 before a field
// goes in, so it never holds more than 63.
void StreamWriter::put(uint32_t value, unsigned n) {
  buffer_ |= static_cast<uint64_t>(value & static_cast<uint32_t>((uint64_t{1} << n) - 1)) << count_;
  count_ += n;
  if (count_ >= 32) {
    const size_t end = out_.size();
    out_.resize(end + 4);
    for (unsigned i = 0; i < 4; ++i) out_[end + i] = static_cast<uint8_t>(buffer_ >> (8 * i));
    buffer_ >>= 32;
    count_ -= 32;
  }
}

void StreamWriter::put_length_value(unsigned value) {
  const Field f = length_fields[value];
  put(f.bits, f.count);
}

void StreamWriter::literal(uint8_t byte) {
  const Field f = literal_fields[static_cast<unsigned>(format_.literals)][byte];
  put(f.bits, f.count);
}

// Length field (at most 16 bits) and distance field (at most 8 + 6) in one put.
void StreamWriter::match(unsigned length, unsigned distance) {
  assert(match_allowed(format_, length, distance));
  const Field f = length_fields[length - MIN_MATCH];
  const unsigned low_bits = length == MIN_MATCH ? 2 : format_.dict_bits;
  const unsigned d = distance - 1;
  const unsigned h = d >> low_bits;
  const uint32_t distance_field = distance_codes[h] | (d & ((1u << low_bits) - 1)) << distance_bits[h];
  put(f.bits | distance_field << f.count, f.count + distance_bits[h] + low_bits);
}

void StreamWriter::append(const StreamWriter& other, uint64_t from) {
  const uint64_t end = other.bits();
  const uint64_t whole = uint64_t{other.out_.size()} * 8;  // the rest is in other.buffer_
  out_.reserve(out_.size() + static_cast<size_t>((end - from) / 8) + 8);
  uint64_t at = from;
  for (; at + 24 <= whole; at += 24) {  // 24 bits from the 4 bytes that hold them
    const size_t byte = static_cast<size_t>(at / 8);
    uint32_t word = 0;
    for (unsigned i = 0; i < 4 && byte + i < other.out_.size(); ++i) word |= uint32_t{other.out_[byte + i]} << (8 * i);
    put(word >> (at % 8), 24);
  }
  for (; at < whole; ++at) put(other.out_[static_cast<size_t>(at / 8)] >> (at % 8), 1);
  for (; at < end; ++at) put(static_cast<uint32_t>(other.buffer_ >> (at - whole)), 1);
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

}  // namespace implode
