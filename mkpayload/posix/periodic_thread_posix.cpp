#include <condition_variable>
#include <mutex>
#include <thread>

#include "periodic_thread.h"

namespace mkpayload {

struct PeriodicThread::Impl {
  std::mutex mutex;
  std::condition_variable wake;
  bool stop = false;
  std::thread thread;
};

PeriodicThread::PeriodicThread(std::chrono::milliseconds period, std::function<void()> tick)
    : impl_(std::make_unique<Impl>()) {
  impl_->thread = std::thread([impl = impl_.get(), period, tick = std::move(tick)] {
    std::unique_lock held(impl->mutex);
    while (!impl->stop) {
      impl->wake.wait_for(held, period);
      if (!impl->stop) tick();
    }
  });
}

PeriodicThread::~PeriodicThread() {
  {
    std::lock_guard held(impl_->mutex);
    impl_->stop = true;
  }
  impl_->wake.notify_all();
  impl_->thread.join();
}

bool PeriodicThread::running() const { return impl_->thread.joinable(); }

void PeriodicThread::with_lock(const std::function<void()>& action) {
  std::lock_guard held(impl_->mutex);
  action();
}

}  // namespace mkpayload
