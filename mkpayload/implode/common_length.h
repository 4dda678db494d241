// Length of the common prefix of two byte runs, eight bytes at a time: the inner
// step of both match finders.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace implode {

// Bytes alike at the start of two eight-byte words loaded from memory, from
// their XOR (8: all of them).
inline unsigned equal_prefix_bytes(uint64_t differ) {
  if constexpr (std::endian::native == std::endian::little)
    return static_cast<unsigned>(std::countr_zero(differ)) / 8;
  else
    return static_cast<unsigned>(std::countl_zero(differ)) / 8;
}

// Length of the common prefix of a and b, known to be at least `from`, at most
// `limit`.
inline size_t common_length(const uint8_t* a, const uint8_t* b, size_t from, size_t limit) {
  size_t len = from;
  while (len + 8 <= limit) {
    uint64_t x, y;
    std::memcpy(&x, a + len, 8);
    std::memcpy(&y, b + len, 8);
    if (x != y) return len + equal_prefix_bytes(x ^ y);
    len += 8;
  }
  while (len < limit && a[len] == b[len]) ++len;
  return len;
}

// The same length, for the best level's tree walk. Most of its comparisons end
// within eight bytes of where they start (the walk's latency is its cost: the
// length decides the next node), so the first step is the 8-byte one; a few go on
// for hundreds of bytes (executables), 32 bytes a step where the target has
// 128-bit vectors.
inline size_t long_common_length(const uint8_t* a, const uint8_t* b, size_t from, size_t limit) {
  size_t len = from;
#if defined(__SSE2__)
  if (len + 8 <= limit) {
    uint64_t x, y;
    std::memcpy(&x, a + len, 8);
    std::memcpy(&y, b + len, 8);
    if (x != y) return len + equal_prefix_bytes(x ^ y);
    len += 8;
  }
  while (len + 32 <= limit) {
    const auto load = [](const uint8_t* x) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(x)); };
    const unsigned low = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(load(a + len), load(b + len))));
    const unsigned high =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(load(a + len + 16), load(b + len + 16))));
    const uint32_t differ = ~(low | high << 16);  // a bit per byte that differs
    if (differ != 0) return len + static_cast<size_t>(std::countr_zero(differ));
    len += 32;
  }
#endif
  return common_length(a, b, len, limit);
}

}  // namespace implode
