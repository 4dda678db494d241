// Fast parser: hash chains over 2-byte prefixes, the candidate of most bits saved
// at each position, and one step of lazy evaluation (a literal now, when the next
// position offers a better match).
#include <algorithm>

#include "implode_encoder.h"

namespace implode {
namespace {

using namespace implode_format;

constexpr unsigned CHAIN_LIMIT = 96;        // candidates looked at per position
constexpr unsigned HISTORY = 4096;          // widest window (k = 6)
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
  Candidate best(size_t pos, StreamFormat format, std::span<const uint64_t> literal_prefix) const {
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
        const int64_t saved = static_cast<int64_t>(literal_prefix[pos + length] - literal_prefix[pos]) -
                              match_cost(format, static_cast<unsigned>(length), static_cast<unsigned>(distance));
        if (saved > best.saved) best = {static_cast<unsigned>(length), static_cast<unsigned>(distance), saved};
        if (length == limit) break;
      }
      const uint32_t next = prev_[cand % HISTORY];
      if (next == NO_POSITION || next >= cand) break;  // slot reused by a newer position
      cand = next;
    }
    return best;
  }

 private:
  std::span<const uint8_t> data_;
  std::vector<uint32_t> head_;
  std::vector<uint32_t> prev_;
};

}  // namespace

std::vector<Token> parse_lazy(std::span<const uint8_t> data, StreamFormat format) {
  std::vector<uint64_t> literal_prefix(data.size() + 1, 0);
  for (size_t i = 0; i < data.size(); ++i) literal_prefix[i + 1] = literal_prefix[i] + literal_cost(format, data[i]);

  std::vector<Token> tokens;
  tokens.reserve(data.size() / 4 + 16);
  HashChains chains(data);
  size_t pos = 0;
  Candidate current = chains.best(0, format, literal_prefix);
  while (pos < data.size()) {
    chains.insert(pos);
    const Candidate next = pos + 1 < data.size() ? chains.best(pos + 1, format, literal_prefix) : Candidate{};
    const int64_t literal_bits = literal_cost(format, data[pos]);
    if (current.length == 0 || next.saved - literal_bits > current.saved) {
      tokens.push_back({0, data[pos]});
      ++pos;
      current = next;
      continue;
    }
    tokens.push_back({static_cast<uint16_t>(current.length), static_cast<uint16_t>(current.distance)});
    const size_t end = pos + current.length;
    for (++pos; pos < end; ++pos) chains.insert(pos);
    current = pos < data.size() ? chains.best(pos, format, literal_prefix) : Candidate{};
  }
  return tokens;
}

}  // namespace implode
