// How mkpayload shows payload names and commands on a terminal: as the end
// user's Windows will read them when the code page is known, otherwise with
// every non-ASCII byte as <XX> (never as some other page's characters).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace mkpayload {

// The bytes of a name or command as text to show (UTF-8).
std::string shown_text(std::string_view bytes, std::optional<unsigned> code_page);

// Terminal columns the UTF-8 text takes: one per character, two for the wide
// characters of East Asian scripts, none for combining marks.
size_t display_width(std::string_view utf8);

// `text` followed by spaces up to `columns` display columns.
std::string pad_to_width(std::string_view utf8, size_t columns);

}  // namespace mkpayload
