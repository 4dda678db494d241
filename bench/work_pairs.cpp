#include "work_pairs.h"

#include <time.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace bench {
namespace {

double thread_seconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Seconds of the thread's CPU time that `calls` calls of `work` take.
double timed(const std::function<void()>& work, unsigned calls) {
  const double start = thread_seconds();
  for (unsigned i = 0; i < calls; ++i) work();
  return thread_seconds() - start;
}

// Calls that take about `seconds`, from a first few (which also warm the caches).
unsigned calls_for(const std::function<void()>& work, double seconds) {
  unsigned calls = 1;
  double took = timed(work, calls);
  while (took < seconds / 4 && calls < (1u << 20)) took = timed(work, calls *= 2);
  return std::max(1u, static_cast<unsigned>(std::lround(seconds / (took / calls))));
}

double quantile(const std::vector<double>& sorted, double q) {
  return sorted[static_cast<size_t>(q * static_cast<double>(sorted.size() - 1))];
}

}  // namespace

WorkPairTiming time_work_in_turn(const std::function<void()>& first, const std::function<void()>& second,
                                 unsigned rounds, double side_seconds) {
  const unsigned first_calls = calls_for(first, side_seconds), second_calls = calls_for(second, side_seconds);
  std::vector<double> ratios;
  for (unsigned r = 0; r < rounds; ++r) {
    double a = 0, b = 0;
    if (r % 2 == 0) {
      a = timed(first, first_calls);
      b = timed(second, second_calls);
    } else {
      b = timed(second, second_calls);
      a = timed(first, first_calls);
    }
    if (a > 0 && b > 0) ratios.push_back((b / second_calls) / (a / first_calls));
  }
  WorkPairTiming t;
  t.rounds = static_cast<unsigned>(ratios.size());
  if (ratios.empty()) return t;
  std::sort(ratios.begin(), ratios.end());
  t.speed_ratio = quantile(ratios, 0.5);
  t.lower_quartile = quantile(ratios, 0.25);
  t.upper_quartile = quantile(ratios, 0.75);
  return t;
}

}  // namespace bench
