// Sliding-window minimum for one wide length code of the optimal parse.
//
// Length codes 11 to 15 cover 16 to 255 match lengths each, at one cost. A
// position p whose match (at one distance) is long enough for a code's whole range
// reaches every position from p + first to p + last at the same cost; rather than
// relax each of them, p registers that one cost here. When the search settles
// position q it asks for the smallest cost registered by a position whose range
// covers q, that is a position in the window [q - last, q - first], and for that
// position (the match is q - it long, at the distance it registered).
//
// The window is exactly one code width long, so it is computed in blocks of that
// width (van Herk / Gil-Werman): prefix minima while a block fills, suffix minima
// once it is complete. The window is the tail of one block (from q - last) and the
// head of the next (up to q - first): the minimum of the tail's suffix and the
// head's prefix. Ties (this choice among equal costs fixes which of the equally
// small parses the search writes, so it is part of the contract):
//  * the window begins a block: the latest of the equal positions;
//  * otherwise: the latest in the tail if the tail holds the minimum, else the
//    earliest in the head;
//  * a window that begins before position 0 (q < last): the earliest.
// Costs and positions are kept per lane (CostLanes), each lane on its own.
//
// Blocks in which no position registered (the usual case: long matches are rare
// in most data) cost nothing a position: they need not be closed, and their
// positions are counted when next needed (counting five codes' positions one
// by one took 12 % of a search of text).
//
// The window reaches `last` positions back from the one settled, so a ring of
// the next power of two above last + 1 holds every position still read: 64 to
// 1024 by code, not 1024 for each (less memory to fault in and to keep in cache;
// the values of one position sit together).
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "implode_costs.h"
#include "lane_vectors.h"
#include "table_arena.h"

namespace implode {

template <unsigned N>
class WideCodeMinimum {
 public:
  using Costs = CostLanes<N>;
  using Positions = ReferenceLanes<N>;  // 32-bit positions, one per lane

  struct Minimum {
    Costs cost;
    Positions from;  // where a lane's cost was registered (meaningless for UNREACHED)
  };

  // The ring comes from `arena` where it has room (table_arena.h).
  explicit WideCodeMinimum(const LengthCode& code, TableArena* arena = nullptr)
      : first_(code.first),
        last_(code.last),
        width_(code.last - code.first + 1),
        lead_blocks_((code.first - 1) / width_),
        lead_offset_((code.first - 1) % width_),
        kept_mask_(std::bit_ceil(code.last + 2) - 1),
        slots_(arena_table<Slot>(arena, kept_mask_ + 1)),
        distance_(arena_table<uint16_t>(arena, kept_mask_ + 1)) {
    for (size_t i = 0; i <= kept_mask_; ++i)
      slots_[i] = {Costs::filled(UNREACHED), Costs::filled(UNREACHED), Costs::filled(UNREACHED), Positions::filled(0),
                   Positions::filled(0)};
  }

  // Position p (not yet closed) registers the cost of its match of `distance`
  // that covers the whole code. At most once per position.
  void add(size_t p, const Costs& cost, uint16_t distance) {
    if (!block_registered_) count_closed(p);
    at(p).value = cost;
    distance_[p & kept_mask_] = distance;
    if (!block_registered_)  // the earlier positions of the block hold UNREACHED from here on
      for (size_t x = p - offset_in_block_; x < p; ++x) at(x).value = at(x).prefix = Costs::filled(UNREACHED);
    last_registered_ = p + 1;
    block_registered_ = true;
  }

  // No position whose range covers q or a later position has registered.
  bool quiet_at(size_t q) const { return q >= last_registered_ + last_; }

  uint16_t distance_of(size_t p) const { return distance_[p & kept_mask_]; }

  // After position p's registration, if any. Positions are closed in order;
  // while open() is false, closing one may be left out (it does nothing). A
  // block in which no position registered (so far) holds no value below
  // UNREACHED: its prefix minima are UNREACHED and neither they nor its suffix
  // minima are stored (covering() knows the block by its flag; the first
  // registration in a block stores the prefix minima before it).
  void close(size_t p) {
    if (block_registered_) close_registered(p);
  }

  // Whether a position of the block being closed registered: then every
  // position must be closed until the block is complete.
  bool open() const { return block_registered_; }

