// Test-side oracle for the explode decoder: a plain decoder written straight from
// the implode format's description, one bit at a time, matching prefix codes by
// searching the code tables (no lookup tables), keeping the whole output in a
// vector. It models the callback protocol of the real decoder: the look-ahead is
// kept at 8 bits or more, a byte is fetched when a take would leave fewer, a read
// is made only when the current block is used up, and a stream may end right
// behind its end marker. It also records the callback calls, so a test can compare
// the real decoder's calls with these.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "explode.h"

namespace explode_test {

using namespace explode;

// One callback call as seen from outside the decoder.
struct CallbackEvent {
  bool is_read;
  uint32_t count;              // bytes returned by a read, or count of a write
  std::vector<uint8_t> bytes;  // bytes of a write
  bool operator==(const CallbackEvent&) const = default;
};

struct DecodeRecord {
  int32_t status = -1;
  std::vector<CallbackEvent> events;
  std::vector<uint8_t> output;  // all written bytes, concatenated
  bool operator==(const DecodeRecord&) const = default;
};

// Serves `stream` in blocks whose sizes come from `chunks` (cycled; 0 entries are
// taken as 2048), never more than 2048 and never more than what is left.
class ChunkedSource {
 public:
  ChunkedSource(std::span<const uint8_t> stream, std::vector<uint32_t> chunks = {})
      : stream_(stream), chunks_(std::move(chunks)) {}
  uint32_t read(uint8_t* buffer) {
    uint32_t want = 2048;
    if (!chunks_.empty()) {
      want = chunks_[next_chunk_++ % chunks_.size()];
      if (want == 0 || want > 2048) want = 2048;
    }
    const uint32_t n = static_cast<uint32_t>(std::min<size_t>(want, stream_.size() - position_));
    std::copy_n(stream_.begin() + static_cast<std::ptrdiff_t>(position_), n, buffer);
    position_ += n;
    return n;
  }
  size_t position() const { return position_; }

 private:
  std::span<const uint8_t> stream_;
  std::vector<uint32_t> chunks_;
  size_t position_ = 0;
  size_t next_chunk_ = 0;
};

// Runs the real decoder with a ChunkedSource and records every callback call.
// Also asserts the protocol's own rules on the way (reads get size 2048, no read
// after one that returned 0, writes come from out_buf + 4096 and are at most 4096).
struct RealRun {
  ChunkedSource* source;
  DecodeRecord record;
  ExplodeWork* work;
  std::string protocol_fault;
  bool read_returned_zero = false;
};

inline uint32_t record_read(uint8_t* buffer, uint32_t* size, void* user) {
  auto& run = *static_cast<RealRun*>(user);
  if (*size != EXPLODE_IN_BLOCK) run.protocol_fault = "read size word is not 2048";
  if (buffer != run.work->in_buf) run.protocol_fault = "read buffer is not in_buf";
  if (run.read_returned_zero) run.protocol_fault = "read after a read returned 0";
  const uint32_t n = run.source->read(buffer);
  if (n == 0) run.read_returned_zero = true;
  run.record.events.push_back({true, n, {}});
  return n;
}

inline void record_write(const uint8_t* buffer, uint32_t* count, void* user) {
  auto& run = *static_cast<RealRun*>(user);
  if (buffer != run.work->out_buf + EXPLODE_OUT_BLOCK) run.protocol_fault = "write buffer is not out_buf + 4096";
  if (*count > EXPLODE_OUT_BLOCK) run.protocol_fault = "write of more than 4096 bytes";
  std::vector<uint8_t> bytes(buffer, buffer + std::min(*count, EXPLODE_OUT_BLOCK));
  run.record.output.insert(run.record.output.end(), bytes.begin(), bytes.end());
  run.record.events.push_back({false, *count, std::move(bytes)});
  *count = 0xDEADBEEF;  // whatever the callback leaves in the word is ignored
}

// `work` may be supplied to check that nothing carries over between calls.
inline DecodeRecord run_real(std::span<const uint8_t> stream, std::vector<uint32_t> chunks = {},
                             ExplodeWork* work = nullptr, std::string* fault = nullptr) {
  ChunkedSource source(stream, std::move(chunks));
  auto owned = std::make_unique<ExplodeWork>();
  RealRun run{&source, {}, work ? work : owned.get(), {}, false};
  run.record.status = explode_stream(record_read, record_write, run.work, &run);
  if (fault) *fault = run.protocol_fault;
  return run.record;
}

// ---- The oracle ------------------------------------------------------------

class ReferenceDecoder {
 public:
  ReferenceDecoder(std::span<const uint8_t> stream, std::vector<uint32_t> chunks)
      : source_(stream, std::move(chunks)) {}

