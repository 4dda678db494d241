// Fast level: one lazy parse over the input, kept as a compact token list and
// priced for every format it can serve in the same pass.
//
// Match finder: the latest position of every two bytes (a direct table: the
// nearest 2-byte match is the only one worth having, as a 2-byte match must lie
// within 256 bytes) and of every three (hashed), and hash chains keyed by four
// bytes, newest first. Candidates lie ever farther back, and a farther match of
// no greater length never saves more bits, so a candidate is compared in full
// only when it can beat the longest so far (one byte compare at that length),
// then eight bytes at a time; at most CHAIN_LIMIT full compares and PASS_LIMIT
// one-byte ones a position. A match of NICE_LENGTH ends the walk: in runs and
// short-period data the nearest candidate is such a match, so they cost one
// compare a position. Runs of one byte value (MIN_KEYED_RUN or more) crowd the
// four-byte chains with positions inside earlier runs, each a match no longer
// than its run, so a run is looked up two more ways: the nearest earlier run of
// its value at least as long (a table by value and length), and the chain of the
// key where the run ends, whose positions, moved back by the run's length, are
// the earlier runs that end as this one does and go on alike.
//
// Choice: the candidate that saves the most bits over literals under the guide
// format (the literal coding the caller expects to win, and the widest window it
// allows), with one step of lazy evaluation. ASCII literal costs come from a ring
// of running sums, so a candidate's literal bits cost one subtraction.
//
// Halves: an input of MIN_SPLIT_INPUT or more is parsed as two halves, the second
// on its own thread where there are threads (else after the first: the output
// never depends on the machine). The second half's finder is first filled with
// the window before it, and no match crosses the middle, so the halves' token
// lists and totals simply add up; the cost is a token or two at the seam.
//
// Pricing: match costs do not depend on the literal coding, and a match of three
// or more bytes too far for a smaller window is written as literals in that
// format; so the sizes of all six formats follow from a few running totals kept
// while parsing, and each is exactly the size of the stream emit() writes.
#include <algorithm>
#include <bit>
#include <cassert>
#include <cstring>
#include <memory>
#include <optional>
#if KVN_IMPLODE_THREADS
#include <exception>
#endif

#include "common_length.h"
#include "core_thread.h"
#include "fresh_pages.h"
#include "implode_encoder.h"

