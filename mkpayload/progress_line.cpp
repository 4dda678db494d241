#include "progress_line.h"

#include "periodic_thread.h"

namespace mkpayload {
namespace {
constexpr auto REDRAW_CHECK = std::chrono::milliseconds(250);
}  // namespace

// What is on the screen and what should be. With a thread, every member is
// used under the thread's lock. The line is erased by overwriting it with
// spaces, which every console and terminal understands.
struct ProgressLine::State {
  std::FILE* out;
  std::function<Clock::time_point()> now;
  bool active = false;
  std::string label;
  Clock::time_point started;
  int shown_length = 0;  // characters of the line on the screen, 0 when none
  long long shown_seconds = 0;
  std::unique_ptr<PeriodicThread> thread;  // last: stopped before the rest goes

  void erase() {
    if (shown_length == 0) return;
    std::fprintf(out, "\r%*s\r", shown_length, "");
    std::fflush(out);
    shown_length = 0;
  }

  void draw_if_due() {
    if (!active) return;
    const long long seconds = std::chrono::duration_cast<std::chrono::seconds>(now() - started).count();
    if (seconds < 1 || (shown_length > 0 && seconds == shown_seconds)) return;
    const int length = std::fprintf(out, "\r%s ... %lld s", label.c_str(), seconds);
    std::fflush(out);
    shown_length = length > 1 ? length - 1 : 0;
    shown_seconds = seconds;
  }

  void locked(const std::function<void()>& action) {
    if (thread)
      thread->with_lock(action);
    else
      action();
  }
};

ProgressLine::ProgressLine(std::FILE* out, bool enabled, std::function<Clock::time_point()> now) {
  if (!enabled) return;
  state_ = std::make_unique<State>();
  state_->out = out;
  state_->now = std::move(now);
}

ProgressLine::ProgressLine(std::FILE* out, bool enabled) : ProgressLine(out, enabled, Clock::now) {
  if (!state_) return;
  state_->thread = std::make_unique<PeriodicThread>(REDRAW_CHECK, [state = state_.get()] { state->draw_if_due(); });
  if (!state_->thread->running()) state_.reset();  // no thread: no progress line, nothing else lost
}

ProgressLine::~ProgressLine() {
  if (!state_) return;
  state_->locked([&] {
    state_->active = false;
    state_->erase();
  });
  state_->thread.reset();
}

void ProgressLine::begin(const std::string& name, uint64_t size) {
  if (!state_) return;
  state_->locked([&] {
    state_->erase();
    state_->label = "mkpayload: compressing " + name + " (" + std::to_string(size) + " bytes)";
    state_->started = state_->now();
    state_->active = true;
  });
}

void ProgressLine::end() {
  if (!state_) return;
  state_->locked([&] {
    state_->erase();
    state_->active = false;
  });
}

void ProgressLine::redraw() {
  if (!state_) return;
  state_->locked([&] { state_->draw_if_due(); });
}

}  // namespace mkpayload
