// The Windows side of the Java extension installation: wide registry, file
// listing, probe, directory and copy calls under the portable installation
// steps, so that homes and names may hold any character.
#include "install_java_extensions.h"

#include <windows.h>

#include <span>

#include "java_registry.h"
#include "kit_installation.h"

namespace javaext {

namespace {

const wchar_t* wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

// Closes a file opened here, on every way out.
class OpenFile {
 public:
  explicit OpenFile(HANDLE file) : file_(file) {}
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  ~OpenFile() {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
  }
  HANDLE get() const { return file_; }

 private:
  HANDLE file_;
};

struct WindowsKitPlatform {
  using Char = char16_t;

  bool read_registry_text(const char16_t* key_path, const char16_t* value_name, std::span<char16_t> text) {
    return javaext::read_registry_text(HKEY_LOCAL_MACHINE, key_path, value_name, text) == 1;
  }

  bool path_exists(const char16_t* path) { return GetFileAttributesW(wide(path)) != INVALID_FILE_ATTRIBUTES; }

  std::size_t read_file_start(const char16_t* path, std::span<char> bytes) {
    const OpenFile file(CreateFileW(wide(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) return 0;
    DWORD got = 0;
    if (!ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr)) return 0;
    return got;
  }

  void create_directory(const char16_t* path) { CreateDirectoryW(wide(path), nullptr); }

  template <class Visit>
  bool for_each_name(Visit&& visit) {
    WIN32_FIND_DATAW found;
    const HANDLE listing = FindFirstFileW(L"*.*", &found);
    if (listing == INVALID_HANDLE_VALUE) return false;
    do {
      visit(reinterpret_cast<const char16_t*>(found.cFileName));
    } while (FindNextFileW(listing, &found));
    FindClose(listing);
    return true;
  }

  bool copy_file(const char16_t* source, const char16_t* destination) {
    return CopyFileW(wide(source), wide(destination), FALSE) != 0;
  }

  void record_installed_file(const char16_t* destination) { javaext::record_installed_file(destination); }
};

}  // namespace

int install_java_extensions(const char16_t* kit_name, const char16_t* home_suffix) {
  WindowsKitPlatform platform;
  return javaext::install_kit_extensions(platform, kit_name, home_suffix);
}

}  // namespace javaext
