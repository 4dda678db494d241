// Writes a parse as an implode stream, field by field (stream_fields.h).
#include <array>
#include <cassert>

#include "implode_encoder.h"
#include "stream_fields.h"

namespace implode {
using namespace implode_format;

using namespace stream_fields;

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

void StreamWriter::match(unsigned length, unsigned distance) {
  assert(match_allowed(format_, length, distance));
  const Field f = match_field(format_.dict_bits, length, distance);
  put(f.bits, f.count);
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