  // The minimum over the positions whose range covers q, with those positions.
  // Called once for each q, in increasing order, when positions up to q - 1 are
  // closed. Empty when no position in the window registered.
  std::optional<Minimum> covering(size_t q) {
    if (q < first_) return std::nullopt;
    if (!block_registered_) count_closed(q);
    const size_t hi = q - first_;
    if (q < last_) return block_registered_up_to_q(0) ? Minimum{at(hi).prefix, at(hi).prefix_from} : unreached();
    const size_t lo = q - last_;
    if (last_registered_ <= lo) return std::nullopt;  // the usual case
    // Block and offset of lo, from those of q (positions up to q - 1 are closed):
    // lo = q - (first - 1) - (width - 1), first - 1 = lead_blocks * width + lead_offset.
    const bool before = offset_in_block_ < lead_offset_;
    const bool aligned = offset_in_block_ + (before ? width_ : 0) - lead_offset_ == 0;
    const size_t lo_block = close_block_ - 1 - lead_blocks_ - (before ? 1 : 0);
    Minimum m = unreached();  // what the suffix minima of an empty block are
    if (block_registered_up_to_q(lo_block)) m = {at(lo).suffix, at(lo).suffix_from};
    if (!aligned && block_registered_up_to_q(lo_block + 1))  // hi's block
      take_smaller(m.cost, m.from, at(hi).prefix, at(hi).prefix_from);
    return m;
  }

  void rebase(const Costs& base) {
    for (size_t i = 0; i <= kept_mask_; ++i)
      for (Costs* v : {&slots_[i].value, &slots_[i].prefix, &slots_[i].suffix}) rebase_cost(*v, base);
  }

 private:
  static Minimum unreached() { return {Costs::filled(UNREACHED), Positions::filled(0)}; }

  // Whether a position of `block` before q (the position asked about) registered:
  // the block being closed is known by block_registered_, a complete one by its
  // flag.
  bool block_registered_up_to_q(size_t block) const {
    return block == close_block_ ? block_registered_ : block_flags_[block % BLOCK_FLAGS] == block + 1;
  }

  // Counts the positions closed since the last count as `closed` (all of them
  // in blocks where none registered).
  void count_closed(size_t closed) {
    offset_in_block_ += closed - counted_;
    counted_ = closed;
    if (offset_in_block_ >= width_) {
      close_block_ += offset_in_block_ / width_;
      offset_in_block_ %= width_;
    }
  }

  void close_registered(size_t p) {
    Slot& here = at(p);
    if (last_registered_ != p + 1) here.value = Costs::filled(UNREACHED);
    const Costs& v = here.value;
    const Positions from = Positions::filled(static_cast<uint32_t>(p));
    if (offset_in_block_ == 0) {
      here.prefix = v;
      here.prefix_from = from;
    } else {
      const Slot& before = at(p - 1);
      here.prefix = before.prefix;
      here.prefix_from = before.prefix_from;
      take_smaller(here.prefix, here.prefix_from, v, from);
    }
    counted_ = p + 1;
    if (++offset_in_block_ == width_) {  // block complete: suffix minima backwards
      Costs running = v;
      Positions running_from = from;
      here.suffix = running;
      here.suffix_from = running_from;
      for (size_t i = 1; i < width_; ++i) {
        const size_t x = p - i;
        Slot& slot = at(x);
        take_smaller(running, running_from, slot.value, Positions::filled(static_cast<uint32_t>(x)));
        slot.suffix = running;
        slot.suffix_from = running_from;
      }
      offset_in_block_ = 0;
      block_flags_[close_block_ % BLOCK_FLAGS] = close_block_ + 1;
      ++close_block_;
      block_registered_ = false;
    }
  }

  // Blocks by number (position / width): the number + 1 of the latest block at
  // that slot in which a position registered (so a block in which none did
  // needs no store). The window reaches back at most MAX_MATCH / 16 + 2 blocks.
  static constexpr size_t BLOCK_FLAGS = 64;
  static_assert(BLOCK_FLAGS > implode_format::MAX_MATCH / 16 + 2);

  size_t first_, last_, width_;
  size_t lead_blocks_, lead_offset_;  // first - 1 in blocks and the rest
  // The block being closed and the offset in it of the position being closed,
  // as of counted_ positions closed (brought up to date by count_closed() where
  // closing was left out).
  size_t offset_in_block_ = 0;
  size_t close_block_ = 0;
  size_t counted_ = 0;
  size_t last_registered_ = 0;  // 1 + the latest position that registered a value
  std::array<size_t, BLOCK_FLAGS> block_flags_{};
  bool block_registered_ = false;  // in the block being closed, so far
  // A position's values: the cost it registered (UNREACHED if none), and the
  // prefix and suffix minima of its block up to and from it, with where each was
  // registered.
  struct Slot {
    Costs value, prefix, suffix;
    Positions prefix_from, suffix_from;
  };
  Slot& at(size_t p) { return slots_[p & kept_mask_]; }
  const Slot& at(size_t p) const { return slots_[p & kept_mask_]; }
  size_t kept_mask_;  // positions kept (a power of two above last + 1), less one
  ArenaTable<Slot> slots_;
  ArenaTable<uint16_t> distance_;
};

}  // namespace implode
