// Texts held in fixed buffers: NUL-terminated, formed by joining parts, and never
// written past their capacity.
#pragma once

#include <array>
#include <cstddef>
#include <initializer_list>
#include <span>
#include <string_view>

namespace javaext {

// Writes the parts one after the other into `out`, followed by a NUL. Returns
// false when they do not fit together with the NUL: `out` then holds the empty
// text (when it has a byte at all) and nothing is written past its end.
bool join_text(std::span<char> out, std::initializer_list<std::string_view> parts);

// The length of the text in `buffer`: up to its first NUL, or the whole buffer.
std::size_t bounded_length(std::span<const char> buffer);

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

}  // namespace javaext
