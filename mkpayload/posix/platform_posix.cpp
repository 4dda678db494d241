#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform.h"

namespace mkpayload {

std::FILE* open_file(const std::filesystem::path& path, const char* mode) { return std::fopen(path.c_str(), mode); }

std::FILE* create_new_file(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (fd < 0) return nullptr;
  std::FILE* file = fdopen(fd, "wb");
  if (file == nullptr) ::close(fd);
  return file;
}

bool read_file_at(std::FILE* file, uint64_t offset, std::span<uint8_t> out) {
  if (fseeko(file, static_cast<off_t>(offset), SEEK_SET) != 0) return false;
  return std::fread(out.data(), 1, out.size(), file) == out.size();
}

std::optional<std::filesystem::path> own_executable_path() {
  std::error_code ec;
  const std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return std::nullopt;
  return path;
}

bool is_terminal(std::FILE* stream) { return isatty(fileno(stream)) != 0; }

std::optional<FileIdentity> file_identity(const std::filesystem::path& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return std::nullopt;
  return FileIdentity{static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
}

}  // namespace mkpayload
