#include "progress_line.h"

#include <chrono>

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <condition_variable>
#include <mutex>
#include <thread>
#include <unistd.h>
#endif

namespace {
using Clock = std::chrono::steady_clock;
constexpr auto REDRAW_CHECK = std::chrono::milliseconds(250);
}  // namespace

// What is on the screen and what should be; every member is guarded by the lock.
// The line is erased by overwriting it with spaces, which every console and
// terminal understands.
struct ProgressLine::State {
  std::FILE* out;
  bool stop = false;
  bool active = false;
  std::string label;
  Clock::time_point started;
  int shown_length = 0;  // characters of the line on the screen, 0 when none
  long long shown_seconds = 0;

  void erase() {
    if (shown_length == 0) return;
    std::fprintf(out, "\r%*s\r", shown_length, "");
    std::fflush(out);
    shown_length = 0;
  }

  void draw_if_due() {
    if (stop || !active) return;
    const long long seconds = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - started).count();
    if (seconds < 1 || (shown_length > 0 && seconds == shown_seconds)) return;
    const int length = std::fprintf(out, "\r%s ... %lld s", label.c_str(), seconds);
    std::fflush(out);
    shown_length = length > 1 ? length - 1 : 0;
    shown_seconds = seconds;
  }

#if defined(_WIN32)
  CRITICAL_SECTION lock;
  HANDLE wake = nullptr;  // auto-reset event, set to stop the thread
  HANDLE thread = nullptr;

  explicit State(std::FILE* stream) : out(stream) { InitializeCriticalSection(&lock); }
  ~State() {
    if (thread) CloseHandle(thread);
    if (wake) CloseHandle(wake);  // also when the thread could not be started
    DeleteCriticalSection(&lock);
  }

  struct Guard {
    State& s;
    explicit Guard(State& state) : s(state) { EnterCriticalSection(&s.lock); }
    ~Guard() { LeaveCriticalSection(&s.lock); }
  };

  static DWORD WINAPI run(void* self) {
    State& s = *static_cast<State*>(self);
    for (;;) {
      WaitForSingleObject(s.wake, static_cast<DWORD>(REDRAW_CHECK.count()));
      Guard guard(s);
      if (s.stop) return 0;
      s.draw_if_due();
    }
  }
  bool start() {
    wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (wake) thread = CreateThread(nullptr, 0, run, this, 0, nullptr);
    return thread != nullptr;
  }
  void notify() { SetEvent(wake); }
  void join() { WaitForSingleObject(thread, INFINITE); }
#else
  std::mutex mutex;
  std::condition_variable wake;
  std::thread thread;

  explicit State(std::FILE* stream) : out(stream) {}

  struct Guard {
    std::lock_guard<std::mutex> held;
    explicit Guard(State& s) : held(s.mutex) {}
  };

  void run() {
    std::unique_lock held(mutex);
    while (!stop) {
      wake.wait_for(held, REDRAW_CHECK);
      draw_if_due();
    }
  }
  bool start() {
    thread = std::thread([this] { run(); });
    return true;
  }
  void notify() { wake.notify_all(); }
  void join() { thread.join(); }
#endif
};

bool ProgressLine::is_terminal(std::FILE* stream) {
#if defined(_WIN32)
  return _isatty(_fileno(stream)) != 0;
#else
  return isatty(fileno(stream)) != 0;
#endif
}

ProgressLine::ProgressLine(std::FILE* out, bool enabled) {
  if (!enabled) return;
  state_ = std::make_unique<State>(out);
  if (!state_->start()) state_.reset();  // no thread: no progress line, nothing else lost
}

ProgressLine::~ProgressLine() {
  if (!state_) return;
  {
    State::Guard guard(*state_);
    state_->stop = true;
    state_->erase();
  }
  state_->notify();
  state_->join();
}

void ProgressLine::begin(const std::string& name, uint64_t size) {
  if (!state_) return;
  State::Guard guard(*state_);
  state_->erase();
  state_->label = "mkpayload: compressing " + name + " (" + std::to_string(size) + " bytes)";
  state_->started = Clock::now();
  state_->active = true;
}

void ProgressLine::end() {
  if (!state_) return;
  State::Guard guard(*state_);
  state_->erase();
  state_->active = false;
}
