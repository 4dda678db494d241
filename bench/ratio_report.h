// The benchmark's console report, followed by the ratios that matter, computed
// from this run's own figures (the fastest repetition when repetitions are asked
// for: the one least disturbed by other work on the machine): each
// decoder against libdeflate and zlib on the same corpus, and each encoder level
// against zlib's level 1 and 9. Figures from different runs are never set side by
// side: this machine's speed drifts between runs.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace bench {

// Benchmark names are "<family>/<corpus>" or "<family>/<corpus>/<level>".
inline constexpr const char* EXPLODE = "BM_Explode";               // whole-buffer decoding
inline constexpr const char* EXPLODE_STREAM = "BM_ExplodeStream";  // decoding through the callbacks
inline constexpr const char* LIBDEFLATE = "BM_Libdeflate";
inline constexpr const char* INFLATE = "BM_Inflate";
inline constexpr const char* IMPLODE = "BM_Implode";
inline constexpr const char* DEFLATE = "BM_Deflate";

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter();
  void ReportRuns(const std::vector<Run>& runs) override;
  void Finalize() override;

 private:
  // Bytes per second by benchmark name without its family, then by family.
  std::map<std::string, std::map<std::string, double>> speeds_;
  double speed(const std::string& item, const char* family) const;
  void print_decoding() const;
  void print_encoding() const;
};

}  // namespace bench
