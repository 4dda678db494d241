#include "entry_name.h"

namespace payload {
namespace {

bool is_separator(char c) { return c == '\\' || c == '/'; }

char ascii_upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool equals_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (ascii_upper(a[i]) != ascii_upper(b[i])) return false;
  return true;
}

// Windows maps these names to devices in every directory, whatever follows a dot.
bool is_device_name(std::string_view component) {
  std::string_view base = component.substr(0, component.find('.'));
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  for (std::string_view device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
    if (equals_ignoring_case(base, device)) return true;
  if (base.size() == 4 &&
      (equals_ignoring_case(base.substr(0, 3), "COM") || equals_ignoring_case(base.substr(0, 3), "LPT")))
    return base[3] >= '1' && base[3] <= '9';
  return false;
}

}  // namespace

NameVerdict check_entry_name(std::string_view name) {
  if (name.empty()) return NameVerdict::empty;
  if (is_separator(name.front())) return NameVerdict::absolute;
  bool any_component = false;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = start;
    while (end < name.size() && !is_separator(name[end])) ++end;
    std::string_view component = name.substr(start, end - start);
    for (char c : component) {
      if (c == ':') return NameVerdict::colon;
      if (static_cast<unsigned char>(c) < 0x20 || c == '<' || c == '>' || c == '"' || c == '|' || c == '?' || c == '*')
        return NameVerdict::control_character;
    }
    if (component == "..") return NameVerdict::parent_component;
    if (!component.empty() && component != ".") {
      if (component.back() == '.' || component.back() == ' ') return NameVerdict::trailing_dot_space;
      if (is_device_name(component)) return NameVerdict::device_name;
      any_component = true;
    }
    start = end + 1;
  }
  if (!any_component || is_separator(name.back())) return NameVerdict::empty;
  return NameVerdict::ok;
}

std::string_view describe(NameVerdict verdict) {
  switch (verdict) {
    case NameVerdict::ok: return "valid";
    case NameVerdict::empty: return "names no file";
    case NameVerdict::absolute: return "is an absolute path";
    case NameVerdict::colon: return "holds a colon (drive letter or stream)";
    case NameVerdict::parent_component: return "has a \"..\" component";
    case NameVerdict::device_name: return "is a Windows device name";
    case NameVerdict::trailing_dot_space: return "has a component ending in a dot or a space";
    case NameVerdict::control_character: return "holds a character Windows refuses in file names";
  }
  return "is invalid";
}

}  // namespace payload
