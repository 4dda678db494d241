// Where the payload ends in a signed installer. Authenticode signing appends a
// certificate table to the finished file and records it in the PE security
// directory; the payload's trailer is then the last 8 bytes before that table.
#pragma once

#include <cstdint>
#include <optional>

#include "payload_layout.h"

namespace payload {

// A PE image's security directory entry (the place of its certificate table)
// and where its headers end (the end of the section table).
struct SecurityDirectory {
  uint64_t offset = 0;
  uint64_t size = 0;
  uint64_t headers_end = 0;
};

// Each certificate in the table starts with an 8-byte header (length, revision, type).
constexpr uint32_t CERTIFICATE_HEADER_SIZE = 8;

// The security directory of a PE image whose headers read cleanly, when it is
// not empty; nullopt otherwise.
std::optional<SecurityDirectory> security_directory(uint64_t file_size, ReadAt read_at, void* file);

// Where the payload's trailer ends: the file size, unless the file is a PE image
// whose security directory names a certificate table that ends exactly at the
// end of the file; then the start of that table. Any header that does not read
// cleanly means "no certificate table".
uint64_t payload_end(uint64_t file_size, ReadAt read_at, void* file);

// True when payload_end found a certificate table.
inline bool has_certificate_table(uint64_t file_size, ReadAt read_at, void* file) {
  return payload_end(file_size, read_at, file) != file_size;
}

}  // namespace payload
