// The fast level's stream, written straight from its token list: the fields go
// into the stream's own bytes (no sink between), and the token list is freed as
// the stream grows.
#include <algorithm>
#include <bit>
#include <cassert>
#include <cstring>

#include "fresh_pages.h"
#include "implode_encoder.h"
#include "stream_fields.h"

namespace implode {

using namespace stream_fields;

namespace {

// Fields into a byte vector whose final size is known: the room is reserved up
// front and the vector grows a step at a time, each step's pages taken from the
// system in one call (a page at a time, each a fault, costs about twice as
// much).
class FieldWriter {
 public:
  FieldWriter(std::vector<uint8_t>& out, size_t total) : out_(out), total_(total) { out_.reserve(total); }

  // Fields are at most 32 bits and the buffer holds fewer than 32 before one
  // goes in, so it never holds more than 63.
  void put(Field f) {
    buffer_ |= uint64_t{f.bits} << count_;
    count_ += f.count;
    if (count_ >= 32) {
      if (at_ + 4 > out_.size()) [[unlikely]]
        grow();
      const auto word = static_cast<uint32_t>(buffer_);
      if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(out_.data() + at_, &word, 4);
      } else {
        for (unsigned i = 0; i < 4; ++i) out_[at_ + i] = static_cast<uint8_t>(word >> (8 * i));
      }
      at_ += 4;
      buffer_ >>= 32;
      count_ -= 32;
    }
  }

  // The rest, padded with zero bits to the byte boundary.
  void finish() {
    for (; count_ > 0; count_ = count_ > 8 ? count_ - 8 : 0) {
      if (at_ + 1 > out_.size()) grow();
      out_[at_++] = static_cast<uint8_t>(buffer_);
      buffer_ >>= 8;
    }
    assert(at_ == total_);
    out_.resize(at_);
  }

  void put_byte(uint8_t b) {
    assert(count_ == 0);
    if (at_ + 1 > out_.size()) grow();
    out_[at_++] = b;
  }

 private:
  static constexpr size_t STEP = size_t{256} << 10;
  void grow() {
    const size_t from = out_.size(), to = std::min(total_, from + STEP);
    assert(to > from);
    populate_pages(out_.data() + from, to - from);
    out_.resize(to);
  }

  std::vector<uint8_t>& out_;
  size_t total_;
  size_t at_ = 0;
  uint64_t buffer_ = 0;
  unsigned count_ = 0;
};

}  // namespace

std::vector<uint8_t> FastParse::write_stream(StreamFormat f) {
  std::vector<uint8_t> stream;
  FieldWriter out(stream, static_cast<size_t>(stream_bytes(bits(f))));
  out.put_byte(static_cast<uint8_t>(f.literals));
  out.put_byte(static_cast<uint8_t>(f.dict_bits));
  const unsigned window = f.window();
  const auto& literals = literal_fields[static_cast<unsigned>(f.literals)];
  size_t pos = 0;
  words_.for_each(
      [&](uint32_t w) {
        for (const size_t end = pos + (w >> RUN_SHIFT); pos < end; ++pos) out.put(literals[data_[pos]]);
        const unsigned length = w >> LENGTH_SHIFT & LENGTH_MASK;
        if (length == 0) return;
        const unsigned distance = (w & DISTANCE_MASK) + 1;
        if (length == MIN_MATCH || distance <= window) {
          out.put(match_field(f.dict_bits, length, distance));
          pos += length;
        } else {  // too far for this window: literals
          for (const size_t end = pos + length; pos < end; ++pos) out.put(literals[data_[pos]]);
        }
      },
      true);
  out.put(length_fields[END_LENGTH_VALUE]);
  out.finish();
  return stream;
}

}  // namespace implode
