#include "payload_reader.h"

#include <cstring>

namespace payload {

ReadStatus PayloadReader::open() {
  end_ = payload::payload_end(file_size_, read_at_, file_);
  uint8_t bytes[TRAILER_SIZE];
  if (end_ < TRAILER_SIZE || !read_at_(file_, end_ - TRAILER_SIZE, std::span<uint8_t>(bytes)))
    return ReadStatus::truncated;
  trailer_ = decode_trailer(bytes);
  if (trailer_.payload_offset == 0) return ReadStatus::no_payload;
  region_end_ = end_ - TRAILER_SIZE;
  if (trailer_.payload_offset > region_end_) return ReadStatus::truncated;
  position_ = trailer_.payload_offset;
  index_ = 0;
  return ReadStatus::ok;
}

ReadStatus PayloadReader::next(EntryView& entry) {
  uint8_t header_bytes[ENTRY_HEADER_SIZE];
  if (region_end_ - position_ < ENTRY_HEADER_SIZE || !read_at_(file_, position_, std::span<uint8_t>(header_bytes)))
    return ReadStatus::truncated;
  entry.header = decode_entry_header(header_bytes);
  entry.header_offset = position_;
  const uint64_t name_offset = position_ + ENTRY_HEADER_SIZE;

  // Only as many name bytes as a target path could hold are read: a NUL further
  // on could not make a path that fits anyway.
  const uint32_t name_length = entry.header.name_length;
  if (name_length > region_end_ - name_offset) return ReadStatus::truncated;
  const uint32_t name_read = name_length < NAME_CAPACITY ? name_length : NAME_CAPACITY;
  if (!read_at_(file_, name_offset, {reinterpret_cast<uint8_t*>(name_), name_read})) return ReadStatus::truncated;
  const void* nul = std::memchr(name_, 0, name_read);
  if (nul == nullptr) return name_length <= NAME_CAPACITY ? ReadStatus::malformed : ReadStatus::name_too_long;
  entry.name = std::string_view(name_, static_cast<size_t>(static_cast<const char*>(nul) - name_));

  if (!entry.header.has_data_length()) return ReadStatus::malformed;
  entry.data_offset = name_offset + name_length;
  entry.data_length = entry.header.data_length();
  if (entry.data_length > region_end_ - entry.data_offset) return ReadStatus::truncated;
  if (!entry.header.compressed() && entry.header.unpacked_size != entry.data_length) return ReadStatus::malformed;

  position_ = entry.data_offset + entry.data_length;
  ++index_;
  return ReadStatus::ok;
}

}  // namespace payload
