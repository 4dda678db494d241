// explode_bench: our explode decoder against libdeflate and zlib on the same data,
// and our implode encoder against zlib's deflate, with the ratios printed at the
// end (ratio_report.h).
//
// Decoding, in output bytes per second: BM_Explode/<corpus> decodes our best-level
// stream with explode_buffer (the whole stream and output in memory, as the
// extractor decodes), BM_ExplodeStream/<corpus> the same stream through
// explode_stream's callbacks; BM_Libdeflate/<corpus> is libdeflate's raw deflate
// decompression of its own level 9 stream, BM_Inflate/<corpus> zlib's inflate of
// zlib level 9. Encoding, in input bytes per second: BM_Implode/<corpus>/<level>
// is mkpayload's compression (best or fast, including its check by decoding),
// BM_Deflate/<corpus>/<level> zlib's compress2 at level 1 or 9, both by wall-clock
// time (the decoders, one thread each, by CPU time). Before the runs it prints
// each corpus's compressed sizes.
//
// Corpora: see bench_corpora.h (Wine's DLLs, a Java archive, the GPL-3 text,
// generated English prose and short runs; KVN_BENCH_CORPUS replaces the list).
#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench_corpora.h"
#include "entry_compression.h"
#include "explode.h"
#include "implode_encoder.h"
#include "ratio_report.h"

namespace {

using namespace explode;
using namespace mkpayload;
using bench::Bytes;

struct Corpus {
  std::string name;
  Bytes data;
  Bytes implode_best;  // what mkpayload would store (empty: stored as is)
  Bytes implode_fast;
  Bytes stream;  // the stream the decoders are timed on
  Bytes zlib9;
  Bytes zlib1;
  Bytes libdeflate9;
};

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

Bytes zlib_compress(const Bytes& data, int level) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  Bytes out(size);
  if (compress2(out.data(), &size, data.data(), static_cast<uLong>(data.size()), level) != Z_OK) std::abort();
  out.resize(size);
  return out;
}

// Raw deflate (no zlib wrapper), as libdeflate's fastest decompression takes it.
Bytes libdeflate_compress(const Bytes& data, int level) {
  std::unique_ptr<libdeflate_compressor, decltype(&libdeflate_free_compressor)> c(libdeflate_alloc_compressor(level),
                                                                                  libdeflate_free_compressor);
  Bytes out(libdeflate_deflate_compress_bound(c.get(), data.size()));
  const size_t size = libdeflate_deflate_compress(c.get(), data.data(), data.size(), out.data(), out.size());
  if (size == 0) std::abort();
  out.resize(size);
  return out;
}

// Memory-to-memory callbacks, as the extractor's.
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

void finish_decoding(benchmark::State& state, const Corpus& corpus, const Bytes& output, size_t stream_size) {
  if (output != corpus.data) state.SkipWithError("decoded bytes differ");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * corpus.data.size()));
  state.counters["stream_bytes"] = static_cast<double>(stream_size);
}

void BM_Explode(benchmark::State& state, const Corpus* corpus) {
  Bytes output(corpus->data.size());
  auto work = std::make_unique<ExplodeWork>();
  for (auto _ : state) {
    const ExplodeBufferResult result = explode_buffer(corpus->stream, output, work.get());
    if (result.status != EXPLODE_OK || result.size != corpus->data.size()) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(output.data());
  }
  finish_decoding(state, *corpus, output, corpus->stream.size());
}

void BM_ExplodeStream(benchmark::State& state, const Corpus* corpus) {
  Bytes output(corpus->data.size());
  auto work = std::make_unique<ExplodeWork>();
  for (auto _ : state) {
    Streams s{corpus->stream.data(), corpus->stream.size(), 0, output.data(), output.size(), 0};
    const int32_t status = explode_stream(read_input, write_output, work.get(), &s);
    if (status != EXPLODE_OK || s.produced != corpus->data.size()) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(output.data());
  }
  finish_decoding(state, *corpus, output, corpus->stream.size());
}

void BM_Libdeflate(benchmark::State& state, const Corpus* corpus) {
  Bytes output(corpus->data.size());
  std::unique_ptr<libdeflate_decompressor, decltype(&libdeflate_free_decompressor)> d(libdeflate_alloc_decompressor(),
                                                                                      libdeflate_free_decompressor);
  for (auto _ : state) {
    size_t size = 0;
    if (libdeflate_deflate_decompress(d.get(), corpus->libdeflate9.data(), corpus->libdeflate9.size(), output.data(),
                                      output.size(), &size) != LIBDEFLATE_SUCCESS ||
        size != output.size())
      state.SkipWithError("libdeflate failed");
    benchmark::DoNotOptimize(output.data());
  }
  finish_decoding(state, *corpus, output, corpus->libdeflate9.size());
}

void BM_Inflate(benchmark::State& state, const Corpus* corpus) {
  Bytes output(corpus->data.size());
  for (auto _ : state) {
    uLongf size = static_cast<uLongf>(output.size());
    if (uncompress(output.data(), &size, corpus->zlib9.data(), static_cast<uLong>(corpus->zlib9.size())) != Z_OK)
      state.SkipWithError("inflate failed");
    benchmark::DoNotOptimize(output.data());
  }
  finish_decoding(state, *corpus, output, corpus->zlib9.size());
}

