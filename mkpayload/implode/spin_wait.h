// Waiting for another thread's store: spinning first, then sleeping. A thread
// that sleeps waits for its core to wake up again when it is woken (0.2 to 0.35
// ms on our machines), which is longer than most of the encoder's waits; a
// spinning one keeps its core awake. Only in builds with threads.
#pragma once

#include <atomic>
#include <cstdint>
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace implode::detail {

// A pause is some 20 ns: 2^14 of them about a third of a millisecond.
inline constexpr uint32_t SPINS_THIRD_MS = 1u << 14;

// Waits until `value` is no longer `old` and returns it: spinning `spins`
// times, then sleeping on it.
template <typename T>
T wait_for_change(const std::atomic<T>& value, T old, uint32_t spins = SPINS_THIRD_MS) {
  for (uint32_t spun = 0;; ++spun) {
    const T now = value.load(std::memory_order_acquire);
    if (now != old) return now;
    if (spun < spins) {
#if defined(__x86_64__) || defined(__i386__)
      _mm_pause();
#endif
    } else {
      value.wait(old, std::memory_order_acquire);
    }
  }
}

}  // namespace implode::detail
