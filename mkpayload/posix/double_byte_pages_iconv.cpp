// The double-byte code pages through the C library's iconv, which carries
// Microsoft's tables under the names CP932, CP936, CP949 and CP950.
#include <iconv.h>

#include <cerrno>
#include <string>

#include "double_byte_pages.h"

namespace mkpayload::code_pages {
namespace {

// Converts all of `in` or fails; no //TRANSLIT or //IGNORE, so a character
// without a place, or an invalid sequence, is a failure.
std::optional<std::string> convert(const char* to, const char* from, std::string_view in) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string out(in.size() * 4 + 8, '\0');
  char* in_ptr = const_cast<char*>(in.data());
  size_t in_left = in.size();
  char* out_ptr = out.data();
  size_t out_left = out.size();
  const size_t done = iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left);
  const bool flushed =
      done != static_cast<size_t>(-1) && iconv(cd, nullptr, nullptr, &out_ptr, &out_left) != static_cast<size_t>(-1);
  iconv_close(cd);
  if (!flushed || in_left != 0) return std::nullopt;
  out.resize(out.size() - out_left);
  return out;
}

std::string iconv_name(unsigned code_page) { return "CP" + std::to_string(code_page); }

}  // namespace

std::optional<std::string> encode_double_byte(char32_t c, unsigned code_page) {
  const std::u32string one(1, c);
  return convert(iconv_name(code_page).c_str(), "UTF-32LE",
                 std::string_view(reinterpret_cast<const char*>(one.data()), sizeof(char32_t)));
}

std::optional<std::u32string> decode_double_byte(std::string_view bytes, unsigned code_page) {
  const auto wide = convert("UTF-32LE", iconv_name(code_page).c_str(), bytes);
  if (!wide || wide->size() % sizeof(char32_t) != 0) return std::nullopt;
  std::u32string text(wide->size() / sizeof(char32_t), U'\0');
  for (size_t i = 0; i < text.size(); ++i) {
    const auto* b = reinterpret_cast<const unsigned char*>(wide->data()) + i * 4;
    text[i] = char32_t(b[0]) | char32_t(b[1]) << 8 | char32_t(b[2]) << 16 | char32_t(b[3]) << 24;
  }
  return text;
}

}  // namespace mkpayload::code_pages
