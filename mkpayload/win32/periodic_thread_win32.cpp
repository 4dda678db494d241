#include <windows.h>

#include "periodic_thread.h"

namespace mkpayload {

struct PeriodicThread::Impl {
  CRITICAL_SECTION lock;
  HANDLE wake = nullptr;  // auto-reset event, set to stop the thread
  HANDLE thread = nullptr;
  bool stop = false;
  DWORD period_ms = 0;
  std::function<void()> tick;

  Impl() { InitializeCriticalSection(&lock); }
  ~Impl() {
    if (thread) CloseHandle(thread);
    if (wake) CloseHandle(wake);  // also when the thread could not be started
    DeleteCriticalSection(&lock);
  }

  static DWORD WINAPI run(void* self) {
    Impl& impl = *static_cast<Impl*>(self);
    for (;;) {
      WaitForSingleObject(impl.wake, impl.period_ms);
      EnterCriticalSection(&impl.lock);
      const bool stop = impl.stop;
      if (!stop) impl.tick();
      LeaveCriticalSection(&impl.lock);
      if (stop) return 0;
    }
  }
};

PeriodicThread::PeriodicThread(std::chrono::milliseconds period, std::function<void()> tick)
    : impl_(std::make_unique<Impl>()) {
  impl_->period_ms = static_cast<DWORD>(period.count());
  impl_->tick = std::move(tick);
  impl_->wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (impl_->wake) impl_->thread = CreateThread(nullptr, 0, Impl::run, impl_.get(), 0, nullptr);
}

PeriodicThread::~PeriodicThread() {
  if (!impl_->thread) return;
  EnterCriticalSection(&impl_->lock);
  impl_->stop = true;
  LeaveCriticalSection(&impl_->lock);
  SetEvent(impl_->wake);
  WaitForSingleObject(impl_->thread, INFINITE);
}

bool PeriodicThread::running() const { return impl_->thread != nullptr; }

void PeriodicThread::with_lock(const std::function<void()>& action) {
  EnterCriticalSection(&impl_->lock);
  action();
  LeaveCriticalSection(&impl_->lock);
}

}  // namespace mkpayload
