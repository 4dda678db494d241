// The Windows side of the Java extension installation: 8-bit (A) registry, file
// listing, directory and copy calls under the portable installation steps.
#include "install_java_extensions.h"

#include <windows.h>

#include <span>

#include "java_registry.h"
#include "kit_installation.h"

namespace javaext {

namespace {

struct WindowsKitPlatform {
  bool read_registry_text(const char* key_path, const char* value_name, std::span<char> text) {
    return javaext::read_registry_text(HKEY_LOCAL_MACHINE, key_path, value_name, text.data(),
                                       static_cast<DWORD>(text.size())) == 1;
  }

  void create_directory(const char* path) { CreateDirectoryA(path, nullptr); }

  template <class Visit>
  bool for_each_name(Visit&& visit) {
    WIN32_FIND_DATAA found;
    const HANDLE listing = FindFirstFileA("*.*", &found);
    if (listing == INVALID_HANDLE_VALUE) return false;
    do {
      visit(static_cast<const char*>(found.cFileName));
    } while (FindNextFileA(listing, &found));
    FindClose(listing);
    return true;
  }

  bool copy_file(const char* source, const char* destination) { return CopyFileA(source, destination, FALSE) != 0; }

  void record_installed_file(const char* destination) { javaext::record_installed_file(destination); }
};

}  // namespace

int install_java_extensions(const char* kit_name, const char* home_suffix) {
  WindowsKitPlatform platform;
  return javaext::install_kit_extensions(platform, kit_name, home_suffix);
}

}  // namespace javaext
