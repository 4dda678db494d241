// The fast level's stream, written straight from its token list: the fields go
// into the stream's own bytes (no sink between), and the token list is freed as
// the stream grows. A reader (the check that decodes it again) may follow the
// writing on another thread, a step behind.
#include <algorithm>
#include <bit>
#include <cassert>
#include <cstring>
#if KVN_IMPLODE_THREADS
#include <condition_variable>
#include <exception>
#include <mutex>
#endif

#include "core_thread.h"
#include "fresh_pages.h"
#include "implode_encoder.h"
#include "stream_fields.h"

namespace implode {

using namespace stream_fields;

namespace {

// A stream shorter than this is read after it is written: starting a thread
// would cost more than the reader's time it saves.
constexpr uint64_t MIN_CONCURRENT_READ = 64 << 10;

// How far a stream has been written, for a reader on another thread: the
// writer publishes the bytes done after each step; the reader takes them from
// the stream's storage (reserved whole up front, so it never moves) and waits
// when it has caught up. Without threads the reader runs after the writer.
class Progress final : public StreamSource {
 public:
  void start(const uint8_t* bytes) { bytes_ = bytes; }
  void publish(size_t done, bool finished) {
#if KVN_IMPLODE_THREADS
    {
      const std::lock_guard lock(mutex_);
      done_ = done;
      finished_ = finished;
    }
    more_.notify_one();
#else
    done_ = done;
    finished_ = finished;
#endif
  }
  // The writer gave up: the reader gets no more bytes.
  void abandon() {
#if KVN_IMPLODE_THREADS
    {
      const std::lock_guard lock(mutex_);
      finished_ = true;
    }
    more_.notify_one();
#else
    finished_ = true;
#endif
  }
  std::span<const uint8_t> next() override {
#if KVN_IMPLODE_THREADS
    std::unique_lock lock(mutex_);
    more_.wait(lock, [this] { return done_ > handed_ || finished_; });
#endif
    const std::span<const uint8_t> more(bytes_ + handed_, done_ - handed_);
    handed_ = done_;
    return more;
  }

 private:
  const uint8_t* bytes_ = nullptr;
  size_t handed_ = 0;  // the reader's own
  size_t done_ = 0;
  bool finished_ = false;
#if KVN_IMPLODE_THREADS
  std::mutex mutex_;
  std::condition_variable more_;
#endif
};

// Fields into room for a stream whose final size is known (room_bytes() of it):
// its pages are taken from the system a step at a time as the stream grows, in
// one call a step (a page at a time, each a fault, costs about twice as much;
// all at once would hold the whole stream beside the whole token list), and
// each step's bytes are published to `progress` once done. Each put is followed
// by a store of the whole bit buffer, of which only the whole bytes count: no
// branch on whether a word is full, which a stream of 6- to 13-bit fields
// mispredicts often. The stores reach up to 8 bytes past the bytes done, hence
// the slack beyond the stream's size.
class FieldWriter {
 public:
  static constexpr size_t STORE_SLACK = 8;
  // From 1 MiB on, the room is whole large pages: the last one is taken whole
  // anyway once the stream reaches it.
  static size_t room_bytes(size_t total) {
    const size_t bytes = total + STORE_SLACK;
    return bytes < (size_t{1} << 20) ? bytes : (bytes + LARGE_PAGE_BYTES - 1) / LARGE_PAGE_BYTES * LARGE_PAGE_BYTES;
  }

  FieldWriter(uint8_t* room, size_t total, Progress* progress) : out_(room), total_(total), progress_(progress) {
    if (progress_) progress_->start(out_);
  }

  void put(Field f) { put_bits(f.bits, f.count); }

  // The literal fields of `bytes`, four at a time where they can: four fields
  // joined apart from the buffer and put at once, so the buffer's count, on
  // which every put waits, moves once per four literals.
  void put_literals(const std::array<Field, 256>& fields, const uint8_t* bytes, size_t n) {
    for (; n >= 4; n -= 4, bytes += 4) {
      const Field a = fields[bytes[0]], b = fields[bytes[1]], c = fields[bytes[2]], d = fields[bytes[3]];
      const uint64_t ab = a.bits | uint64_t{b.bits} << a.count, cd = c.bits | uint64_t{d.bits} << c.count;
      put_bits(ab | cd << (a.count + b.count), a.count + b.count + c.count + d.count);
    }
    for (; n > 0; --n) put(fields[*bytes++]);
  }

  void put_byte(uint8_t b) {
    assert(count_ == 0);
    if (at_ + 1 > ready_) next_step();
    out_[at_++] = b;
  }

