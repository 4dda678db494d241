// The payload appended to the extractor stub, shared by the extractor (reader)
// and mkpayload (writer). All integers are 32-bit little-endian.
//
//   offset 0        stub image, P bytes (P = payload offset)
//   offset P        entries, back to back:
//                     uint32 N  name length, NUL included
//                     int32  S  > 0: compressed stream of S bytes; <= 0: stored, -S bytes
//                     uint32 U  unpacked size
//                     char[N]   name, NUL-terminated within the N bytes
//                     |S| bytes data
//                   ignored bytes (mkpayload writes the label block here)
//   end - 8         trailer: int32 entry count (<= 0: none), uint32 P (0: no payload)
//
// "End" is the end of the file, or for a signed installer the start of the
// certificate table that Authenticode signing appends (see signed_installer.h).
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace payload {

constexpr uint32_t TRAILER_SIZE = 8;
constexpr uint32_t ENTRY_HEADER_SIZE = 12;

// Reserved entry names.
constexpr std::string_view EXEC_NAME = "$EXEC";  // content is a command line, run, not written
constexpr std::string_view SELF_NAME = "_SELF";  // the stub copy written after the last entry

// The 12-byte label block between the last entry and the trailer: "unknown" with
// its NUL, then the label's length (8). Never read by the extractor.
constexpr std::array<uint8_t, 12> LABEL_BLOCK = {'u', 'n', 'k', 'n', 'o', 'w', 'n', 0, 8, 0, 0, 0};

struct Trailer {
  int32_t entry_count = 0;
  uint32_t payload_offset = 0;
};

struct EntryHeader {
  uint32_t name_length = 0;    // N, NUL included
  int32_t size = 0;            // S
  uint32_t unpacked_size = 0;  // U

  bool compressed() const { return size > 0; }
  // Bytes of data behind the name; S = INT32_MIN has no such count.
  bool has_data_length() const { return size != INT32_MIN; }
  uint32_t data_length() const {
    return size > 0 ? static_cast<uint32_t>(size) : static_cast<uint32_t>(-static_cast<int64_t>(size));
  }
};

inline uint32_t load_u32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline void store_u32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}

Trailer decode_trailer(std::span<const uint8_t, TRAILER_SIZE> bytes);
std::array<uint8_t, TRAILER_SIZE> encode_trailer(const Trailer& trailer);
EntryHeader decode_entry_header(std::span<const uint8_t, ENTRY_HEADER_SIZE> bytes);
std::array<uint8_t, ENTRY_HEADER_SIZE> encode_entry_header(const EntryHeader& header);

// Reads `out.size()` bytes at `offset` of a file; false when they are not all there.
using ReadAt = bool (*)(void* file, uint64_t offset, std::span<uint8_t> out);

// The most bytes an implode stream of `stream_size` bytes can decode to. The
// cheapest output per bit is a 518-byte match in 22 bits (flag 1, length code 7,
// extra 8, distance code 2, low bits 4); the two header bytes carry no tokens.
// Rounded up by one such match, so it is a safe bound for any stream. S * 8 / 22
// is S * 4 / 11, taken as 4 * (S / 11) + 4 * (S % 11) / 11 so that the stub needs
// no 64-bit division.
constexpr uint64_t max_exploded_size(uint32_t stream_size) {
  return (uint64_t(stream_size / 11) * 4 + (stream_size % 11) * 4 / 11 + 1) * 518;
}
static_assert(max_exploded_size(0xFFFFFFFF) == (uint64_t(0xFFFFFFFF) * 8 / 22 + 1) * 518);
static_assert(max_exploded_size(21) == (uint64_t(21) * 8 / 22 + 1) * 518);

// The output buffer a compressed entry needs: its unpacked size U, but never
// more than its stream can decode to, however large U claims to be.
constexpr uint64_t exploded_buffer_size(uint32_t stream_size, uint32_t unpacked_size) {
  const uint64_t bound = max_exploded_size(stream_size);
  return unpacked_size < bound ? unpacked_size : bound;
}

}  // namespace payload
