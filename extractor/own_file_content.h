// A range of the extractor's own file as FileContent: read through the host into
// one caller-owned buffer, a buffer's worth at a time. Stored entries and the
// stub copy are written this way, so their size costs no memory.
#pragma once

#include <cstdint>
#include <span>

#include "extract_host.h"

namespace extractor {

// One block buffer serves the whole run: allocated once, reused for every
// stored entry and for the stub copy.
constexpr uint32_t COPY_BLOCK_SIZE = 64 * 1024;

class OwnFileContent final : public FileContent {
 public:
  // `block_buffer` must outlive the content; its size is the block size.
  OwnFileContent(ExtractSystem& host, uint64_t offset, uint64_t length, std::span<uint8_t> block_buffer)
      : host_(host), next_offset_(offset), remaining_(length), buffer_(block_buffer) {}

  ContentBlock next_block() override;

  // A block could not be read; the content then ends early.
  bool read_failed() const { return read_failed_; }

 private:
  ExtractSystem& host_;
  uint64_t next_offset_;
  uint64_t remaining_;
  std::span<uint8_t> buffer_;
  bool read_failed_ = false;
};

}  // namespace extractor
