// How mkpayload turns one input into entry data: an implode stream, or nothing
// (the entry is then stored as is).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <vector>

#include "implode_encoder.h"

namespace mkpayload {

enum class LiteralMode { automatic, binary, ascii };
enum class CompressionLevel { fast, best };

struct CompressionOptions {
  bool compress = true;                           // false after --store, true after --compress
  LiteralMode literals = LiteralMode::automatic;  // --binary / --ascii; automatic picks the smaller
  int dict_bits = 0;                              // --dict 1024|2048|4096 -> 4|5|6; 0 = automatic
  CompressionLevel level = CompressionLevel::best;
};

// Thrown by compress_entry when a stream it made does not decode back to the input
// byte for byte. That is an encoder fault: the entry must not be written, and the
// build must fail with what() as its message.
struct CompressionFault : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// An entry's stream as compress_entry_stream() made it: the best level's in a
// vector, the fast level's in memory of its own (implode::StreamBytes).
class EntryStream {
 public:
  explicit EntryStream(std::vector<uint8_t> bytes) : vector_(std::move(bytes)) {}
  explicit EntryStream(implode::StreamBytes bytes) : own_(std::move(bytes)) {}
  // Whichever holds the stream: the other is empty.
  std::span<const uint8_t> bytes() const {
    return own_.bytes().empty() ? std::span<const uint8_t>(vector_) : own_.bytes();
  }

 private:
  std::vector<uint8_t> vector_;
  implode::StreamBytes own_;
};

// Returns the complete implode stream (header included) for `data`, or nullopt
// when the entry is better stored: compression is off, the input is empty, or the
// stream would not be smaller than the input. Literal mode and dictionary size not
// forced by the options are chosen per entry by the exact size of each candidate
// stream: at the best level each candidate is an optimal parse, at the fast level
// a lazy hash-chain parse. Every stream is decoded again before it is returned;
// throws CompressionFault when it does not come back byte for byte.
std::optional<EntryStream> compress_entry_stream(std::span<const uint8_t> data, const CompressionOptions& options);
// The same stream as a vector.
std::optional<std::vector<uint8_t>> compress_entry(std::span<const uint8_t> data, const CompressionOptions& options);

// The literal coding the fast level's parse is guided by: the forced one, else
// the one in which the input's bytes, all taken as literals, cost fewer bits
// (binary on a tie).
implode::LiteralCoding cheaper_literals(std::span<const uint8_t> data, LiteralMode mode);

}  // namespace mkpayload
