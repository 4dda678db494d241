// The encoder's second threads (core_thread.h): the function runs once and is
// waited for, however the thread ends; and on Linux a thread first placed away
// from its creator's core takes the creator's whole set of cores back before
// the function runs, also where that set is one core (no other core to place it
// on), so that a thread is never left pinned.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "core_thread.h"
#if defined(__linux__)
#include <sched.h>
#endif

namespace {

using implode::detail::CoreThread;

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
