// Explode: table-driven decoder of the implode format.
//
// Two decoding paths share the work area and produce the same output, the same
// status and the same sequence of callback calls for every input:
//
// * The exact path (consume_bits / decode_symbol / decode_distance) keeps 8 to 15
//   bits of look-ahead in bit_buf and pulls one input byte whenever a take would
//   leave fewer than 8. It calls the read callback exactly when the current block
//   is used up and a byte is needed, and fails exactly where the stream runs out:
//   that timing is part of the decoder's observable behaviour.
// * The fast path runs while the input still holds every byte the next token
//   could possibly need (a token is at most 30 bits, so 8 bytes past the token's
//   first byte always suffice). Inside that margin no read and no failure can
//   happen, so it decodes whole tokens from a 64-bit little-endian load at the bit
//   position, with no per-bit refill and no per-byte bounds check. One load from
//   a 13-bit token table resolves the flag bit and the ASCII literal (two, where
//   both codes fit) or the length code with its extra bits, and for most short
//   matches the distance position code as well. When the margin runs out it
//   hands the bit position back to the exact path in the form that path keeps
//   (in_next, bit_buf, spare_bits).
//
// Output, explode_stream: out_buf[0, 4096) is history, fresh bytes go from 4096
// on. A token starts with out_fill in [4096, 8191] and writes at most 518 bytes, so
// its last byte is at most index 8708, the end of the window, and a distance of at
// most 4096 never reaches below index 0. After each token that reaches 8192 the
// block [4096, 8192) is written and moved down to become the history.
//
// explode_buffer runs the same fast path with the caller's input as its block and
// the caller's output buffer as its window: no read, write or move, and the only
// per-token check is whether a match reaches before the first output byte (into
// the zeroed history). Where the margins end (a few bytes before the end of the
// input, 533 bytes before the end of the output) it hands over to explode_stream's
// machinery, with read and write callbacks on the caller's buffers and the last
// 4096 output bytes as history, so the end of every stream, and any output past
// the caller's buffer, goes through the exact path as in explode_stream.
#include "explode.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <cstring>

#include "explode_lookups.h"

#ifndef KVN_EXPLODE_COMPACT
#define KVN_EXPLODE_COMPACT 0
#endif

