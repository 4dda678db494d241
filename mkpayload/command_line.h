// mkpayload's command line, parsed into what to do. Arguments are UTF-8 (the
// Windows build converts its Unicode command line before it gets here).
#pragma once

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "entry_compression.h"

namespace mkpayload {

enum class Mode { build, list, verify, extract, help, version };

// One input in command-line order: a file (named after itself or NAME=PATH) or
// a command (--exec), with the entry options in force where it stands.
struct InputArgument {
  bool command = false;
  std::string name;  // the entry name as given (UTF-8); empty: named after the file
  std::string path;  // the file (UTF-8); for a command, its text
  CompressionOptions compression;
  std::string spelling;  // the argument as typed, for messages
};

struct CommandLine {
  Mode mode = Mode::build;
  std::string stub, output;           // build (an empty stub: the one installed beside mkpayload)
  std::vector<InputArgument> inputs;  // build
  bool replace_payload = false, quiet = false;
  std::string installer, directory;   // list, verify, extract
  bool force = false;                 // extract into a folder that is not empty
  std::optional<unsigned> code_page;  // the end users' ANSI code page
};

// An argument INPUT is a path when a file of that whole name exists; otherwise
// it is split at its first '=' into NAME=PATH when it holds one. `file_exists`
// answers for the first part of that rule.
std::optional<CommandLine> parse_command_line(std::span<const std::string> args,
                                              const std::function<bool(const std::string&)>& file_exists,
                                              std::string& error);

// True for the options that take the next argument as their value.
bool takes_value(std::string_view arg);

}  // namespace mkpayload
