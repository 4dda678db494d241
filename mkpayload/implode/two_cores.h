// Whether the encoder's second threads can run beside the first: a build with
// threads (the MinGW toolchain's win32 thread model has none) on a machine with
// two cores or more. Asked once a process: the system's answer does not change,
// and reading it took 60 to 170 us in a fresh process on our machines.
#pragma once

#if KVN_IMPLODE_THREADS
#include <thread>
#endif

namespace implode::detail {

inline bool two_cores() {
#if KVN_IMPLODE_THREADS
  static const bool two = std::thread::hardware_concurrency() >= 2;
  return two;
#else
  return false;
#endif
}

}  // namespace implode::detail
