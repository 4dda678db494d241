// The double-byte code pages through tables made from iconv at build time
// (double_byte_tables.h): the same results, with no converter to load at run
// time.
#include <algorithm>
#include <string>

#include "double_byte_pages.h"
#include "double_byte_tables.h"

namespace mkpayload::code_pages {
namespace {

const DoubleByteTable* table_of(unsigned code_page) {
  for (const auto& table : double_byte_tables)
    if (table.number == code_page) return &table;
  return nullptr;
}

// The value stored under `key` in a sorted key list and its value list.
std::optional<uint16_t> look_up(std::span<const uint16_t> keys, std::span<const uint16_t> values, unsigned key) {
  const auto at = std::lower_bound(keys.begin(), keys.end(), key);
  if (at == keys.end() || *at != key) return std::nullopt;
  return values[static_cast<size_t>(at - keys.begin())];
}

}  // namespace

std::optional<std::string> encode_double_byte(char32_t c, unsigned code_page) {
  const DoubleByteTable* table = table_of(code_page);
  if (!table || c > 0xFFFF) return std::nullopt;
  const auto sequence = look_up(table->characters, table->written_as, c);
  if (!sequence) return std::nullopt;
  if (*sequence < 0x100) return std::string(1, static_cast<char>(*sequence));
  return std::string{static_cast<char>(*sequence >> 8), static_cast<char>(*sequence & 0xFF)};
}

// A pair is read where the page has one, else a single byte: no byte of these
// pages is both a character and the start of a pair (the table maker checks),
// and every pair starts at 0x80 or above (a key below is a single byte's).
std::optional<std::u32string> decode_double_byte(std::string_view bytes, unsigned code_page) {
  const DoubleByteTable* table = table_of(code_page);
  if (!table) return std::nullopt;
  std::u32string text;
  for (size_t i = 0; i < bytes.size();) {
    const auto first = static_cast<unsigned char>(bytes[i]);
    if (first >= 0x80 && i + 1 < bytes.size()) {
      const auto pair =
          look_up(table->sequences, table->read_as, first << 8 | static_cast<unsigned char>(bytes[i + 1]));
      if (pair) {
        text.push_back(*pair);
        i += 2;
        continue;
      }
    }
    const auto single = look_up(table->sequences, table->read_as, first);
    if (!single) return std::nullopt;
    text.push_back(*single);
    ++i;
  }
  return text;
}

}  // namespace mkpayload::code_pages
