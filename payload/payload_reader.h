// Walks the entries of a payload with every size checked against the file
// before anything is read or allocated. Shared by the extractor and mkpayload.
#pragma once

#include <cstdint>
#include <string_view>

#include "payload_layout.h"
#include "signed_installer.h"

namespace payload {

// What reading the payload's structure found.
enum class ReadStatus {
  ok,
  no_payload,     // the trailer's payload offset is 0
  truncated,      // the trailer, an entry header, a name or data lies past the payload's end
  malformed,      // a name without its NUL within N bytes, S = INT32_MIN, or a stored U other than -S
  name_too_long,  // a name whose NUL lies beyond what a target path can hold
};

constexpr uint32_t NAME_CAPACITY = 512;  // a name is at most a whole target path

struct EntryView {
  EntryHeader header;
  std::string_view name;  // the text before the name's NUL (valid until the next call)
  uint64_t header_offset = 0;
  uint64_t data_offset = 0;
  uint32_t data_length = 0;  // |S|
};

class PayloadReader {
 public:
  PayloadReader(ReadAt read_at, void* file, uint64_t file_size)
      : read_at_(read_at), file_(file), file_size_(file_size) {}

  // Finds the trailer (before a certificate table, when there is one).
  ReadStatus open();
  // Reads the next entry's header and name and checks its sizes; the data is
  // left for the caller at entry.data_offset.
  ReadStatus next(EntryView& entry);

  bool at_end() const { return index_ >= trailer_.entry_count; }
  const Trailer& trailer() const { return trailer_; }
  uint64_t payload_end() const { return end_; }  // start of the trailer's 8 bytes + 8
  uint64_t file_size() const { return file_size_; }
  uint64_t position() const { return position_; }  // just past the last entry read

 private:
  ReadAt read_at_;
  void* file_;
  uint64_t file_size_;
  uint64_t end_ = 0;
  uint64_t region_end_ = 0;
  uint64_t position_ = 0;
  int32_t index_ = 0;
  Trailer trailer_;
  char name_[NAME_CAPACITY];
};

}  // namespace payload
