// Texts in fixed buffers, always NUL-terminated and never written past their
// end. Two ways to add to a text, for two kinds of caller:
//   append      keeps what fits: a piece that does not fit in full is dropped
//               and marks the text as overflowed (messages keep their start);
//   append_all  all parts or none: parts that do not fit together leave the
//               text as it was (a path is either whole or not formed at all).
#pragma once

#include <array>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <span>
#include <string_view>

namespace common {

class BoundedText {
 public:
  // Starts the empty text in `buffer`.
  explicit BoundedText(std::span<char> buffer) : buffer_(buffer) {
    if (!buffer_.empty()) buffer_[0] = '\0';
    overflowed_ = buffer_.empty();
  }

  BoundedText& append(std::string_view piece) {
    if (overflowed_ || piece.size() >= buffer_.size() - length_) {
      overflowed_ = true;
      return *this;
    }
    put(piece);
    return *this;
  }

  BoundedText& append_all(std::initializer_list<std::string_view> parts) {
    size_t total = 0;
    for (std::string_view part : parts) total += part.size();
    if (overflowed_ || total >= buffer_.size() - length_) {
      overflowed_ = true;
      return *this;
    }
    for (std::string_view part : parts) put(part);
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
  void put(std::string_view piece) {
    if (!piece.empty()) std::memcpy(buffer_.data() + length_, piece.data(), piece.size());
    length_ += piece.size();
    buffer_[length_] = '\0';
  }

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

// Writes the parts one after the other into `out`, followed by a NUL. Returns
// false when they do not fit together with the NUL: `out` then holds the empty
// text (when it has a byte at all) and nothing else of it is written.
inline bool join_text(std::span<char> out, std::initializer_list<std::string_view> parts) {
  return BoundedText(out).append_all(parts).ok();
}

// The length of the text in `buffer`: up to its first NUL, or the whole buffer.
inline std::size_t bounded_length(std::span<const char> buffer) {
  const void* nul = std::memchr(buffer.data(), '\0', buffer.size());
  return nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - buffer.data()) : buffer.size();
}

// A text of at most Capacity - 1 characters and its NUL, in place.
template <std::size_t Capacity>
class FixedText {
  static_assert(Capacity > 0, "a text needs room for its NUL");

 public:
  static constexpr std::size_t capacity = Capacity;

  bool assign(std::initializer_list<std::string_view> parts) { return join_text(bytes_, parts); }
  void clear() { bytes_[0] = '\0'; }

  // The whole buffer, for a reader that fills it; it must leave a NUL inside.
  std::span<char> buffer() { return bytes_; }

  const char* c_str() const { return bytes_.data(); }
  std::string_view view() const { return {bytes_.data(), bounded_length(bytes_)}; }
  std::size_t size() const { return bounded_length(bytes_); }
  bool empty() const { return bytes_[0] == '\0'; }

 private:
  std::array<char, Capacity> bytes_{};
};

}  // namespace common
