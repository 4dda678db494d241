#include "registry_text.h"

namespace javaext {
namespace {

template <class Char>
bool finish_text(std::span<Char> buffer, std::size_t data_size) {
  if (buffer.empty()) return false;
  if (data_size <= buffer.size()) {
    for (std::size_t i = 0; i < data_size; ++i) {
      if (buffer[i] == Char(0)) return true;
    }
  }
  if (data_size < buffer.size()) {
    buffer[data_size] = Char(0);
    return true;
  }
  buffer[0] = Char(0);
  return false;
}

}  // namespace

bool finish_registry_text(std::span<char> buffer, std::size_t data_size) { return finish_text(buffer, data_size); }

bool finish_registry_text(std::span<char16_t> buffer, std::size_t data_size) { return finish_text(buffer, data_size); }

}  // namespace javaext
