// How mkpayload turns one input into entry data: an implode stream, or nothing
// (the entry is then stored as is).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

enum class LiteralMode { automatic, binary, ascii };
enum class CompressionLevel { fast, best };

struct CompressionOptions {
  bool compress = true;                          // false after --store, true after --compress
  LiteralMode literals = LiteralMode::automatic; // --binary / --ascii; automatic picks the smaller
  int dict_bits = 0;                             // --dict 1024|2048|4096 -> 4|5|6; 0 = automatic
  CompressionLevel level = CompressionLevel::best;
};

// Returns the complete implode stream (header included) for `data`, or nullopt
// when the entry is better stored: compression is off, the input is empty, or the
// stream would not be smaller than the input.
std::optional<std::vector<uint8_t>> compress_entry(std::span<const uint8_t> data, const CompressionOptions& options);
