#include "table_arena.h"

#include <cstdint>
#include <cstdlib>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace implode {

namespace {
constexpr size_t ALIGNMENT = 64;
}

TableArena::TableArena() {
#if defined(__linux__)
  // A huge page more, so that a block aligned to huge pages lies inside. The rest
  // stays mapped but is never touched (no page of it is ever taken).
  mapping_bytes_ = BYTES + HUGE_PAGE;
  void* m = mmap(nullptr, mapping_bytes_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (m != MAP_FAILED) {
    mapping_ = m;
    const auto start = reinterpret_cast<uintptr_t>(m);
    base_ = reinterpret_cast<std::byte*>((start + HUGE_PAGE - 1) & ~uintptr_t{HUGE_PAGE - 1});
    madvise(base_, BYTES, MADV_HUGEPAGE);  // a hint: without huge pages the block is ordinary memory
    return;
  }
  mapping_bytes_ = 0;
#endif
  // Elsewhere ordinary zeroed memory, its pages taken as they are used.
  mapping_ = std::calloc(1, BYTES + ALIGNMENT);
  if (mapping_) {
    const auto start = reinterpret_cast<uintptr_t>(mapping_);
    base_ = reinterpret_cast<std::byte*>((start + ALIGNMENT - 1) & ~uintptr_t{ALIGNMENT - 1});
  }
  // No arena at all (out of memory): every table comes from the heap.
}

TableArena::~TableArena() {
#if defined(__linux__)
  if (mapping_bytes_) {
    munmap(mapping_, mapping_bytes_);
    return;
  }
#endif
  std::free(mapping_);
}

void* TableArena::take(size_t bytes) {
  if (!base_ || bytes > BYTES - used_) return nullptr;
  void* p = base_ + used_;
  used_ += (bytes + ALIGNMENT - 1) & ~(ALIGNMENT - 1);
  if (used_ > BYTES) used_ = BYTES;
  return p;
}

}  // namespace implode
