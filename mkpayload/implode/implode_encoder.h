// Implode encoder: turns bytes into an implode stream (two header bytes, then
// tokens LSB-first, then the end marker) for mkpayload's compressed entries.
//
// A parse is a sequence of tokens, literals and matches within the format's
// limits: match lengths 2 to 518, a 2-byte match at most 256 bytes back, a longer
// one at most 64 * 2^k back. Two parsers produce them:
//  * FastParse (and parse_lazy): hash chains and one step of lazy evaluation, one
//    pass priced for every format; fast, good.
//  * parse_optimal: the parse of fewest bits for the given format, found by a
//    shortest-path search over the input with every candidate match in the window;
//    parse_optimal_all_formats runs that search for all six formats in one pass.
//    A forced format's parse is exactly the one the six-format pass hands on for
//    it (one search, one choice among equally small parses).
// Both read the whole input from memory; neither allocates per token beyond the
// token vector.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "implode_costs.h"
#include "token_words.h"

namespace implode {

namespace detail {
class EarlyCoreThread;
}

// One token: a literal (length 0, value = the byte) or a match (length 2..518,
// value = distance).
struct Token {
  uint16_t length;
  uint16_t value;
  bool is_literal() const { return length == 0; }
};

// Receives a parse token by token, in input order.
class TokenSink {
 public:
  virtual ~TokenSink() = default;
  virtual void literal(uint8_t byte) = 0;
  virtual void match(unsigned length, unsigned distance) = 0;
};

// A stream written into memory of its own (FastParse::write_stream_bytes): from
// 1 MiB on, whole large pages (fresh_pages.h), taken a step at a time as the
// stream grows. A 4 KiB page costs a fault and, on our machines, several times
// its copy at its first write: 2 ms of a 4 MiB text's fast run for its 1.7 MB
// stream in a vector.
using StreamBytes = FilledBytes;

// A stream handed on while it is written (FastParse::write_stream).
class StreamSource {
 public:
  // The bytes written after those handed on so far (waits for them); empty once
  // the whole stream has been handed on.
  virtual std::span<const uint8_t> next() = 0;

 protected:
  ~StreamSource() = default;
};

// The fast level's parse: one lazy pass over `data` (guided by the costs of the
// `guide` literal coding and the window of `dict_bits`), kept as a compact token
// list: a 32-bit word per match holding the literals before it. Memory beyond the
// input: 4 bytes per match and, while parsing, about 300 KiB of match finder
// tables (twice for an input parsed in halves), kept for the next parse.
class FastParse {
 public:
  // Inputs of MIN_SPLIT_INPUT or more are parsed as two halves (see lazy_parse.cpp).
  FastParse(std::span<const uint8_t> data, LiteralCoding guide, unsigned dict_bits);
  // The halves split at `split` (0: one parse).
  FastParse(std::span<const uint8_t> data, LiteralCoding guide, unsigned dict_bits, size_t split);
  // Size in bits (tokens and end marker) of the stream emit() writes for `f`, any
  // literal coding, f.dict_bits at most the parse's.
  uint64_t bits(StreamFormat f) const;
  // Hands on the parse as `f`'s tokens: a match of three or more bytes too far for
  // f's window becomes literals.
  void emit(StreamFormat f, TokenSink& sink) const;
  // The whole stream for `f` (header, tokens, end marker, padding), as emit()
  // would have a StreamWriter write it, freeing the token list as it goes.
  std::vector<uint8_t> write_stream(StreamFormat f);
  // The same, while `reader` reads the stream from its StreamSource as far as it
  // has been written, on another thread where there are threads (else after the
  // writing); returns once both are done.
  std::vector<uint8_t> write_stream(StreamFormat f, const std::function<void(StreamSource&)>& reader);
  // The same stream in memory of its own (see StreamBytes); `reader` may be empty.
  StreamBytes write_stream_bytes(StreamFormat f, const std::function<void(StreamSource&)>& reader);

