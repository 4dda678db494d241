// One block of zeroed memory for the fixed-size tables and rings of one optimal
// search (its match finder's tables, the search's cost rings, the wide codes'
// minima, the back-references held before the search chooses its lane and the
// first stretch after): about 1.2 MiB touched on any input beyond a few
// kilobytes, 3.5 MiB on one beyond 64 KiB.
//
// Why one block: a fresh page costs a fault, and on our machines the best level's
// 300 or so faults on a small input took longer than its search. Where the system
// offers transparent huge pages for memory that asks for them (Linux with them on
// "madvise" or "always"), the block is two 2 MiB pages, each faulted in (and
// zeroed) at once; elsewhere it is ordinary zeroed memory whose pages fault in as they are
// used, as separate tables would.
//
// Taking memory is a bump of an offset; nothing is given back before the arena
// goes. What does not fit comes from the heap, so a table never fails for want
// of arena room (and a null arena means the heap for everything).
//
// When the arena goes, a block of pages is kept for the next search
// (take_kept_room()): a builder that compresses many files pays for the pages
// once. Only its first large page is kept, which is all that the search of an
// input up to a few dozen kilobytes writes, so what stays taken between
// searches is at most 2 MiB. A later arena clears the tables it takes within
// the part written before (objects and vectors set their own memory).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

#include "fresh_pages.h"

namespace implode {

class TableArena {
 public:
  static constexpr size_t BYTES = size_t{4} << 20;  // two huge pages
  TableArena();
  ~TableArena();
  TableArena(const TableArena&) = delete;
  TableArena& operator=(const TableArena&) = delete;

  // Room for `bytes` at an alignment of 64 (a cache line), or nullptr if the
  // rest of the arena is smaller: zeroed, or with `any_contents` as it happens to
  // be (for an object or a vector's elements, which their constructors set, as
  // in the heap's memory that serves them when the arena is full; a block taken
  // again then need not be cleared for them).
  void* take(size_t bytes, bool any_contents = false);
  // Takes the block's first large page from the system now (where the block is
  // mapped in large pages), which is all that a small input's search touches.
  void take_first_pages();
  // Whether `p` lies in the arena.
  bool holds(const void* p) const {
    const auto at = reinterpret_cast<uintptr_t>(p), base = reinterpret_cast<uintptr_t>(base_);
    return base_ && at >= base && at < base + BYTES;
  }

 private:
  FreshBytes room_;  // what the system or an earlier arena handed over (the block lies inside)
  std::byte* base_ = nullptr;
  size_t used_ = 0;
  size_t written_before_ = 0;  // bytes from base_ that an earlier search may have written
};

// Frees a table that came from the heap; one in the arena goes with the arena.
template <typename T>
struct ArenaTableFree {
  bool heap = true;
  void operator()(T* p) const {
    if (heap) std::free(p);
  }
};
template <typename T>
using ArenaTable = std::unique_ptr<T[], ArenaTableFree<T>>;

// `count` zeroed T (a type that zero bytes are a valid value of), from the arena
// where there is room, else from the heap.
template <typename T>
ArenaTable<T> arena_table(TableArena* arena, size_t count) {
  static_assert(std::is_trivially_default_constructible_v<T> && std::is_trivially_destructible_v<T>);
  if (arena)
    if (void* p = arena->take(count * sizeof(T))) return ArenaTable<T>(static_cast<T*>(p), {false});
  void* p = std::calloc(count, sizeof(T));
  if (!p) throw std::bad_alloc();
  return ArenaTable<T>(static_cast<T*>(p), {true});
}

// Destroys an object built in the arena, or deletes one built on the heap.
template <typename T>
struct ArenaObjectDelete {
  bool heap = true;
  void operator()(T* p) const {
    if (heap)
      delete p;
    else
      p->~T();
  }
};
template <typename T>
using ArenaObject = std::unique_ptr<T, ArenaObjectDelete<T>>;

template <typename T, typename... Args>
ArenaObject<T> make_in_arena(TableArena* arena, Args&&... args) {
  static_assert(alignof(T) <= 64);
  if (arena)
    if (void* p = arena->take(sizeof(T), true)) return ArenaObject<T>(new (p) T(std::forward<Args>(args)...), {false});
  return ArenaObject<T>(new T(std::forward<Args>(args)...), {true});
}

// A std::vector allocator over the arena: the first buffers come from it, later
// (larger) ones from the heap once it is full. Buffers in the arena are not
// reused when a vector lets them go.
template <typename T>
class ArenaAllocator {
 public:
  using value_type = T;
  explicit ArenaAllocator(TableArena* arena = nullptr) : arena_(arena) {}
  template <typename U>
  ArenaAllocator(const ArenaAllocator<U>& other) : arena_(other.arena()) {}
  T* allocate(size_t n) {
    if (arena_)
      if (void* p = arena_->take(n * sizeof(T), true)) return static_cast<T*>(p);
    return std::allocator<T>().allocate(n);
  }
  void deallocate(T* p, size_t n) {
    if (!(arena_ && arena_->holds(p))) std::allocator<T>().deallocate(p, n);
  }
  TableArena* arena() const { return arena_; }
  friend bool operator==(const ArenaAllocator& a, const ArenaAllocator& b) { return a.arena_ == b.arena_; }

 private:
  TableArena* arena_;
};

}  // namespace implode