  // The rest, padded with zero bits to the byte boundary.
  void finish() {
    if (count_ > 0) {
      if (at_ + 1 > ready_) next_step();
      out_[at_++] = static_cast<uint8_t>(buffer_);
      count_ = 0;
    }
    assert(at_ == total_);
    if (progress_) progress_->publish(at_, true);
  }

 private:
  static constexpr size_t STEP = size_t{256} << 10;
  // Bits put at once: with the fewer than 8 held, at most the buffer's 64. A
  // field is at most 32 bits, four literal fields at most 56.
  static constexpr unsigned MAX_PUT_BITS = 56;
  static_assert(4 * std::ranges::max(literal_fields[0], {}, &Field::count).count <= MAX_PUT_BITS &&
                4 * std::ranges::max(literal_fields[1], {}, &Field::count).count <= MAX_PUT_BITS);

  void put_bits(uint64_t bits, unsigned count) {
    buffer_ |= bits << count_;
    count_ += count;
    if (at_ + STORE_SLACK > ready_) [[unlikely]]
      next_step();
    if constexpr (std::endian::native == std::endian::little) {
      std::memcpy(out_ + at_, &buffer_, 8);
    } else {
      for (unsigned i = 0; i < 8; ++i) out_[at_ + i] = static_cast<uint8_t>(buffer_ >> (8 * i));
    }
    const unsigned whole = count_ >> 3;
    at_ += whole;
    buffer_ >>= 8 * whole;
    count_ &= 7;
  }

  void next_step() {
    const size_t from = ready_, to = std::min(total_ + STORE_SLACK, from + STEP);
    assert(to > from);
    if (progress_ && at_ > 0) progress_->publish(at_, false);
    populate_pages(out_ + from, to - from);
    ready_ = to;
  }

  uint8_t* out_;
  size_t total_;
  Progress* progress_;
  size_t ready_ = 0;  // pages taken up to here
  size_t at_ = 0;
  uint64_t buffer_ = 0;
  unsigned count_ = 0;
};

}  // namespace

std::vector<uint8_t> FastParse::write_stream(StreamFormat f) { return write_stream(f, nullptr); }

std::vector<uint8_t> FastParse::write_stream(StreamFormat f, const std::function<void(StreamSource&)>& reader) {
  const StreamBytes stream = write_stream_bytes(f, reader);
  return {stream.bytes().begin(), stream.bytes().end()};
}

StreamBytes FastParse::write_stream_bytes(StreamFormat f, const std::function<void(StreamSource&)>& reader) {
  if (!reader) return write_fields(f, nullptr);
  Progress progress;
#if KVN_IMPLODE_THREADS
  if (stream_bytes(bits(f)) < MIN_CONCURRENT_READ) {
    StreamBytes stream = write_fields(f, &progress);
    reader(progress);
    return stream;
  }
  std::exception_ptr failure;  // the reader's, rethrown here
  StreamBytes stream;
  {
    detail::CoreThread other([&] {
      try {
        reader(progress);
      } catch (...) {
        failure = std::current_exception();
      }
    });
    try {
      stream = write_fields(f, &progress);
    } catch (...) {
      progress.abandon();
      throw;
    }
  }
  if (failure) std::rethrow_exception(failure);
#else
  StreamBytes stream = write_fields(f, &progress);
  reader(progress);
#endif
  return stream;
}

StreamBytes FastParse::write_fields(StreamFormat f, StreamSource* progress) {
  const auto total = static_cast<size_t>(stream_bytes(bits(f)));
  FreshBytes room = fresh_bytes(FieldWriter::room_bytes(total));
  FieldWriter out(room.get(), total, static_cast<Progress*>(progress));
  out.put_byte(static_cast<uint8_t>(f.literals));
  out.put_byte(static_cast<uint8_t>(f.dict_bits));
  const unsigned window = f.window();
  const auto& literals = literal_fields[static_cast<unsigned>(f.literals)];
  size_t pos = 0;
  words_.for_each(
      [&](uint32_t w) {
        const size_t run = w >> RUN_SHIFT;
        out.put_literals(literals, data_.data() + pos, run);
        pos += run;
        const unsigned length = w >> LENGTH_SHIFT & LENGTH_MASK;
        if (length == 0) return;
        const unsigned distance = (w & DISTANCE_MASK) + 1;
        if (length == MIN_MATCH || distance <= window) {
          out.put(match_field(f.dict_bits, length, distance));
          pos += length;
        } else {  // too far for this window: literals
          out.put_literals(literals, data_.data() + pos, length);
          pos += length;
        }
      },
      true);
  out.put(length_fields[END_LENGTH_VALUE]);
  out.finish();
  return {std::move(room), total};
}

}  // namespace implode
