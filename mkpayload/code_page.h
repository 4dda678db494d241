// Entry names and commands are bytes in the end user's ANSI code page: the
// extractor hands them to Windows as they are. mkpayload takes them as UTF-8
// (its command line) and converts them for the code page that `--codepage`
// names, refusing any character the page lacks; the inspecting modes convert
// back to show and write names as the end user's Windows will.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace mkpayload {

// The ANSI code pages of Windows systems: 874 (Thai), 932 (Japanese), 936
// (Simplified Chinese), 949 (Korean), 950 (Traditional Chinese), 1250-1258.
bool is_ansi_code_page(unsigned code_page);
inline constexpr std::string_view ANSI_CODE_PAGES = "874, 932, 936, 949, 950 and 1250 to 1258";

bool is_ascii(std::string_view text);

struct Encoded {
  std::string bytes;          // the text in the code page, when every character has a place there
  char32_t missing = 0;       // otherwise the first character that has none
  bool invalid_utf8 = false;  // or the text was not UTF-8 to begin with
  bool ok() const { return missing == 0 && !invalid_utf8; }
};

// Converts UTF-8 to `code_page` (an ANSI code page). A character is taken only
// when the page holds it and gives it back unchanged: no best-fit substitutes
// ('a' for 'ā') and no composition, so the end user's Windows reads exactly the
// characters that were given.
Encoded encode_for_code_page(std::string_view utf8, unsigned code_page);

// The characters that `bytes` stand for in `code_page`, as UTF-8; nullopt when the
// bytes hold a sequence the page does not define.
std::optional<std::string> decode_from_code_page(std::string_view bytes, unsigned code_page);

// "U+00EB 'ë'" for messages.
std::string describe_character(char32_t c);

// Strict UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
std::optional<std::u32string> decode_utf8(std::string_view utf8);
std::string encode_utf8(std::u32string_view text);

}  // namespace mkpayload
