#include "payload_layout.h"

namespace payload {

Trailer decode_trailer(std::span<const uint8_t, TRAILER_SIZE> bytes) {
  return {static_cast<int32_t>(load_u32(bytes.data())), load_u32(bytes.data() + 4)};
}

std::array<uint8_t, TRAILER_SIZE> encode_trailer(const Trailer& trailer) {
  std::array<uint8_t, TRAILER_SIZE> bytes{};
  store_u32(bytes.data(), static_cast<uint32_t>(trailer.entry_count));
  store_u32(bytes.data() + 4, trailer.payload_offset);
  return bytes;
}

EntryHeader decode_entry_header(std::span<const uint8_t, ENTRY_HEADER_SIZE> bytes) {
  return {load_u32(bytes.data()), static_cast<int32_t>(load_u32(bytes.data() + 4)), load_u32(bytes.data() + 8)};
}

std::array<uint8_t, ENTRY_HEADER_SIZE> encode_entry_header(const EntryHeader& header) {
  std::array<uint8_t, ENTRY_HEADER_SIZE> bytes{};
  store_u32(bytes.data(), header.name_length);
  store_u32(bytes.data() + 4, static_cast<uint32_t>(header.size));
  store_u32(bytes.data() + 8, header.unpacked_size);
  return bytes;
}

}  // namespace payload
