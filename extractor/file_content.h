// The bytes of one file that the host writes, pulled from their source block by
// block. A stored entry and the stub copy come from the own file through one
// small buffer, so they never have to be held whole in memory, whatever their
// size; a compressed entry's output is already in memory and goes out as one
// block, that is with one write.
#pragma once

#include <cstdint>
#include <span>

namespace extractor {

struct ContentBlock {
  std::span<const uint8_t> bytes;  // empty once the content is used up
  bool read_failed = false;        // the source could not be read: stop writing
};

class FileContent {
 public:
  // The next block; its bytes stay valid until the next call.
  virtual ContentBlock next_block() = 0;

 protected:
  ~FileContent() = default;
};

// Content held in memory, handed out as a single block.
class MemoryContent final : public FileContent {
 public:
  explicit MemoryContent(std::span<const uint8_t> bytes) : rest_(bytes) {}
  ContentBlock next_block() override {
    const std::span<const uint8_t> block = rest_;
    rest_ = {};
    return {block, false};
  }

 private:
  std::span<const uint8_t> rest_;
};

// Hands every block of `content` in order to `write_block`, a callable taking a
// std::span<const uint8_t> and returning false when that block was not written
// in full. Returns true when all blocks were written; false at the first block
// that could not be read or written, after which nothing more is asked for.
template <typename WriteBlock>
bool write_every_block(FileContent& content, WriteBlock&& write_block) {
  for (;;) {
    const ContentBlock block = content.next_block();
    if (block.read_failed) return false;
    if (block.bytes.empty()) return true;
    if (!write_block(block.bytes)) return false;
  }
}

}  // namespace extractor
