// Shared by the fuzz targets: runs the decoder with callbacks that check its
// calling rules and abort on the first breach, so libFuzzer reports it.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <span>
#include <vector>

#include "explode.h"

namespace fuzz {

using namespace explode;

[[noreturn]] inline void breach(const char* what) {
  std::fprintf(stderr, "decoder protocol breach: %s\n", what);
  std::abort();
}

struct Session {
  std::span<const uint8_t> stream;
  std::span<const uint8_t> chunk_sizes;  // cycled; empty = 2048 per read
  size_t read_position = 0;
  size_t chunk_index = 0;
  bool input_ended = false;
  bool final_write_seen = false;
  size_t reads = 0;
  std::vector<uint8_t> output;
  std::vector<uint32_t> write_counts;
  ExplodeWork* work = nullptr;
};

inline uint32_t checked_read(uint8_t* buffer, uint32_t* size, void* user) {
  auto& s = *static_cast<Session*>(user);
  if (buffer != s.work->in_buf || *size != EXPLODE_IN_BLOCK) breach("read not on in_buf with size 2048");
  if (s.input_ended) breach("read after a read returned 0");
  if (s.final_write_seen) breach("read after the final write");
  size_t want = EXPLODE_IN_BLOCK;
  if (!s.chunk_sizes.empty()) {
    want = s.chunk_sizes[s.chunk_index++ % s.chunk_sizes.size()];
    if (want == 0) want = EXPLODE_IN_BLOCK;
  }
  const size_t n = std::min(want, s.stream.size() - s.read_position);
  std::copy_n(s.stream.begin() + static_cast<std::ptrdiff_t>(s.read_position), n, buffer);
  s.read_position += n;
  ++s.reads;
  if (n == 0) s.input_ended = true;
  return static_cast<uint32_t>(n);
}

inline void checked_write(const uint8_t* buffer, uint32_t* count, void* user) {
  auto& s = *static_cast<Session*>(user);
  if (buffer != s.work->out_buf + EXPLODE_OUT_BLOCK) breach("write not from out_buf + 4096");
  if (s.final_write_seen) breach("write after the final write");
  if (*count > EXPLODE_OUT_BLOCK) breach("write of more than 4096 bytes");
  if (*count < EXPLODE_OUT_BLOCK) s.final_write_seen = true;  // only the last may be short
  s.output.insert(s.output.end(), buffer, buffer + *count);
  s.write_counts.push_back(*count);
  *count = 0;
}

// Decodes `stream` and checks the rules that hold for every input.
inline int32_t decode_checked(Session& s) {
  auto work = std::make_unique<ExplodeWork>();
  s.work = work.get();
  const int32_t status = explode_stream(checked_read, checked_write, work.get(), &s);
  if (status < EXPLODE_OK || status > EXPLODE_INPUT_ENDED) breach("unknown status");
  if (s.reads == 0) breach("no read");
  if (status >= EXPLODE_BAD_DICTIONARY && status <= EXPLODE_SHORT_INPUT) {
    if (!s.write_counts.empty()) breach("write for status 1 to 3");
    if (s.reads != 1) breach("more than one read for status 1 to 3");
  } else {
    // Exactly one final write, possibly of 0 bytes: the 4096-byte writes before it
    // do not count as final, so a last write of exactly 4096 must be followed by 0.
    if (s.write_counts.empty() || s.write_counts.back() == EXPLODE_OUT_BLOCK) breach("no final write");
  }
  if (status == EXPLODE_INPUT_ENDED && !s.input_ended) breach("input ended without a read returning 0");
  if (work->out_fill < EXPLODE_OUT_BLOCK && !s.write_counts.empty()) breach("out_fill below the fresh block");
  return status;
}

}  // namespace fuzz
