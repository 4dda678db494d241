// Tables of 32-bit entries that start as zeros, taken from calloc: the system
// hands fresh pages over untouched, so a small input faults in only the pages
// it uses (on our machines a page fault costs more than parsing a kilobyte).
// The match finders store position + 1 in them, so that zero reads as none.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>

namespace implode {

struct FreeZeroedTable {
  void operator()(uint32_t* p) const { std::free(p); }
};
using ZeroedTable = std::unique_ptr<uint32_t[], FreeZeroedTable>;

inline ZeroedTable zeroed_table(size_t entries) {
  ZeroedTable table(static_cast<uint32_t*>(std::calloc(entries, sizeof(uint32_t))));
  if (!table) throw std::bad_alloc();
  return table;
}

}  // namespace implode
