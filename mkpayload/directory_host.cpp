#include "directory_host.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "file_io.h"

namespace fs = std::filesystem;

bool DirectoryHost::read_own_file(uint64_t offset, std::span<uint8_t> out) {
  std::span<const uint8_t> bytes = installer_;
  return mkpayload::read_from_memory(&bytes, offset, out);
}

// The extractor forms "<target dir>\<entry name>"; entry names have been checked
// not to leave the directory, and their backslashes become this system's separators.
fs::path DirectoryHost::local_path(const char* path) const {
  std::string relative(path + std::min(std::strlen(path), target_dir_.size()));
  while (!relative.empty() && relative.front() == '\\') relative.erase(0, 1);
  for (char& c : relative)
    if (c == '\\') c = '/';
  return output_dir_ / relative;
}

EntryFileResult DirectoryHost::write_entry_file(const char* path, FileContent& content) {
  EntryFileResult result;
  files_written.emplace_back(path + std::min(std::strlen(path), target_dir_.size() + 1));
  if (output_dir_.empty()) {
    result.written = result.times_set = true;
    return result;
  }
  const fs::path target = local_path(path);
  std::FILE* file = std::fopen(target.string().c_str(), "wb");
  if (file == nullptr) {
    result.create_error = errno == ENOENT ? 3 : 5;  // the Windows codes: path not found, access denied
    return result;
  }
  result.written = write_every_block(content, [file](std::span<const uint8_t> block) {
    return std::fwrite(block.data(), 1, block.size(), file) == block.size();
  });
  result.written = std::fclose(file) == 0 && result.written;
  result.times_set = true;
  return result;
}

bool DirectoryHost::write_self_copy(const char* path, FileContent& stub) {
  if (output_dir_.empty()) return true;
  // Gathered first: the copy is written atomically, in one piece.
  std::vector<uint8_t> bytes;
  const bool read = write_every_block(stub, [&bytes](std::span<const uint8_t> block) {
    bytes.insert(bytes.end(), block.begin(), block.end());
    return true;
  });
  std::string error;
  return read && mkpayload::write_file_atomically(local_path(path), bytes, false, error);
}
