#include "entry_name.h"

namespace payload {
namespace {

// The rules read a name one code unit at a time: a byte of the payload, or a
// UTF-16 code unit. Every character they look for is ASCII, and no byte of a
// multibyte character or UTF-16 unit of a non-ASCII character is one of them,
// except the trail bytes of double-byte code pages, which are judged as bytes
// (the stricter reading).
template <class Char>
constexpr unsigned code(Char c) {
  if constexpr (sizeof(Char) == 1) {
    return static_cast<unsigned char>(c);
  } else {
    return static_cast<unsigned>(c);
  }
}

template <class Char>
bool is_separator(Char c) {
  return code(c) == '\\' || code(c) == '/';
}

template <class Char>
unsigned ascii_upper(Char c) {
  const unsigned u = code(c);
  return (u >= 'a' && u <= 'z') ? u - 'a' + 'A' : u;
}

template <class Char>
bool equals_ignoring_case(std::basic_string_view<Char> a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (ascii_upper(a[i]) != ascii_upper(b[i])) return false;
  return true;
}

// The digit after COM or LPT that makes a device: 1-9, and in UTF-16 also the
// superscript digits U+00B9, U+00B2 and U+00B3.
template <class Char>
bool is_port_digit(Char c) {
  const unsigned u = code(c);
  if (u >= '1' && u <= '9') return true;
  return sizeof(Char) > 1 && (u == 0xB9 || u == 0xB2 || u == 0xB3);
}

// Names of devices; a table of fixed-width rows rather than of pointers, which
// the stub would keep in a writable section of its own (512 bytes of its file).
constexpr char DEVICE_NAMES[][8] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};

// Windows maps these names to devices in every directory, whatever follows a dot.
template <class Char>
bool is_device_name(std::basic_string_view<Char> component) {
  size_t dot = 0;
  while (dot < component.size() && code(component[dot]) != '.') ++dot;
  std::basic_string_view<Char> base(component.data(), dot);
  while (!base.empty() && code(base.back()) == ' ') base.remove_suffix(1);
  for (const char* device : DEVICE_NAMES)
    if (equals_ignoring_case(base, std::string_view(device))) return true;
  if (base.size() != 4) return false;
  const std::basic_string_view<Char> stem(base.data(), 3);
  return (equals_ignoring_case(stem, "COM") || equals_ignoring_case(stem, "LPT")) && is_port_digit(base[3]);
}

template <class Char>
bool is_refused_character(Char c) {
  const unsigned u = code(c);
  return u < 0x20 || u == '<' || u == '>' || u == '"' || u == '|' || u == '?' || u == '*';
}

template <class Char>
bool is_component(std::basic_string_view<Char> component, std::string_view text) {
  if (component.size() != text.size()) return false;
  for (size_t i = 0; i < text.size(); ++i)
    if (code(component[i]) != static_cast<unsigned char>(text[i])) return false;
  return true;
}

template <class Char>
NameVerdict check_name(std::basic_string_view<Char> name) {
  if (name.empty()) return NameVerdict::empty;
  if (is_separator(name.front())) return NameVerdict::absolute;
  bool any_component = false;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = start;
    while (end < name.size() && !is_separator(name[end])) ++end;
    const std::basic_string_view<Char> component(name.data() + start, end - start);
    for (Char c : component) {
      if (code(c) == ':') return NameVerdict::colon;
      if (is_refused_character(c)) return NameVerdict::control_character;
    }
    if (is_component(component, "..")) return NameVerdict::parent_component;
    if (!component.empty() && !is_component(component, ".")) {
      if (code(component.back()) == '.' || code(component.back()) == ' ') return NameVerdict::trailing_dot_space;
      if (is_device_name(component)) return NameVerdict::device_name;
      any_component = true;
    }
    start = end + 1;
  }
  if (!any_component || is_separator(name.back())) return NameVerdict::empty;
  return NameVerdict::ok;
}

}  // namespace

NameVerdict check_entry_name(std::string_view name) { return check_name(name); }

NameVerdict check_entry_name(std::u16string_view name) { return check_name(name); }

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
