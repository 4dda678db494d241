#include "table_arena.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace implode {

namespace {
constexpr size_t ALIGNMENT = 64;
static_assert(TableArena::BYTES > LARGE_PAGE_BYTES && TableArena::BYTES % LARGE_PAGE_BYTES == 0);
}  // namespace

TableArena::TableArena() {
  // An earlier search's block where one is kept (its pages are there already);
  // a room of the heap is no block of pages and is left where it was.
  if (KeptRoom kept = take_kept_room(BYTES); kept.room) {
    if (kept.room.get_deleter().mapped) {
      room_ = std::move(kept.room);
      base_ = reinterpret_cast<std::byte*>(room_.get());  // at a page's start: aligned
      written_before_ = kept.written;
      return;
    }
    keep_room(std::move(kept));
  }
  // Where the system maps large pages on request, two of them (zeroed).
  if (void* m = map_large_pages(BYTES)) {
    room_ = FreshBytes(static_cast<uint8_t*>(m), {BYTES, true});
    base_ = static_cast<std::byte*>(m);
    return;
  }
  // Elsewhere ordinary zeroed memory, its pages taken as they are used.
  if (void* m = std::calloc(1, BYTES + ALIGNMENT)) {
    room_ = FreshBytes(static_cast<uint8_t*>(m), {BYTES + ALIGNMENT, false});
    const auto start = reinterpret_cast<uintptr_t>(m);
    base_ = reinterpret_cast<std::byte*>((start + ALIGNMENT - 1) & ~uintptr_t{ALIGNMENT - 1});
  }
  // No arena at all (out of memory): every table comes from the heap.
}

TableArena::~TableArena() {
  if (!room_ || !room_.get_deleter().mapped) return;  // heap memory: freed
  // Kept, but no more than its first large page, which a small input's search
  // does not pass: the rest goes back to the system (which reads it as zero
  // again), or the block goes.
  size_t written = std::max(written_before_, used_);
  if (written > LARGE_PAGE_BYTES) {
    // The whole room past it: a room kept by another user may be larger.
    if (!discard_pages(base_ + LARGE_PAGE_BYTES, room_.get_deleter().bytes - LARGE_PAGE_BYTES)) return;
    written = LARGE_PAGE_BYTES;
  }
  keep_room({std::move(room_), written});
}

void TableArena::take_first_pages() {
  if (room_ && room_.get_deleter().mapped) populate_pages(base_, LARGE_PAGE_BYTES);
}

void* TableArena::take(size_t bytes, bool any_contents) {
  if (!base_ || bytes > BYTES - used_) return nullptr;
  void* p = base_ + used_;
  if (!any_contents && used_ < written_before_) std::memset(p, 0, std::min(bytes, written_before_ - used_));
  used_ += (bytes + ALIGNMENT - 1) & ~(ALIGNMENT - 1);
  if (used_ > BYTES) used_ = BYTES;
  return p;
}

}  // namespace implode
