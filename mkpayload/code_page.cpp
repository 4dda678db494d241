#include "code_page.h"

#include <algorithm>
#include <cstdio>

#include "code_page_tables.h"
#include "double_byte_pages.h"

namespace mkpayload {
namespace {

constexpr unsigned DOUBLE_BYTE_PAGES[] = {932, 936, 949, 950};

const code_pages::SingleBytePage* single_byte_page(unsigned code_page) {
  for (const auto& page : code_pages::single_byte_pages)
    if (page.number == code_page) return &page;
  return nullptr;
}

bool is_double_byte_page(unsigned code_page) {
  return std::find(std::begin(DOUBLE_BYTE_PAGES), std::end(DOUBLE_BYTE_PAGES), code_page) !=
         std::end(DOUBLE_BYTE_PAGES);
}

std::optional<char> encode_single_byte(const code_pages::SingleBytePage& page, char32_t c) {
  if (c < 0x80) return static_cast<char>(c);
  for (size_t i = 0; i < page.upper_half.size(); ++i)
    if (page.upper_half[i] != 0 && page.upper_half[i] == c) return static_cast<char>(0x80 + i);
  return std::nullopt;
}

// A character of a double-byte page counts only when its bytes read back as it.
std::optional<std::string> encode_double_byte_exactly(char32_t c, unsigned code_page) {
  if (c < 0x80) return std::string(1, static_cast<char>(c));
  auto bytes = code_pages::encode_double_byte(c, code_page);
  if (!bytes) return std::nullopt;
  const auto back = code_pages::decode_double_byte(*bytes, code_page);
  if (!back || *back != std::u32string(1, c)) return std::nullopt;
  return bytes;
}

}  // namespace

bool is_ansi_code_page(unsigned code_page) { return single_byte_page(code_page) || is_double_byte_page(code_page); }

bool is_ascii(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::optional<std::u32string> decode_utf8(std::string_view utf8) {
  std::u32string out;
  for (size_t i = 0; i < utf8.size();) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    size_t length;
    char32_t c, least;
    if (lead < 0x80) {
      length = 1;
      c = lead;
      least = 0;
    } else if ((lead & 0xE0) == 0xC0) {
      length = 2;
      c = lead & 0x1F;
      least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3;
      c = lead & 0x0F;
      least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4;
      c = lead & 0x07;
      least = 0x10000;
    } else
      return std::nullopt;
    if (utf8.size() - i < length) return std::nullopt;
    for (size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(utf8[i + k]);
      if ((next & 0xC0) != 0x80) return std::nullopt;
      c = c << 6 | (next & 0x3F);
    }
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return std::nullopt;
    out.push_back(c);
    i += length;
  }
  return out;
}

std::string encode_utf8(std::u32string_view text) {
  std::string out;
  for (char32_t c : text) {
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | c >> 6));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | c >> 12));
      out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | c >> 18));
      out.push_back(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

Encoded encode_for_code_page(std::string_view utf8, unsigned code_page) {
  Encoded result;
  const auto text = decode_utf8(utf8);
  if (!text) {
    result.invalid_utf8 = true;
    return result;
  }
  const code_pages::SingleBytePage* page = single_byte_page(code_page);
  for (char32_t c : *text) {
    if (page) {
      if (const auto byte = encode_single_byte(*page, c)) {
        result.bytes.push_back(*byte);
        continue;
      }
    } else if (is_double_byte_page(code_page)) {
      if (const auto bytes = encode_double_byte_exactly(c, code_page)) {
        result.bytes += *bytes;
        continue;
      }
    }
    result.missing = c;
    result.bytes.clear();
    return result;
  }
  return result;
}

std::optional<std::string> decode_from_code_page(std::string_view bytes, unsigned code_page) {
  if (is_ascii(bytes)) return std::string(bytes);
  if (const code_pages::SingleBytePage* page = single_byte_page(code_page)) {
    std::u32string text;
    for (char b : bytes) {
      const auto byte = static_cast<unsigned char>(b);
      const char32_t c = byte < 0x80 ? byte : page->upper_half[byte - 0x80];
      if (c == 0) return std::nullopt;
      text.push_back(c);
    }
    return encode_utf8(text);
  }
  if (!is_double_byte_page(code_page)) return std::nullopt;
  const auto text = code_pages::decode_double_byte(bytes, code_page);
  if (!text) return std::nullopt;
  return encode_utf8(*text);
}

std::string describe_character(char32_t c) {
  char code[16];
  std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
  return std::string(code) + " '" + encode_utf8(std::u32string(1, c)) + "'";
}

}  // namespace mkpayload
