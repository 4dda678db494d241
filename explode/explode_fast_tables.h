// Combined lookups for the decoder's fast path, computed at compile time from the
// code tables: one load per code gives both what the code stands for and how many
// bits it and its fixed-size fields take. (The exact path keeps to the work
// area's lookups; a test checks that both agree on every 8-bit index.)
#pragma once

#include <array>
#include <cstdint>

#include "explode_tables.h"

namespace explode_fast {

// Indexed by the 8 stream bits that follow a token's flag bit.
struct Tables {
  // Length code: length base | code bits << 16 | extra bits << 24.
  std::array<uint32_t, 256> length{};
  // Distance position code: high part | code bits << 8.
  std::array<uint16_t, 256> distance{};
  // ASCII literal of up to 8 bits: character | code bits << 8; 0 where the code is
  // longer (the index is only its start), so the caller takes the long route.
  std::array<uint16_t, 256> ascii{};
};

constexpr Tables make_tables() {
  using namespace implode_format;
  Tables t;
  for (unsigned i = 0; i < 16; ++i)
    for (unsigned j = length_codes[i]; j < 256; j += 1u << length_bits[i])
      t.length[j] = length_base[i] | unsigned{length_bits[i]} << 16 | unsigned{length_extra_bits[i]} << 24;
  for (unsigned h = 0; h < 64; ++h)
    for (unsigned j = distance_codes[h]; j < 256; j += 1u << distance_bits[h])
      t.distance[j] = static_cast<uint16_t>(h | unsigned{distance_bits[h]} << 8);
  for (unsigned ch = 0; ch < 256; ++ch)
    if (ascii_bits[ch] <= 8)
      for (unsigned j = ascii_codes[ch]; j < 256; j += 1u << ascii_bits[ch])
        t.ascii[j] = static_cast<uint16_t>(ch | unsigned{ascii_bits[ch]} << 8);
  return t;
}

inline constexpr Tables tables = make_tables();

}  // namespace explode_fast
