#include "signed_installer.h"

namespace payload {

// PE layout read here: the DOS header's e_lfanew (offset 0x3C) points at
// "PE\0\0"; the 20-byte file header follows (section count at +2, optional
// header size at +16), then the optional header, which begins with its magic
// (0x10B PE32, 0x20B PE32+), and then the section table (40 bytes a section).
// The data directories start at 96 (PE32) or 112 (PE32+) bytes into the
// optional header, preceded by their count; entry 4 is the security directory,
// whose "address" is a file offset, not an RVA.
std::optional<SecurityDirectory> security_directory(uint64_t file_size, ReadAt read_at, void* file) {
  uint8_t word[4];
  if (file_size < 0x40 || !read_at(file, 0, {word, 2}) || word[0] != 'M' || word[1] != 'Z') return std::nullopt;
  if (!read_at(file, 0x3C, {word, 4})) return std::nullopt;
  const uint64_t pe = load_u32(word);
  uint8_t headers[24 + 2];
  if (pe + sizeof headers > file_size || !read_at(file, pe, std::span<uint8_t>(headers))) return std::nullopt;
  if (headers[0] != 'P' || headers[1] != 'E' || headers[2] != 0 || headers[3] != 0) return std::nullopt;
  const uint32_t sections = uint32_t(headers[6]) | uint32_t(headers[7]) << 8;
  const uint32_t optional_size = uint32_t(headers[20]) | uint32_t(headers[21]) << 8;
  const uint32_t magic = uint32_t(headers[24]) | uint32_t(headers[25]) << 8;
  const uint32_t count_at = magic == 0x10B ? 92 : magic == 0x20B ? 108 : 0;
  if (count_at == 0) return std::nullopt;
  const uint32_t directory_at = count_at + 4 + 4 * 8;  // entry 4, 8 bytes each
  if (directory_at + 8 > optional_size) return std::nullopt;
  const uint64_t optional = pe + 24;
  uint8_t entry[8];
  if (!read_at(file, optional + count_at, {word, 4}) || load_u32(word) <= 4) return std::nullopt;
  if (optional + directory_at + 8 > file_size || !read_at(file, optional + directory_at, std::span<uint8_t>(entry)))
    return std::nullopt;
  const SecurityDirectory directory{load_u32(entry), load_u32(entry + 4),
                                    optional + optional_size + uint64_t(sections) * 40};
  if (directory.offset == 0 && directory.size == 0) return std::nullopt;
  return directory;
}

// The table must also lie wholly behind the headers (so the trailer cannot be
// taken from them), start 8-byte aligned as the PE format has it, and hold at
// least one 8-byte certificate header; anything else is not a signature that a
// signing tool wrote, and the file is read as unsigned.
uint64_t payload_end(uint64_t file_size, ReadAt read_at, void* file) {
  const auto directory = security_directory(file_size, read_at, file);
  if (!directory) return file_size;
  const auto [offset, size, headers_end] = *directory;
  if (size < CERTIFICATE_HEADER_SIZE || offset % 8 != 0 || offset < headers_end || offset + size != file_size)
    return file_size;
  return offset;
}

}  // namespace payload
