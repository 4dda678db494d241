// A background thread that calls a function about every `period` until it is
// stopped, and a lock that the owner shares with it. The progress line redraws
// itself with it. The threads come from the platform: std::thread where the C++
// library has it, Windows threads in the Windows build (its MinGW runtime has
// none).
#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace mkpayload {

class PeriodicThread {
 public:
  // Calls `tick` under the lock every `period` (or sooner when woken).
  PeriodicThread(std::chrono::milliseconds period, std::function<void()> tick);
  // Stops the thread and waits for it.
  ~PeriodicThread();
  PeriodicThread(const PeriodicThread&) = delete;
  PeriodicThread& operator=(const PeriodicThread&) = delete;

  // False when no thread could be started: tick is then never called.
  bool running() const;
  // Runs `action` under the lock that `tick` runs under.
  void with_lock(const std::function<void()>& action);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace mkpayload
