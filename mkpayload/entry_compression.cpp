// Placeholder until the encoder lands: every entry is stored.
#include "entry_compression.h"

std::optional<std::vector<uint8_t>> compress_entry(std::span<const uint8_t>, const CompressionOptions&) {
  return std::nullopt;
}