namespace implode {
namespace {

using namespace implode_format;

constexpr unsigned CHAIN_LIMIT = 12;   // candidates compared in full per position
constexpr unsigned PASS_LIMIT = 64;    // and turned away by one byte
constexpr unsigned NICE_LENGTH = 64;   // a match this long ends the walk
constexpr unsigned LAZY_LENGTH = 4;    // a match this long is taken without looking one further
constexpr unsigned MIN_KEYED_RUN = 4;  // a run this long is also looked up by the key where it ends
constexpr unsigned TRACKED_RUN = 32;   // and by earlier runs of its byte value up to this long
constexpr unsigned HISTORY = 4096;     // widest window (k = 6)
// The match finder's tables hold positions by their low 16 bits, which name the
// latest position before the one searched with those bits: the window (4096) is
// far shorter than 2^16, so a position that matters is always read right.
using PositionBits = uint16_t;
constexpr size_t POSITION_PERIOD = size_t{1} << 16;
static_assert(POSITION_PERIOD > HISTORY);
constexpr unsigned PAIR_KEYS = 1u << 16;
constexpr unsigned MAX_HASH_BITS = 15;  // three- and four-byte keys, for spans of 64 KiB or more
constexpr unsigned MIN_HASH_BITS = 10;
constexpr size_t POPULATED_SPAN = size_t{4} << 10;       // see Parser()
constexpr size_t MIN_LARGE_PAGE_SPAN = size_t{1} << 10;  // and from here on, below MIN_SPLIT_INPUT
constexpr size_t RUN_END_WORDS = 256 * (TRACKED_RUN + 1);
constexpr uint32_t NO_RUN_END = 0;  // a run's end is a position of MIN_KEYED_RUN or more
constexpr size_t SUM_RING = 1024;   // running literal sums from the position searched on
constexpr size_t SUM_STEP = 64;     // summed this many bytes at a time
// The sums reach at most one position past the one searched on, plus a match
// and a step, ahead of the oldest one read.
static_assert(SUM_RING > 1 + MAX_MATCH + SUM_STEP && (SUM_RING & (SUM_RING - 1)) == 0);

// Flag and code bits of each byte as an ASCII literal.
constexpr std::array<uint8_t, 256> ascii_literal_bits = [] {
  std::array<uint8_t, 256> t{};
  for (unsigned b = 0; b < 256; ++b) t[b] = static_cast<uint8_t>(1 + ascii_bits[b]);
  return t;
}();

struct Candidate {
  unsigned length = 0;
  unsigned distance = 0;
  int32_t saved = 0;  // literal bits replaced minus the match's bits
};

}  // namespace

// The parse proper, for one guide literal coding (a template: the literal cost is
// in the innermost loop).
template <LiteralCoding GUIDE>
class FastParse::Parser {
 public:
  // Parses data[begin, end) into `out`, with matches reaching back before begin;
  // its token list takes at most `most_words` words.
  Parser(FastParse& out, size_t begin, size_t end, size_t most_words)
      : out_(out), data_(out.data_), end_(end), window_(max_distance(out.dict_bits_)) {
    // The tables hold positions' low bits (PositionBits), the run table whole
    // positions. They come zeroed: the last parse's if it is large enough (its
    // pages are there already), else fresh from the system; the hashed ones are
    // sized to the span parsed.
    const size_t first = begin > HISTORY ? begin - HISTORY : 0;
    const size_t span = end - first;
    const unsigned hash_bits =
        std::clamp<unsigned>(static_cast<unsigned>(std::bit_width(span)) - 2, MIN_HASH_BITS, MAX_HASH_BITS);
    hash_shift_ = 32 - hash_bits;
    const size_t hash_keys = size_t{1} << hash_bits;
    const size_t entries = PAIR_KEYS + 2 * hash_keys + HISTORY;
    static_assert((PAIR_KEYS + HISTORY) * sizeof(PositionBits) % alignof(uint32_t) == 0);
    const size_t table_bytes = entries * sizeof(PositionBits) + RUN_END_WORDS * sizeof(uint32_t);
    const bool whole = begin == 0 && end == data_.size();  // not a half, whose list is appended to another
    const bool large_pages = whole && span >= MIN_LARGE_PAGE_SPAN && data_.size() < MIN_SPLIT_INPUT;
    ReusedZeroedRoom& tables =
        out.tables_.emplace(table_bytes, span >= POPULATED_SPAN ? entries * sizeof(PositionBits) : 0, large_pages);
    // The hashed tables are read before they are written, so each fresh page
    // they touch faults twice (a zero page, then a copy of it), and on our
    // machines that costs five times a page taken ahead with the others in one
    // call. Past a few kilobytes most of their pages are touched (the pair table
    // by text: about half): fresh ones are taken all at once. The run table
    // (zero: no run) is touched at few places and left to fault where it is
    // written.
    //
    // Even a page taken in one call costs its first touch from the program
    // (4 to 6 µs on our VM, against about 0.15 ms for a whole large page), and
    // from 1 KiB of text on a parse touches a few dozen: an input too small to be
    // split takes one large page for its tables where the system offers them
    // (whole runs on 1 to 200 KB took 0.90 to 0.98 of the time). A split one
    // does not: each half would hold one, and the one kept for the next parse
    // would add 1.7 MB to the peak of a large input.
    last_pair_ = reinterpret_cast<PositionBits*>(tables.get());
    last_triple_ = last_pair_ + PAIR_KEYS;
    head_ = last_triple_ + hash_keys;
    prev_ = head_ + hash_keys;
    run_end_ = reinterpret_cast<uint32_t*>(prev_ + HISTORY);
    // In a large page the token list fits after the tables (in the part never
    // cleared for them: the list needs no zeros), whose pages are there already:
    // the room is then kept until the list goes. It starts where the run table
    // ends, so at a 32-bit word as that table does.
    if (large_pages && tables.size() >= table_bytes + most_words * sizeof(uint32_t))
      out.words_ = TokenWords(reinterpret_cast<uint32_t*>(tables.get() + table_bytes), most_words);
    for (size_t pos = first; pos < begin; ++pos) insert(pos);
    begin_ = begin;
    summed_ = begin;
    sums_[begin % SUM_RING] = 0;
  }

