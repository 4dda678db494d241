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
// * The fast path runs while the current input block still holds every byte the
//   next token could possibly need (a token is at most 30 bits, so 8 bytes past the
//   token's first byte always suffice). Inside that margin no read and no failure
//   can happen, so it decodes whole tokens from a 64-bit little-endian load at the
//   bit position, with no per-bit refill and no per-byte bounds check. One load
//   from an 11-bit token table resolves the flag bit and the ASCII literal or the
//   length code with its extra bits for all but the rare long codes. When the margin
//   runs out it hands the bit position back to the exact path in the form that
//   path keeps (in_next, bit_buf, spare_bits).
//
// Output: out_buf[0, 4096) is history, fresh bytes go from 4096 on. A token starts
// with out_fill in [4096, 8191] and writes at most 518 bytes, so its last byte is
// at most index 8708, the end of out_buf, and a distance of at most 4096 never
// reaches below index 0. After each token that reaches 8192 the block [4096, 8192)
// is written and moved down to become the history.
#include "explode.h"

#include <bit>
#include <cassert>
#include <cstring>

#include "explode_lookups.h"

namespace explode {
namespace {

using namespace implode_format;

constexpr uint32_t LITERAL_LIMIT = 256;
constexpr uint32_t ASCII_ESCAPE = 255;
constexpr uint32_t FLUSH_POINT = 2 * EXPLODE_OUT_BLOCK;
constexpr uint32_t FAST_INPUT_MARGIN = 8;               // bytes from the token's first byte
constexpr uint32_t MAX_TOKEN_BITS = 1 + 7 + 8 + 8 + 6;  // flag, length code and extra, distance

static_assert(SYMBOL_END == LITERAL_LIMIT + END_LENGTH_VALUE);
static_assert(length_base[15] + 255 == END_LENGTH_VALUE);

// ---- Table set-up ---------------------------------------------------------

// Codes of up to 8 bits resolve in ascii_lookup. A longer code either leaves a
// non-zero first byte, which ascii_lookup marks as an escape and whose remaining
// bits resolve in ascii_lookup4 (after 4 bits) or ascii_lookup6 (after 6 bits,
// when the first 6 are zero), or starts with 8 zero bits and resolves in
// ascii_lookup8. ascii_bits_work keeps the bits left after the secondary lookup.
void build_ascii_lookups(ExplodeWork& w) {
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

uint32_t decode_symbol(ExplodeWork& w) {
  if (w.bit_buf & 1) {
    if (!consume_bits(w, 1)) return SYMBOL_FAILED;
    const LengthCode code = lookups.length[w.bit_buf & 0xFF];
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
uint32_t decode_distance(ExplodeWork& w, uint32_t length) {
  const DistanceCode code = lookups.distance[w.bit_buf & 0xFF];
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

// ---- Output window --------------------------------------------------------

// Copies a match forwards, byte by byte in effect: bytes written by the match
// itself are read again when the distance is shorter than the length. Wide copies
// are used only where the source bytes of each word are already final, and may
// run up to 7 bytes past the match's end while that stays inside out_buf (those
// bytes lie beyond out_fill: never output, and overwritten before any match can
// reach them).
inline void copy_match(uint8_t* out_base, uint32_t out_fill, uint32_t distance, uint32_t length) {
  uint8_t* out = out_base + out_fill;
  const uint8_t* src = out - distance;
  if (distance >= 16 && out_fill + length + 15 <= EXPLODE_OUT_BUF) {
    uint32_t done = 0;
    do {
      std::memcpy(out + done, src + done, 16);
      done += 16;
    } while (done < length);
    return;
  }
  if (distance >= 8) {
    if (out_fill + length + 7 <= EXPLODE_OUT_BUF) {
      for (uint32_t done = 0; done < length; done += 8) std::memcpy(out + done, src + done, 8);
      return;
    }
    uint32_t done = 0;
    for (; done + 8 <= length; done += 8) std::memcpy(out + done, src + done, 8);
    for (; done < length; ++done) out[done] = src[done];
  } else if (distance == 1) {
    std::memset(out, src[0], length);
  } else {
    for (uint32_t i = 0; i < length; ++i) out[i] = src[i];
  }
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

inline uint64_t load_le64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  return v;
}

// True when the exact path's look-ahead lies wholly in the current block and the
// block holds the fast path's margin.
inline bool fast_path_ready(const ExplodeWork& w) {
  return w.in_next >= 2 && w.in_count >= w.in_next + FAST_INPUT_MARGIN - 1;
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
inline TokenLead decode_long_lead(const ExplodeWork& w, uint64_t bits) {
  if (bits & 1) {
    const LengthCode code = lookups.length[(bits >> 1) & 0xFF];
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

// Decodes tokens while the margin holds. Returns SYMBOL_END after the end marker,
// or 0 when the exact path must take over; the work area then holds the exact
// path's state for the bit position reached.
//
// The bits live in a 64-bit register, refilled before every token without a
// branch: it is topped up from the next unread input byte to 56..63 valid bits,
// which covers the longest token (30 bits). The refill loads 8 bytes, so it runs
// only while 8 bytes remain in the block; every byte the exact path would fetch
// for the token then lies in the block too (it needs at most the byte after the
// token's last bit plus the 8-bit look-ahead), so no read and no failure can
// fall inside a token decoded here.
template <bool Ascii>
uint32_t decode_fast(ExplodeWork& w) {
  const uint8_t* const in = w.in_buf;
  uint8_t* const out = w.out_buf;
  const uint8_t* const in_fast_end = in + w.in_count - FAST_INPUT_MARGIN;  // last refill address
  const uint32_t dict_bits = w.dict_bits;
  const uint32_t dict_mask = w.dict_mask;
  // The exact path's look-ahead (8 + spare bits) ends at the byte boundary in_next.
  const uint32_t start = w.in_next * 8 - 8 - w.spare_bits;
  const uint8_t* next_byte = in + (start >> 3);  // first byte not wholly in `bits`
  if (next_byte > in_fast_end) return 0;
  uint64_t bits = 0;
  uint32_t bits_left = 0;
  // Branch-free refill: the loaded word lands above the valid bits; whole bytes
  // that fit are counted in. Bits above bits_left are the stream's next bits, so
  // OR-ing the same word in again later is harmless.
  auto refill = [&] {
    bits |= load_le64(next_byte) << bits_left;
    next_byte += 7 - ((bits_left >> 3) & 7);
    bits_left |= 56;
  };
  refill();
  bits >>= start & 7;
  bits_left -= start & 7;
  const TokenTable& tokens = lookups.tokens;
  uint32_t out_fill = w.out_fill;
  uint32_t result = 0;

  while (next_byte <= in_fast_end) {
    refill();
    // Tokens are decoded from the register while it holds the longest one.
    do {
      // A token starts with room in out_buf for the longest match, and every bit
      // it can need in the register.
      assert(out_fill >= EXPLODE_OUT_BLOCK && out_fill < FLUSH_POINT);
      assert(bits_left >= MAX_TOKEN_BITS);
      if (!Ascii && (bits & 1) == 0) {
        // A binary literal is always 9 bits: no load stands between its bits and
        // the next token's.
        out[out_fill++] = static_cast<uint8_t>(bits >> 1);
        bits >>= 9;
        bits_left -= 9;
      } else {
        const TokenEntry entry = tokens[bits & TOKEN_INDEX_MASK];
        TokenLead lead{entry.value, entry.taken, static_cast<bool>(entry.match)};
        if (entry.slow) [[unlikely]] {
          lead = decode_long_lead(w, bits);
          if (lead.match && lead.value == END_LENGTH_VALUE) {
            result = SYMBOL_END;
            break;
          }
        }
        bits >>= lead.taken;
        bits_left -= lead.taken;
        // A literal's byte goes out in any case: a match's copy overwrites it.
        out[out_fill] = static_cast<uint8_t>(lead.value);
        if (!lead.match) {
          ++out_fill;
        } else {
          const uint32_t length = lead.value + MIN_MATCH;
          const DistanceCode code = lookups.distance[bits & 0xFF];
          const uint32_t low_bits = length == MIN_MATCH ? 2 : dict_bits;
          const uint32_t low_mask = length == MIN_MATCH ? 3 : dict_mask;
          const uint32_t distance =
              (uint32_t{code.high} << low_bits) + (static_cast<uint32_t>(bits >> code.code_bits) & low_mask) + 1;
          const uint32_t taken = code.code_bits + low_bits;
          bits >>= taken;
          bits_left -= taken;
          copy_match(out, out_fill, distance, length);
          out_fill += length;
        }
      }
      if (out_fill >= FLUSH_POINT) {
        w.out_fill = out_fill;
        flush_if_full(w);
        out_fill = w.out_fill;
      }
    } while (bits_left >= MAX_TOKEN_BITS);
    if (result == SYMBOL_END) break;
  }
  w.out_fill = out_fill;
  if (result == SYMBOL_END) return result;  // the reader's state no longer matters
  const uint32_t pos = static_cast<uint32_t>(next_byte - in) * 8 - bits_left;
  // Hand back: in_next is the first byte past the minimal look-ahead of 8 bits.
  const uint32_t in_next = (pos + 15) >> 3;
  const uint32_t spare = in_next * 8 - pos - 8;
  const uint32_t last_two = in[in_next - 2] | static_cast<uint32_t>(in[in_next - 1]) << 8;
  assert(in_next >= 2 && in_next <= w.in_count && spare < 8);
  w.in_next = in_next;
  w.spare_bits = spare;
  w.bit_buf = last_two >> (8 - spare);
  return 0;
}

// One token through the exact path. Returns the symbol (SYMBOL_END and
// SYMBOL_FAILED stop the loop).
uint32_t decode_exact_token(ExplodeWork& w) {
  uint32_t symbol = decode_symbol(w);
  if (symbol >= SYMBOL_END) return symbol;
  if (symbol < LITERAL_LIMIT) {
    w.out_buf[w.out_fill++] = static_cast<uint8_t>(symbol);
  } else {
    const uint32_t length = symbol - (LITERAL_LIMIT - MIN_MATCH);
    const uint32_t distance = decode_distance(w, length);
    if (distance == 0) return SYMBOL_FAILED;
    copy_match(w.out_buf, w.out_fill, distance, length);
    w.out_fill += length;
  }
  flush_if_full(w);
  return symbol;
}

template <bool Ascii>
uint32_t decode_tokens(ExplodeWork& w) {
  for (;;) {
    if (fast_path_ready(w) && decode_fast<Ascii>(w) == SYMBOL_END) return SYMBOL_END;
    const uint32_t symbol = decode_exact_token(w);
    if (symbol >= SYMBOL_END) return symbol;
  }
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
  w.mode = w.in_buf[0];
  w.dict_bits = w.in_buf[1];
  w.bit_buf = w.in_buf[2];
  w.spare_bits = 0;
  w.in_next = 3;
  if (w.dict_bits < 4 || w.dict_bits > 6) return EXPLODE_BAD_DICTIONARY;
  w.dict_mask = (1u << w.dict_bits) - 1;
  if (w.mode == 1) {
    std::memcpy(w.ascii_bits_work, ascii_bits.data(), sizeof w.ascii_bits_work);
    build_ascii_lookups(w);
  } else if (w.mode != 0) {
    return EXPLODE_BAD_MODE;
  }

  w.out_fill = EXPLODE_OUT_BLOCK;
  const uint32_t last = w.mode == 1 ? decode_tokens<true>(w) : decode_tokens<false>(w);
  uint32_t count = w.out_fill - EXPLODE_OUT_BLOCK;
  w.write_fn(w.out_buf + EXPLODE_OUT_BLOCK, &count, w.user);
  return last == SYMBOL_FAILED ? EXPLODE_INPUT_ENDED : EXPLODE_OK;
}

}  // namespace explode
