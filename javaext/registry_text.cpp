#include "registry_text.h"

#include <cstring>

namespace javaext {

bool finish_registry_text(std::span<char> buffer, std::size_t data_size) {
  if (buffer.empty()) return false;
  if (data_size <= buffer.size() && std::memchr(buffer.data(), '\0', data_size) != nullptr) return true;
  if (data_size < buffer.size()) {
    buffer[data_size] = '\0';
    return true;
  }
  buffer[0] = '\0';
  return false;
}

}  // namespace javaext
