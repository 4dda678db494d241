// Length of the common prefix of two byte runs, eight bytes at a time: the inner
// step of both match finders.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace implode {

// Length of the common prefix of a and b, known to be at least `from`, at most
// `limit`.
inline size_t common_length(const uint8_t* a, const uint8_t* b, size_t from, size_t limit) {
  size_t len = from;
  while (len + 8 <= limit) {
    uint64_t x, y;
    std::memcpy(&x, a + len, 8);
    std::memcpy(&y, b + len, 8);
    if (x != y) {
      if constexpr (std::endian::native == std::endian::little)
        return len + std::countr_zero(x ^ y) / 8;
      else
        return len + std::countl_zero(x ^ y) / 8;
    }
    len += 8;
  }
  while (len < limit && a[len] == b[len]) ++len;
  return len;
}

}  // namespace implode
