// A progress line on standard error for entries that take more than a second to
// compress: "mkpayload: compressing NAME (N bytes) ... 3 s", redrawn each second
// by a background thread and erased when the entry is done. Off with --quiet and
// when standard error is not a terminal.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

class ProgressLine {
 public:
  // Draws on `out` when `enabled` (the caller checks that `out` is a terminal).
  ProgressLine(std::FILE* out, bool enabled);
  ~ProgressLine();
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  // A new entry begins (ends the previous one).
  void begin(const std::string& name, uint64_t size);
  void end();

  static bool is_terminal(std::FILE* stream);

 private:
  struct State;
  std::unique_ptr<State> state_;  // null when disabled
};
