#include "file_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

namespace fs = std::filesystem;

std::optional<std::vector<uint8_t>> read_whole_file(const fs::path& path, std::string& error) {
  std::error_code ec;
  if (fs::is_directory(path, ec)) {
    error = "is a directory";
    return std::nullopt;
  }
  std::FILE* file = std::fopen(path.string().c_str(), "rb");
  if (file == nullptr) {
    error = std::strerror(errno);
    return std::nullopt;
  }
  std::vector<uint8_t> bytes;
  uint8_t block[1 << 16];
  size_t got;
  while ((got = std::fread(block, 1, sizeof block, file)) > 0) bytes.insert(bytes.end(), block, block + got);
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) {
    error = "read error";
    return std::nullopt;
  }
  return bytes;
}

bool write_file_atomically(const fs::path& path, std::span<const uint8_t> bytes, bool executable, std::string& error) {
  const fs::path dir = path.has_parent_path() ? path.parent_path() : fs::path(".");
  std::random_device random;
  const fs::path temp = dir / ("." + path.filename().string() + ".tmp" + std::to_string(random()));
  std::FILE* file = std::fopen(temp.string().c_str(), "wb");
  if (file == nullptr) {
    error = std::string("cannot create ") + temp.string() + ": " + std::strerror(errno);
    return false;
  }
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  const bool closed = std::fclose(file) == 0;
  std::error_code ec;
  if (!written || !closed) {
    error = "cannot write " + temp.string();
    fs::remove(temp, ec);
    return false;
  }
  if (executable)
    fs::permissions(temp, fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec, fs::perm_options::add, ec);
  fs::rename(temp, path, ec);
  if (ec) {
    error = "cannot rename " + temp.string() + " to " + path.string() + ": " + ec.message();
    fs::remove(temp, ec);
    return false;
  }
  return true;
}

bool read_from_memory(void* file, uint64_t offset, std::span<uint8_t> out) {
  const auto& bytes = *static_cast<const std::span<const uint8_t>*>(file);
  if (offset > bytes.size() || out.size() > bytes.size() - offset) return false;
  std::memcpy(out.data(), bytes.data() + offset, out.size());
  return true;
}