 private:
  template <LiteralCoding GUIDE>
  class Parser;
  FastParse(std::span<const uint8_t> data, unsigned dict_bits);  // empty
  void parse(LiteralCoding guide, size_t begin, size_t end);
  void append(FastParse&& later);
  // A word: literals before the match (10 bits), match length (10 bits, 0: none),
  // distance - 1 (12 bits).
  static constexpr unsigned RUN_SHIFT = 22, LENGTH_SHIFT = 12;
  static constexpr uint32_t MAX_RUN = (1u << 10) - 1, LENGTH_MASK = (1u << 10) - 1, DISTANCE_MASK = (1u << 12) - 1;
  void add_match(size_t run, unsigned length, unsigned distance);
  void emit_word(uint32_t word, unsigned window, size_t& pos, TokenSink& sink) const;
  StreamBytes write_fields(StreamFormat f, StreamSource* progress);
  void close_run(size_t run);

  // Running totals by dictionary size (k = 4, 5, 6).
  struct Totals {
    uint64_t match_bits = 0;      // matches within the window
    uint64_t far_bytes = 0;       // bytes of matches beyond it, written as literals
    uint64_t far_ascii_bits = 0;  // their bits as ASCII literals
  };
  std::span<const uint8_t> data_;
  unsigned dict_bits_;
  // The match finder's tables; kept after the parse while the token list lies
  // in the same room (see lazy_parse.cpp).
  std::optional<ReusedZeroedRoom> tables_;
  TokenWords words_;
  uint64_t literal_count_ = 0;
  uint64_t literal_ascii_bits_ = 0;
  std::array<Totals, 3> by_dict_{};
};

// One format's fast parse (FastParse guided by that format).
void parse_lazy(std::span<const uint8_t> data, StreamFormat format, TokenSink& sink);
// Memory beyond the input: fixed-size match finder and search rings (about 540
// KiB) and the back-references of the positions whose best paths have not merged
// yet, 12 bytes each. The parse is handed on in pieces as soon as every path the
// search still considers agrees on them (checked every 64 Ki positions; on real
// data the paths merge within a few tokens); should they not agree, the
// references are kept until they do, so the parse is always minimal.
void parse_optimal(std::span<const uint8_t> data, StreamFormat format, TokenSink& sink);

// The same, collected (for tests and tools).
std::vector<Token> parse_lazy(std::span<const uint8_t> data, StreamFormat format);
std::vector<Token> parse_optimal(std::span<const uint8_t> data, StreamFormat format);

// Counts the bits of the tokens it receives (end marker included, header not).
class BitCounter final : public TokenSink {
 public:
  explicit BitCounter(StreamFormat format) : format_(format) {}
  void literal(uint8_t byte) override { bits_ += literal_cost(format_, byte); }
  void match(unsigned length, unsigned distance) override { bits_ += match_cost(format_, length, distance); }
  uint64_t bits() const { return bits_ + END_MARKER_BITS; }

 private:
  StreamFormat format_;
  uint64_t bits_ = 0;
};

// Writes the stream as the tokens arrive: header first, end marker and padding
// to the byte boundary at finish().
class StreamWriter final : public TokenSink {
 public:
  explicit StreamWriter(StreamFormat format);
  void literal(uint8_t byte) override;
  void match(unsigned length, unsigned distance) override;
  std::vector<uint8_t> finish();

 private:
  void put(uint32_t value, unsigned n);
  void put_length_value(unsigned value);

 public:
  // Room for a stream of `bytes` (header included), when its size is known.
  void reserve(size_t bytes) { out_.reserve(bytes); }
  // Bits written so far, header included.
  uint64_t bits() const { return uint64_t{out_.size()} * 8 + count_; }
  // Appends the bits that `other` (not finished) wrote from bit `from` on: its
  // tokens from a token boundary, where two parses are joined.
  void append(const StreamWriter& other, uint64_t from);

