// The fast parse's token list: one 32-bit word per token word (see FastParse), in
// blocks that are appended and freed whole. A block is at most a large page
// (fresh_pages.h), so a long list faults once per 2 MiB where the system offers
// large pages, and a list is joined to another by moving its blocks, not its
// words.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fresh_pages.h"

namespace implode {

class TokenWords {
 public:
  // `most_words`: a bound on the words this list will be given (its first block
  // is no larger, so a short list takes little memory).
  explicit TokenWords(size_t most_words = 0) : block_words_(block_words(most_words)) {}
  // A list whose first block is `words` words of another owner's room, which
  // must outlive the list.
  TokenWords(uint32_t* room, size_t words) : block_words_(block_words(words)) {
    blocks_.push_back({FreshPages(room, {.bytes = words * sizeof(uint32_t), .borrowed = true}), words, 0});
  }

  void push(uint32_t word) {
    if (blocks_.empty() || blocks_.back().count == blocks_.back().capacity) [[unlikely]]
      add_block();
    Block& b = blocks_.back();
    b.words[b.count++] = word;
  }

  // Whether the first block is another owner's room.
  bool borrows() const { return !blocks_.empty() && blocks_.front().words.get_deleter().borrowed; }

  // The words of `later` after this list's (later is empty afterwards).
  void append(TokenWords&& later) {
    for (Block& b : later.blocks_) blocks_.push_back(std::move(b));
    later.blocks_.clear();
  }

  // Calls f(word) for every word in order; with `release`, each block is freed
  // once its words are done (the list is then empty). Whole blocks only: giving
  // back part of a large page splits it, and on our machines the split and the
  // faults on the rest of the page cost more than writing the stream from it
  // (freed every 128 KiB, a 4 MiB text's stream took twice as long to write).
  template <class F>
  void for_each(F&& f, bool release) {
    for (Block& b : blocks_) {
      for (size_t i = 0; i < b.count; ++i) f(b.words[i]);
      if (release) b.words.reset();
    }
    if (release) blocks_.clear();
  }
  template <class F>
  void for_each(F&& f) const {
    for (const Block& b : blocks_)
      for (size_t i = 0; i < b.count; ++i) f(b.words[i]);
  }

 private:
  static constexpr size_t LARGE_PAGE_WORDS = LARGE_PAGE_BYTES / sizeof(uint32_t);
  // A list of half a large page or more takes whole large pages: one fault
  // instead of hundreds.
  static size_t block_words(size_t most_words) {
    const size_t words = std::clamp<size_t>(most_words, 1024, LARGE_PAGE_WORDS);
    return words >= LARGE_PAGE_WORDS / 2 ? LARGE_PAGE_WORDS : words;
  }
  void add_block() { blocks_.push_back({fresh_pages(block_words_), block_words_, 0}); }

  struct Block {
    FreshPages words;
    size_t capacity;
    size_t count;
  };
  size_t block_words_;
  std::vector<Block> blocks_;
};

}  // namespace implode
