// explode_bench: decoding speed of our explode decoder (BM_Explode/<corpus>) and
// of zlib's inflate on the same data compressed at level 9 (BM_Inflate/<corpus>),
// both in output bytes per second; encoding speed of our implode encoder
// (BM_Implode/<corpus>/<level>, input bytes per second). Before the runs it prints
// each corpus's compressed sizes: our best level, our fast level, zlib level 9.
//
// Corpora are read from the machine at run time (nothing is copied into the
// repository): Wine's builtin Windows DLLs (PE images), a Java archive from
// /usr/share/java, and the GPL-3 licence text. A missing file is skipped with a
// note. KVN_BENCH_CORPUS=name=path[,name=path...] replaces the list.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <unistd.h>

#include "entry_compression.h"
#include "explode.h"
#include "implode_encoder.h"

namespace {

using namespace explode;
using namespace mkpayload;

using Bytes = std::vector<uint8_t>;

struct Corpus {
  std::string name;
  std::string path;
  Bytes data;
  Bytes implode_best;  // what mkpayload would store (empty: stored as is)
  Bytes implode_fast;
  Bytes stream;  // the stream the decoder is timed on
  Bytes zlib9;
};

std::vector<std::pair<std::string, std::string>> corpus_list() {
  std::vector<std::pair<std::string, std::string>> list;
  if (const char* env = std::getenv("KVN_BENCH_CORPUS")) {
    std::string s = env;
    size_t start = 0;
    while (start < s.size()) {
      size_t end = s.find(',', start);
      if (end == std::string::npos) end = s.size();
      const std::string item = s.substr(start, end - start);
      const size_t eq = item.find('=');
      if (eq != std::string::npos) list.push_back({item.substr(0, eq), item.substr(eq + 1)});
      start = end + 1;
    }
    return list;
  }
  const std::string wine = "/usr/lib/i386-linux-gnu/wine/i386-windows/";
  return {{"kernelbase.dll", wine + "kernelbase.dll"},
          {"shell32.dll", wine + "shell32.dll"},
          {"msvcrt.dll", wine + "msvcrt.dll"},
          {"guice.jar", "/usr/share/java/guice.jar"},
          {"GPL-3", "/usr/share/common-licenses/GPL-3"}};
}

std::optional<Bytes> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// What mkpayload stores for the input (empty when it would store it as is).
Bytes mkpayload_stream(const Bytes& data, CompressionLevel level) {
  CompressionOptions options;
  options.level = level;
  auto stream = compress_entry(data, options);
  return stream ? *stream : Bytes{};
}

// The smallest stream for the input even when it is not smaller than the input
// (a Java archive is already deflated), so that the decoder can be timed on it.
Bytes implode_forced(const Bytes& data) {
  const auto bits = implode::optimal_bits_all_formats(data);
  unsigned best = 0;
  for (unsigned f = 1; f < implode::STREAM_FORMATS; ++f)
    if (bits[f] < bits[best]) best = f;
  const implode::StreamFormat format = implode::format_at_index(best);
  implode::StreamWriter writer(format);
  implode::parse_optimal(data, format, writer);
  return writer.finish();
}

Bytes zlib9(const Bytes& data) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  Bytes out(size);
  if (compress2(out.data(), &size, data.data(), static_cast<uLong>(data.size()), 9) != Z_OK) std::abort();
  out.resize(size);
  return out;
}

// Memory-to-memory callbacks, as the extractor uses them.
struct Streams {
  const uint8_t* input;
  size_t input_size;
  size_t input_position;
  uint8_t* output;
  size_t output_capacity;
  size_t produced;
};

uint32_t read_input(uint8_t* buffer, uint32_t* size, void* user) {
  auto& s = *static_cast<Streams*>(user);
  size_t n = s.input_size - s.input_position;
  if (n > *size) n = *size;
  std::memcpy(buffer, s.input + s.input_position, n);
  s.input_position += n;
  return static_cast<uint32_t>(n);
}

void write_output(const uint8_t* buffer, uint32_t* count, void* user) {
  auto& s = *static_cast<Streams*>(user);
  if (*count > s.output_capacity - s.produced) std::abort();
  std::memcpy(s.output + s.produced, buffer, *count);
  s.produced += *count;
}

void BM_Explode(benchmark::State& state, const Corpus* corpus) {
  Bytes output(corpus->data.size());
  auto work = std::make_unique<ExplodeWork>();
  for (auto _ : state) {
    Streams s{corpus->stream.data(), corpus->stream.size(), 0, output.data(), output.size(), 0};
    const int32_t status = explode_stream(read_input, write_output, work.get(), &s);
    if (status != EXPLODE_OK || s.produced != corpus->data.size()) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(output.data());
  }
  if (output != corpus->data) state.SkipWithError("decoded bytes differ");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * corpus->data.size()));
  state.counters["stream_bytes"] = static_cast<double>(corpus->stream.size());
}

