#include "directory_host.h"

#include <cstring>

#include "entry_rules.h"
#include "name_display.h"

namespace mkpayload {
namespace {

// Windows' codes for what extract_payload reports: the name cannot be a file
// name here, the file cannot be created.
constexpr uint32_t ERROR_INVALID_NAME_CODE = 123;
constexpr uint32_t ERROR_ACCESS_DENIED_CODE = 5;

// The entry's part of a path the extractor formed: "<target directory>\<name>".
std::string_view name_of(const char* path) {
  std::string_view p(path);
  const std::string_view prefix = DirectoryHost::TARGET_DIRECTORY;
  if (p.substr(0, prefix.size()) == prefix) p.remove_prefix(prefix.size());
  while (!p.empty() && p.front() == '\\') p.remove_prefix(1);
  return p;
}

// The components of a name checked by the extractor's rules; empty and "."
// components mean nothing, as on Windows ("a\.\b" and "a\\b" are "a\b").
std::vector<std::string> components_of(std::string_view text) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= text.size()) {
    const size_t end = text.find_first_of("\\/", start);
    const std::string_view part =
        text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    if (!part.empty() && part != ".") parts.emplace_back(part);
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return parts;
}

}  // namespace

bool DirectoryHost::read_own_file(uint64_t offset, std::span<uint8_t> out) {
  return installer_ != nullptr && installer_->read(offset, out);
}

void DirectoryHost::run_command(const char* command) { commands.push_back(shown_text(command, code_page_)); }

bool DirectoryHost::write_file(std::string_view name_bytes, FileContent& content) {
  std::string reason;
  const auto text = text_of_payload_bytes(name_bytes, code_page_, reason);
  if (!text) {
    failure = "its name " + reason;
    return false;
  }
  std::vector<std::string> folders = components_of(*text);
  if (folders.empty()) {
    failure = "its name names no file";
    return false;
  }
  const std::string name = std::move(folders.back());
  folders.pop_back();
  // The extractor needs a command to make an entry's folder; --extract runs no
  // commands, so it makes the folder itself, inside the output folder only.
  if (!folder_->make_folders(folders, failure)) return false;
  std::optional<OutputFolder::NewFile> file = folder_->create_file(folders, name, failure);
  if (!file) return false;
  const bool written = extractor::write_every_block(
      content, [&](std::span<const uint8_t> block) { return file->write(block, failure); });
  if (!written) {
    if (failure.empty()) failure = "the installer could not be read";
    return false;
  }
  return file->commit(failure);
}

EntryFileResult DirectoryHost::write_entry_file(const char* path, FileContent& content) {
  EntryFileResult result;
  const std::string_view name = name_of(path);
  files_written.push_back(shown_text(name, code_page_));
  if (folder_ == nullptr) {
    result.written = result.times_set = true;
    return result;
  }
  failure.clear();
  if (!write_file(name, content)) {
    result.create_error = failure.rfind("its name", 0) == 0 ? ERROR_INVALID_NAME_CODE : ERROR_ACCESS_DENIED_CODE;
    return result;
  }
  result.written = result.times_set = true;
  return result;
}

bool DirectoryHost::write_self_copy(const char* path, FileContent& stub) {
  if (folder_ == nullptr) return true;
  failure.clear();
  return write_file(name_of(path), stub);
}

}  // namespace mkpayload