void BM_Implode(benchmark::State& state, const Corpus* corpus, CompressionLevel level) {
  size_t size = 0;
  CompressionOptions options;
  options.level = level;
  for (auto _ : state) {
    const auto stream = compress_entry_stream(corpus->data, options);  // as mkpayload makes it
    size = stream ? stream->bytes().size() : 0;
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * corpus->data.size()));
  state.counters["stream_bytes"] = static_cast<double>(size);
}

void BM_Deflate(benchmark::State& state, const Corpus* corpus, int level) {
  size_t size = 0;
  for (auto _ : state) size = zlib_compress(corpus->data, level).size();
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * corpus->data.size()));
  state.counters["stream_bytes"] = static_cast<double>(size);
}

std::unique_ptr<Corpus> prepare(const bench::CorpusSource& source, Bytes data) {
  auto c = std::make_unique<Corpus>();
  c->name = source.name;
  c->data = std::move(data);
  c->implode_best = mkpayload_stream(c->data, CompressionLevel::best);
  c->implode_fast = mkpayload_stream(c->data, CompressionLevel::fast);
  c->stream = c->implode_best.empty() ? implode_forced(c->data) : c->implode_best;
  c->zlib9 = zlib_compress(c->data, 9);
  c->zlib1 = zlib_compress(c->data, 1);
  c->libdeflate9 = libdeflate_compress(c->data, 9);
  return c;
}

void print_sizes(const Corpus& c) {
  // Sizes of the streams themselves; "stored" marks an input that mkpayload
  // would store because no stream is smaller.
  const size_t best = c.stream.size();
  const size_t fast = c.implode_fast.empty() ? best : c.implode_fast.size();
  const auto r = [](size_t a, size_t b) { return static_cast<double>(a) / static_cast<double>(b); };
  std::printf("%-16s %10zu %10zu %10zu %10zu %10zu %10zu %8.3f %8.3f %8.3f%s\n", c.name.c_str(), c.data.size(), best,
              fast, c.zlib9.size(), c.zlib1.size(), c.libdeflate9.size(), r(best, c.zlib9.size()),
              r(best, c.libdeflate9.size()), r(fast, c.zlib1.size()),
              c.implode_best.empty() ? "  (stored by mkpayload)" : "");
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  static std::vector<std::unique_ptr<Corpus>> corpora;
  std::printf("Compressed sizes, bytes:\n%-16s %10s %10s %10s %10s %10s %10s %8s %8s %8s\n", "corpus", "bytes", "best",
              "fast", "zlib -9", "zlib -1", "ldf -9", "best/z9", "best/l9", "fast/z1");
  for (const bench::CorpusSource& source : bench::corpus_sources()) {
    auto data = bench::load_corpus(source);
    if (!data) {
      std::printf("%-16s skipped: %s not found\n", source.name.c_str(), source.origin.c_str());
      continue;
    }
    corpora.push_back(prepare(source, std::move(*data)));
    print_sizes(*corpora.back());
    std::fflush(stdout);
  }
  using bench::DEFLATE, bench::EXPLODE, bench::EXPLODE_STREAM, bench::IMPLODE, bench::INFLATE, bench::LIBDEFLATE;
  const auto name = [](const char* family, const Corpus& c, const char* level = nullptr) {
    std::string n = std::string(family) + "/" + c.name;
    return level ? n + "/" + level : n;
  };
  for (const auto& c : corpora) {
    benchmark::RegisterBenchmark(name(EXPLODE, *c).c_str(), BM_Explode, c.get());
    benchmark::RegisterBenchmark(name(EXPLODE_STREAM, *c).c_str(), BM_ExplodeStream, c.get());
    benchmark::RegisterBenchmark(name(LIBDEFLATE, *c).c_str(), BM_Libdeflate, c.get());
    benchmark::RegisterBenchmark(name(INFLATE, *c).c_str(), BM_Inflate, c.get());
  }
  for (const auto& c : corpora) {
    for (const auto& [level, text] : {std::pair{CompressionLevel::best, "best"}, {CompressionLevel::fast, "fast"}})
      // As many rounds as the framework picks, as for zlib beside it: one where
      // one round already fills the minimum time, more on small inputs.
      // Timed by the clock on the wall: mkpayload runs a second thread on larger
      // inputs, whose work the calling thread's CPU time leaves out (and its waits).
      benchmark::RegisterBenchmark(name(IMPLODE, *c, text).c_str(), BM_Implode, c.get(), level)
          ->Unit(benchmark::kMillisecond)
          ->UseRealTime();
    for (const auto& [level, text] : {std::pair{1, "1"}, {9, "9"}})
      benchmark::RegisterBenchmark(name(DEFLATE, *c, text).c_str(), BM_Deflate, c.get(), level)
          ->Unit(benchmark::kMillisecond)
          ->UseRealTime();
  }
  bench::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
