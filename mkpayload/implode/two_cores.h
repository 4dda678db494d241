// Whether the encoder's second threads can run beside the first: a build with
// threads (the MinGW toolchain's win32 thread model has none) and two cores or
// more that this process may run on (on Linux its affinity, which `taskset` or a
// container may narrow; elsewhere the machine's). Asked once a process: the
// answer does not change while it runs, and reading the machine's count from
// Linux's /sys took 60 to 170 us in a fresh process on our machines.
#pragma once

#if KVN_IMPLODE_THREADS
#include <thread>
#if defined(__linux__)
#include <sched.h>
#endif
#endif

namespace implode::detail {

inline bool two_cores() {
#if KVN_IMPLODE_THREADS
  static const bool two = [] {
#if defined(__linux__)
    cpu_set_t allowed;
    if (sched_getaffinity(0, sizeof allowed, &allowed) == 0) return CPU_COUNT(&allowed) >= 2;
#endif
    return std::thread::hardware_concurrency() >= 2;
  }();
  return two;
#else
  return false;
#endif
}

}  // namespace implode::detail