  void run() {
    const size_t n = end_;
    size_t pos = begin_;
    Candidate current = best(pos);
    while (pos < n) {
      insert(pos);
      if (current.length == 0) {
        literal(pos++);
        current = pos < n ? best(pos) : Candidate{};
        continue;
      }
      if (current.length < LAZY_LENGTH) {
        const Candidate next = pos + 1 < n ? best(pos + 1) : Candidate{};
        if (next.saved - literal_bits(pos, 1) > current.saved) {
          literal(pos++);
          current = next;
          continue;
        }
      }
      match(pos, current);
      const size_t end = pos + current.length;
      for (++pos; pos < end; ++pos) insert(pos);
      current = pos < n ? best(pos) : Candidate{};
    }
    out_.close_run(run_);
  }

 private:
  // The four bytes at `pos` as one little-endian word, the source of all three
  // keys (one load instead of one a byte); zeros past the end of the data.
  uint32_t key_bytes(size_t pos) const {
    uint32_t bytes = 0;
    if (pos + 4 <= data_.size()) [[likely]] {
      std::memcpy(&bytes, data_.data() + pos, 4);
      if constexpr (std::endian::native == std::endian::big)
        bytes = bytes >> 24 | (bytes >> 8 & 0xFF00) | (bytes << 8 & 0xFF0000) | bytes << 24;
      return bytes;
    }
    for (size_t i = 0; pos + i < data_.size(); ++i) bytes |= uint32_t{data_[pos + i]} << 8 * i;
    return bytes;
  }
  static unsigned pair_key(uint32_t bytes) { return bytes & 0xFFFF; }
  unsigned triple_key(uint32_t bytes) const {
    return static_cast<unsigned>(((bytes & 0xFFFFFF) * 2654435761u) >> hash_shift_);
  }
  unsigned quad_key(uint32_t bytes) const { return static_cast<unsigned>((bytes * 2654435761u) >> hash_shift_); }

  // How far back from `at` the latest position before it with low bits `bits`
  // lies: 1 to POSITION_PERIOD - 1, or 0 for `at` itself (none before it).
  // Entries never written (zero) and entries of positions POSITION_PERIOD or
  // more back read as some earlier position: a candidate like any other, judged
  // by the byte compares (it seldom changes a choice: a few bytes of output in
  // megabytes on some inputs, either way).
  static size_t back_to(PositionBits bits, size_t at) { return static_cast<PositionBits>(at - bits); }

  void insert(size_t pos) {
    note_run_end(pos);
    if (pos + 3 < data_.size()) [[likely]] {
      const auto stored = static_cast<PositionBits>(pos);
      const uint32_t bytes = key_bytes(pos);
      last_pair_[pair_key(bytes)] = stored;
      last_triple_[triple_key(bytes)] = stored;
      const unsigned k = quad_key(bytes);
      prev_[pos % HISTORY] = head_[k];
      head_[k] = stored;
      return;
    }
    // The last three positions: no key of four bytes, nor of three at the last two.
    if (pos + 1 >= data_.size()) return;
    const uint32_t bytes = key_bytes(pos);
    last_pair_[pair_key(bytes)] = static_cast<PositionBits>(pos);
    if (pos + 2 < data_.size()) last_triple_[triple_key(bytes)] = static_cast<PositionBits>(pos);
  }

  // Four bytes (as one word, in either byte order) are one byte value.
  static bool one_value(uint32_t four) { return four == (four & 0xFF) * 0x01010101u; }

  // data[pos, pos + MIN_KEYED_RUN) is one byte value: one load and one compare.
  bool starts_run(size_t pos) const {
    static_assert(MIN_KEYED_RUN == 4);  // the four bytes loaded
    uint32_t four;
    std::memcpy(&four, data_.data() + pos, 4);
    return one_value(four);
  }

