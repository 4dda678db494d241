#include "fresh_pages.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>
#if KVN_IMPLODE_THREADS
#include <atomic>
#include <mutex>

#include "spin_wait.h"
#endif
#include <new>
#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace implode {

namespace {

#if defined(__linux__)
size_t small_page() {
  static const auto bytes = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  return bytes;
}

// The first large page's start at `at` or after it.
uintptr_t large_page_from(uintptr_t at) { return (at + LARGE_PAGE_BYTES - 1) & ~uintptr_t{LARGE_PAGE_BYTES - 1}; }
#endif

struct Taken {
  void* p;
  ReleasePages release;
};

// `bytes` from map_large_pages() where `map` says so and the system can, else
// from the heap.
Taken take(size_t bytes, bool map) {
  void* p = map ? map_large_pages(bytes) : nullptr;
  const bool mapped = p != nullptr;
  if (!mapped) p = std::malloc(std::max<size_t>(bytes, 1));
  if (!p) throw std::bad_alloc();
  return {p, {bytes, mapped}};
}

}  // namespace

#if defined(__linux__)
// A mapping aligned to a large page (a large page must lie whole within a
// mapping and at its own alignment): one large page more is mapped, and the
// parts before and after the aligned range are given back.
void* map_large_pages(size_t bytes) {
  const size_t mapped = bytes + LARGE_PAGE_BYTES;
  void* const p = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  const auto start = reinterpret_cast<uintptr_t>(p);
  const uintptr_t aligned = large_page_from(start);
  if (aligned > start) munmap(p, aligned - start);
  const uintptr_t end = start + mapped, used_end = aligned + bytes;
  if (end > used_end) munmap(reinterpret_cast<void*>(used_end), end - used_end);
  // Only advice: without large pages the mapping works as usual.
  madvise(reinterpret_cast<void*>(aligned), bytes, MADV_HUGEPAGE);
  return reinterpret_cast<void*>(aligned);
}

void unmap_large_pages(void* p, size_t bytes) { munmap(p, bytes); }

bool discard_pages(void* p, size_t bytes) { return madvise(p, bytes, MADV_DONTNEED) == 0; }
#else
void* map_large_pages(size_t) { return nullptr; }
void unmap_large_pages(void*, size_t) {}
bool discard_pages(void*, size_t) { return false; }
#endif

void ReleasePages::operator()(void* p) const {
  if (borrowed) return;
  if (mapped)
    unmap_large_pages(p, bytes);
  else
    std::free(p);
}

void populate_pages(void* p, size_t bytes) {
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
  if (bytes == 0) return;
  const uintptr_t start = reinterpret_cast<uintptr_t>(p) & ~uintptr_t{small_page() - 1};
  const uintptr_t end = reinterpret_cast<uintptr_t>(p) + bytes;
  // Each large page of the range is written to first, which faults it in whole:
  // the system then clears it holding only that mapping's lock, where the
  // populating call holds the process's map lock all along, and a thread that
  // grew the heap or mapped memory meanwhile waited for it (the builder reading
  // the stub and the input while the second core took a search's tables: 0.2
  // ms on our VM). The call then finds those pages in place. Only the range's
  // own bytes are written: `start` may lie before it, in another owner's memory.
  for (uintptr_t at = large_page_from(reinterpret_cast<uintptr_t>(p)); at < end; at += LARGE_PAGE_BYTES) {
    auto* const byte = reinterpret_cast<volatile uint8_t*>(at);
    *byte = *byte;
  }
  madvise(reinterpret_cast<void*>(start), end - start, MADV_POPULATE_WRITE);  // advice: may fail
#else
  (void)p;
  (void)bytes;
#endif
}

// A whole number of large pages only: a block of the token list that is not one
// would hold part of a large page at most.
FreshPages fresh_pages(size_t words) {
  const size_t bytes = words * sizeof(uint32_t);
  const Taken t = take(bytes, bytes >= LARGE_PAGE_BYTES && bytes % LARGE_PAGE_BYTES == 0);
  return FreshPages(static_cast<uint32_t*>(t.p), t.release);
}

namespace {
// The room kept (keep_room()): the halves of a split parse each give one back,
// and the larger is kept. Held by a plain pointer, so that it is never given
// back at exit: the system takes it with the rest, without a call of its own
// (unmapping it at exit took 2 % of a run on a small file; a search's block,
// 0.24 ms under strace).
struct SpareRoom {
#if KVN_IMPLODE_THREADS
  std::mutex mutex;
  std::unique_lock<std::mutex> lock() { return std::unique_lock(mutex); }
#else
  int lock() { return 0; }  // one thread
#endif
  uint8_t* room = nullptr;
  ReleasePages release;
  size_t written = 0;
};
SpareRoom spare;
}  // namespace

