#include "extension_names.h"

namespace javaext {
namespace {

constexpr char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool equals_ignoring_ascii_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
  }
  return true;
}

ExtensionMatch classify_extracted_name(std::string_view name) {
  if (name.empty() || name.front() == '.') return {false, false};
  const std::size_t last_point = name.rfind('.');
  if (last_point == std::string_view::npos) return {false, false};
  const std::string_view extension = name.substr(last_point);
  return {equals_ignoring_ascii_case(extension, ".jar"), equals_ignoring_ascii_case(extension, ".dll")};
}

}  // namespace javaext