  // A run of MIN_KEYED_RUN or more that ends before `pos` is noted by its byte
  // value under every length up to its own (at most TRACKED_RUN). Called for
  // every position, so the common case is one load and two compares.
  void note_run_end(size_t pos) {
    if (pos < MIN_KEYED_RUN) return;
    const uint8_t value = data_[pos - 1];
    if (!starts_run(pos - MIN_KEYED_RUN) || data_[pos] == value) [[likely]]
      return;
    size_t length = MIN_KEYED_RUN;
    while (length < TRACKED_RUN && length < pos && data_[pos - 1 - length] == value) ++length;
    uint32_t* const ends = run_end_ + value * (TRACKED_RUN + 1);
    for (size_t l = MIN_KEYED_RUN; l <= length; ++l) ends[l] = static_cast<uint32_t>(pos);
  }

  // Literal bits of data[pos, pos + length) under the guide coding. Positions up
  // to pos + length must have their sums (see best()).
  int32_t literal_bits(size_t pos, size_t length) const {
    if constexpr (GUIDE == LiteralCoding::binary) {
      return static_cast<int32_t>(9 * length);
    } else {
      return static_cast<int32_t>(sums_[(pos + length) % SUM_RING] - sums_[pos % SUM_RING]);
    }
  }

  // Running sums up to position `to` at least (sums_[i] covers bytes before i,
  // mod 2^32: differences over at most SUM_RING positions are exact). Summed
  // SUM_STEP bytes at a time: a loop of a fixed count, where one up to `to`
  // would end at a different count at every call, each end a branch mispredicted.
  void sum_up_to(size_t to) {
    if (summed_ >= to) return;
    const size_t stop = std::min(summed_ + SUM_STEP, end_);  // `to` is at most end_
    uint32_t sum = sums_[summed_ % SUM_RING];                // carried in a register, not reloaded from the ring
    for (size_t i = summed_; i < stop; ++i) {
      sum += ascii_literal_bits[data_[i]];
      sums_[(i + 1) % SUM_RING] = sum;
    }
    summed_ = stop;
    if (summed_ < to) [[unlikely]]
      sum_up_to(to);  // the first call, and after a jump
  }

  int32_t guide_match_cost(unsigned length, unsigned distance) const {
    return static_cast<int32_t>(match_cost({GUIDE, out_.dict_bits_}, length, distance));
  }

  // Considers the match with the earlier position `cand` for the best at `pos`.
  // Returns 0 when it cannot be longer than the longest so far (one byte
  // compared), 1 after a full compare, 2 once no farther candidate can do better.
  unsigned consider(size_t pos, size_t cand, size_t limit, size_t& longest, Candidate& best) const {
    const uint8_t* const here = data_.data() + pos;
    const uint8_t* const there = data_.data() + cand;
    if (there[longest] != here[longest]) return 0;  // not longer than the longest: saves no more
    const size_t length = common_length(there, here, 0, limit);
    const size_t distance = pos - cand;
    if (length <= longest || length < MIN_MATCH || (length == MIN_MATCH && distance > MAX_SHORT_DISTANCE)) return 1;
    longest = length;
    const int32_t saved =
        literal_bits(pos, length) - guide_match_cost(static_cast<unsigned>(length), static_cast<unsigned>(distance));
    if (saved > best.saved) best = {static_cast<unsigned>(length), static_cast<unsigned>(distance), saved};
    return length < NICE_LENGTH && length < limit ? 1 : 2;
  }