namespace explode {
namespace {

using namespace implode_format;

constexpr uint32_t LITERAL_LIMIT = 256;
constexpr uint32_t ASCII_ESCAPE = 255;
constexpr uint32_t FLUSH_POINT = 2 * EXPLODE_OUT_BLOCK;
constexpr uint32_t FAST_INPUT_MARGIN = 8;               // bytes from the token's first byte
constexpr uint32_t MAX_TOKEN_BITS = 1 + 7 + 8 + 8 + 6;  // flag, length code and extra, distance
// copy_short_distance stores up to 48 bytes from the match's start.
static_assert(48 <= MIN_MATCH + EXPLODE_COPY_SLACK && STRAIGHT_MATCH <= 32);
// What one token may store past the output position: its longest match and the
// copy's overrun.
constexpr uint32_t FAST_OUTPUT_MARGIN = MAX_MATCH + EXPLODE_COPY_SLACK - 1;

static_assert(SYMBOL_END == LITERAL_LIMIT + END_LENGTH_VALUE);
static_assert(length_base[15] + 255 == END_LENGTH_VALUE);

// ---- Tables ---------------------------------------------------------------

#if KVN_EXPLODE_TABLES_AT_RUN_TIME
// Zero-initialised, so they take no room in the program file; built at the first
// decoding (the stub decodes on one thread). The compact build has no fast path,
// so it builds only the exact path's length and distance lookups.
Lookups run_time_lookups;
bool run_time_lookups_built = false;

const Lookups& decoder_lookups() {
  if (!run_time_lookups_built) {
    if (KVN_EXPLODE_COMPACT)
      build_code_lookups(run_time_lookups);
    else
      build_lookups(run_time_lookups);
    run_time_lookups_built = true;
  }
  return run_time_lookups;
}
#else
constexpr const Lookups& decoder_lookups() { return lookups; }
#endif

// Codes of up to 8 bits resolve in ascii_lookup. A longer code either leaves a
// non-zero first byte, which ascii_lookup marks as an escape and whose remaining
// bits resolve in ascii_lookup4 (after 4 bits) or ascii_lookup6 (after 6 bits,
// when the first 6 are zero), or starts with 8 zero bits and resolves in
// ascii_lookup8. ascii_bits_work keeps the bits left after the secondary lookup
// (it must hold ascii_bits on entry). The lookups leave the entries that no code
// reaches as they were.
template <typename AsciiTables>
constexpr void build_ascii_lookups(AsciiTables& w) {
  for (uint32_t ch = 256; ch-- > 0;) {
    uint32_t n = w.ascii_bits_work[ch];
    const uint32_t v = ascii_codes[ch];
    const auto ch8 = static_cast<uint8_t>(ch);
    if (n <= 8) {
      for (uint32_t j = v; j < 256; j += 1u << n) w.ascii_lookup[j] = ch8;
    } else if ((v & 0xFF) != 0) {
      w.ascii_lookup[v & 0xFF] = ASCII_ESCAPE;
      if ((v & 0x3F) != 0) {
        n -= 4;
        w.ascii_bits_work[ch] = static_cast<uint8_t>(n);
        for (uint32_t j = v >> 4; j < 256; j += 1u << n) w.ascii_lookup4[j] = ch8;
      } else {
        n -= 6;
        w.ascii_bits_work[ch] = static_cast<uint8_t>(n);
        for (uint32_t j = v >> 6; j < 128; j += 1u << n) w.ascii_lookup6[j] = ch8;
      }
    } else {
      n -= 8;
      w.ascii_bits_work[ch] = static_cast<uint8_t>(n);
      for (uint32_t j = v >> 8; j < 256; j += 1u << n) w.ascii_lookup8[j] = ch8;
    }
  }
}

#if !KVN_EXPLODE_TABLES_AT_RUN_TIME
// The ASCII lookups as build_ascii_lookups leaves them, made at compile time,
// with a mark on every entry it writes: a stream start copies the marked entries
// instead of building the lookups again (the build took about 0.5 us, 2 % of a
// 35 KB text's decoding).
struct AsciiImage {
  std::array<uint8_t, 256> ascii_lookup;
  std::array<uint8_t, 256> ascii_lookup4;
  std::array<uint8_t, 128> ascii_lookup6;
  std::array<uint8_t, 256> ascii_lookup8;
  std::array<uint8_t, 256> ascii_bits_work;
};

constexpr AsciiImage ascii_image_over(uint8_t fill) {
  AsciiImage image{};
  image.ascii_lookup.fill(fill);
  image.ascii_lookup4.fill(fill);
  image.ascii_lookup6.fill(fill);
  image.ascii_lookup8.fill(fill);
  image.ascii_bits_work = ascii_bits;
  build_ascii_lookups(image);
  return image;
}

// The image, and per entry 0xFF where the build writes it: the entries on which
// builds over two different fills agree.
struct MarkedAsciiImage {
  AsciiImage values;
  AsciiImage written;
};

constexpr MarkedAsciiImage make_marked_ascii_image() {
  const AsciiImage a = ascii_image_over(0x00);
  const AsciiImage b = ascii_image_over(0xFF);
  MarkedAsciiImage m{a, {}};
  auto mark = [](auto& written, const auto& x, const auto& y) {
    for (size_t j = 0; j < written.size(); ++j) written[j] = x[j] == y[j] ? 0xFF : 0x00;
  };
  mark(m.written.ascii_lookup, a.ascii_lookup, b.ascii_lookup);
  mark(m.written.ascii_lookup4, a.ascii_lookup4, b.ascii_lookup4);
  mark(m.written.ascii_lookup6, a.ascii_lookup6, b.ascii_lookup6);
  mark(m.written.ascii_lookup8, a.ascii_lookup8, b.ascii_lookup8);
  m.written.ascii_bits_work.fill(0xFF);
  return m;
}

constexpr MarkedAsciiImage marked_ascii_image = make_marked_ascii_image();

template <size_t N>
void copy_marked(uint8_t (&to)[N], const std::array<uint8_t, N>& values, const std::array<uint8_t, N>& written) {
  for (size_t j = 0; j < N; ++j) to[j] = static_cast<uint8_t>((to[j] & ~written[j]) | (values[j] & written[j]));
}

void prepare_ascii_lookups(ExplodeWork& w) {
  const auto& [values, written] = marked_ascii_image;
  copy_marked(w.ascii_lookup, values.ascii_lookup, written.ascii_lookup);
  copy_marked(w.ascii_lookup4, values.ascii_lookup4, written.ascii_lookup4);
  copy_marked(w.ascii_lookup6, values.ascii_lookup6, written.ascii_lookup6);
  copy_marked(w.ascii_lookup8, values.ascii_lookup8, written.ascii_lookup8);
  std::memcpy(w.ascii_bits_work, values.ascii_bits_work.data(), sizeof w.ascii_bits_work);
}
#else
void prepare_ascii_lookups(ExplodeWork& w) {
  std::memcpy(w.ascii_bits_work, ascii_bits.data(), sizeof w.ascii_bits_work);
  build_ascii_lookups(w);
}
#endif

// ---- Exact path -----------------------------------------------------------

// Takes n (0..8) bits. Fails only when a byte is needed and the read callback
// reports that no input is left; the caller then stops decoding.
bool consume_bits(ExplodeWork& w, uint32_t n) {
  if (w.spare_bits >= n) {
    w.bit_buf >>= n;
    w.spare_bits -= n;
    return true;
  }
  w.bit_buf >>= w.spare_bits;
  if (w.in_next == w.in_count) {
    uint32_t size = EXPLODE_IN_BLOCK;
    const uint32_t got = w.read_fn(w.in_buf, &size, w.user);
    if (got == 0) return false;
    w.in_count = got < EXPLODE_IN_BLOCK ? got : EXPLODE_IN_BLOCK;
    w.in_next = 0;
  }
  w.bit_buf |= static_cast<uint32_t>(w.in_buf[w.in_next++]) << 8;
  w.bit_buf >>= n - w.spare_bits;
  w.spare_bits += 8 - n;
  return true;
}

uint32_t decode_symbol(ExplodeWork& w, const Lookups& tables) {
  if (w.bit_buf & 1) {
    if (!consume_bits(w, 1)) return SYMBOL_FAILED;
    const LengthCode code = tables.length[w.bit_buf & 0xFF];
    if (!consume_bits(w, code.code_bits)) return SYMBOL_FAILED;
    if (code.extra_bits == 0) return LITERAL_LIMIT + code.base;
    const uint32_t value = code.base + (w.bit_buf & ((1u << code.extra_bits) - 1));
    // The end marker's extra bits are all in the look-ahead already: a stream may
    // end right behind it, so a failed refill there is no error.
    if (!consume_bits(w, code.extra_bits) && value != END_LENGTH_VALUE) return SYMBOL_FAILED;
    return LITERAL_LIMIT + value;
  }
  if (!consume_bits(w, 1)) return SYMBOL_FAILED;
  if (w.mode == 0) {
    const uint32_t literal = w.bit_buf & 0xFF;
    return consume_bits(w, 8) ? literal : SYMBOL_FAILED;
  }
  uint32_t ch;
  if ((w.bit_buf & 0xFF) != 0) {
    ch = w.ascii_lookup[w.bit_buf & 0xFF];
    if (ch == ASCII_ESCAPE) {
      if (w.bit_buf & 0x3F) {
        if (!consume_bits(w, 4)) return SYMBOL_FAILED;
        ch = w.ascii_lookup4[w.bit_buf & 0xFF];
      } else {
        if (!consume_bits(w, 6)) return SYMBOL_FAILED;
        ch = w.ascii_lookup6[w.bit_buf & 0x7F];
      }
    }
  } else {
    if (!consume_bits(w, 8)) return SYMBOL_FAILED;
    ch = w.ascii_lookup8[w.bit_buf & 0xFF];
  }
  return consume_bits(w, w.ascii_bits_work[ch]) ? ch : SYMBOL_FAILED;
}

// Returns the distance (1..4096), or 0 when the input ended.
uint32_t decode_distance(ExplodeWork& w, const Lookups& tables, uint32_t length) {
  const DistanceCode code = tables.distance[w.bit_buf & 0xFF];
  if (!consume_bits(w, code.code_bits)) return 0;
  const uint32_t h = code.high;
  uint32_t d;
  if (length == MIN_MATCH) {
    d = (h << 2) + (w.bit_buf & 3);
    if (!consume_bits(w, 2)) return 0;
  } else {
    d = (h << w.dict_bits) + (w.bit_buf & w.dict_mask);
    if (!consume_bits(w, w.dict_bits)) return 0;
  }
  return d + 1;
}

// ---- Match copies ---------------------------------------------------------

inline uint64_t load_le64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  return v;
}

inline void store_le64(uint8_t* p, uint64_t v) {
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  std::memcpy(p, &v, sizeof v);
}

// Copies a match forwards, byte by byte in effect: bytes written by the match
// itself are read again when the distance is shorter than the length. Needs
// EXPLODE_COPY_SLACK bytes of room behind the match: the copy moves whole words
// and may store up to 15 bytes past its end (bytes beyond the output position,
// overwritten before any match can reach them). Each word it loads holds only
// final bytes, or for a distance below 8 is used for its first `distance` bytes
// only: that pattern, repeated, is the whole match, and it is stored at every
// multiple of the distance within its first 8 bytes' reach.
inline void copy_match(uint8_t* out, uint32_t distance, uint32_t length) {
  const uint8_t* src = out - distance;
  uint8_t* const end = out + length;
  if (distance >= 16) {
    do {
      std::memcpy(out, src, 16);
      out += 16;
      src += 16;
    } while (out < end);
  } else if (distance >= 8) {
    do {
      std::memcpy(out, src, 8);
      out += 8;
      src += 8;
    } while (out < end);
  } else {
    uint64_t pattern = load_le64(src) & ((uint64_t{1} << (8 * distance)) - 1);
    for (uint32_t s = 8 * distance; s < 64; s *= 2) pattern |= pattern << s;
    const uint32_t step = 8 - 8 % distance;
    do {
      store_le64(out, pattern);
      out += step;
    } while (out < end);
  }
}

// A match of up to STRAIGHT_MATCH bytes at a distance below 16, copied with a
// fixed number of stores (at most 48 bytes from the match's start): from
// 8 up, in words of 8 whose source bytes are final before each is loaded; below
// 8, the pattern of `distance` bytes, repeated over a word, stored at every
// multiple of the distance that keeps the pattern's phase.
inline void copy_short_distance(uint8_t* out, uint32_t distance) {
  const uint8_t* src = out - distance;
  if (distance >= 8) {
    for (uint32_t i = 0; i < 32; i += 8) std::memcpy(out + i, src + i, 8);
    return;
  }
  // (x repeated) = x times the sum of 2^(8 * distance * j) over the word.
  static constexpr uint64_t repeat[8] = {0,
                                         0x0101010101010101,
                                         0x0001000100010001,
                                         0x0001000001000001,
                                         0x0000000100000001,
                                         0x0000010000000001,
                                         0x0001000000000001,
                                         0x0100000000000001};
  const uint64_t pattern = (load_le64(src) & ((uint64_t{1} << (8 * distance)) - 1)) * repeat[distance];
  const uint32_t step = 8 - 8 % distance;
  for (uint32_t i = 0; i < 6; ++i) store_le64(out + i * step, pattern);
}

// A match that reaches before the first output byte of explode_buffer's output:
// those positions read as the zeroed history.
[[gnu::noinline, gnu::cold]] void copy_match_from_start(const uint8_t* out_begin, uint8_t* out, uint32_t distance,
                                                        uint32_t length) {
  const size_t position = static_cast<size_t>(out - out_begin);
  for (uint32_t i = 0; i < length; ++i)
    out[i] = position + i >= distance ? out_begin[position + i - distance] : uint8_t{0};
}

// Writes the full block and moves it, with any bytes past it, down to the history.
inline void flush_if_full(ExplodeWork& w) {
  if (w.out_fill < FLUSH_POINT) return;
  uint32_t count = EXPLODE_OUT_BLOCK;
  w.write_fn(w.out_buf + EXPLODE_OUT_BLOCK, &count, w.user);
  std::memmove(w.out_buf, w.out_buf + EXPLODE_OUT_BLOCK, w.out_fill - EXPLODE_OUT_BLOCK);
  w.out_fill -= EXPLODE_OUT_BLOCK;
}

// ---- Fast path ------------------------------------------------------------

// The flag bits of seven binary literals in a row, each 9 bits from the last.
constexpr uint64_t BINARY_FLAG_BITS = 0x0040201008040201;

// n / 9 for n up to 63.
constexpr uint32_t div9(uint32_t n) { return (n * 57) >> 9; }
static_assert([] {
  for (uint32_t n = 0; n < 64; ++n)
    if (div9(n) != n / 9) return false;
  return true;
}());

// The bytes of seven binary literals in a row (flag bit first, then the byte),
// packed into bytes 0-6.
inline uint64_t binary_literal_bytes(uint64_t bits) {
  uint64_t bytes = 0;
  for (uint32_t i = 0; i < 7; ++i) bytes |= ((bits >> (9 * i + 1)) & 0xFF) << (8 * i);
  return bytes;
}

// A token's leading part as decoded: the literal byte or the match's length
// value, and the stream bits it took (flag bit included).
struct TokenLead {
  uint32_t value;
  uint32_t taken;
  bool match;
};

// The leading part of a token that the token table leaves to the step-by-step
// route: a long length code (see explode_lookups.h; the end marker among them)
// or a long ASCII literal code.
TokenLead decode_long_lead(const ExplodeWork& w, const Lookups& tables, uint64_t bits) {
  if (bits & 1) {
    const LengthCode code = tables.length[(bits >> 1) & 0xFF];
    const uint32_t code_taken = 1u + code.code_bits;
    const uint32_t value = code.base + (static_cast<uint32_t>(bits >> code_taken) & ((1u << code.extra_bits) - 1));
    return {value, code_taken + code.extra_bits, true};
  }
  const uint32_t c = static_cast<uint32_t>(bits >> 1);
  uint32_t literal;
  if ((c & 0xFF) != 0) {
    literal = (c & 0x3F) ? w.ascii_lookup4[(c >> 4) & 0xFF] : w.ascii_lookup6[(c >> 6) & 0x7F];
  } else {
    literal = w.ascii_lookup8[(c >> 8) & 0xFF];
  }
  return {literal, 1u + ascii_bits[literal], false};
}

// Where the output goes in the fast path: explode_stream's window (flushed
// through the write callback at 8192) or explode_buffer's output buffer (which
// holds the whole output; a match may reach before its first byte).
enum class Output { window, buffer };

// The fast path's bounds and where it stopped.
struct FastRun {
  const uint8_t* in;           // the input block; bit positions count from in[0]
  const uint8_t* in_fast_end;  // the last address a refill may load 8 bytes from
  uint64_t position;           // bit position of the next token
  uint8_t* out_begin;          // the window, or the first byte of the output buffer
  uint8_t* out;                // where the next output byte goes
  uint8_t* out_fast_end;       // Output::buffer: no token starts beyond this
};

// Decodes tokens while the margins hold. Returns SYMBOL_END after the end marker
// (`run` then holds the output position only), or 0 with `run` at the first token
// it left undecoded.
//
// The bits live in a 64-bit register, refilled without a branch: it is topped up
// from the next unread input byte to 56..63 valid bits, which covers the longest
// token (30 bits), or two when the first is straight (at most 19 bits). The
// refill loads 8 bytes, so it runs only while 8 bytes remain in the block; every
// byte the exact path would fetch for a token then lies in the block too (it
// needs at most the byte after the token's last bit plus the 8-bit look-ahead),
// so no read and no failure can fall inside a token decoded here.
//
// Most tokens take the straight route: one load from the fast token table gives
// the bits to take and a source to copy 32 bytes from, the output for a literal
// or two ASCII ones (from the table of byte values and pairs) or for a match of
// up to 32 bytes at a distance of 16 or more (from the output; shorter distances
// repeat their pattern), so that literals and short matches, however they
// alternate, meet no branch that depends on which they are. Tokens marked
// stepwise take the general route, and with Checked so does every match that
// reaches before the first output byte. Checked is for explode_buffer's first
// 4096 output bytes, where a match may do that; from then on no distance can.
template <bool Ascii, Output Mode, bool Checked>
uint32_t decode_fast(ExplodeWork& w, const Lookups& tables, FastRun& run) {
  const uint8_t* const in = run.in;
  const uint8_t* const in_fast_end = run.in_fast_end;
  const uint8_t* next_byte = in + (run.position >> 3);  // first byte not wholly in `bits`
  uint8_t* const out_begin = run.out_begin;
  uint8_t* out = run.out;
  uint8_t* const out_fast_end = run.out_fast_end;
  const uint32_t dict_bits = w.dict_bits;
  // ASCII literals come one or two to a token (see ascii_pair_tokens).
  const FastTokenTable& fast_tokens =
      Ascii ? tables.ascii_pair_tokens[dict_bits - MIN_DICT_BITS] : tables.fast_tokens[0][dict_bits - MIN_DICT_BITS];
  // literal_source - (b + LITERAL_DISPLACE) holds the byte b; with ASCII
  // literals, lower addresses hold the pairs.
  const uint8_t* const literal_source =
      Ascii ? tables.ascii_literal_bytes.data() + ASCII_PAIR_BYTES + 255 + LITERAL_DISPLACE
            : tables.literal_bytes.data() + 255 + LITERAL_DISPLACE;
  uint64_t bits = 0;
  // Valid bits in `bits`: the low 6 bits of bits_left. The straight route
  // subtracts its whole table entry, whose low 6 bits are the shift, and leaves
  // whatever it borrows above them.
  uint32_t bits_left = 0;
  // Branch-free refill: the loaded word lands above the valid bits; whole bytes
  // that fit are counted in. Bits above bits_left are the stream's next bits, so
  // OR-ing the same word in again later is harmless.
  auto refill = [&] {
    bits |= load_le64(next_byte) << (bits_left & 63);
    next_byte += 7 - ((bits_left >> 3) & 7);
    bits_left |= 56;
  };
  auto take = [&](uint32_t n) {
    bits >>= n;
    bits_left -= n;
  };
  if (next_byte > in_fast_end) return 0;
  refill();
  take(run.position & 7);
  uint32_t result = 0;

  // Decodes the token at the bit position, whose table entry is `token`. After
  // a straight token the register still holds a whole token; after any other it
  // may not.
  enum class Step { straight, needs_refill, end };
  auto decode_token = [&](const FastToken token) __attribute__((always_inline))->Step {
    // A token starts with room behind `out` for the longest match and its copy,
    // and every bit it can need in the register.
    assert(Mode == Output::buffer || (out >= out_begin + EXPLODE_OUT_BLOCK && out < out_begin + FLUSH_POINT));
    assert(Mode == Output::window || out <= out_fast_end);
    assert(!Checked || out < out_begin + EXPLODE_OUT_BLOCK);
    assert((bits_left & 63) >= MAX_TOKEN_BITS);
    if (!Ascii && (bits & 0x201) == 0) {
      // Two or more binary literals: every 9-bit group up to the first match flag
      // (or the last whole group in the register), without a branch per literal.
      const uint64_t flags = (bits & BINARY_FLAG_BITS) | (uint64_t{1} << 63);
      const uint32_t literals = std::min(div9(std::countr_zero(flags)), div9(bits_left & 63));
      store_le64(out, binary_literal_bytes(bits));
      out += literals;
      take(9 * literals);
      return Step::needs_refill;
    }
    const uint32_t low_mask = (1u << (token.shift - token.through)) - 1;
    const uint32_t displace = token.displace + (static_cast<uint32_t>(bits >> token.through) & low_mask);
    // Checked: a match that reaches before the first output byte takes the
    // general route.
    if (!token.stepwise && (!Checked || token.literal || displace <= static_cast<size_t>(out - out_begin))) {
      assert(token.shift <= MAX_STRAIGHT_TOKEN_BITS);
      // The shift is the entry's low 6 bits (see bits_left).
      const uint32_t raw = std::bit_cast<uint32_t>(token);
      bits >>= raw & 63;
      bits_left -= raw;
      assert(token.literal || token.advance <= STRAIGHT_MATCH);
      // Binary streams copy in words of 8, whose source bytes are final before
      // each is loaded from a distance of 8 on, so that distances 8 to 15 (one
      // match in ten in PE files) need no branch. Text streams, whose straight
      // tokens are mostly literals and rarely that near, copy in halves of 16,
      // which measured faster there.
      constexpr uint32_t straight_distance = Ascii ? 16 : 8;
      if (displace < straight_distance) [[unlikely]] {
        // The match's source overlaps its own output within one copy step.
        copy_short_distance(out, displace);
        out += token.advance;
        return Step::straight;
      }
      const uint8_t* const src = (token.literal ? literal_source : out) - displace;
      for (uint32_t i = 0; i < 32; i += straight_distance) std::memcpy(out + i, src + i, straight_distance);
      out += token.advance;
      return Step::straight;
    }
    // The step-by-step route: a match or a special token, one part after the
    // other (a literal is never stepwise, and takes the straight route above).
    assert(!token.literal);
    uint32_t length;
    uint32_t distance;
    if (!token.special()) {
      length = token.advance;
      distance = displace;
      take(token.shift);
    } else {
      TokenLead lead{token.advance - MIN_MATCH, token.shift, true};
      if (token.advance == 0) {
        lead = decode_long_lead(w, tables, bits);
        if (lead.match && lead.value == END_LENGTH_VALUE) return Step::end;
      }
      take(lead.taken);
      if (!lead.match) {
        *out++ = static_cast<uint8_t>(lead.value);
        return Step::needs_refill;
      }
      length = lead.value + MIN_MATCH;
      const DistanceCode code = tables.distance[bits & 0xFF];
      const uint32_t low_bits = length == MIN_MATCH ? 2 : dict_bits;
      distance = (uint32_t{code.high} << low_bits) +
                 (static_cast<uint32_t>(bits >> code.code_bits) & ((1u << low_bits) - 1)) + 1;
      take(code.code_bits + low_bits);
    }
    if (Checked && distance > static_cast<size_t>(out - out_begin))
      copy_match_from_start(out_begin, out, distance, length);
    else
      copy_match(out, distance, length);
    out += length;
    return Step::needs_refill;
  };
  auto flush_window = [&] {
    if (Mode == Output::window && out >= out_begin + FLUSH_POINT) {
      w.out_fill = static_cast<uint32_t>(out - out_begin);
      flush_if_full(w);
      out = out_begin + w.out_fill;
    }
  };

  // Two tokens per refill when the first is straight. With ASCII literals the
  // first token's entry is loaded before the refill, from the bits already held,
  // so the table load does not wait for the refill's load (the text streams'
  // tokens are short and most of them straight). At the top of the loop the
  // register holds at least TOKEN_INDEX_BITS bits: 56 less two straight tokens,
  // or less any one token, or a fresh refill after a second token that was not
  // straight.
  static_assert(56 - 2 * MAX_STRAIGHT_TOKEN_BITS >= TOKEN_INDEX_BITS && 56 - MAX_TOKEN_BITS >= TOKEN_INDEX_BITS);
  static_assert(56 - MAX_STRAIGHT_TOKEN_BITS >= MAX_TOKEN_BITS);
  while (next_byte <= in_fast_end && (Mode == Output::window || out <= out_fast_end)) {
    assert(!Ascii || (bits_left & 63) >= TOKEN_INDEX_BITS);
    FastToken first_token{};
    if constexpr (Ascii) first_token = fast_tokens[bits & TOKEN_INDEX_MASK];
    refill();
    if constexpr (!Ascii) first_token = fast_tokens[bits & TOKEN_INDEX_MASK];
    const Step first = decode_token(first_token);
    if (first == Step::end) {
      result = SYMBOL_END;
      break;
    }
    flush_window();
    if (first == Step::straight && (Mode == Output::window || out <= out_fast_end)) {
      const Step second = decode_token(fast_tokens[bits & TOKEN_INDEX_MASK]);
      if (second == Step::end) {
        result = SYMBOL_END;
        break;
      }
      flush_window();
      // (When the input margin has run out, the loop ends at its top instead.)
      if (Ascii && second == Step::needs_refill && next_byte <= in_fast_end) refill();
    }
  }
  run.out = out;
  run.position = static_cast<uint64_t>(next_byte - in) * 8 - (bits_left & 63);
  return result;
}

// The exact path's reader state for a bit position in the current block: in_next
// is the first byte past the minimal look-ahead of 8 bits.
void hand_back(ExplodeWork& w, uint64_t position) {
  const auto in_next = static_cast<uint32_t>((position + 15) >> 3);
  const auto spare = static_cast<uint32_t>(in_next * 8 - position - 8);
  const uint32_t last_two = w.in_buf[in_next - 2] | static_cast<uint32_t>(w.in_buf[in_next - 1]) << 8;
  assert(in_next >= 2 && in_next <= w.in_count && spare < 8);
  w.in_next = in_next;
  w.spare_bits = spare;
  w.bit_buf = last_two >> (8 - spare);
}

// True when the exact path's look-ahead lies wholly in the current block and the
// block holds the fast path's margin.
inline bool fast_path_ready(const ExplodeWork& w) {
  return w.in_next >= 2 && w.in_count >= w.in_next + FAST_INPUT_MARGIN - 1;
}

// The fast path on the current input block and the window. Returns SYMBOL_END
// after the end marker, or 0 when the exact path must take over; the work area
// then holds the exact path's state for the bit position reached.
template <bool Ascii>
uint32_t decode_fast_in_window(ExplodeWork& w, const Lookups& tables) {
  // The exact path's look-ahead (8 + spare bits) ends at the byte boundary in_next.
  FastRun run{w.in_buf,
              w.in_buf + w.in_count - FAST_INPUT_MARGIN,
              uint64_t{w.in_next} * 8 - 8 - w.spare_bits,
              w.out_buf,
              w.out_buf + w.out_fill,
              nullptr};
  const uint32_t result = decode_fast<Ascii, Output::window, false>(w, tables, run);
  w.out_fill = static_cast<uint32_t>(run.out - w.out_buf);
  if (result == SYMBOL_END) return result;  // the reader's state no longer matters
  hand_back(w, run.position);
  return 0;
}

// One token through the exact path. Returns the symbol (SYMBOL_END and
// SYMBOL_FAILED stop the loop).
uint32_t decode_exact_token(ExplodeWork& w, const Lookups& tables) {
  uint32_t symbol = decode_symbol(w, tables);
  if (symbol >= SYMBOL_END) return symbol;
  if (symbol < LITERAL_LIMIT) {
    w.out_buf[w.out_fill++] = static_cast<uint8_t>(symbol);
  } else {
    const uint32_t length = symbol - (LITERAL_LIMIT - MIN_MATCH);
    const uint32_t distance = decode_distance(w, tables, length);
    if (distance == 0) return SYMBOL_FAILED;
    copy_match(w.out_buf + w.out_fill, distance, length);
    w.out_fill += length;
  }
  flush_if_full(w);
  return symbol;
}

// The compact build (the stub, built for size) decodes every token through the
// exact path: same results, a fraction of the code.
template <bool Ascii>
uint32_t decode_tokens(ExplodeWork& w, const Lookups& tables) {
  for (;;) {
    if (!KVN_EXPLODE_COMPACT && fast_path_ready(w) && decode_fast_in_window<Ascii>(w, tables) == SYMBOL_END)
      return SYMBOL_END;
    const uint32_t symbol = decode_exact_token(w, tables);
    if (symbol >= SYMBOL_END) return symbol;
  }
}

// Checks the header in the first block (at least 5 bytes) and prepares the work
// area for its mode. Returns EXPLODE_OK when decoding may start.
ExplodeStatus start_stream(ExplodeWork& w, const uint8_t* header) {
  w.mode = header[0];
  w.dict_bits = header[1];
  if (w.dict_bits < 4 || w.dict_bits > 6) return EXPLODE_BAD_DICTIONARY;
  w.dict_mask = (1u << w.dict_bits) - 1;
  if (w.mode == 1) {
    prepare_ascii_lookups(w);
  } else if (w.mode != 0) {
    return EXPLODE_BAD_MODE;
  }
  return EXPLODE_OK;
}

// Runs the token loop from the work area's state to the end of the stream and
// makes the final write. Returns the stream's status.
ExplodeStatus finish_stream(ExplodeWork& w, const Lookups& tables) {
  const uint32_t last = w.mode == 1 ? decode_tokens<true>(w, tables) : decode_tokens<false>(w, tables);
  uint32_t count = w.out_fill - EXPLODE_OUT_BLOCK;
  w.write_fn(w.out_buf + EXPLODE_OUT_BLOCK, &count, w.user);
  return last == SYMBOL_FAILED ? EXPLODE_INPUT_ENDED : EXPLODE_OK;
}

// ---- Whole buffers --------------------------------------------------------

// explode_buffer's callbacks for the part of the stream that goes through the
// window: reads hand out the input from `read_position` on, writes append to the
// output while it has room and count every byte.
struct BufferStreams {
  std::span<const uint8_t> input;
  size_t read_position;
  std::span<uint8_t> output;
  uint64_t size;  // bytes written so far, stored or not
};

uint32_t buffer_read(uint8_t* buffer, uint32_t* size, void* user) {
  auto& s = *static_cast<BufferStreams*>(user);
  const size_t left = s.input.size() - s.read_position;
  const auto n = static_cast<uint32_t>(left < *size ? left : *size);
  std::memcpy(buffer, s.input.data() + s.read_position, n);
  s.read_position += n;
  return n;
}

void buffer_write(const uint8_t* buffer, uint32_t* count, void* user) {
  auto& s = *static_cast<BufferStreams*>(user);
  if (s.size < s.output.size()) {
    const auto room = static_cast<size_t>(s.output.size() - s.size);
    std::memcpy(s.output.data() + s.size, buffer, *count < room ? *count : room);
  }
  s.size += *count;
}

// The fast path on explode_buffer's buffers: checked while a match may reach
// before the first output byte, then without that check.
template <bool Ascii>
uint32_t decode_fast_in_buffer(ExplodeWork& w, const Lookups& tables, FastRun& run) {
  if (static_cast<size_t>(run.out - run.out_begin) < EXPLODE_OUT_BLOCK) {
    FastRun first = run;
    first.out_fast_end = std::min(run.out_fast_end, run.out_begin + EXPLODE_OUT_BLOCK - 1);
    const uint32_t result = decode_fast<Ascii, Output::buffer, true>(w, tables, first);
    run.position = first.position;
    run.out = first.out;
    if (result == SYMBOL_END || static_cast<size_t>(run.out - run.out_begin) < EXPLODE_OUT_BLOCK) return result;
  }
  return decode_fast<Ascii, Output::buffer, false>(w, tables, run);
}

}  // namespace

