// Whole programs timed against each other (Linux): each run is a fresh process,
// from its start to its exit as its parent sees it, so everything a user waits
// for counts (the program's start, reading, writing its file, its threads).
//
// Two commands are run in turn, pair after pair, the order alternating, and each
// pair gives one ratio; the median of those ratios is reported. On a shared
// machine whose speed drifts from one second to the next, a pair run back to back
// sees the same machine, where two separate series would not.
#pragma once

#include <sched.h>

#include <string>
#include <vector>

namespace bench {

// A command line and the file it writes (removed before every run, so that no
// run writes over a file that an earlier one left).
struct TimedCommand {
  std::vector<std::string> argv;  // argv[0] is looked up on PATH
  std::string output;
  bool output_is_stdout = false;  // the program writes the file to its standard output
};

// How many pairs: at least `min_pairs`, and as many more as fit in `min_seconds`
// (so that short runs, whose ratios scatter most, get many), never more than
// `max_pairs`; `warm_up` pairs first that are not counted (the page cache, the
// processor's clock).
struct PairPlan {
  unsigned min_pairs = 9;
  double min_seconds = 2;
  unsigned max_pairs = 1000;
  unsigned warm_up = 1;
};

struct PairTiming {
  double first_ms = 0;   // median wall time of the first command
  double second_ms = 0;  // and of the second
  // Median over the pairs of the second's time / the first's: the first's speed
  // relative to the second's (above 1: the first is faster).
  double speed_ratio = 0;
  unsigned pairs = 0;  // counted
};

// Runs the pairs. A command that cannot be started, exits with a non-zero status
// or leaves no output throws std::runtime_error, its standard error output in
// the message.
PairTiming time_in_turn(const TimedCommand& first, const TimedCommand& second, const PairPlan& plan,
                        const std::string& error_log);

// While it lives, the programs this process starts may use one core only (the
// first this process may use), as children inherit their parent's set.
class OneCoreScope {
 public:
  OneCoreScope();
  ~OneCoreScope();
  OneCoreScope(const OneCoreScope&) = delete;
  OneCoreScope& operator=(const OneCoreScope&) = delete;

 private:
  cpu_set_t saved_;  // the set of cores before
};

// The number of cores this process may use.
unsigned usable_cores();

}  // namespace bench
