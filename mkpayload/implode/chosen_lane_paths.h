// The back-references of a search that writes one lane's parse, the lane chosen
// while it runs: every lane's references are held until the choice, the chosen
// lane's alone after it (settled_paths.h hands its parse on).
//
// The best level writes the stream of the format it expects to be smallest and,
// should another turn out smaller, searches again for that one alone. The costs
// tell which is smallest far better than any guess before the search: the search
// chooses at its first commit (COMMIT_INTERVAL positions in: on every corpus we
// have, the lane least so far there is the least at the end) or, on a shorter
// input, at the end, where the choice is always right. Until then it holds every
// format's references (24 bytes a position instead of 4, at most
// COMMIT_INTERVAL + 1 positions). Which lane is written never changes the output: a wrong choice only
// costs the second search.
//
// Where two searches run on one input (split_search.h), both must write the same
// lane: the one from the split point takes the lane the other announces.
//
// A lane chosen at the end is handed on straight from the references held (a
// copy of them, 4 bytes a position, took a short input's tables past the first
// huge page of their block: 0.1 to 0.2 ms of a run on 35 KB).
#pragma once

#include <array>
#include <atomic>
#include <bit>
#include <cassert>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "back_reference.h"
#include "implode_encoder.h"
#include "lane_vectors.h"
#include "optimal_search.h"
#include "settled_paths.h"
#include "table_arena.h"

namespace implode::detail {

inline constexpr unsigned NO_LANE = ~0u;

template <unsigned N, unsigned FORMATS>
class ChosenLanePaths {
 public:
  static constexpr bool HANDS_ON = true;
  // Where the chosen lane's parse goes, asked once the lane is known.
  using SinkFor = std::function<TokenSink&(unsigned lane)>;

  // Chooses among the lanes in `candidates` (a bit per lane) the one of least
  // cost (the first such); with `told`, takes the lane announced there instead,
  // waiting for it. With `tell`, announces its choice there. A single candidate is
  // chosen at once.
  ChosenLanePaths(std::span<const uint8_t> data, unsigned candidates, SinkFor sink_for, TableArena* arena,
                  std::atomic<unsigned>* tell = nullptr, const std::atomic<unsigned>* told = nullptr)
      : data_(data),
        candidates_(candidates),
        sink_for_(std::move(sink_for)),
        arena_(arena),
        tell_(tell),
        told_(told),
        held_(ArenaAllocator<Held>(arena)) {
    if (std::has_single_bit(candidates) && !told) {
      take(static_cast<unsigned>(std::countr_zero(candidates)));
    } else {
      held_.reserve(std::min(data.size() + 1, HELD_BEFORE_CHOICE));
    }
  }

  void push(const ReferenceLanes<N>& via) {
    if (chosen_)
      chosen_->push(ReferenceLanes<1>{via[lane_]});
    else  // before the choice, or after one whose paths are not made yet (chosen())
      std::memcpy(held_.emplace_back().data(), &via, sizeof(Held));  // the formats' lanes come first
  }

  // Before the first commit and before the end: `costs` are the lanes' costs
  // there.
  void choose_lane(const std::array<int64_t, FORMATS>& costs) {
    if (chosen_) return;
    unsigned lane = NO_LANE;
    if (told_) {
#if KVN_IMPLODE_THREADS  // else there is no second search
      for (unsigned v = told_->load(std::memory_order_acquire); (lane = v) == NO_LANE;
           v = told_->load(std::memory_order_acquire))
        told_->wait(v, std::memory_order_acquire);
#endif
    } else {
      for (unsigned l = 0; l < FORMATS; ++l)
        if ((candidates_ >> l & 1) && (lane == NO_LANE || costs[l] < costs[lane])) lane = l;
    }
    assert(lane != NO_LANE);
    take(lane);
  }

  void commit(size_t s) { chosen().commit(s); }
  size_t committed(unsigned) const { return chosen_ ? chosen_->committed(0) : 0; }
  void finish(size_t end) {
    if (chosen_) {
      chosen_->finish(end);
      return;
    }
    std::vector<uint32_t, ArenaAllocator<uint32_t>> vias{ArenaAllocator<uint32_t>(arena_)};
    hand_on_path(data_, *sink_, 0, end, held_.data(), 0, lane_, vias);
  }
  unsigned lane() const { return lane_; }

 private:
  static constexpr size_t HELD_BEFORE_CHOICE = COMMIT_INTERVAL + 1;

  void take(unsigned lane) {
    lane_ = lane;
    sink_ = &sink_for_(lane);
    if (held_.empty()) chosen();
#if KVN_IMPLODE_THREADS  // else there is no second search
    if (tell_) {
      tell_->store(lane, std::memory_order_release);
      tell_->notify_all();
    }
#endif
  }

  // The chosen lane's paths, made at the first commit after the choice, with the
  // references held until then.
  SettledPaths<1, 1>& chosen() {
    if (!chosen_) {
      chosen_.emplace(data_, std::array<TokenSink*, 1>{sink_}, arena_);
      for (const Held& via : held_) chosen_->push(ReferenceLanes<1>{via[lane_]});
      held_ = decltype(held_)(held_.get_allocator());
    }
    return *chosen_;
  }

  std::span<const uint8_t> data_;
  unsigned candidates_;
  SinkFor sink_for_;
  TableArena* arena_;
  std::atomic<unsigned>* tell_;
  const std::atomic<unsigned>* told_;
  // By position, before the choice: the formats' lanes only (a small input's
  // tables and references then fit one huge page).
  using Held = std::array<uint32_t, FORMATS>;
  static_assert(sizeof(ReferenceLanes<N>) >= sizeof(Held));
  std::vector<Held, ArenaAllocator<Held>> held_;
  unsigned lane_ = NO_LANE;
  TokenSink* sink_ = nullptr;  // the chosen lane's
  std::optional<SettledPaths<1, 1>> chosen_;
};

}  // namespace implode::detail
