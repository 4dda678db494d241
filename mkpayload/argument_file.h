// Arguments written in files (@FILE), the convention of compilers and linkers,
// so a build can keep its entry list under version control.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mkpayload {

// Argument files may name further argument files, up to this depth (a loop
// stops there with an error).
inline constexpr int MAX_ARGUMENT_FILE_DEPTH = 8;

// The arguments of one argument file's text: split at blanks (spaces, tabs,
// line ends); "..." or '...' keeps blanks in an argument and the quotes go;
// a backslash is an ordinary character (Windows paths); a line whose first
// non-blank character is '#' is a comment. nullopt with `error` set for a
// quote that is not closed on its line.
std::optional<std::vector<std::string>> split_argument_file(std::string_view text, std::string& error);

using ReadArgumentFile = std::function<std::optional<std::string>(const std::string& path, std::string& reason)>;

// Replaces every argument "@FILE" by the arguments in FILE (read through
// `read_file`, which returns nullopt with a reason when it cannot), except
// where it is the value of an option (`takes_value` of the argument before it):
// "--exec @echo off" keeps its command. Returns nullopt with `error` naming the
// file and the reason.
std::optional<std::vector<std::string>> expand_argument_files(const std::vector<std::string>& args,
                                                              const ReadArgumentFile& read_file,
                                                              const std::function<bool(std::string_view)>& takes_value,
                                                              std::string& error);

}  // namespace mkpayload
