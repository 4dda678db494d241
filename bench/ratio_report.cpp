#include "ratio_report.h"

#include <algorithm>

#include <unistd.h>

#include <cstdio>
#include <set>
#include <string_view>

namespace bench {
namespace {

constexpr double MIB = 1024.0 * 1024.0;

// "a / b" when both were measured, else a dash.
std::string ratio(double a, double b) {
  if (a <= 0 || b <= 0) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", a / b);
  return text;
}
std::string mib(double bytes_per_second) {
  if (bytes_per_second <= 0) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", bytes_per_second / MIB);
  return text;
}

}  // namespace

RatioReporter::RatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

void RatioReporter::ReportRuns(const std::vector<Run>& runs) {
  // The console shows the aggregates of repeated benchmarks, or the single run.
  std::vector<Run> shown;
  for (const Run& run : runs)
    if (run.run_type == Run::RT_Aggregate || run.repetitions <= 1) shown.push_back(run);
  if (!shown.empty()) ConsoleReporter::ReportRuns(shown);
  for (const Run& run : runs) {
    const auto rate = run.counters.find("bytes_per_second");
    if (run.error_occurred || run.run_type != Run::RT_Iteration || rate == run.counters.end()) continue;
    const std::string& name = run.run_name.function_name;
    const size_t slash = name.find('/');
    if (slash == std::string::npos) continue;
    double& fastest = speeds_[name.substr(slash + 1)][name.substr(0, slash)];
    fastest = std::max(fastest, rate->second.value);
  }
}

double RatioReporter::speed(const std::string& item, const char* family) const {
  const auto by_item = speeds_.find(item);
  if (by_item == speeds_.end()) return 0;
  const auto by_family = by_item->second.find(family);
  return by_family == by_item->second.end() ? 0 : by_family->second;
}

void RatioReporter::print_decoding() const {
  std::printf(
      "\nDecoding, output MiB/s (this run) and ratios; explode = whole buffer, stream = through the callbacks:\n");
  std::printf("  %-16s %9s %9s %10s %9s %12s %12s %11s\n", "corpus", "explode", "stream", "libdeflate", "inflate",
              "explode/ldf", "explode/zlib", "stream/ldf");
  for (const auto& [item, families] : speeds_) {
    if (!families.contains(LIBDEFLATE)) continue;
    const double ex = speed(item, EXPLODE), st = speed(item, EXPLODE_STREAM), ld = speed(item, LIBDEFLATE),
                 in = speed(item, INFLATE);
    std::printf("  %-16s %9s %9s %10s %9s %12s %12s %11s\n", item.c_str(), mib(ex).c_str(), mib(st).c_str(),
                mib(ld).c_str(), mib(in).c_str(), ratio(ex, ld).c_str(), ratio(ex, in).c_str(), ratio(st, ld).c_str());
  }
}

void RatioReporter::print_encoding() const {
  // Corpora from the "<corpus>/<level>" items.
  std::set<std::string> corpora;
  for (const auto& [item, families] : speeds_)
    if (families.contains(IMPLODE) || families.contains(DEFLATE)) corpora.insert(item.substr(0, item.rfind('/')));
  if (corpora.empty()) return;
  std::printf("\nEncoding, input MiB/s (this run) and ratios; implode includes its check by decoding:\n");
  std::printf("  %-16s %8s %8s %9s %9s %9s %9s %9s %9s\n", "corpus", "best", "fast", "zlib -9", "zlib -1", "best/z9",
              "best/z1", "fast/z9", "fast/z1");
  for (const std::string& c : corpora) {
    const double best = speed(c + "/best", IMPLODE), fast = speed(c + "/fast", IMPLODE), z9 = speed(c + "/9", DEFLATE),
                 z1 = speed(c + "/1", DEFLATE);
    std::printf("  %-16s %8s %8s %9s %9s %9s %9s %9s %9s\n", c.c_str(), mib(best).c_str(), mib(fast).c_str(),
                mib(z9).c_str(), mib(z1).c_str(), ratio(best, z9).c_str(), ratio(best, z1).c_str(),
                ratio(fast, z9).c_str(), ratio(fast, z1).c_str());
  }
}

void RatioReporter::Finalize() {
  ConsoleReporter::Finalize();
  print_decoding();
  print_encoding();
  std::fflush(stdout);
}

}  // namespace bench
