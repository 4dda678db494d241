#include "core_thread.h"

#include <system_error>
#include <thread>
#include <utility>

#if defined(__linux__)
#include <pthread.h>
#include <sched.h>
#endif

namespace implode::detail {

#if defined(__linux__)

struct CoreThread::Handle {
  std::function<void()> body;
  cpu_set_t creators_set;
  bool placed = false;  // created on the other cores: creators_set is to be taken back
  pthread_t thread{};
  bool running = false;

  static void* run(void* self) {
    auto& h = *static_cast<Handle*>(self);
    if (h.placed) sched_setaffinity(0, sizeof h.creators_set, &h.creators_set);  // a failure keeps the placement
    h.body();
    return nullptr;
  }
};

CoreThread::CoreThread(std::function<void()> body) : handle_(std::make_unique<Handle>()) {
  Handle& h = *handle_;
  h.body = std::move(body);
  int error = -1;
  if (sched_getaffinity(0, sizeof h.creators_set, &h.creators_set) == 0) {
    cpu_set_t others = h.creators_set;
    const int here = sched_getcpu();
    if (here >= 0 && here < CPU_SETSIZE) CPU_CLR(here, &others);
    pthread_attr_t attributes;
    if (CPU_COUNT(&others) > 0 && pthread_attr_init(&attributes) == 0) {
      h.placed = pthread_attr_setaffinity_np(&attributes, sizeof others, &others) == 0;
      if (h.placed) error = pthread_create(&h.thread, &attributes, &Handle::run, &h);
      pthread_attr_destroy(&attributes);
    }
  }
  if (error != 0) {  // no other core, or a set the system turned down: placed by the system
    h.placed = false;
    error = pthread_create(&h.thread, nullptr, &Handle::run, &h);
  }
  if (error != 0) throw std::system_error(error, std::generic_category(), "thread");
  h.running = true;
}

bool CoreThread::joinable() const { return handle_->running; }

void CoreThread::join() {
  if (!handle_->running) return;
  pthread_join(handle_->thread, nullptr);
  handle_->running = false;
}

#else

struct CoreThread::Handle {
  std::thread thread;
};

CoreThread::CoreThread(std::function<void()> body) : handle_(std::make_unique<Handle>()) {
  handle_->thread = std::thread(std::move(body));
}

bool CoreThread::joinable() const { return handle_->thread.joinable(); }

void CoreThread::join() {
  if (handle_->thread.joinable()) handle_->thread.join();
}

#endif

CoreThread::~CoreThread() { join(); }

}  // namespace implode::detail
