// Texts in fixed buffers, always NUL-terminated and never written past their
// end. Two ways to add to a text, for two kinds of caller:
//   append      keeps what fits: a piece that does not fit in full is dropped
//               and marks the text as overflowed (messages keep their start);
//   append_all  all parts or none: parts that do not fit together leave the
//               text as it was (a path is either whole or not formed at all).
// Texts are of 8-bit characters (the payload's bytes, the ANSI code page) or of
// UTF-16 code units (what the wide Windows calls take); sizes count characters
// of the text's own type, so a limit means the same number of characters in both.
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

// An ASCII literal as a text of any character type, for code written once for
// both kinds of text: ascii_text<char16_t>("\\lib\\ext").
template <class Char, std::size_t N>
struct AsciiText {
  Char text[N];
  constexpr std::basic_string_view<Char> view() const { return {text, N - 1}; }
  constexpr operator std::basic_string_view<Char>() const { return view(); }
};

template <class Char, std::size_t N>
consteval AsciiText<Char, N> ascii_text(const char (&ascii)[N]) {
  AsciiText<Char, N> out{};
  for (std::size_t i = 0; i < N; ++i) out.text[i] = static_cast<Char>(ascii[i]);
  return out;
}

// The first `n` characters of `text`, or all of it where it is shorter: what
// substr(0, n) gives, without the library's out-of-line substr, whose range
// check carries an error text into every program that calls it (our stub's size
// counts it, several times over).
template <class Char>
constexpr std::basic_string_view<Char> leading(std::basic_string_view<Char> text, std::size_t n) {
  return {text.data(), n < text.size() ? n : text.size()};
}

template <class Char>
class BasicBoundedText {
 public:
  using View = std::basic_string_view<Char>;

  // Starts the empty text in `buffer`.
  explicit BasicBoundedText(std::span<Char> buffer) : buffer_(buffer) {
    if (!buffer_.empty()) buffer_[0] = Char(0);
    overflowed_ = buffer_.empty();
  }

  BasicBoundedText& append(View piece) {
    if (overflowed_ || piece.size() >= buffer_.size() - length_) {
      overflowed_ = true;
      return *this;
    }
    put(piece);
    return *this;
  }

  // ASCII text (a message's fixed wording, a number's digits) into a text of
  // wider characters, one character each.
  BasicBoundedText& append_ascii(std::string_view ascii) {
    if (overflowed_ || ascii.size() >= buffer_.size() - length_) {
      overflowed_ = true;
      return *this;
    }
    for (char c : ascii) buffer_[length_++] = static_cast<Char>(static_cast<unsigned char>(c));
    buffer_[length_] = Char(0);
    return *this;
  }

  BasicBoundedText& append_all(std::initializer_list<View> parts) {
    size_t total = 0;
    for (View part : parts) total += part.size();
    if (overflowed_ || total >= buffer_.size() - length_) {
      overflowed_ = true;
      return *this;
    }
    for (View part : parts) put(part);
    return *this;
  }

  // Appends what `fill` writes into the room left (without the NUL's place).
  // `fill` takes a std::span<Char> and returns how many characters it wrote
  // there, or 0 when what it has to write does not fit: the text is then
  // overflowed and keeps what it held before.
  template <class Fill>
  BasicBoundedText& append_from(Fill&& fill) {
    if (overflowed_ || buffer_.size() - length_ < 2) {
      overflowed_ = true;
      return *this;
    }
    const std::span<Char> room = buffer_.subspan(length_, buffer_.size() - length_ - 1);
    const size_t written = fill(room);
    if (written == 0 || written > room.size()) {
      buffer_[length_] = Char(0);
      overflowed_ = true;
      return *this;
    }
    length_ += written;
    buffer_[length_] = Char(0);
    return *this;
  }

  BasicBoundedText& append_signed(int32_t value) { return append_number(value, 10); }
  // Upper-case hexadecimal without leading zeros, as printf's %X.
  BasicBoundedText& append_hex(uint32_t value) { return append_number(value, 16, true); }

  bool ok() const { return !overflowed_; }
  size_t size() const { return length_; }
  View view() const { return {buffer_.data(), length_}; }
  const Char* c_str() const { return buffer_.data(); }

 private:
  void put(View piece) {
    if (!piece.empty()) std::memcpy(buffer_.data() + length_, piece.data(), piece.size() * sizeof(Char));
    length_ += piece.size();
    buffer_[length_] = Char(0);
  }

  template <typename T>
  BasicBoundedText& append_number(T value, int base, bool upper = false) {
    char digits[16];
    auto result = std::to_chars(digits, digits + sizeof digits, value, base);
    if (upper) {
      for (char* p = digits; p != result.ptr; ++p)
        if (*p >= 'a' && *p <= 'f') *p = static_cast<char>(*p - 'a' + 'A');
    }
    return append_ascii(std::string_view(digits, static_cast<size_t>(result.ptr - digits)));
  }

  std::span<Char> buffer_;
  size_t length_ = 0;
  bool overflowed_ = false;
};

using BoundedText = BasicBoundedText<char>;
using WideBoundedText = BasicBoundedText<char16_t>;

// Writes the parts one after the other into `out`, followed by a NUL. Returns
// false when they do not fit together with the NUL: `out` then holds the empty
// text (when it has a character at all) and nothing else of it is written.
inline bool join_text(std::span<char> out, std::initializer_list<std::string_view> parts) {
  return BoundedText(out).append_all(parts).ok();
}

template <class Char>
bool join_text(std::span<Char> out, std::initializer_list<std::basic_string_view<Char>> parts) {
  return BasicBoundedText<Char>(out).append_all(parts).ok();
}

// The length of the text in `buffer`: up to its first NUL, or the whole buffer.
template <class Char>
std::size_t bounded_length(std::span<const Char> buffer) {
  std::size_t length = 0;
  while (length < buffer.size() && buffer[length] != Char(0)) ++length;
  return length;
}

inline std::size_t bounded_length(std::span<const char> buffer) {
  const void* nul = std::memchr(buffer.data(), '\0', buffer.size());
  return nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - buffer.data()) : buffer.size();
}

// A text of at most Capacity - 1 characters and its NUL, in place.
template <std::size_t Capacity, class Char = char>
class FixedText {
  static_assert(Capacity > 0, "a text needs room for its NUL");

 public:
  static constexpr std::size_t capacity = Capacity;
  using View = std::basic_string_view<Char>;

  bool assign(std::initializer_list<View> parts) { return join_text<Char>(bytes_, parts); }
  void clear() { bytes_[0] = Char(0); }

  // The whole buffer, for a reader that fills it; it must leave a NUL inside.
  std::span<Char> buffer() { return bytes_; }

  const Char* c_str() const { return bytes_.data(); }
  View view() const { return {bytes_.data(), size()}; }
  std::size_t size() const { return bounded_length<Char>(std::span<const Char>(bytes_)); }
  bool empty() const { return bytes_[0] == Char(0); }

 private:
  std::array<Char, Capacity> bytes_{};
};

}  // namespace common
