#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include "platform.h"

namespace mkpayload {

std::FILE* open_file(const std::filesystem::path& path, const char* mode) {
  const std::wstring wide_mode(mode, mode + std::char_traits<char>::length(mode));
  return _wfopen(path.c_str(), wide_mode.c_str());
}

std::FILE* create_new_file(const std::filesystem::path& path) {
  const int fd = _wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
  if (fd < 0) return nullptr;
  std::FILE* file = _fdopen(fd, "wb");
  if (file == nullptr) _close(fd);
  return file;
}

bool read_file_at(std::FILE* file, uint64_t offset, std::span<uint8_t> out) {
  if (_fseeki64(file, static_cast<long long>(offset), SEEK_SET) != 0) return false;
  return std::fread(out.data(), 1, out.size(), file) == out.size();
}

std::optional<std::filesystem::path> own_executable_path() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return std::nullopt;
    if (length < path.size()) {
      path.resize(length);
      return std::filesystem::path(path);
    }
    path.resize(path.size() * 2);
  }
}

bool is_terminal(std::FILE* stream) { return _isatty(_fileno(stream)) != 0; }

// The volume's serial number and the file's index identify a file on Windows;
// opening with no access rights works for files that others hold open.
std::optional<FileIdentity> file_identity(const std::filesystem::path& path) {
  const HANDLE file = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION info;
  const bool known = GetFileInformationByHandle(file, &info) != 0;
  CloseHandle(file);
  if (!known) return std::nullopt;
  return FileIdentity{info.dwVolumeSerialNumber, uint64_t(info.nFileIndexHigh) << 32 | info.nFileIndexLow};
}

}  // namespace mkpayload