  DecodeRecord run() {
    uint8_t block[2048];
    const uint32_t first = read_block(block);
    if (first <= 4) return finish_without_write(EXPLODE_SHORT_INPUT);
    const unsigned mode = block[0];
    dict_bits_ = block[1];
    pending_.assign(block + 2, block + first);
    if (dict_bits_ < 4 || dict_bits_ > 6) return finish_without_write(EXPLODE_BAD_DICTIONARY);
    if (mode > 1) return finish_without_write(EXPLODE_BAD_MODE);
    ascii_ = mode == 1;
    fetch_byte();  // the look-ahead starts with the third stream byte

    bool ended_ok = false;
    for (;;) {
      const int token = decode_token();
      if (token == FAILED_EXIT) break;
      if (token == END) {
        ended_ok = true;
        break;
      }
      if (out_.size() - flushed_ >= 4096) {
        write(std::vector<uint8_t>(out_.begin() + static_cast<std::ptrdiff_t>(flushed_),
                                   out_.begin() + static_cast<std::ptrdiff_t>(flushed_ + 4096)));
        flushed_ += 4096;
      }
    }
    write(std::vector<uint8_t>(out_.begin() + static_cast<std::ptrdiff_t>(flushed_), out_.end()));
    record_.status = ended_ok ? EXPLODE_OK : EXPLODE_INPUT_ENDED;
    return record_;
  }

 private:
  static constexpr int END = -1;
  static constexpr int FAILED_EXIT = -2;

  uint32_t read_block(uint8_t* block) {
    const uint32_t n = source_.read(block);
    record_.events.push_back({true, n, {}});
    return n;
  }
  DecodeRecord finish_without_write(int32_t status) {
    record_.status = status;
    return record_;
  }
  void write(std::vector<uint8_t> bytes) {
    record_.output.insert(record_.output.end(), bytes.begin(), bytes.end());
    const auto n = static_cast<uint32_t>(bytes.size());
    record_.events.push_back({false, n, std::move(bytes)});
  }
  // Moves one byte of input into the look-ahead; false when none is left.
  bool fetch_byte() {
    if (pending_.empty()) {
      if (input_ended_) return false;
      uint8_t block[2048];
      const uint32_t n = read_block(block);
      if (n == 0) {
        input_ended_ = true;
        return false;
      }
      pending_.assign(block, block + n);
    }
    const uint8_t byte = pending_.front();
    pending_.pop_front();
    for (int i = 0; i < 8; ++i) lookahead_.push_back((byte >> i) & 1);
    return true;
  }
  // Takes one bit; keeps 8 bits of look-ahead behind it.
  bool take_bit(unsigned& bit) {
    bit = lookahead_.front();
    lookahead_.pop_front();
    return lookahead_.size() >= 8 || fetch_byte();
  }
  bool take_field(unsigned n, unsigned& value) {
    value = 0;
    for (unsigned i = 0; i < n; ++i) {
      unsigned bit;
      if (!take_bit(bit)) return false;
      value |= bit << i;
    }
    return true;
  }
  unsigned peek_field(unsigned n) const {
    unsigned value = 0;
    for (unsigned i = 0; i < n; ++i) value |= unsigned(lookahead_[i]) << i;
    return value;
  }
  // Reads a prefix code bit by bit until the bits read so far equal one of the
  // table's codes. Returns its index, or -1 when the input ended.
  template <typename Bits, typename Codes>
  int take_code(const Bits& bits, const Codes& codes) {
    unsigned value = 0;
    for (unsigned n = 1; n <= 16; ++n) {
      unsigned bit;
      if (!take_bit(bit)) return -1;
      value |= bit << (n - 1);
      for (size_t i = 0; i < bits.size(); ++i)
        if (bits[i] == n && codes[i] == value) return static_cast<int>(i);
    }
    return -1;  // unreachable with complete codes
  }

