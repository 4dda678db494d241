#include "progress_line.h"

#include <cstdio>

#if defined(_WIN32)
#include <io.h>
#define KVN_ISATTY _isatty
#define KVN_FILENO _fileno
#else
#include <unistd.h>
#define KVN_ISATTY isatty
#define KVN_FILENO fileno
#endif

#if defined(_GLIBCXX_HAS_GTHREADS)

ProgressLine::ProgressLine(bool enabled) : enabled_(enabled && KVN_ISATTY(KVN_FILENO(stderr))) {
  if (enabled_) thread_ = std::thread([this] { run(); });
}

ProgressLine::~ProgressLine() {
  if (!enabled_) return;
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
    erase_locked();
  }
  wake_.notify_all();
  thread_.join();
}

void ProgressLine::begin(const std::string& name, uint64_t size) {
  if (!enabled_) return;
  std::lock_guard lock(mutex_);
  erase_locked();
  label_ = "mkpayload: compressing " + name + " (" + std::to_string(size) + " bytes)";
  started_ = std::chrono::steady_clock::now();
  active_ = true;
  wake_.notify_all();
}

void ProgressLine::end() {
  if (!enabled_) return;
  std::lock_guard lock(mutex_);
  erase_locked();
  active_ = false;
}

void ProgressLine::erase_locked() {
  if (shown_) std::fputs("\r\033[K", stderr), std::fflush(stderr);
  shown_ = false;
}

void ProgressLine::run() {
  std::unique_lock lock(mutex_);
  while (!stop_) {
    wake_.wait_for(lock, std::chrono::milliseconds(250));
    if (stop_ || !active_) continue;
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started_).count();
    if (seconds < 1 || (shown_ && seconds == shown_seconds_)) continue;
    std::fprintf(stderr, "\r%s ... %lld s", label_.c_str(), static_cast<long long>(seconds));
    std::fflush(stderr);
    shown_ = true;
    shown_seconds_ = seconds;
  }
}

#else

ProgressLine::ProgressLine(bool) : enabled_(false) {}
ProgressLine::~ProgressLine() = default;
void ProgressLine::begin(const std::string&, uint64_t) {}
void ProgressLine::end() {}

#endif
