// A progress line on standard error for entries that take more than a second to
// compress: "mkpayload: compressing NAME (N bytes) ... 3 s", redrawn each second
// and erased when the entry is done. Off when standard error is not a terminal,
// with --quiet, and in builds without threads.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

class ProgressLine {
 public:
  explicit ProgressLine(bool enabled);
  ~ProgressLine();
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  // A new entry begins (ends the previous one).
  void begin(const std::string& name, uint64_t size);
  void end();

 private:
#if defined(_GLIBCXX_HAS_GTHREADS)
  void run();
  void erase_locked();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::thread thread_;
  bool stop_ = false;
  bool active_ = false;
  bool shown_ = false;
  long long shown_seconds_ = 0;
  std::string label_;
  std::chrono::steady_clock::time_point started_;
#endif
  bool enabled_;
};
