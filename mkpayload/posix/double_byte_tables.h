// The double-byte code pages' tables, written at build time from iconv by
// tools/double_byte_table_maker.cpp (which says what they hold).
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace mkpayload::code_pages {

struct DoubleByteTable {
  unsigned number;
  std::span<const uint16_t> sequences;   // sorted: a byte b as b, a pair as lead << 8 | trail
  std::span<const uint16_t> read_as;     // the character of each sequence
  std::span<const uint16_t> characters;  // sorted: those written as bytes that read back as them
  std::span<const uint16_t> written_as;  // the sequence of each character
};

extern const std::array<DoubleByteTable, 4> double_byte_tables;

}  // namespace mkpayload::code_pages
