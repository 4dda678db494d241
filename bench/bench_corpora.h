// The benchmark's corpora: files read from the machine at run time (skipped with
// a note when absent) and inputs generated here, deterministically, so that every
// run on every machine times the same bytes. Nothing is downloaded.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace bench {

using Bytes = std::vector<uint8_t>;

// A corpus as listed: its name and where its bytes come from, either a file path
// or "generated:english" / "generated:runs".
struct CorpusSource {
  std::string name;
  std::string origin;
};

// The default list, or KVN_BENCH_CORPUS=name=origin[,name=origin...] in its place
// (a bare path is named after its file).
std::vector<CorpusSource> corpus_sources();

// Whether the corpus comes from a generator ("generated:..."), not a file.
bool is_generated(const CorpusSource& source);

// The corpus's bytes; nullopt when its file is missing or empty, or the
// generator is unknown.
std::optional<Bytes> load_corpus(const CorpusSource& source);

// English prose made from a fixed word list and a small sentence grammar
// (paragraphs, lines of at most 72 columns, dialogue, numbers): text with the
// word and letter statistics of a novel, about `size` bytes.
Bytes generated_english(size_t size);

// Short runs: a byte repeated 2 to 17 times, a pattern of 2 to 6 bytes repeated
// over 4 to 27 bytes, a few single bytes, in random order (what bitmaps, tables
// of small numbers and padded records look like): mostly matches at distances
// below 8, the case where a match copy cannot move whole words.
Bytes generated_runs(size_t size);

}  // namespace bench
