#include "build_plan.h"

#include <set>

#include "entry_rules.h"
#include "payload_layout.h"
#include "platform.h"
#include "size_limits.h"

namespace fs = std::filesystem;

namespace mkpayload {
namespace {

std::string folder_key(std::string_view folder) {
  std::string key(folder);
  for (char& c : key)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return key;
}

std::optional<InputEntry> plan_command(const InputArgument& input, std::optional<unsigned> code_page,
                                       std::string& error) {
  std::string reason;
  auto bytes = payload_bytes_of(input.path, code_page, reason);
  if (bytes) reason = command_problem(*bytes);
  if (!reason.empty()) {
    error = input.spelling + ": the command " + reason;
    return std::nullopt;
  }
  InputEntry entry;
  entry.name = payload::EXEC_NAME;
  entry.content.assign(bytes->begin(), bytes->end());
  entry.content.push_back(0);
  entry.compression = input.compression;
  entry.source = input.spelling;
  entry.text = input.path;
  return entry;
}

std::optional<InputEntry> plan_file(const InputArgument& input, std::optional<unsigned> code_page, std::string& error) {
  const fs::path path = path_from_utf8(input.path);
  std::string name = input.name.empty() ? utf8_of(path.filename()) : input.name;
  for (char& c : name)
    if (c == '/') c = '\\';
  if (name == payload::EXEC_NAME) {
    error = input.spelling + ": \"$EXEC\" is reserved for commands: use --exec";
    return std::nullopt;
  }
  std::string reason;
  const auto bytes = payload_bytes_of(name, code_page, reason);
  if (bytes) reason = file_name_problem(name, *bytes);
  if (!reason.empty()) {
    error = input.spelling + ": entry name \"" + name + "\" " + reason;
    return std::nullopt;
  }
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (!fs::exists(status)) {
    error = input.path + ": no such file";
    return std::nullopt;
  }
  if (!fs::is_regular_file(status)) {
    error = input.path + (fs::is_directory(status) ? ": is a directory" : ": is not a regular file");
    return std::nullopt;
  }
  const uint64_t size = fs::file_size(path, ec);
  if (ec) {
    error = input.path + ": " + ec.message();
    return std::nullopt;
  }
  if (size > INT32_MAX) {
    error = input.path + ": is " + std::to_string(size) + " bytes; an entry holds at most " +
            std::to_string(INT32_MAX) + " bytes (2 GiB - 1). Split the file";
    return std::nullopt;
  }
  if (input.compression.compress && size > MAX_COMPRESSED_UNPACKED_BYTES) {
    error = input.path + ": " + compressed_too_large(size);
    return std::nullopt;
  }
  InputEntry entry;
  entry.name = *bytes;
  entry.compression = input.compression;
  entry.source = input.path;
  entry.text = name;
  entry.file = path;
  entry.file_size = size;
  return entry;
}

}  // namespace

std::string folder_command(const std::vector<std::string>& folders) {
  std::string command;
  for (const std::string& folder : folders)
    command += (command.empty() ? "" : " & ") + ("mkdir \"" + folder + "\" 2>nul");
  return command;
}

std::optional<std::vector<InputEntry>> plan_entries(const CommandLine& line, std::string& error) {
  std::vector<InputEntry> entries;
  std::vector<PlannedEntry> planned;
  std::set<std::string> made;  // folders the added commands create
  uint64_t least_size = 0;     // stored inputs and commands: the installer is at least this big
  for (const InputArgument& input : line.inputs) {
    auto entry = input.command ? plan_command(input, line.code_page, error) : plan_file(input, line.code_page, error);
    if (!entry) return std::nullopt;
    if (!input.command) {
      std::vector<std::string> missing;
      for (const std::string& folder : folders_of(entry->shown()))
        if (made.insert(folder_key(folder)).second) missing.push_back(folder);
      if (!missing.empty()) {
        InputArgument command{
            true, {}, folder_command(missing), input.compression, "the folder command for " + input.spelling};
        auto folders = plan_command(command, line.code_page, error);
        if (!folders) return std::nullopt;
        planned.push_back({true, folders->text, folders->name, false, folders->content.size()});
        entries.push_back(std::move(*folders));
      }
    }
    const bool compressed = entry->compression.compress && entry->size() > 0;
    least_size += payload::ENTRY_HEADER_SIZE + entry->name.size() + 1 + (compressed ? 0 : entry->size());
    planned.push_back({input.command, entry->shown(),
                       input.command ? std::string(entry->content.begin(), entry->content.end() - 1) : entry->name,
                       compressed, entry->size()});
    entries.push_back(std::move(*entry));
  }
  for (const RuleViolation& problem : sequence_problems(planned, false)) {
    error = "entry \"" + planned[problem.entry].text + "\" " + problem.reason;
    return std::nullopt;
  }
  if (least_size > MAX_INSTALLER_BYTES) {
    error = "the stored inputs alone make " + std::to_string(least_size) + " bytes; an installer may have at most " +
            std::to_string(MAX_INSTALLER_BYTES) +
            " (the extractor reads its own file with 32-bit offsets). Split them "
            "into several installers";
    return std::nullopt;
  }
  return entries;
}

}  // namespace mkpayload
