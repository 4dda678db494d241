#include "command_line.h"

#include <algorithm>
#include <charconv>

#include "code_page.h"
#include "entry_rules.h"

namespace mkpayload {

bool takes_value(std::string_view arg) {
  return arg == "--stub" || arg == "-o" || arg == "--exec" || arg == "--dict" || arg == "--level" ||
         arg == "--codepage";
}

namespace {

std::optional<unsigned> parse_code_page(std::string_view text, std::string& error) {
  unsigned value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || !is_ansi_code_page(value)) {
    error = "--codepage takes a Windows ANSI code page: " + std::string(ANSI_CODE_PAGES);
    return std::nullopt;
  }
  return value;
}

}  // namespace

std::optional<CommandLine> parse_command_line(std::span<const std::string> args,
                                              const std::function<bool(const std::string&)>& file_exists,
                                              std::string& error) {
  CommandLine line;
  std::vector<std::string> positional;
  CompressionOptions compression;
  int modes = 0;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (takes_value(arg)) {
      if (i + 1 >= args.size()) {
        error = arg + " needs a value";
        return std::nullopt;
      }
      const std::string& value = args[++i];
      if (arg == "--stub")
        line.stub = value;
      else if (arg == "-o")
        line.output = value;
      else if (arg == "--exec")
        line.inputs.push_back({true, {}, value, compression, "--exec \"" + value + "\""});
      else if (arg == "--codepage") {
        if (!(line.code_page = parse_code_page(value, error))) return std::nullopt;
      } else if (arg == "--dict") {
        if (value == "1024")
          compression.dict_bits = 4;
        else if (value == "2048")
          compression.dict_bits = 5;
        else if (value == "4096")
          compression.dict_bits = 6;
        else if (value == "auto")
          compression.dict_bits = 0;
        else {
          error = "--dict takes 1024, 2048, 4096 or auto";
          return std::nullopt;
        }
      } else {
        if (value == "fast")
          compression.level = CompressionLevel::fast;
        else if (value == "best")
          compression.level = CompressionLevel::best;
        else {
          error = "--level takes fast or best";
          return std::nullopt;
        }
      }
    } else if (arg == "--list" || arg == "--verify" || arg == "--extract") {
      line.mode = arg == "--list" ? Mode::list : arg == "--verify" ? Mode::verify : Mode::extract;
      ++modes;
    } else if (arg == "--help" || arg == "-h") {
      line.mode = Mode::help;
      return line;
    } else if (arg == "--version") {
      line.mode = Mode::version;
      return line;
    } else if (arg == "--store")
      compression.compress = false;
    else if (arg == "--compress")
      compression.compress = true;
    else if (arg == "--binary")
      compression.literals = LiteralMode::binary;
    else if (arg == "--ascii")
      compression.literals = LiteralMode::ascii;
    else if (arg == "--replace-payload")
      line.replace_payload = true;
    else if (arg == "--quiet")
      line.quiet = true;
    else if (arg == "--force")
      line.force = true;
    else if (arg.size() > 1 && arg[0] == '-') {
      error = "unknown option " + arg;
      return std::nullopt;
    } else if (line.mode == Mode::build && modes == 0) {
      InputArgument input{false, {}, arg, compression, arg};
      const size_t eq = arg.find('=');
      if (eq != std::string::npos && !file_exists(arg)) {
        input.name = arg.substr(0, eq);
        input.path = arg.substr(eq + 1);
      }
      line.inputs.push_back(std::move(input));
    } else {
      positional.push_back(arg);
    }
  }
  if (modes > 1) {
    error = "choose one of --list, --verify and --extract";
    return std::nullopt;
  }
  if (line.mode == Mode::build) {
    if (line.force) {
      error = "--force goes with --extract";
      return std::nullopt;
    }
    if (line.output.empty()) {
      error = "-o OUT is required: the installer to write";
      return std::nullopt;
    }
    if (line.output == "-") {
      error = "-o -: an installer is a binary file and is not written to standard output; name a file";
      return std::nullopt;
    }
    if (line.inputs.empty()) {
      error = "no inputs: name the files (and commands) the installer should carry";
      return std::nullopt;
    }
    return line;
  }
  // Arguments seen before the mode flag were its operands too.
  std::vector<std::string> operands;
  for (const InputArgument& input : line.inputs)
    if (!input.command) operands.push_back(input.spelling);
  operands.insert(operands.end(), positional.begin(), positional.end());
  positional = std::move(operands);
  const bool extract = line.mode == Mode::extract;
  if (positional.size() != (extract ? 2u : 1u) || !line.stub.empty() || !line.output.empty() ||
      std::any_of(line.inputs.begin(), line.inputs.end(), [](const InputArgument& a) { return a.command; })) {
    error = std::string(extract                   ? "--extract takes INSTALLER DIR"
                        : line.mode == Mode::list ? "--list takes INSTALLER"
                                                  : "--verify takes INSTALLER");
    return std::nullopt;
  }
  if (line.force && !extract) {
    error = "--force goes with --extract";
    return std::nullopt;
  }
  line.inputs.clear();
  line.installer = positional[0];
  if (extract) line.directory = positional[1];
  return line;
}

}  // namespace mkpayload
