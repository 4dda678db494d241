#include "extension_names.h"

namespace javaext {
namespace {

template <class Char>
constexpr Char ascii_lower(Char c) {
  return (c >= Char('A') && c <= Char('Z')) ? static_cast<Char>(c - Char('A') + Char('a')) : c;
}

// `extension` against an ASCII extension in lower case.
template <class Char>
bool is_extension(std::basic_string_view<Char> extension, std::string_view lower_case) {
  if (extension.size() != lower_case.size()) return false;
  for (std::size_t i = 0; i < extension.size(); ++i) {
    if (ascii_lower(extension[i]) != static_cast<Char>(lower_case[i])) return false;
  }
  return true;
}

template <class Char>
ExtensionMatch classify(std::basic_string_view<Char> name) {
  if (name.empty() || name.front() == Char('.')) return {false, false};
  const std::size_t last_point = name.rfind(Char('.'));
  if (last_point == std::basic_string_view<Char>::npos) return {false, false};
  std::basic_string_view<Char> extension = name;
  extension.remove_prefix(last_point);
  return {is_extension(extension, ".jar"), is_extension(extension, ".dll")};
}

}  // namespace

bool equals_ignoring_ascii_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
  }
  return true;
}

ExtensionMatch classify_extracted_name(std::string_view name) { return classify(name); }

ExtensionMatch classify_extracted_name(std::u16string_view name) { return classify(name); }

}  // namespace javaext