 private:
  StreamFormat format_;
  std::vector<uint8_t> out_;
  uint64_t buffer_ = 0;
  unsigned count_ = 0;
};

// Optimal parses of `data` for all six formats (binary/ASCII literals x k = 4, 5,
// 6) in one pass over the input, each handed to its own sink; returns the size in
// bits of each (tokens and end marker, without the header). Sinks and sizes are
// by format_index() (implode_costs.h). Memory as parse_optimal's, with about 880
// KiB of tables and rings and 40 bytes per back-referenced position.
std::array<uint64_t, STREAM_FORMATS> parse_optimal_all_formats(std::span<const uint8_t> data,
                                                               const std::array<TokenSink*, STREAM_FORMATS>& sinks);
std::array<uint64_t, STREAM_FORMATS> optimal_bits_all_formats(std::span<const uint8_t> data);
// The best level: the optimal parses of all six formats priced in one search
// and one of them written: among `candidates` (a bit per format index), the
// smallest where the search can tell before it writes (always on an input of up
// to 64 Ki bytes), else the smallest after the first 64 Ki positions (nearly
// always the smallest at the end). Which one is written does not change any
// stream: each is that format's lane of the one search, and the sizes are
// parse_optimal_all_formats'. With `split` (a position, see optimal_split_point)
// a second search starts there on another thread and the two are spliced where
// their paths provably agree: the sizes and the stream are exactly those of the
// single search (split_search.h). Without a split, from 24 KiB on, the match
// finder runs ahead on another thread (finder_ahead.h): the same stream. Memory:
// the input, the stream, and fixed rings and tables (twice with a split; about
// 290 KiB more with the finder ahead).
struct ChosenOptimalStream {
  std::array<uint64_t, STREAM_FORMATS> bits;  // every format's size in bits
  unsigned written = 0;                       // the format index of `stream`
  std::unique_ptr<StreamWriter> stream;       // not finished
};
ChosenOptimalStream optimal_stream_chosen(std::span<const uint8_t> data, unsigned candidates, size_t split);
// The same for one forced format (parse_optimal's stream); returns its size in bits.
uint64_t optimal_stream(std::span<const uint8_t> data, StreamFormat format, StreamWriter& out, size_t split);
// Where to split an input of `size` bytes: 0 (one search) for small inputs, or
// where this build or machine cannot run two threads.
inline constexpr size_t MIN_SPLIT_INPUT = size_t{256} << 10;
size_t optimal_split_point(size_t size);
// The same for `data`, placed where about half the search's work lies before it
// (estimated from samples of the input; 0 wherever the size alone gives 0).
size_t optimal_split_point(std::span<const uint8_t> data);

// The best level's second core, made ready before the first search: where the
// search of an input of `largest` bytes would run on two threads, a thread
// starts now (detail::EarlyCoreThread), takes a search's block of tables (whose
// first large page a fresh process otherwise takes inside the search) and waits
// for the search's second thread's work, which then does not wait for a thread
// to be made and to run. Whole runs on 35 KB of text took 0.965 of the time.
// Hold it while the searches run (nothing else may make the encoder's threads
// as it goes); without threads, or where no search would use two, it does
// nothing.
class SecondCoreAhead {
 public:
  explicit SecondCoreAhead(size_t largest);
  ~SecondCoreAhead();
  SecondCoreAhead(const SecondCoreAhead&) = delete;
  SecondCoreAhead& operator=(const SecondCoreAhead&) = delete;
  bool started() const { return early_ != nullptr; }

 private:
  struct Stop {  // defined where threads are known
    void operator()(detail::EarlyCoreThread* early) const;
  };
  std::unique_ptr<detail::EarlyCoreThread, Stop> early_;
};

// The same sizes from a search that only prices: no back-references, no parse
// handed on (what the best level uses to choose the format).
std::array<uint64_t, STREAM_FORMATS> optimal_sizes_all_formats(std::span<const uint8_t> data);

// Whether no format's optimal stream (header included) would be smaller than
// `data`: true is a proof (a lower bound on every format's optimal size, see
// store_bound.cpp), false says nothing. Quick where it answers true (input that
// does not compress) and gives up early elsewhere.
bool optimal_streams_not_smaller(std::span<const uint8_t> data);

// Bits of a parse (tokens and end marker, without the 16 header bits).
uint64_t parse_bits(std::span<const Token> tokens, StreamFormat format);

// The whole stream: header, tokens, end marker, zero bits up to the byte boundary.
std::vector<uint8_t> write_stream(std::span<const Token> tokens, StreamFormat format);

// Bytes of a stream whose tokens and end marker take `bits`.
inline uint64_t stream_bytes(uint64_t bits) { return 2 + (bits + 7) / 8; }

}  // namespace implode
