// The text work of Orvel6Launcher, free of Windows headers: where the program name
// ends in the launcher's own raw command line, the directory of its executable, and
// the javaw command line built from the two. Templates over the UTF-16 code unit
// type: wchar_t in the Windows program, char16_t in the native unit tests.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace launcher {

// The longest command line that CreateProcessW accepts, in UTF-16 code units, the
// terminating NUL included (the limit of a UNICODE_STRING).
inline constexpr std::size_t MAX_COMMAND_LINE = 32767;

template <class Char>
constexpr bool is_blank(Char c) {
  return c == Char(' ') || c == Char('\t');
}

// The directory part of the executable's full path: everything before the last
// backslash. A drive's root keeps its backslash ("C:\", also "\\?\C:\"), since "C:"
// alone names the drive's current directory, not its root. Empty when the path has
// no backslash, which a full path always has.
template <class Char>
constexpr std::basic_string_view<Char> directory_of(std::basic_string_view<Char> path) {
  const auto last = path.rfind(Char('\\'));
  if (last == std::basic_string_view<Char>::npos) {
    return {};
  }
  if (last > 0 && path[last - 1] == Char(':')) {
    return path.substr(0, last + 1);
  }
  return path.substr(0, last);
}

// The argument tail of a raw command line: what follows the program name, with the
// blanks (spaces, tabs) that separate it from the first argument dropped. From the
// first argument on, every code unit is kept as it stands, trailing blanks included.
//
// The program name is read as CreateProcess reads it: a name that opens with a
// double quote runs to the next double quote (or to the end when none follows); an
// unquoted name runs to a blank. An unquoted name may itself hold blanks
// ("C:\Program Files\Kit\Orvel6Launcher.exe -x" starts the launcher in "Program
// Files"), so each prefix that ends at a blank is offered, shortest first, to
// `names_this_program`, and the first that it accepts is the name; when it accepts
// none, the name ends at the first blank.
template <class Char, class NamesThisProgram>
constexpr std::basic_string_view<Char> argument_tail(std::basic_string_view<Char> command_line,
                                                     NamesThisProgram names_this_program) {
  using View = std::basic_string_view<Char>;
  std::size_t name_end = 0;
  if (!command_line.empty() && command_line[0] == Char('"')) {
    const auto close = command_line.find(Char('"'), 1);
    name_end = close == View::npos ? command_line.size() : close + 1;
  } else {
    // Candidates end where a run of non-blanks ends.
    auto word_end = [&](std::size_t from) {
      while (from < command_line.size() && is_blank(command_line[from])) {
        ++from;
      }
      if (from == command_line.size()) {
        return View::npos;
      }
      while (from < command_line.size() && !is_blank(command_line[from])) {
        ++from;
      }
      return from;
    };
    name_end = word_end(0);
    if (name_end == View::npos) {
      return {};
    }
    for (auto candidate = name_end; candidate != View::npos; candidate = word_end(candidate)) {
      if (names_this_program(command_line.substr(0, candidate))) {
        name_end = candidate;
        break;
      }
    }
  }
  auto first_argument = name_end;
  while (first_argument < command_line.size() && is_blank(command_line[first_argument])) {
    ++first_argument;
  }
  return command_line.substr(first_argument);
}

// The command line that starts the application:
//   javaw -jar "<directory>\Orvel63.jar" <tail>
// The archive path always stands in double quotes and one space always follows it,
// also when the tail is empty. The directory and the tail are taken as they are:
// no backslash is added or removed, nothing is escaped or re-quoted.
namespace detail {
inline constexpr std::string_view JAVA_COMMAND_HEAD = "javaw -jar \"";
inline constexpr std::string_view ARCHIVE_NAME = "\\Orvel63.jar\" ";
}  // namespace detail

// Code units of the command line, without the terminating NUL.
template <class Char>
constexpr std::size_t java_command_line_length(std::basic_string_view<Char> app_directory,
                                               std::basic_string_view<Char> tail) {
  return detail::JAVA_COMMAND_HEAD.size() + app_directory.size() + detail::ARCHIVE_NAME.size() + tail.size();
}

// Writes the command line and a terminating NUL into `out`, which holds at least
// java_command_line_length() + 1 code units (the caller checks). Returns the number
// of code units written before the NUL.
template <class Char>
constexpr std::size_t write_java_command_line(std::span<Char> out, std::basic_string_view<Char> app_directory,
                                              std::basic_string_view<Char> tail) {
  std::size_t at = 0;
  for (char c : detail::JAVA_COMMAND_HEAD) out[at++] = Char(c);
  for (Char c : app_directory) out[at++] = c;
  for (char c : detail::ARCHIVE_NAME) out[at++] = Char(c);
  for (Char c : tail) out[at++] = c;
  out[at] = Char(0);
  return at;
}

}  // namespace launcher
