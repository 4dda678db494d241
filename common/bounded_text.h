// Building NUL-terminated texts in fixed buffers without ever writing past them.
#pragma once

#include <charconv>
#include <cstdint>
#include <span>
#include <string_view>

// Appends pieces to a fixed character buffer, always keeping it NUL-terminated.
// A piece that does not fit in full marks the text as overflowed and is dropped;
// the text keeps what was appended before it.
class BoundedText {
 public:
  explicit BoundedText(std::span<char> buffer) : buffer_(buffer) {
    if (!buffer_.empty()) buffer_[0] = '\0';
    overflowed_ = buffer_.empty();
  }

  BoundedText& append(std::string_view piece) {
    if (overflowed_ || piece.size() >= buffer_.size() - length_) {
      overflowed_ = true;
      return *this;
    }
    for (char c : piece) buffer_[length_++] = c;
    buffer_[length_] = '\0';
    return *this;
  }

  BoundedText& append_signed(int32_t value) { return append_number(value, 10); }
  // Upper-case hexadecimal without leading zeros, as printf's %X.
  BoundedText& append_hex(uint32_t value) { return append_number(value, 16, true); }

  bool ok() const { return !overflowed_; }
  size_t size() const { return length_; }
  std::string_view view() const { return {buffer_.data(), length_}; }
  const char* c_str() const { return buffer_.data(); }

 private:
  template <typename T>
  BoundedText& append_number(T value, int base, bool upper = false) {
    char digits[16];
    auto result = std::to_chars(digits, digits + sizeof digits, value, base);
    if (upper) {
      for (char* p = digits; p != result.ptr; ++p)
        if (*p >= 'a' && *p <= 'f') *p = static_cast<char>(*p - 'a' + 'A');
    }
    return append(std::string_view(digits, static_cast<size_t>(result.ptr - digits)));
  }

  std::span<char> buffer_;
  size_t length_ = 0;
  bool overflowed_ = false;
};
