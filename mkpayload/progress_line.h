// A progress line on standard error for entries that take more than a second to
// compress: "mkpayload: compressing NAME (N bytes) ... 3 s", redrawn each second
// by a background thread and erased when the entry is done. Off with --quiet and
// when standard error is not a terminal.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

namespace mkpayload {

class ProgressLine {
 public:
  using Clock = std::chrono::steady_clock;

  // Draws on `out` when `enabled` (the caller checks that `out` is a terminal),
  // redrawn by a background thread.
  ProgressLine(std::FILE* out, bool enabled);
  // The same without a thread, on the clock `now`: the line is redrawn only by
  // redraw() (for tests).
  ProgressLine(std::FILE* out, bool enabled, std::function<Clock::time_point()> now);
  ~ProgressLine();
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  // A new entry begins (ends the previous one).
  void begin(const std::string& name, uint64_t size);
  void end();
  // Draws the line when its entry has taken a second or more and the second shown changed.
  void redraw();

 private:
  struct State;
  std::unique_ptr<State> state_;  // null when disabled
};

}  // namespace mkpayload
