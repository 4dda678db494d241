#include "name_display.h"

#include <cstdio>

#include "code_page.h"

namespace mkpayload {
namespace {

// Ranges of characters that terminals draw two columns wide (East Asian Wide and
// Fullwidth) and of combining marks that take none, coarse but covering the
// scripts of the ANSI code pages.
struct Range {
  char32_t first, last;
};
constexpr Range WIDE[] = {{0x1100, 0x115F}, {0x2E80, 0x303E}, {0x3041, 0x33FF}, {0x3400, 0x4DBF},
                          {0x4E00, 0x9FFF}, {0xA000, 0xA4CF}, {0xAC00, 0xD7A3}, {0xF900, 0xFAFF},
                          {0xFE30, 0xFE4F}, {0xFF00, 0xFF60}, {0xFFE0, 0xFFE6}, {0x20000, 0x3FFFD}};
constexpr Range COMBINING[] = {{0x0300, 0x036F}, {0x0483, 0x0489}, {0x0591, 0x05BD}, {0x05BF, 0x05C7},
                               {0x0610, 0x061A}, {0x064B, 0x065F}, {0x0670, 0x0670}, {0x0E31, 0x0E31},
                               {0x0E34, 0x0E3A}, {0x0E47, 0x0E4E}, {0x200B, 0x200F}, {0x3099, 0x309A}};

template <size_t N>
bool in(const Range (&ranges)[N], char32_t c) {
  for (const Range& r : ranges)
    if (c >= r.first && c <= r.last) return true;
  return false;
}

std::string escaped(std::string_view bytes) {
  std::string out;
  for (char b : bytes) {
    const auto byte = static_cast<unsigned char>(b);
    if (byte < 0x80) {
      out.push_back(b);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "<%02X>", byte);
      out += hex;
    }
  }
  return out;
}

}  // namespace

std::string shown_text(std::string_view bytes, std::optional<unsigned> code_page) {
  if (code_page) {
    if (auto text = decode_from_code_page(bytes, *code_page)) return *text;
  }
  return escaped(bytes);
}

size_t display_width(std::string_view utf8) {
  const auto text = decode_utf8(utf8);
  if (!text) return utf8.size();
  size_t columns = 0;
  for (char32_t c : *text) columns += in(COMBINING, c) ? 0 : in(WIDE, c) ? 2 : 1;
  return columns;
}

std::string pad_to_width(std::string_view utf8, size_t columns) {
  const size_t width = display_width(utf8);
  std::string out(utf8);
  if (width < columns) out.append(columns - width, ' ');
  return out;
}

}  // namespace mkpayload
