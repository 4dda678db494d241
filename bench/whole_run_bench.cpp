// whole_run_bench: mkpayload's two levels against gzip as a user meets them, each
// run a whole fresh process: `mkpayload --level fast` building an installer from
// one file against `gzip -1` writing its .gz, `--level best` against `gzip -9`.
// The fixed costs of a run (the program's start, reading the stub, writing the
// installer, the threads' start) count here, where the in-process benchmark
// (explode_bench) leaves them out. Each pair of programs runs in turn
// (process_pairs.h); with more than one core usable, every comparison is made
// again with every program kept to one core.
//
//   whole_run_bench --mkpayload PATH --stub PATH [--pairs N] [--seconds S]
//
// Each comparison runs at least N pairs (default 9) and as many more as fit in S
// seconds (default 2), at most MAX_PAIRS: a run on a small file is short and
// its ratio scatters most, so it gets hundreds.
//
// Corpora: those of explode_bench (bench_corpora.h, KVN_BENCH_CORPUS), the
// generated ones written to a temporary folder first.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "bench_corpora.h"
#include "process_pairs.h"

namespace {

namespace fs = std::filesystem;
using bench::PairTiming;
using bench::TimedCommand;

constexpr unsigned MAX_PAIRS = 1000;
constexpr double MAX_SECONDS = 600;

struct Options {
  std::string mkpayload;
  std::string stub;
  bench::PairPlan plan{.min_pairs = 9, .min_seconds = 2, .max_pairs = MAX_PAIRS, .warm_up = 1};
};

std::optional<Options> parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string_view flag = argv[i];
    if (flag == "--mkpayload") {
      o.mkpayload = argv[i + 1];
    } else if (flag == "--stub") {
      o.stub = argv[i + 1];
    } else if (flag == "--pairs") {
      char* end = nullptr;
      const unsigned long n = std::strtoul(argv[i + 1], &end, 10);
      if (*end != '\0' || n == 0 || n > MAX_PAIRS) return std::nullopt;
      o.plan.min_pairs = static_cast<unsigned>(n);
    } else if (flag == "--seconds") {
      char* end = nullptr;
      const double seconds = std::strtod(argv[i + 1], &end);
      if (end == argv[i + 1] || *end != '\0' || !(seconds >= 0 && seconds <= MAX_SECONDS)) return std::nullopt;
      o.plan.min_seconds = seconds;
    } else {
      return std::nullopt;
    }
  }
  if (argc % 2 == 0 || o.mkpayload.empty() || o.stub.empty()) return std::nullopt;
  return o;
}

// A temporary folder, removed with everything in it at the end.
class TemporaryFolder {
 public:
  TemporaryFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/kvn-whole-runs-XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary folder: " + pattern);
    path_ = pattern;
  }
  ~TemporaryFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// The corpus as a file: its own when it is one, else written out.
std::optional<std::string> corpus_file(const bench::CorpusSource& source, const fs::path& folder) {
  if (!bench::is_generated(source)) {
    std::error_code error;
    return fs::file_size(source.origin, error) > 0 && !error ? std::optional(source.origin) : std::nullopt;
  }
  const auto data = bench::load_corpus(source);
  if (!data) return std::nullopt;
  // Named after the corpus as far as its name makes a plain file name (mkpayload
  // names the entry after the file).
  std::string name = source.name;
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-') c = '_';
  const fs::path path = folder / name;
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(data->data()), static_cast<std::streamsize>(data->size()));
  if (!out.flush()) throw std::runtime_error("cannot write " + path.string());
  return path.string();
}

struct Row {
  PairTiming fast, best;                         // all cores
  std::optional<PairTiming> fast_one, best_one;  // every program on one core
};

Row measure(const Options& o, const std::string& input, const fs::path& folder, bool one_core_too) {
  const std::string installer = (folder / "installer.exe").string();
  const std::string gz = (folder / "output.gz").string();
  const std::string log = (folder / "stderr.txt").string();
  auto ours = [&](const char* level) {
    return TimedCommand{{o.mkpayload, "--quiet", "--level", level, "--stub", o.stub, "-o", installer, input},
                        installer};
  };
  auto gzip = [&](const char* level) { return TimedCommand{{"gzip", level, "-c", "--", input}, gz, true}; };
  auto pairs = [&](const char* our_level, const char* gzip_level) {
    return bench::time_in_turn(ours(our_level), gzip(gzip_level), o.plan, log);
  };
  Row row{pairs("fast", "-1"), pairs("best", "-9"), std::nullopt, std::nullopt};
  if (one_core_too) {
    const bench::OneCoreScope one_core;
    row.fast_one = pairs("fast", "-1");
    row.best_one = pairs("best", "-9");
  }
  return row;
}

std::string ratio(const std::optional<PairTiming>& t) {
  if (!t) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", t->speed_ratio);
  return text;
}

int run(const Options& o) {
  const unsigned cores = bench::usable_cores();
  const std::time_t now = std::time(nullptr);
  char date[32];
  std::strftime(date, sizeof date, "%Y-%m-%d %H:%M", std::localtime(&now));
  std::printf(
      "Whole runs, %s, %u core%s usable: mkpayload building an installer from the file\n"
      "against gzip writing its .gz, each a fresh process, run in turn; medians of at least\n"
      "%u pairs a comparison and of as many as fit in %g s (\"pairs\": the fewest in the row).\n"
      "Times in ms; ratios are speed ratios (above 1: mkpayload faster)%s.\n",
      date, cores, cores == 1 ? "" : "s", o.plan.min_pairs, o.plan.min_seconds,
      cores > 1 ? "; \"one core\": every program kept to one" : "");
  std::printf("  %-16s %8s %8s %9s %8s %8s %9s   %s %6s\n", "corpus", "fast", "gzip -1", "fast/gz1", "best", "gzip -9",
              "best/gz9", "one core: fast/gz1 best/gz9", "pairs");
  const TemporaryFolder folder;
  for (const bench::CorpusSource& source : bench::corpus_sources()) {
    const auto input = corpus_file(source, folder.path());
    if (!input) {
      std::printf("  %-16s (skipped: %s not found)\n", source.name.c_str(), source.origin.c_str());
      continue;
    }
    const Row r = measure(o, *input, folder.path(), cores > 1);
    unsigned fewest = std::min(r.fast.pairs, r.best.pairs);
    for (const auto& one : {r.fast_one, r.best_one})
      if (one) fewest = std::min(fewest, one->pairs);
    std::printf("  %-16s %8.2f %8.2f %9s %8.2f %8.2f %9s   %18s %8s %6u\n", source.name.c_str(), r.fast.first_ms,
                r.fast.second_ms, ratio(r.fast).c_str(), r.best.first_ms, r.best.second_ms, ratio(r.best).c_str(),
                ratio(r.fast_one).c_str(), ratio(r.best_one).c_str(), fewest);
    std::fflush(stdout);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const auto options = parse(argc, argv);
  if (!options) {
    std::fprintf(stderr,
                 "usage: whole_run_bench --mkpayload PATH --stub PATH [--pairs N (1 to %u, default %u)]\n"
                 "       [--seconds S (0 to %g, default %g)]\n",
                 MAX_PAIRS, Options{}.plan.min_pairs, MAX_SECONDS, Options{}.plan.min_seconds);
    return 2;
  }
  try {
    return run(*options);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "whole_run_bench: %s\n", e.what());
    return 1;
  }
}
