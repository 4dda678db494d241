// The back-references of the settled positions of the optimal parse, one lane per
// format, and the handing on of each lane's parse as soon as it is final.
//
// Any later position's best path passes through one of the last MAX_MATCH settled
// positions (no token is longer). Once the best paths of all of those run through
// a common position m, the path up to m is final: its tokens go to the lane's sink
// and its back-references are free. commit() looks for that point (a merge walk:
// the latest position's path is marked, then each frontier position's path is
// followed back until it meets a marked position); the search calls it every 64 Ki
// positions. Best paths merge within a few tokens on real data, so the references
// held stay near 64 Ki positions. Should paths not merge, the references are kept
// until they do: the parse stays minimal at the price of memory.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "back_reference.h"
#include "implode_encoder.h"
#include "lane_vectors.h"
#include "table_arena.h"

namespace implode {

// Hands on to `sink` the token that ends at `position`, whose back-reference is `via`.
inline void hand_on_token(std::span<const uint8_t> data, TokenSink& sink, size_t position, uint32_t via) {
  if (is_literal(via))
    sink.literal(data[position - 1]);
  else
    sink.match(match_length(via), match_distance(via));
}

// Hands on to `sink` the path that ends at `end`, from `from` on: lane `lane` of
// `references` (by position, from `first` on). The walk back reads a reference
// a token, each where the one before points, so the references some positions
// back are fetched ahead of it: as cache misses that each waited for the last,
// the walk over 35 KB of text took about 0.08 ms, 0.05 with them fetched
// ahead. It keeps the tokens in `vias` (the tokens are then handed on without
// reading the references again), which takes room for the longest path, every
// position a literal, at once: only the part written is touched, and the
// vector does not grow a step at a time (which leaves every smaller buffer
// behind in an arena).
template <class References, class Vias>
void hand_on_path(std::span<const uint8_t> data, TokenSink& sink, size_t from, size_t end, const References* references,
                  size_t first, unsigned lane, Vias& vias) {
  constexpr size_t AHEAD = 256;  // positions: about 70 tokens of text back
  vias.clear();
  vias.reserve(end - from);
  for (size_t q = end; q > from;) {
    if (q >= first + AHEAD) __builtin_prefetch(references + (q - first - AHEAD));
    const uint32_t via = references[q - first][lane];
    vias.push_back(via);
    q -= token_span(via);
  }
  size_t q = from;
  for (auto it = vias.rbegin(); it != vias.rend(); ++it) {
    q += token_span(*it);
    hand_on_token(data, sink, q, *it);
  }
}

template <unsigned N, unsigned FORMATS>
class SettledPaths {
 public:
  static constexpr bool HANDS_ON = true;
  using References = ReferenceLanes<N>;
  static_assert(FORMATS <= N);

  // The references and the walks' workspace come from `arena` while it has room.
  SettledPaths(std::span<const uint8_t> data, const std::array<TokenSink*, FORMATS>& sinks, TableArena* arena = nullptr)
      : data_(data),
        sinks_(sinks),
        back_(ArenaAllocator<References>(arena)),
        marks_(ArenaAllocator<Mark>(arena)),
        path_(ArenaAllocator<Step>(arena)),
        steps_(ArenaAllocator<size_t>(arena)),
        vias_(ArenaAllocator<uint32_t>(arena)) {
    committed_.fill(0);
    // What the search holds between its commits, at once: growing there copied
    // it over and over, most of a small input's page faults.
    back_.reserve(std::min(data.size() + 1, HELD_BETWEEN_COMMITS));
  }

  // The back-references of the next position (base_ + the number held).
  void push(const References& via) { back_.push_back(via); }

