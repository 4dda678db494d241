// Two pieces of work in one thread timed against each other, as process_pairs.h
// times whole programs: in rounds, the two in turn in each round (the order
// alternating), each round giving one ratio, and the median of those ratios
// reported. The fastest of a few separate repetitions of each (what Google
// Benchmark's figures give) is tilted whenever a slow stretch of this shared
// machine covers all of one side's repetitions and not the other's; a round of
// a few milliseconds sees the same machine on both sides.
#pragma once

#include <functional>

namespace bench {

struct WorkPairTiming {
  // Over the rounds, the second's time per call / the first's: the first's speed
  // relative to the second's (above 1: the first is faster); the median and the
  // quartiles.
  double speed_ratio = 0;
  double lower_quartile = 0;
  double upper_quartile = 0;
  unsigned rounds = 0;
};

// Each side of a round calls its work as many times as take about `side_seconds`
// of the thread's CPU time (counted once, before the rounds).
WorkPairTiming time_work_in_turn(const std::function<void()>& first, const std::function<void()>& second,
                                 unsigned rounds = 101, double side_seconds = 0.002);

}  // namespace bench
