// A thread for the encoder's second stream of work (the later half of a parse,
// the second search, the finder ahead, the check that follows the writer),
// started where it can run at once.
//
// Why not a plain std::thread: on our machines (a 2-vCPU VM) a new thread was
// queued on its creator's core and waited there until the system moved it, 0.1
// to 4 ms (often 1 to 3) after a start in a fresh process, while its creator
// kept that core busy. Placed on another core from the start, it ran 0.2 to 0.35
// ms after it was started (the idle core's wake-up), every time. So on Linux the
// thread is created with its affinity set to the cores the process may use but
// the creator's current one, and its first act is to take the creator's whole
// set back: from then on the system places it freely, as any thread. Elsewhere,
// and with no other core allowed, it is a plain std::thread.
//
// Like std::jthread it is joined when it goes; its function must not throw.
//
// A thread can also be started before the work is known (EarlyCoreThread): the
// next CoreThread made then runs its function on that one, which is running
// already, instead of on a thread of its own.
#pragma once

#include <functional>
#include <memory>

namespace implode::detail {

struct WaitingThread;

class CoreThread {
 public:
  // Starts `body` on a new thread, or on an early thread that waits for work;
  // throws std::system_error if there can be none.
  explicit CoreThread(std::function<void()> body);
  enum Placement { TAKES_EARLY_THREAD, OWN_THREAD };
  CoreThread(Placement placement, std::function<void()> body);
  ~CoreThread();
  CoreThread(const CoreThread&) = delete;
  CoreThread& operator=(const CoreThread&) = delete;

  bool joinable() const;
  void join();

 private:
  struct Handle;
  std::unique_ptr<Handle> handle_;
};

// A second thread started ahead of the work: it runs `first` (what the work
// will want ready), then waits, spinning a while so that its core stays awake,
// then sleeping. The next CoreThread made in the process runs its function on
// it: on our machines that saves the new thread's creation (about 0.2 ms of its
// creator's time) and the wait until it runs (0.15 to 0.35 ms). One not taken
// stops when it goes. At most one waits at a time (a second one only runs
// `first`). It must outlive the CoreThread that takes it, and must not go while
// a CoreThread is being made on another thread.
class EarlyCoreThread {
 public:
  explicit EarlyCoreThread(std::function<void()> first);
  ~EarlyCoreThread();
  EarlyCoreThread(const EarlyCoreThread&) = delete;
  EarlyCoreThread& operator=(const EarlyCoreThread&) = delete;

 private:
  std::unique_ptr<WaitingThread> waiting_;
  CoreThread thread_;  // declared after waiting_: joined before it goes
};

}  // namespace implode::detail