  // The candidate at `pos` that saves the most bits, before `pos` is inserted:
  // the nearest positions sharing two and three bytes (the only 2-byte match
  // worth having, and the cheapest 3-byte one), then the chain of those sharing
  // four. A candidate turned away by its one byte compare costs little, so the
  // walk counts those apart and goes further through them.
  Candidate best(size_t pos) {
    Candidate best;
    const size_t n = end_;
    if (pos + 1 >= n) return best;
    const size_t limit = std::min<size_t>(MAX_MATCH, n - pos);
    if constexpr (GUIDE == LiteralCoding::ascii) sum_up_to(pos + limit);
    size_t longest = 1;
    const uint32_t bytes = key_bytes(pos);
    const size_t pair_back = back_to(last_pair_[pair_key(bytes)], pos);
    if (pair_back - 1 >= window_) return best;  // no earlier position within the window shares even two bytes
    const auto pair = static_cast<uint32_t>(pos - pair_back);
    if (consider(pos, pair, limit, longest, best) == 2 || limit < 3) return best;
    // A pair candidate of three bytes or more is the latest position sharing
    // three: the triple table then holds it or a later position whose three bytes
    // only hash alike, which cannot match three. Only a shorter pair needs it.
    uint32_t triple = pair;
    if (longest < 3) {
      const size_t triple_back = back_to(last_triple_[triple_key(bytes)], pos);
      if (triple_back - 1 < window_) {
        triple = static_cast<uint32_t>(pos - triple_back);
        if (triple != pair && consider(pos, triple, limit, longest, best) == 2) return best;
      }
    }
    if (limit < 4) return best;
    // A run of one byte value (MIN_KEYED_RUN or more, as the four bytes here
    // show): every position inside an earlier run of it shares the four-byte
    // key, a match no longer than what is left of that run, so the chain is
    // walked only for shorter runs. The nearest earlier run at least as long
    // comes from the run table; a match that goes on past the run must come from
    // an earlier run that ends as this one does, found by the key of the run's
    // last byte and the three after it, each position moved back by the run.
    if (one_value(bytes)) {  // the four bytes here: limit >= 4
      const size_t run = 1 + common_length(data_.data() + pos, data_.data() + pos + 1, 3, limit - 1);
      const size_t tracked = std::min<size_t>(run, TRACKED_RUN);
      const uint32_t run_end = run_end_[data_[pos] * (TRACKED_RUN + 1) + tracked];
      if (run_end != NO_RUN_END && pos - (run_end - tracked) <= window_ &&
          consider(pos, run_end - tracked, limit, longest, best) == 2)
        return best;
      if (run + 3 <= limit) {
        walk_chain(pos, key_bytes(pos + run - 1), run - 1, limit, longest, best, pair, triple);
        return best;
      }
    }
    walk_chain(pos, bytes, 0, limit, longest, best, pair, triple);
    return best;
  }

  // Walks the chain of the four-byte key `keyed` (key_bytes() of a position;
  // newest first), each candidate moved back by `shift` (the pair and triple
  // candidates are not taken twice).
  //
  // The walk is about a fifth of the parse's time on text, candidate after
  // candidate turned away, so its step is kept small. Most candidates cannot beat the
  // longest so far, and which can is hard to predict: their first eight bytes
  // tell (a common prefix within them no longer than `longest`) without a
  // branch on the one-byte test, whose verdict is then only counted; those that
  // can, and those that share all eight, go through consider().
  void walk_chain(size_t pos, uint32_t keyed, size_t shift, size_t limit, size_t& longest, Candidate& best,
                  uint32_t pair, uint32_t triple) const {
    const size_t head = pos - back_to(head_[quad_key(keyed)], pos);
    // The lowest key position whose candidate (key_pos - shift) exists and lies
    // within the window.
    const size_t lowest = std::max(shift, pos + shift > window_ ? pos + shift - window_ : 0);
    if (head >= pos || head < lowest) return;
    const uint8_t* const data = data_.data();
    const PositionBits* const prev = prev_;
    const uint8_t* const here = data + pos;
    const bool eight_readable = pos + 8 <= data_.size();  // here, and so at every candidate
    uint64_t here_eight = 0;
    if (eight_readable) std::memcpy(&here_eight, here, 8);
    // The longest a quick look settles (-1, none, without eight bytes to read).
    int quick_longest = eight_readable ? static_cast<int>(std::min<size_t>(longest, 7)) : -1;
    uint8_t here_next = here[longest];
    unsigned compared = 0, passed = 0;
    for (size_t key_pos = head;;) {
      const size_t cand = key_pos - shift;
      if (cand != pair && cand != triple) {
        unsigned verdict;
        uint64_t there_eight = 0;
        if (eight_readable) std::memcpy(&there_eight, data + cand, 8);
        if (static_cast<int>(equal_prefix_bytes(there_eight ^ here_eight)) <= quick_longest) {
          verdict = data[cand + longest] == here_next;
        } else {
          verdict = consider(pos, cand, limit, longest, best);
          if (verdict == 2) return;
          if (eight_readable) quick_longest = static_cast<int>(std::min<size_t>(longest, 7));
          here_next = here[longest];
        }
        compared += verdict;
        passed += 1 - verdict;
        if (compared == CHAIN_LIMIT || passed == PASS_LIMIT) return;
      }
      // Chains run to older positions: a next one that is not older (none, or a
      // slot reused by a newer position) or out of reach ends it, both in one
      // unsigned compare.
      const size_t next = key_pos - back_to(prev[key_pos % HISTORY], key_pos);
      if (next - lowest >= key_pos - lowest) return;
      key_pos = next;
    }
  }

