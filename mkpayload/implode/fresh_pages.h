// Fresh memory with fewer page faults, for the encoder's large buffers and the
// builder's input. A fresh 4 KiB page costs a fault when it is first written,
// and on our machines a fault costs more than parsing a kilobyte; where the
// system offers 2 MiB pages on request (Linux's transparent huge pages,
// "madvise" mode), a buffer of 2 MiB or more asks for them, so it faults once
// per 2 MiB. Elsewhere, and for smaller buffers, the C library's allocator.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace implode {

// Size of a large page, and of the buffers worth asking large pages for.
inline constexpr size_t LARGE_PAGE_BYTES = size_t{2} << 20;

// Gives back what fresh_pages() or fresh_bytes() took (nothing for room
// borrowed from another owner).
struct ReleasePages {
  size_t bytes = 0;       // as asked
  bool mapped = false;    // map_large_pages' (else the heap's)
  bool borrowed = false;  // another owner's
  void operator()(void* p) const;
};
using FreshPages = std::unique_ptr<uint32_t[], ReleasePages>;
using FreshBytes = std::unique_ptr<uint8_t[], ReleasePages>;

// Room for `words` 32-bit words, uninitialised; throws bad_alloc.
FreshPages fresh_pages(size_t words);

// Takes the pages of [p, p + bytes) from the system in one call where it can
// (about half the cost of a fault for each), each large page in it by a write
// first (see fresh_pages.cpp); the memory is not changed.
void populate_pages(void* p, size_t bytes);

// Room for `bytes` bytes, uninitialised (take its pages with populate_pages()
// before writing it, whole or a step at a time). From LARGE_PAGE_BYTES on it
// starts at a large page's boundary, so that every whole large page in it is one
// (2 MiB of the heap's would start anywhere and hold at most one). Throws
// bad_alloc.
FreshBytes fresh_bytes(size_t bytes);

// Room one user gave back for the next (one for the program: the larger is
// kept), so that a builder that compresses many files pays for the pages once.
// Its first `written` bytes may hold anything; the rest is zero.
struct KeptRoom {
  FreshBytes room;
  size_t written = 0;
};

// The kept room if it holds `bytes` or more (then it is no longer kept), else
// an empty one. Where a room is announced (below) and its taking has begun, it
// waits for that room first: the rest of a fault under way on another core is
// shorter than a fault of one's own. One announced but not yet begun is called
// off instead.
KeptRoom take_kept_room(size_t bytes);
// Keeps `kept` for a later user unless the room kept already is as large (then
// `kept` goes).
void keep_room(KeptRoom kept);

// A room on its way to keep_room(): the best level's early thread
// (SecondCoreAhead) takes a search's first large page while the builder reads
// its files, and the search must not map and fault a page of its own because
// the other core is still at it (on our VM a large page's fault took 0.15 to
// 0.75 ms, and the search came first in about one run on GPL-3 in twelve).
// announce_room() (before the taking thread starts; false if a room is
// announced already), then on the taking thread begin_announced_room() (false:
// called off, take nothing) and, once the room is kept or could not be taken,
// end_announced_room().
bool announce_room();
bool begin_announced_room();
void end_announced_room();

// Zeroed room, such as a parse's tables: fresh from the system (untouched
// pages; the heap's calloc clears memory it reuses, a fault a page), with its
// first `populated_bytes` taken in one call (populate_pages()), or, with
// `large_pages`, whole large pages where the system offers them (map_large_pages();
// else as without); or the kept room (take_kept_room()), cleared as far as it
// was written. Given back to be kept. Throws bad_alloc.
class ReusedZeroedRoom {
 public:
  ReusedZeroedRoom(size_t bytes, size_t populated_bytes, bool large_pages = false);
  ~ReusedZeroedRoom();
  ReusedZeroedRoom(const ReusedZeroedRoom&) = delete;
  ReusedZeroedRoom& operator=(const ReusedZeroedRoom&) = delete;
  uint8_t* get() const { return room_.get(); }
  // Bytes of room from get() on: as asked, or more (whole large pages, or the
  // larger room taken again).
  size_t size() const { return room_.get_deleter().bytes; }

 private:
  FreshBytes room_;
};

// fresh_bytes() room with its first `size` bytes written (a file read into it,
// a stream written into it), held together.
class FilledBytes {
 public:
  FilledBytes() = default;
  FilledBytes(FreshBytes room, size_t size) : room_(std::move(room)), size_(size) {}
  std::span<const uint8_t> bytes() const { return {room_.get(), size_}; }

 private:
  FreshBytes room_;
  size_t size_ = 0;
};

// `bytes` of zeroed memory at an address aligned to LARGE_PAGE_BYTES, asking
// for large pages, or nullptr where the system cannot map it so. Give it back
// with unmap_large_pages (same size).
void* map_large_pages(size_t bytes);
void unmap_large_pages(void* p, size_t bytes);

// Gives the pages of [p, p + bytes) (whole pages of a map_large_pages() mapping)
// back to the system, which then reads them as zero; false where it cannot (the
// memory is unchanged).
bool discard_pages(void* p, size_t bytes);

}  // namespace implode