  // With positions up to s settled: for each lane, hands on the path up to the
  // latest position that the best paths of all frontier positions pass through.
  void commit(size_t s) {
    // A commit's path and marks reach as far as the references: room for what
    // the search holds between commits, taken at the first (a vector grown a step
    // at a time in the arena leaves every smaller buffer behind, and spilled to
    // fresh heap pages; an input too small for a commit takes none).
    if (marks_.capacity() == 0) {
      marks_.reserve(std::max(back_.size(), HELD_BETWEEN_COMMITS));
      path_.reserve(marks_.capacity());
    }
    // Marks of earlier walks (other epochs) mean nothing, wherever they now sit:
    // the vector only grows, and is neither cleared nor moved with the references.
    if (marks_.size() < back_.size()) marks_.resize(back_.size(), Mark{0, 0});
    for (unsigned lane = 0; lane < FORMATS; ++lane) {
      if (++epoch_ == 0) {
        std::fill(marks_.begin(), marks_.end(), Mark{0, 0});
        epoch_ = 1;
      }
      const size_t committed = committed_[lane];
      // s's own path (each of its points meets itself), kept with its tokens: the
      // part up to the merge point is handed on from here without reading the
      // back-references again.
      path_.clear();
      for (size_t q = s;;) {
        marks_[q - base_] = {epoch_, static_cast<uint32_t>(q - committed)};
        if (q == committed) break;
        const uint32_t via = back_[q - base_][lane];
        path_.push_back({q, via});
        q -= token_span(via);
      }
      size_t merge = s;
      const size_t first = s - committed > FRONTIER ? s - FRONTIER : committed;
      for (size_t f = first; f < s; ++f) {
        steps_.clear();
        size_t q = f;
        while (marks_[q - base_].epoch != epoch_) {
          steps_.push_back(q);
          q = predecessor(lane, q);
        }
        const uint32_t meet = marks_[q - base_].meet;
        for (size_t w : steps_) marks_[w - base_] = {epoch_, meet};
        merge = std::min(merge, committed + meet);
      }
      if (merge > committed) {
        for (auto it = path_.rbegin(); it != path_.rend() && it->position <= merge; ++it)
          hand_on_token(data_, *sinks_[lane], it->position, it->via);
        committed_[lane] = merge;
      }
    }
    const size_t drop = *std::min_element(committed_.begin(), committed_.end()) - base_;
    back_.erase(back_.begin(), back_.begin() + static_cast<std::ptrdiff_t>(drop));
    base_ += drop;
  }

  // How far the lane's path has been handed on.
  size_t committed(unsigned lane) const { return committed_[lane]; }

  // With every position up to `end` settled: hands on the rest of each lane's path.
  void finish(size_t end) {
    for (unsigned lane = 0; lane < FORMATS; ++lane) {
      hand_on_path(data_, *sinks_[lane], committed_[lane], end, back_.data(), base_, lane, vias_);
      committed_[lane] = end;
    }
  }

 private:
  static constexpr size_t FRONTIER = implode_format::MAX_MATCH;  // settled positions a later path may leave from
  // The search commits every 64 Ki positions; paths merge within a few tokens.
  static constexpr size_t HELD_BETWEEN_COMMITS = (size_t{1} << 16) + 2 * implode_format::MAX_MATCH;

  size_t predecessor(unsigned lane, size_t q) const { return q - token_span(back_[q - base_][lane]); }

  std::span<const uint8_t> data_;
  std::array<TokenSink*, FORMATS> sinks_;
  std::vector<References, ArenaAllocator<References>> back_;  // by position, from base_ on
  size_t base_ = 0;
  std::array<size_t, FORMATS> committed_;  // each lane's path up to here has been handed on
  // Per position: the last merge walk that reached it (epoch) and where that walk
  // met the latest position's path (offset from the committed point).
  struct Mark {
    uint32_t epoch;
    uint32_t meet;
  };
  std::vector<Mark, ArenaAllocator<Mark>> marks_;
  uint32_t epoch_ = 0;
  struct Step {
    size_t position;  // reached by the token
    uint32_t via;
  };
  std::vector<Step, ArenaAllocator<Step>> path_;
  std::vector<size_t, ArenaAllocator<size_t>> steps_;
  std::vector<uint32_t, ArenaAllocator<uint32_t>> vias_;  // a path's tokens, at the end
};

}  // namespace implode
