// The double-byte code pages through the Windows API, with best-fit mappings
// turned off and invalid sequences refused.
#include <windows.h>

#include <string>

#include "double_byte_pages.h"

namespace mkpayload::code_pages {
namespace {

std::wstring utf16_of(char32_t c) {
  if (c < 0x10000) return std::wstring(1, static_cast<wchar_t>(c));
  const char32_t v = c - 0x10000;
  return {static_cast<wchar_t>(0xD800 + (v >> 10)), static_cast<wchar_t>(0xDC00 + (v & 0x3FF))};
}

}  // namespace

std::optional<std::string> encode_double_byte(char32_t c, unsigned code_page) {
  const std::wstring wide = utf16_of(c);
  char bytes[8];
  BOOL used_default = FALSE;
  const int n = WideCharToMultiByte(code_page, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()), bytes,
                                    sizeof bytes, nullptr, &used_default);
  if (n <= 0 || used_default) return std::nullopt;
  return std::string(bytes, static_cast<size_t>(n));
}

std::optional<std::u32string> decode_double_byte(std::string_view bytes, unsigned code_page) {
  if (bytes.empty()) return std::u32string();
  const int n =
      MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  if (n <= 0) return std::nullopt;
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()), wide.data(), n);
  std::u32string text;
  for (size_t i = 0; i < wide.size(); ++i) {
    const char32_t unit = wide[i];
    if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < wide.size()) {
      text.push_back(0x10000 + ((unit - 0xD800) << 10) + (char32_t(wide[++i]) - 0xDC00));
    } else {
      text.push_back(unit);
    }
  }
  return text;
}

}  // namespace mkpayload::code_pages
