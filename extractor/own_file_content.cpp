#include "own_file_content.h"

namespace extractor {

ContentBlock OwnFileContent::next_block() {
  if (read_failed_) return {{}, true};
  const uint64_t length = remaining_ < buffer_.size() ? remaining_ : buffer_.size();
  const std::span<uint8_t> block = buffer_.first(static_cast<size_t>(length));
  if (length != 0 && !host_.read_own_file(next_offset_, block)) {
    read_failed_ = true;
    return {{}, true};
  }
  next_offset_ += length;
  remaining_ -= length;
  return {block, false};
}

}  // namespace extractor
