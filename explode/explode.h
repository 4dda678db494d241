// Explode: the decompressor for the implode format (fixed-code LZ77, 1-4 KiB
// dictionary, binary or ASCII literals). Streaming, callback-driven, and free of
// allocation: the caller supplies the whole working set as an ExplodeWork.
#pragma once

#include <cstdint>
#include <span>

#include "implode_codes.h"

namespace explode {

// Fills `buffer` with up to *size (2048) next compressed bytes and returns how many
// it placed; 0 means no input is left. It may lower *size; only the result counts.
using ExplodeReadFn = uint32_t (*)(uint8_t* buffer, uint32_t* size, void* user);

// Takes *count decoded bytes from `buffer` (4096, or the final remainder, which
// may be 0). Whatever it leaves in *count is ignored.
using ExplodeWriteFn = void (*)(const uint8_t* buffer, uint32_t* count, void* user);

enum ExplodeStatus : int32_t {
  EXPLODE_OK = 0,              // end marker decoded, all output delivered
  EXPLODE_BAD_DICTIONARY = 1,  // header byte 1 is not 4, 5 or 6 (nothing written)
  EXPLODE_BAD_MODE = 2,        // header byte 0 is neither 0 nor 1 (nothing written)
  EXPLODE_SHORT_INPUT = 3,     // first read delivered 4 bytes or fewer (nothing written)
  EXPLODE_INPUT_ENDED = 4,     // input ran out before the end marker; output so far delivered
};

// Values of one decoded symbol: 0-255 a literal byte, 256-772 a match of length
// value - 254 (2 to 518), then these two.
constexpr uint32_t SYMBOL_END = 773;     // the end marker: 256 + length value 517
constexpr uint32_t SYMBOL_FAILED = 774;  // the input ran out inside a token

constexpr uint32_t EXPLODE_IN_BLOCK = 2048;
constexpr uint32_t EXPLODE_OUT_BLOCK = 4096;
constexpr uint32_t EXPLODE_OUT_BUF = 8709;  // history + fresh block + 517 for a match running past the flush point
// Room behind the output window for the decoder's wide match copies, which may
// store up to 45 bytes past a match's end (bytes beyond the output, never
// delivered, and overwritten before anything reads them).
constexpr uint32_t EXPLODE_COPY_SLACK = 48;

// The decoder's whole working set. The caller allocates it; explode_stream sets
// every field it reads on each call, and needs no preparation.
struct ExplodeWork {
  uint32_t mode;        // header byte 0: 0 binary literals, 1 ASCII-coded literals
  uint32_t out_fill;    // next output index in out_buf; 4096..8191 before each token
  uint32_t dict_bits;   // header byte 1: k, 4..6
  uint32_t dict_mask;   // 2^k - 1
  uint32_t bit_buf;     // look-ahead: low 8 + spare_bits bits are the next stream bits
  uint32_t spare_bits;  // valid bits above the low 8 (0..7)
  uint32_t in_next;     // index of the next unread byte in in_buf
  uint32_t in_count;    // bytes the last read placed in in_buf
  void* user;
  ExplodeReadFn read_fn;
  ExplodeWriteFn write_fn;
  uint8_t out_buf[EXPLODE_OUT_BUF + EXPLODE_COPY_SLACK];
  uint8_t in_buf[EXPLODE_IN_BLOCK];
  // ASCII mode only, built for each stream (the length and distance lookups are
  // constant data, see explode_lookups.h).
  uint8_t ascii_lookup[256];
  uint8_t ascii_lookup4[256];
  uint8_t ascii_lookup6[128];
  uint8_t ascii_lookup8[256];
  uint8_t ascii_bits_work[256];  // bits of each ASCII code left after its lookups
};
static_assert(EXPLODE_OUT_BUF == 2 * EXPLODE_OUT_BLOCK + implode_format::MAX_MATCH - 1,
              "a match of 518 starting at out_fill 8191 must end inside the output window");

// Decodes one whole stream: one read first, further reads only when the input
// block is used up (never after a read that returned 0), a write of exactly 4096
// bytes whenever 4096 fresh bytes are waiting, and exactly one final write after
// the end marker or a failure (none for statuses 1 to 3).
// The first 4096 bytes of out_buf (the history that a match may reach into before
// any output exists) are zeroed at the start of every call, so nothing of an
// earlier stream or of uninitialised memory can reach the output. A read callback
// that reports more than EXPLODE_IN_BLOCK bytes is taken as EXPLODE_IN_BLOCK.
ExplodeStatus explode_stream(ExplodeReadFn read_fn, ExplodeWriteFn write_fn, ExplodeWork* work, void* user);

// What explode_buffer found: the status explode_stream would return, and the
// number of bytes its writes would add up to.
struct ExplodeBufferResult {
  ExplodeStatus status;
  uint64_t size;
};

// Decodes one whole stream held in memory, for callers that hold the whole input
// and an output buffer: the result is what explode_stream gives when its reads
// hand out `input` in blocks of EXPLODE_IN_BLOCK bytes: the same status, and `size` the total
// of its writes (0 for statuses 1 to 3). The first min(size, output.size()) of
// those bytes are stored in `output`; when the stream decodes to more, decoding
// goes on to its end, counting only, so status and size stay those of the whole
// stream. Nothing outside `input` is read and nothing outside `output` and
// `work` is written. The work area needs no preparation; its fields hold no
// meaning for the caller afterwards.
ExplodeBufferResult explode_buffer(std::span<const uint8_t> input, std::span<uint8_t> output, ExplodeWork* work);

}  // namespace explode
