#include "process_pairs.h"

#include <fcntl.h>
#include <sched.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

extern char** environ;

namespace bench {
namespace {

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Wall time in milliseconds of one run, from just before the process is created
// to its exit.
double run_once(const TimedCommand& command, const std::string& error_log) {
  ::unlink(command.output.c_str());
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  const std::string& standard_output = command.output_is_stdout ? command.output : std::string("/dev/null");
  posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, standard_output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&files, STDERR_FILENO, error_log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<char*> argv;
  for (const std::string& arg : command.argv) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  const auto start = std::chrono::steady_clock::now();
  pid_t child = 0;
  const int spawned = posix_spawnp(&child, argv[0], &files, nullptr, argv.data(), environ);
  int status = 0;
  if (spawned == 0)
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
  const auto end = std::chrono::steady_clock::now();
  posix_spawn_file_actions_destroy(&files);

  if (spawned != 0) throw std::runtime_error(command.argv[0] + ": cannot be started: " + std::strerror(spawned));
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    throw std::runtime_error(command.argv[0] + " failed (status " + std::to_string(status) +
                             "): " + read_text(error_log));
  struct stat written {};
  if (::stat(command.output.c_str(), &written) != 0 || written.st_size == 0)
    throw std::runtime_error(command.argv[0] + " wrote nothing to " + command.output);
  return std::chrono::duration<double, std::milli>(end - start).count();
}

}  // namespace

PairTiming time_in_turn(const TimedCommand& first, const TimedCommand& second, const PairPlan& plan,
                        const std::string& error_log) {
  for (unsigned i = 0; i < plan.warm_up; ++i) {
    run_once(first, error_log);
    run_once(second, error_log);
  }
  std::vector<double> first_ms, second_ms, ratios;
  const auto start = std::chrono::steady_clock::now();
  const auto enough = [&](unsigned done) {
    if (done >= plan.max_pairs) return true;
    const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - start;
    return done >= plan.min_pairs && spent.count() >= plan.min_seconds;
  };
  for (unsigned i = 0; !enough(i); ++i) {
    double a = 0, b = 0;
    if (i % 2 == 0) {
      a = run_once(first, error_log);
      b = run_once(second, error_log);
    } else {
      b = run_once(second, error_log);
      a = run_once(first, error_log);
    }
    first_ms.push_back(a);
    second_ms.push_back(b);
    ratios.push_back(b / a);
  }
  return {median(first_ms), median(second_ms), median(ratios), static_cast<unsigned>(ratios.size())};
}

OneCoreScope::OneCoreScope() {
  if (sched_getaffinity(0, sizeof saved_, &saved_) != 0) throw std::runtime_error("the usable cores cannot be read");
  unsigned first = 0;
  while (first < CPU_SETSIZE && !CPU_ISSET(first, &saved_)) ++first;
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(first, &one);
  if (sched_setaffinity(0, sizeof one, &one) != 0) throw std::runtime_error("cannot keep to one core");
}

OneCoreScope::~OneCoreScope() { sched_setaffinity(0, sizeof saved_, &saved_); }

unsigned usable_cores() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
  return static_cast<unsigned>(CPU_COUNT(&set));
}

}  // namespace bench
