#include "bounded_text.h"

#include <cstring>

namespace javaext {

bool join_text(std::span<char> out, std::initializer_list<std::string_view> parts) {
  if (out.empty()) return false;
  std::size_t total = 0;
  for (std::string_view part : parts) {
    if (part.size() >= out.size() - total) {  // the part and the NUL must both fit
      out[0] = '\0';
      return false;
    }
    total += part.size();
  }
  char* write = out.data();
  for (std::string_view part : parts) {
    if (!part.empty()) std::memcpy(write, part.data(), part.size());
    write += part.size();
  }
  *write = '\0';
  return true;
}

std::size_t bounded_length(std::span<const char> buffer) {
  const void* nul = std::memchr(buffer.data(), '\0', buffer.size());
  return nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - buffer.data()) : buffer.size();
}

}  // namespace javaext
