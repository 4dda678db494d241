// The encoder's second threads (core_thread.h): the function runs once and is
// waited for, however the thread ends; and on Linux a thread first placed away
// from its creator's core takes the creator's whole set of cores back before
// the function runs, also where that set is one core (no other core to place it
// on), so that a thread is never left pinned. A thread started early takes the
// next CoreThread's function, even while its own first work runs, and runs it
// once that is done; one that nobody takes stops when it goes.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "core_thread.h"
#if defined(__linux__)
#include <sched.h>
#endif

namespace {

using implode::detail::CoreThread;
using implode::detail::EarlyCoreThread;

// Set on an early thread by its first work: a CoreThread's function that sees it
// runs there (thread ids are no proof: a new thread may reuse a gone one's).
thread_local bool on_early_thread = false;

// Whether a new CoreThread's function runs on an early thread.
bool next_runs_on_early_thread() {
  bool seen = false;
  CoreThread([&] { seen = on_early_thread; }).join();
  return seen;
}

// An early thread's first work: it marks the thread and counts.
std::function<void()> first_work(std::atomic<int>& firsts) {
  return [&firsts] {
    on_early_thread = true;
    firsts.fetch_add(1);
  };
}

// Tries `done` until it holds, for at most 10 s; whether it held.
template <class Done>
bool eventually(Done done) {
  for (const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
       std::chrono::steady_clock::now() < until; std::this_thread::yield())
    if (done()) return true;
  return false;
}

TEST(EarlyCoreThread, TheNextCoreThreadRunsOnItOnceItsFirstWorkIsDone) {
  for (const bool first_done : {true, false}) {
    SCOPED_TRACE(first_done ? "its first work done" : "its first work still running");
    std::atomic<int> firsts{0};
    std::atomic<bool> go_on{first_done};
    EarlyCoreThread early([&] {
      while (!go_on.load()) std::this_thread::yield();
      first_work(firsts)();
    });
    if (first_done) {
      EXPECT_TRUE(eventually([&] { return firsts.load() == 1; }));
    }
    // Taken at once, even while the first work runs: the function waits for it.
    bool seen = false;
    int firsts_seen = 0;
    CoreThread next([&] {
      seen = on_early_thread;
      firsts_seen = firsts.load();
    });
    go_on.store(true);
    next.join();
    EXPECT_TRUE(seen);
    EXPECT_EQ(firsts_seen, 1);
    // Taken, it no longer waits: the next one gets a thread of its own.
    EXPECT_FALSE(next_runs_on_early_thread());
  }
}

TEST(EarlyCoreThread, OneNobodyTakesStopsWhenItGoes) {
  for (const bool waiting : {false, true}) {
    SCOPED_TRACE(waiting ? "gone after its first work" : "gone at once");
    std::atomic<int> firsts{0};
    {
      EarlyCoreThread early(first_work(firsts));
      if (waiting) {
        EXPECT_TRUE(eventually([&] { return firsts.load() == 1; }));
      }
    }
    EXPECT_EQ(firsts.load(), 1);
    EXPECT_FALSE(next_runs_on_early_thread());
  }
}

TEST(CoreThread, RunsTheFunctionOnceAndIsJoinedWhenItGoes) {
  for (const bool join_first : {false, true}) {
    SCOPED_TRACE(join_first ? "joined, then gone" : "gone without a join");
    std::atomic<int> runs{0};
    std::thread::id ran_on;
    {
      CoreThread thread([&] {
        ran_on = std::this_thread::get_id();
        runs.fetch_add(1);
      });
      EXPECT_TRUE(thread.joinable());
      if (join_first) {
        thread.join();
        EXPECT_FALSE(thread.joinable());
        thread.join();  // a second join does nothing
      }
    }
    EXPECT_EQ(runs.load(), 1);
    EXPECT_NE(ran_on, std::this_thread::get_id());
  }
}

#if defined(__linux__)
std::vector<int> cores_of(const cpu_set_t& set) {
  std::vector<int> cores;
  for (int c = 0; c < CPU_SETSIZE; ++c)
    if (CPU_ISSET(c, &set)) cores.push_back(c);
  return cores;
}

std::vector<int> own_cores() {
  cpu_set_t set;
  EXPECT_EQ(sched_getaffinity(0, sizeof set, &set), 0);
  return cores_of(set);
}

// Runs in a thread of its own, so that narrowing its cores narrows no other test's.
TEST(CoreThread, TheFunctionRunsWithItsCreatorsCores) {
  std::thread creator([] {
    cpu_set_t all;
    ASSERT_EQ(sched_getaffinity(0, sizeof all, &all), 0);
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cores_of(all).front(), &one);
    for (const cpu_set_t* set : {&all, &one}) {
      SCOPED_TRACE(CPU_COUNT(set) == 1 ? "one core" : "every core the test may use");
      ASSERT_EQ(sched_setaffinity(0, sizeof *set, set), 0);
      std::vector<int> seen;
      CoreThread([&] { seen = own_cores(); }).join();
      EXPECT_EQ(seen, cores_of(*set));
    }
  });
  creator.join();
}
#endif

}  // namespace
