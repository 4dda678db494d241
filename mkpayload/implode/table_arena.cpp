#include "table_arena.h"

#include <cstdint>
#include <cstdlib>

#include "fresh_pages.h"

namespace implode {

namespace {
constexpr size_t ALIGNMENT = 64;
}

TableArena::TableArena() {
  // Where the system maps large pages on request, two of them (zeroed).
  if (void* m = map_large_pages(BYTES)) {
    mapped_ = true;
    mapping_ = m;
    base_ = static_cast<std::byte*>(m);
    return;
  }
  // Elsewhere ordinary zeroed memory, its pages taken as they are used.
  mapping_ = std::calloc(1, BYTES + ALIGNMENT);
  if (mapping_) {
    const auto start = reinterpret_cast<uintptr_t>(mapping_);
    base_ = reinterpret_cast<std::byte*>((start + ALIGNMENT - 1) & ~uintptr_t{ALIGNMENT - 1});
  }
  // No arena at all (out of memory): every table comes from the heap.
}

TableArena::~TableArena() {
  if (mapped_)
    unmap_large_pages(mapping_, BYTES);
  else
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