  void literal(size_t pos) {
    ++run_;
    out_.literal_ascii_bits_ += ascii_literal_bits[data_[pos]];
    ++out_.literal_count_;
  }

  // Adds the match to every window's totals: as a match where it is within the
  // window, else as its bytes in literals.
  void match(size_t pos, const Candidate& c) {
    out_.add_match(run_, c.length, c.distance);
    run_ = 0;
    const unsigned length_bits = length_cost_table[c.length];
    // The match's bytes as ASCII literals, for the windows it lies beyond.
    uint32_t far_ascii_bits = 0;
    if constexpr (GUIDE == LiteralCoding::ascii) {
      far_ascii_bits = static_cast<uint32_t>(literal_bits(pos, c.length));
    } else if (c.length > MIN_MATCH && c.distance > max_distance(4)) {
      for (unsigned i = 0; i < c.length; ++i) far_ascii_bits += ascii_literal_bits[data_[pos + i]];
    }
    for (unsigned k = 4; k <= out_.dict_bits_; ++k) {
      Totals& t = out_.by_dict_[k - 4];
      const bool within = c.length == MIN_MATCH || c.distance <= max_distance(k);
      const unsigned distance = within ? c.distance : 1;  // a far one's cost is priced and dropped: no branch
      const unsigned bits = length_bits + distance_cost({GUIDE, k}, c.length, distance);
      t.match_bits += within ? bits : 0;
      t.far_bytes += within ? 0 : c.length;
      t.far_ascii_bits += within ? 0 : far_ascii_bits;
    }
  }