namespace {
#if KVN_IMPLODE_THREADS
// The announced room's state (announce_room()).
enum RoomOnItsWay : int { NO_ROOM_ON_ITS_WAY, ANNOUNCED, BEING_TAKEN };
std::atomic<int> room_on_its_way{NO_ROOM_ON_ITS_WAY};
thread_local bool takes_room_on_its_way = false;  // this thread began it (and must not wait for it)
#endif

KeptRoom take_kept_room_now(size_t bytes) {
  [[maybe_unused]] const auto lock = spare.lock();
  if (!spare.room || spare.release.bytes < bytes) return {};
  return {FreshBytes(std::exchange(spare.room, nullptr), spare.release), spare.written};
}
}  // namespace

KeptRoom take_kept_room(size_t bytes) {
#if KVN_IMPLODE_THREADS
  for (;;) {
    if (KeptRoom kept = take_kept_room_now(bytes); kept.room || takes_room_on_its_way) return kept;
    int state = room_on_its_way.load(std::memory_order_acquire);
    if (state == NO_ROOM_ON_ITS_WAY) return {};
    if (state == ANNOUNCED && room_on_its_way.compare_exchange_strong(state, NO_ROOM_ON_ITS_WAY))
      return {};  // called off: mapping one's own is sooner than waiting for a thread to start
    if (state == BEING_TAKEN) detail::wait_for_change(room_on_its_way, state);
  }
#else
  return take_kept_room_now(bytes);
#endif
}

#if KVN_IMPLODE_THREADS
bool announce_room() {
  int none = NO_ROOM_ON_ITS_WAY;
  return room_on_its_way.compare_exchange_strong(none, ANNOUNCED);
}

bool begin_announced_room() {
  int announced = ANNOUNCED;
  takes_room_on_its_way = room_on_its_way.compare_exchange_strong(announced, BEING_TAKEN);
  return takes_room_on_its_way;
}

void end_announced_room() {
  takes_room_on_its_way = false;
  room_on_its_way.store(NO_ROOM_ON_ITS_WAY, std::memory_order_release);
  room_on_its_way.notify_all();
}
#else
bool announce_room() { return false; }  // no other thread to take it
bool begin_announced_room() { return false; }
void end_announced_room() {}
#endif

void keep_room(KeptRoom kept) {
  FreshBytes smaller;  // given back after the lock
  [[maybe_unused]] const auto lock = spare.lock();
  if (spare.room && spare.release.bytes >= kept.room.get_deleter().bytes) return;  // kept goes
  smaller = FreshBytes(spare.room, spare.release);
  spare.release = kept.room.get_deleter();
  spare.room = kept.room.release();
  spare.written = kept.written;
}

ReusedZeroedRoom::ReusedZeroedRoom(size_t bytes, size_t populated_bytes, bool large_pages) {
  bytes = std::max<size_t>(bytes, 1);
  if (KeptRoom kept = take_kept_room(bytes); kept.room) {
    room_ = std::move(kept.room);
    std::memset(room_.get(), 0, std::min(bytes, kept.written));  // the rest is zero, or never read
    return;
  }
#if defined(__linux__)
  // Whole large pages where asked (a system without them maps ordinary ones,
  // which the populating below then takes as it would).
  const size_t whole = (bytes + LARGE_PAGE_BYTES - 1) / LARGE_PAGE_BYTES * LARGE_PAGE_BYTES;
  if (void* const p = large_pages ? map_large_pages(whole) : nullptr) {
    room_ = FreshBytes(static_cast<uint8_t*>(p), {whole, true});
  } else {
    void* const q = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (q == MAP_FAILED) throw std::bad_alloc();
    room_ = FreshBytes(static_cast<uint8_t*>(q), {bytes, true});
  }
  populate_pages(room_.get(), std::min(populated_bytes, bytes));
#else
  (void)populated_bytes;
  (void)large_pages;
  void* const p = std::calloc(bytes, 1);
  if (!p) throw std::bad_alloc();
  room_ = FreshBytes(static_cast<uint8_t*>(p), {bytes, false});
#endif
}

// Kept as written throughout: past the tables it may hold a token list.
ReusedZeroedRoom::~ReusedZeroedRoom() {
  const size_t written = size();
  keep_room({std::move(room_), written});
}

FreshBytes fresh_bytes(size_t bytes) {
  const Taken t = take(bytes, bytes >= LARGE_PAGE_BYTES);
  return FreshBytes(static_cast<uint8_t*>(t.p), t.release);
}

}  // namespace implode
