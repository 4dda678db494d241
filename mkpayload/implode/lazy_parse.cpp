// Fast parser: hash chains over 2-byte prefixes, the candidate of most bits saved
// at each position, and one step of lazy evaluation (a literal now, when the next
// position offers a better match).
#include <algorithm>

#include "implode_encoder.h"

namespace implode {
namespace {

using namespace implode_format;

constexpr unsigned CHAIN_LIMIT = 32;  // candidates looked at per position
constexpr size_t NICE_LENGTH = 96;    // a match this long ends the search
constexpr unsigned HISTORY = 4096;    // widest window (k = 6)
constexpr uint32_t NO_POSITION = UINT32_MAX;

struct Candidate {
  unsigned length = 0;
  unsigned distance = 0;
  int64_t saved = 0;  // literal bits replaced minus the match's bits
};

class HashChains {
 public:
  explicit HashChains(std::span<const uint8_t> data) : data_(data), head_(1u << 16, NO_POSITION), prev_(HISTORY) {}

  void insert(size_t pos) {
    if (pos + 1 >= data_.size()) return;
    const unsigned key = data_[pos] | data_[pos + 1] << 8;
    prev_[pos % HISTORY] = head_[key];
    head_[key] = static_cast<uint32_t>(pos);
  }

  // The candidate at `pos` that saves the most bits, before `pos` is inserted.
  Candidate best(size_t pos, StreamFormat format) const {
    Candidate best;
    if (pos + 1 >= data_.size()) return best;
    const size_t limit = std::min<size_t>(MAX_MATCH, data_.size() - pos);
    const size_t window = format.window();
    uint32_t cand = head_[data_[pos] | data_[pos + 1] << 8];
    for (unsigned steps = 0; cand != NO_POSITION && steps < CHAIN_LIMIT; ++steps) {
      const size_t distance = pos - cand;
      if (distance > window) break;
      size_t length = 2;
      if (best.length < limit && data_[cand + best.length] == data_[pos + best.length]) {
        while (length < limit && data_[cand + length] == data_[pos + length]) ++length;
      } else {
        length = best.length >= 2 ? 0 : 2;  // cannot beat the best on length
      }
      if (length >= 2 && match_allowed(format, static_cast<unsigned>(length), static_cast<unsigned>(distance))) {
        const int64_t saved = static_cast<int64_t>(literal_bits(format, pos, length)) -
                              match_cost(format, static_cast<unsigned>(length), static_cast<unsigned>(distance));
        if (saved > best.saved) best = {static_cast<unsigned>(length), static_cast<unsigned>(distance), saved};
        if (length == limit || length >= NICE_LENGTH) break;
      }
      const uint32_t next = prev_[cand % HISTORY];
      if (next == NO_POSITION || next >= cand) break;  // slot reused by a newer position
      cand = next;
    }
    return best;
  }

 private:
  uint64_t literal_bits(StreamFormat format, size_t pos, size_t length) const {
    if (format.literals == LiteralCoding::binary) return 9 * length;
    uint64_t bits = 0;
    for (size_t i = 0; i < length; ++i) bits += literal_cost(format, data_[pos + i]);
    return bits;
  }

  std::span<const uint8_t> data_;
  std::vector<uint32_t> head_;
  std::vector<uint32_t> prev_;
};

}  // namespace

void parse_lazy(std::span<const uint8_t> data, StreamFormat format, TokenSink& sink) {
  HashChains chains(data);
  size_t pos = 0;
  Candidate current = chains.best(0, format);
  while (pos < data.size()) {
    chains.insert(pos);
    const Candidate next = pos + 1 < data.size() ? chains.best(pos + 1, format) : Candidate{};
    const int64_t literal_bits = literal_cost(format, data[pos]);
    if (current.length == 0 || next.saved - literal_bits > current.saved) {
      sink.literal(data[pos]);
      ++pos;
      current = next;
      continue;
    }
    sink.match(current.length, current.distance);
    const size_t end = pos + current.length;
    for (++pos; pos < end; ++pos) chains.insert(pos);
    current = pos < data.size() ? chains.best(pos, format) : Candidate{};
  }
}

}  // namespace implode
