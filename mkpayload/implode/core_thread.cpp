#include "core_thread.h"

#include <atomic>
#include <cstdint>
#include <system_error>
#include <thread>
#include <utility>

#include "spin_wait.h"

#if defined(__linux__)
#include <pthread.h>
#include <sched.h>
#endif

namespace implode::detail {

// An early thread's side of the hand-over: the work it is given, once (or
// NO_WORK: it stops), and whether that is done.
struct WaitingThread {
  std::atomic<std::function<void()>*> work{nullptr};
  std::atomic<bool> done{false};
};

namespace {

std::function<void()> NO_WORK;
// An early thread's work comes within a millisecond or so of its start (the
// builder reads the stub and the first input meanwhile), or much later.
constexpr uint32_t EARLY_SPINS = 4 * SPINS_THIRD_MS;  // about 1.3 ms

// The early thread waiting for work, if any.
std::atomic<WaitingThread*> waiting_thread{nullptr};

// The waiting early thread, if any, takes `body`; false if there is none (or it
// was told to stop meanwhile).
bool give_to_early_thread(std::function<void()>& body, WaitingThread*& taken) {
  if (!waiting_thread.load(std::memory_order_relaxed)) return false;  // the usual case: none
  WaitingThread* const w = waiting_thread.exchange(nullptr, std::memory_order_acq_rel);
  std::function<void()>* none = nullptr;
  if (!w || !w->work.compare_exchange_strong(none, &body, std::memory_order_acq_rel)) return false;
  w->work.notify_one();
  taken = w;
  return true;
}

}  // namespace

EarlyCoreThread::EarlyCoreThread(std::function<void()> first)
    : waiting_(std::make_unique<WaitingThread>()),
      thread_(CoreThread::OWN_THREAD, [w = waiting_.get(), first = std::move(first)] {
        first();
        std::function<void()>* const work = wait_for_change<std::function<void()>*>(w->work, nullptr, EARLY_SPINS);
        if (work == &NO_WORK) return;  // not taken
        (*work)();
        w->done.store(true, std::memory_order_release);
        w->done.notify_one();
      }) {
  // Published by its maker, not once its first work is done: the next
  // CoreThread takes it even while that work runs (its function then starts
  // when the first work ends) instead of making a thread of its own, which
  // cost its maker about 0.2 ms and then competed with this one for the
  // second core. (Not where another early thread waits already: this one then
  // only runs its first work.)
  WaitingThread* none = nullptr;
  waiting_thread.compare_exchange_strong(none, waiting_.get(), std::memory_order_acq_rel);
}

EarlyCoreThread::~EarlyCoreThread() {
  // No longer offered, where it still is (a CoreThread may have taken it, or it
  // was never offered).
  WaitingThread* self = waiting_.get();
  waiting_thread.compare_exchange_strong(self, nullptr, std::memory_order_acq_rel);
  std::function<void()>* none = nullptr;
  if (waiting_->work.compare_exchange_strong(none, &NO_WORK, std::memory_order_acq_rel)) waiting_->work.notify_one();
  thread_.join();
}

#if defined(__linux__)

struct CoreThread::Handle {
  std::function<void()> body;
  WaitingThread* early = nullptr;  // the early thread running body, if one does
  bool running = false;
  cpu_set_t creators_set;
  bool placed = false;  // created on the other cores: creators_set is to be taken back
  pthread_t thread{};

  static void* run(void* self) {
    auto& h = *static_cast<Handle*>(self);
    if (h.placed) sched_setaffinity(0, sizeof h.creators_set, &h.creators_set);  // a failure keeps the placement
    h.body();
    return nullptr;
  }

  // Runs body on a thread of its own.
  void start() {
    int error = -1;
    if (sched_getaffinity(0, sizeof creators_set, &creators_set) == 0) {
      cpu_set_t others = creators_set;
      const int here = sched_getcpu();
      if (here >= 0 && here < CPU_SETSIZE) CPU_CLR(here, &others);
      pthread_attr_t attributes;
      if (CPU_COUNT(&others) > 0 && pthread_attr_init(&attributes) == 0) {
        placed = pthread_attr_setaffinity_np(&attributes, sizeof others, &others) == 0;
        if (placed) error = pthread_create(&thread, &attributes, &Handle::run, this);
        pthread_attr_destroy(&attributes);
      }
    }
    if (error != 0) {  // no other core, or a set the system turned down: placed by the system
      placed = false;
      error = pthread_create(&thread, nullptr, &Handle::run, this);
    }
    if (error != 0) throw std::system_error(error, std::generic_category(), "thread");
  }

  void join_thread() { pthread_join(thread, nullptr); }
};

#else

struct CoreThread::Handle {
  std::function<void()> body;
  WaitingThread* early = nullptr;  // the early thread running body, if one does
  bool running = false;
  std::thread thread;

  void start() {
    thread = std::thread([this] { body(); });
  }
  void join_thread() { thread.join(); }
};

#endif

CoreThread::CoreThread(std::function<void()> body) : CoreThread(TAKES_EARLY_THREAD, std::move(body)) {}

CoreThread::CoreThread(Placement placement, std::function<void()> body) : handle_(std::make_unique<Handle>()) {
  Handle& h = *handle_;
  h.body = std::move(body);
  if (placement != TAKES_EARLY_THREAD || !give_to_early_thread(h.body, h.early)) h.start();
  h.running = true;
}

bool CoreThread::joinable() const { return handle_->running; }

void CoreThread::join() {
  if (!handle_->running) return;
  if (handle_->early)
    wait_for_change(handle_->early->done, false);
  else
    handle_->join_thread();
  handle_->running = false;
}

CoreThread::~CoreThread() { join(); }

}  // namespace implode::detail