  int decode_token() {
    using namespace implode_format;
    unsigned flag;
    if (!take_bit(flag)) return FAILED_EXIT;
    if (flag == 0) {
      unsigned literal;
      if (ascii_) {
        const int ch = take_code(ascii_bits, ascii_codes);
        if (ch < 0) return FAILED_EXIT;
        literal = static_cast<unsigned>(ch);
      } else if (!take_field(8, literal)) {
        return FAILED_EXIT;
      }
      out_.push_back(static_cast<uint8_t>(literal));
      return 0;
    }
    const int code = take_code(length_bits, length_codes);
    if (code < 0) return FAILED_EXIT;
    const unsigned extra = length_extra_bits[code];
    if (code == 15 && peek_field(8) == 255) {
      unsigned ignored;
      take_field(8, ignored);  // the stream may end right here
      return END;
    }
    unsigned x;
    if (!take_field(extra, x)) return FAILED_EXIT;
    const unsigned length = length_base[code] + x + 2;
    const int h = take_code(distance_bits, distance_codes);
    if (h < 0) return FAILED_EXIT;
    const unsigned low_bits = length == 2 ? 2 : dict_bits_;
    unsigned low;
    if (!take_field(low_bits, low)) return FAILED_EXIT;
    const size_t distance = (static_cast<size_t>(h) << low_bits) + low + 1;
    for (unsigned i = 0; i < length; ++i) {
      // Before the first output byte lies a zeroed history.
      out_.push_back(out_.size() >= distance ? out_[out_.size() - distance] : 0);
    }
    return 0;
  }

  ChunkedSource source_;
  DecodeRecord record_;
  std::deque<uint8_t> pending_;
  std::deque<uint8_t> lookahead_;
  std::vector<uint8_t> out_;
  size_t flushed_ = 0;
  unsigned dict_bits_ = 0;
  bool ascii_ = false;
  bool input_ended_ = false;
};

inline DecodeRecord run_reference(std::span<const uint8_t> stream, std::vector<uint32_t> chunks = {}) {
  return ReferenceDecoder(stream, std::move(chunks)).run();
}

// Test-side bit writer: fields least significant bit first, bytes filled from bit 0.
class BitWriter {
 public:
  BitWriter& bytes(std::initializer_list<uint8_t> list) {
    for (uint8_t b : list) field(b, 8);
    return *this;
  }
  BitWriter& field(uint32_t value, unsigned n) {
    for (unsigned i = 0; i < n; ++i) {
      if (bit_count_ % 8 == 0) data_.push_back(0);
      data_.back() |= static_cast<uint8_t>(((value >> i) & 1) << (bit_count_ % 8));
      ++bit_count_;
    }
    return *this;
  }
  size_t bit_count() const { return bit_count_; }
  const std::vector<uint8_t>& data() const { return data_; }

 private:
  std::vector<uint8_t> data_;
  size_t bit_count_ = 0;
};

// Token-level helpers on top of the bit writer, straight from the format.
class StreamWriter {
 public:
  StreamWriter(unsigned mode, unsigned dict_bits) : mode_(mode), dict_bits_(dict_bits) {
    bits_.field(mode, 8).field(dict_bits, 8);
  }
  StreamWriter& literal(uint8_t byte) {
    bits_.field(0, 1);
    if (mode_ == 0)
      bits_.field(byte, 8);
    else
      bits_.field(implode_format::ascii_codes[byte], implode_format::ascii_bits[byte]);
    return *this;
  }
  StreamWriter& length_value(unsigned value) {
    using namespace implode_format;
    unsigned i = 15;
    while (length_base[i] > value) --i;
    bits_.field(1, 1).field(length_codes[i], length_bits[i]).field(value - length_base[i], length_extra_bits[i]);
    return *this;
  }
  StreamWriter& match(unsigned length, unsigned distance) {
    using namespace implode_format;
    length_value(length - 2);
    const unsigned low_bits = length == 2 ? 2 : dict_bits_;
    const unsigned h = (distance - 1) >> low_bits;
    bits_.field(distance_codes[h], distance_bits[h]).field((distance - 1) & ((1u << low_bits) - 1), low_bits);
    return *this;
  }
  StreamWriter& end() { return length_value(517); }
  size_t bit_count() const { return bits_.bit_count(); }
  std::vector<uint8_t> data() const { return bits_.data(); }

 private:
  BitWriter bits_;
  unsigned mode_;
  unsigned dict_bits_;
};

}  // namespace explode_test
