#include "argument_file.h"

namespace mkpayload {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

std::optional<std::vector<std::string>> split_argument_file(std::string_view text, std::string& error) {
  std::vector<std::string> args;
  size_t line_number = 1;
  size_t i = 0;
  while (i < text.size()) {
    // At the start of a line: a comment runs to its end.
    size_t first = i;
    while (first < text.size() && (text[first] == ' ' || text[first] == '\t')) ++first;
    if (first < text.size() && text[first] == '#') {
      while (first < text.size() && text[first] != '\n') ++first;
      i = first;
    }
    // The arguments of the line.
    while (i < text.size() && text[i] != '\n') {
      if (is_blank(text[i])) {
        ++i;
        continue;
      }
      std::string arg;
      while (i < text.size() && !is_blank(text[i])) {
        const char c = text[i];
        if (c == '"' || c == '\'') {
          const size_t close = text.find_first_of(std::string{c, '\n'}, i + 1);
          if (close == std::string_view::npos || text[close] != c) {
            error = "line " + std::to_string(line_number) + ": a " + (c == '"' ? "double" : "single") +
                    " quote is not closed on its line";
            return std::nullopt;
          }
          arg.append(text.substr(i + 1, close - i - 1));
          i = close + 1;
        } else {
          arg.push_back(c);
          ++i;
        }
      }
      args.push_back(std::move(arg));
    }
    if (i < text.size()) ++i;  // the line end
    ++line_number;
  }
  return args;
}

namespace {

struct Expansion {
  const ReadArgumentFile& read_file;
  const std::function<bool(std::string_view)>& takes_value;
  std::vector<std::string> out;
  bool value_due = false;  // the last argument was an option that takes a value

  bool add(const std::vector<std::string>& args, int depth, std::string& error) {
    for (const std::string& arg : args) {
      if (value_due || arg.size() < 2 || arg[0] != '@') {
        value_due = !value_due && takes_value(arg);
        out.push_back(arg);
        continue;
      }
      const std::string path = arg.substr(1);
      if (depth >= MAX_ARGUMENT_FILE_DEPTH) {
        error = path + ": argument files nest deeper than " + std::to_string(MAX_ARGUMENT_FILE_DEPTH) +
                " (does one name itself?)";
        return false;
      }
      std::string reason;
      const auto text = read_file(path, reason);
      const auto inner = text ? split_argument_file(*text, reason) : std::nullopt;
      if (!inner) {
        error = path + ": " + reason;
        return false;
      }
      if (!add(*inner, depth + 1, error)) return false;
    }
    return true;
  }
};

}  // namespace

std::optional<std::vector<std::string>> expand_argument_files(const std::vector<std::string>& args,
                                                              const ReadArgumentFile& read_file,
                                                              const std::function<bool(std::string_view)>& takes_value,
                                                              std::string& error) {
  Expansion expansion{read_file, takes_value, {}, false};
  if (!expansion.add(args, 0, error)) return std::nullopt;
  return std::move(expansion.out);
}

}  // namespace mkpayload