ExplodeStatus explode_stream(ExplodeReadFn read_fn, ExplodeWriteFn write_fn, ExplodeWork* work, void* user) {
  ExplodeWork& w = *work;
  w.read_fn = read_fn;
  w.write_fn = write_fn;
  w.user = user;
  std::memset(w.out_buf, 0, EXPLODE_OUT_BLOCK);

  uint32_t size = EXPLODE_IN_BLOCK;
  const uint32_t got = read_fn(w.in_buf, &size, user);
  if (got <= 4) return EXPLODE_SHORT_INPUT;
  w.in_count = got < EXPLODE_IN_BLOCK ? got : EXPLODE_IN_BLOCK;
  if (const ExplodeStatus status = start_stream(w, w.in_buf); status != EXPLODE_OK) return status;
  w.bit_buf = w.in_buf[2];
  w.spare_bits = 0;
  w.in_next = 3;
  w.out_fill = EXPLODE_OUT_BLOCK;
  return finish_stream(w, decoder_lookups());
}

ExplodeBufferResult explode_buffer(std::span<const uint8_t> input, std::span<uint8_t> output, ExplodeWork* work) {
  ExplodeWork& w = *work;
  if (input.size() <= 4) return {EXPLODE_SHORT_INPUT, 0};
  if (const ExplodeStatus status = start_stream(w, input.data()); status != EXPLODE_OK) return {status, 0};
  const Lookups& tables = decoder_lookups();

  // The fast path straight on the caller's buffers, from the first token (bit 16).
  FastRun run{input.data(), nullptr, 16, output.data(), output.data(), nullptr};
  if (!KVN_EXPLODE_COMPACT && input.size() >= FAST_INPUT_MARGIN && output.size() > FAST_OUTPUT_MARGIN) {
    run.in_fast_end = input.data() + input.size() - FAST_INPUT_MARGIN;
    run.out_fast_end = output.data() + output.size() - FAST_OUTPUT_MARGIN;
    const uint32_t result =
        w.mode == 1 ? decode_fast_in_buffer<true>(w, tables, run) : decode_fast_in_buffer<false>(w, tables, run);
    if (result == SYMBOL_END) return {EXPLODE_OK, static_cast<uint64_t>(run.out - output.data())};
  }

  // The rest through the window: its history is the last 4096 output bytes,
  // behind zeros where there are fewer.
  const auto produced = static_cast<size_t>(run.out - output.data());
  const size_t history = produced < EXPLODE_OUT_BLOCK ? produced : EXPLODE_OUT_BLOCK;
  std::memset(w.out_buf, 0, EXPLODE_OUT_BLOCK - history);
  std::memcpy(w.out_buf + EXPLODE_OUT_BLOCK - history, run.out - history, history);
  w.out_fill = EXPLODE_OUT_BLOCK;
  // The input from the two bytes that hold the exact path's look-ahead on, as a
  // read would hand it out.
  const auto in_next = static_cast<size_t>((run.position + 15) >> 3);
  BufferStreams streams{input, in_next - 2, output, produced};
  w.read_fn = buffer_read;
  w.write_fn = buffer_write;
  w.user = &streams;
  uint32_t size = EXPLODE_IN_BLOCK;
  w.in_count = buffer_read(w.in_buf, &size, &streams);
  hand_back(w, run.position - (in_next - 2) * 8);
  const ExplodeStatus status = finish_stream(w, tables);
  return {status, streams.size};
}

}  // namespace explode
