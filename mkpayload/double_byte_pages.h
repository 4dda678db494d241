// The double-byte ANSI code pages (932, 936, 949, 950): on Linux from tables
// made at build time from the C library's iconv (posix/double_byte_tables.h), on
// Windows from the Windows API. These are the two functions each platform layer
// provides.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace mkpayload::code_pages {

// One character's bytes in the page, or nullopt when the page has no place for it.
std::optional<std::string> encode_double_byte(char32_t c, unsigned code_page);
// The characters of `bytes`, or nullopt when they are not a valid sequence of the page.
std::optional<std::u32string> decode_double_byte(std::string_view bytes, unsigned code_page);

}  // namespace mkpayload::code_pages