  FastParse& out_;
  std::span<const uint8_t> data_;
  size_t begin_ = 0;
  size_t end_;  // no match reaches past it
  size_t window_;
  // 32 - the hashed tables' key bits. Not an unsigned int: stores through
  // uint32_t pointers (the run table's) may alias one, and the compiler would
  // read it again after each.
  size_t hash_shift_ = 32 - MAX_HASH_BITS;
  PositionBits* last_pair_;    // by two bytes: the latest position they start
  PositionBits* last_triple_;  // by hash of three bytes: the latest position
  PositionBits* head_;         // by hash of four bytes: the latest position, the chain's head
  PositionBits* prev_;         // by position: the previous one of its chain
  // By byte value and run length (TRACKED_RUN + 1 lengths a value): where the
  // latest run of that value at least that long ended, or NO_RUN_END.
  uint32_t* run_end_;
  std::array<uint32_t, SUM_RING> sums_;
  size_t summed_ = 0;
  size_t run_ = 0;  // literals since the last match
};

FastParse::FastParse(std::span<const uint8_t> data, LiteralCoding guide, unsigned dict_bits)
    : FastParse(data, guide, dict_bits, data.size() >= MIN_SPLIT_INPUT ? data.size() / 2 : 0) {}

FastParse::FastParse(std::span<const uint8_t> data, LiteralCoding guide, unsigned dict_bits, size_t split)
    : data_(data), dict_bits_(dict_bits) {
  if (split == 0 || split >= data.size()) {
    parse(guide, 0, data.size());
    return;
  }
  FastParse second(data, dict_bits);
#if KVN_IMPLODE_THREADS
  std::exception_ptr failure;  // the other thread's, rethrown here (say, bad_alloc)
  {
    detail::CoreThread other([&] {
      try {
        second.parse(guide, split, data.size());
      } catch (...) {
        failure = std::current_exception();
      }
    });
    parse(guide, 0, split);
  }
  if (failure) std::rethrow_exception(failure);
#else
  parse(guide, 0, split);
  second.parse(guide, split, data.size());
#endif
  append(std::move(second));
}

FastParse::FastParse(std::span<const uint8_t> data, unsigned dict_bits) : data_(data), dict_bits_(dict_bits) {}

void FastParse::parse(LiteralCoding guide, size_t begin, size_t end) {
  // Every match takes two bytes or more, and a word holds at most MAX_RUN literals.
  const size_t span = end - begin;
  const size_t most_words = span / 2 + span / MAX_RUN + 2;
  words_ = TokenWords(most_words);
  if (guide == LiteralCoding::binary)
    Parser<LiteralCoding::binary>(*this, begin, end, most_words).run();
  else
    Parser<LiteralCoding::ascii>(*this, begin, end, most_words).run();
  if (!words_.borrows()) tables_.reset();  // kept for the next parse (fresh_pages.h)
}

// The later half's words and totals after this one's.
void FastParse::append(FastParse&& later) {
  assert(!later.words_.borrows());  // its room goes with it
  words_.append(std::move(later.words_));
  literal_count_ += later.literal_count_;
  literal_ascii_bits_ += later.literal_ascii_bits_;
  for (size_t k = 0; k < by_dict_.size(); ++k) {
    by_dict_[k].match_bits += later.by_dict_[k].match_bits;
    by_dict_[k].far_bytes += later.by_dict_[k].far_bytes;
    by_dict_[k].far_ascii_bits += later.by_dict_[k].far_ascii_bits;
  }
}

void FastParse::add_match(size_t run, unsigned length, unsigned distance) {
  for (; run > MAX_RUN; run -= MAX_RUN) words_.push(MAX_RUN << RUN_SHIFT);
  words_.push(static_cast<uint32_t>(run) << RUN_SHIFT | static_cast<uint32_t>(length) << LENGTH_SHIFT | (distance - 1));
}

// The literals after the last match: words without a match.
void FastParse::close_run(size_t run) {
  for (; run > MAX_RUN; run -= MAX_RUN) words_.push(MAX_RUN << RUN_SHIFT);
  if (run > 0) words_.push(static_cast<uint32_t>(run) << RUN_SHIFT);
}

uint64_t FastParse::bits(StreamFormat f) const {
  const Totals& t = by_dict_[f.dict_bits - 4];
  const uint64_t literal_bits =
      f.literals == LiteralCoding::binary ? 9 * (literal_count_ + t.far_bytes) : literal_ascii_bits_ + t.far_ascii_bits;
  return literal_bits + t.match_bits + END_MARKER_BITS;
}

void FastParse::emit(StreamFormat f, TokenSink& sink) const {
  size_t pos = 0;
  words_.for_each([&](uint32_t w) { emit_word(w, f.window(), pos, sink); });
}

// One word's literals and match; `pos` is where they start and moves past them.
void FastParse::emit_word(uint32_t w, unsigned window, size_t& pos, TokenSink& sink) const {
  for (const size_t end = pos + (w >> RUN_SHIFT); pos < end; ++pos) sink.literal(data_[pos]);
  const unsigned length = w >> LENGTH_SHIFT & LENGTH_MASK;
  if (length == 0) return;
  const unsigned distance = (w & DISTANCE_MASK) + 1;
  if (length == MIN_MATCH || distance <= window) {
    sink.match(length, distance);
    pos += length;
  } else {
    for (const size_t end = pos + length; pos < end; ++pos) sink.literal(data_[pos]);
  }
}

void parse_lazy(std::span<const uint8_t> data, StreamFormat format, TokenSink& sink) {
  FastParse(data, format.literals, format.dict_bits).emit(format, sink);
}

}  // namespace implode