void BM_Inflate(benchmark::State& state, const Corpus* corpus) {
  Bytes output(corpus->data.size());
  for (auto _ : state) {
    uLongf size = static_cast<uLongf>(output.size());
    if (uncompress(output.data(), &size, corpus->zlib9.data(), static_cast<uLong>(corpus->zlib9.size())) != Z_OK)
      state.SkipWithError("inflate failed");
    benchmark::DoNotOptimize(output.data());
  }
  if (output != corpus->data) state.SkipWithError("inflated bytes differ");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * corpus->data.size()));
  state.counters["stream_bytes"] = static_cast<double>(corpus->zlib9.size());
}

void BM_Implode(benchmark::State& state, const Corpus* corpus, CompressionLevel level) {
  size_t size = 0;
  for (auto _ : state) {
    const Bytes stream = mkpayload_stream(corpus->data, level);
    size = stream.size();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * corpus->data.size()));
  state.counters["stream_bytes"] = static_cast<double>(size);
}

// The console report, followed by the speed ratio explode / inflate per corpus
// from the same run (medians when repetitions are asked for).
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      const bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      const auto rate = run.counters.find("bytes_per_second");
      if (run.error_occurred || !(single || median) || rate == run.counters.end()) continue;
      const std::string_view name = run.run_name.function_name;
      for (size_t slot = 0; slot < kDecoders.size(); ++slot)
        if (name.starts_with(kDecoders[slot]))
          speeds_[std::string(name.substr(kDecoders[slot].size()))][slot] = rate->second.value;
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    bool header = false;
    for (const auto& [corpus, speed] : speeds_) {
      if (speed[0] <= 0 || speed[1] <= 0) continue;
      if (!header) std::printf("\nexplode / inflate, output bytes per second in this run:\n");
      header = true;
      std::printf("  %-16s %6.3f\n", corpus.c_str(), speed[0] / speed[1]);
    }
    std::fflush(stdout);
  }

 private:
  static constexpr std::array<std::string_view, 2> kDecoders = {"BM_Explode/", "BM_Inflate/"};
  std::map<std::string, std::array<double, 2>> speeds_;  // by corpus, in kDecoders' order
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  static std::vector<std::unique_ptr<Corpus>> corpora;
  std::printf("%-16s %10s %12s %12s %12s %8s %8s\n", "corpus", "bytes", "implode best", "implode fast", "zlib -9",
              "best/z9", "fast/z9");
  for (const auto& [name, path] : corpus_list()) {
    auto data = read_file(path);
    if (!data || data->empty()) {
      std::printf("%-16s skipped: %s not found\n", name.c_str(), path.c_str());
      continue;
    }
    auto c = std::make_unique<Corpus>();
    c->name = name;
    c->path = path;
    c->data = std::move(*data);
    c->implode_best = mkpayload_stream(c->data, CompressionLevel::best);
    c->implode_fast = mkpayload_stream(c->data, CompressionLevel::fast);
    c->zlib9 = zlib9(c->data);
    c->stream = c->implode_best.empty() ? implode_forced(c->data) : c->implode_best;
    // Sizes of the streams themselves; "stored" marks an input that mkpayload
    // would store because no stream is smaller.
    const size_t best = c->implode_best.empty() ? c->stream.size() : c->implode_best.size();
    const size_t fast = c->implode_fast.empty() ? best : c->implode_fast.size();
    std::printf("%-16s %10zu %12zu %12zu %12zu %8.3f %8.3f%s\n", name.c_str(), c->data.size(), best, fast,
                c->zlib9.size(), static_cast<double>(best) / static_cast<double>(c->zlib9.size()),
                static_cast<double>(fast) / static_cast<double>(c->zlib9.size()),
                c->implode_best.empty() ? "  (stored by mkpayload)" : "");
    corpora.push_back(std::move(c));
  }
  std::fflush(stdout);
  for (const auto& c : corpora) {
    benchmark::RegisterBenchmark(("BM_Explode/" + c->name).c_str(), BM_Explode, c.get());
    benchmark::RegisterBenchmark(("BM_Inflate/" + c->name).c_str(), BM_Inflate, c.get());
  }
  for (const auto& c : corpora) {
    benchmark::RegisterBenchmark(("BM_Implode/" + c->name + "/best").c_str(), BM_Implode, c.get(),
                                 CompressionLevel::best)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1);
    benchmark::RegisterBenchmark(("BM_Implode/" + c->name + "/fast").c_str(), BM_Implode, c.get(),
                                 CompressionLevel::fast)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1);
  }
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
