// One iconv conversion, opened once and used for many short texts: the build's
// double-byte table maker reads the code pages through it, and the tables' test
// holds them to it.
#pragma once

#include <iconv.h>

#include <optional>
#include <string>
#include <vector>

namespace mkpayload::tools {

class IconvConverter {
 public:
  IconvConverter(const std::string& to, const std::string& from) : cd_(iconv_open(to.c_str(), from.c_str())) {}
  ~IconvConverter() {
    if (ok()) iconv_close(cd_);
  }
  IconvConverter(const IconvConverter&) = delete;
  IconvConverter& operator=(const IconvConverter&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // All of `in` converted, or nullopt (an invalid, incomplete or unmappable
  // sequence: no //TRANSLIT or //IGNORE).
  std::optional<std::string> convert(const std::string& in) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    std::string out(in.size() * 4 + 8, '\0');
    char* in_ptr = const_cast<char*>(in.data());
    size_t in_left = in.size();
    char* out_ptr = out.data();
    size_t out_left = out.size();
    if (iconv(cd_, &in_ptr, &in_left, &out_ptr, &out_left) == static_cast<size_t>(-1) || in_left != 0 ||
        iconv(cd_, nullptr, nullptr, &out_ptr, &out_left) == static_cast<size_t>(-1))
      return std::nullopt;
    out.resize(out.size() - out_left);
    return out;
  }

 private:
  iconv_t cd_;
};

// UTF-32LE bytes as characters.
inline std::u32string from_utf32le(const std::string& bytes) {
  std::u32string text;
  for (size_t i = 0; i + 4 <= bytes.size(); i += 4) {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data() + i);
    text.push_back(char32_t(b[0]) | char32_t(b[1]) << 8 | char32_t(b[2]) << 16 | char32_t(b[3]) << 24);
  }
  return text;
}

// One character as UTF-32LE bytes.
inline std::string to_utf32le(char32_t c) {
  return {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8 & 0xFF), static_cast<char>(c >> 16 & 0xFF),
          static_cast<char>(c >> 24 & 0xFF)};
}

}  // namespace mkpayload::tools
