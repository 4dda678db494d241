#include "java_registry.h"

#include <cstring>

#include "kit_installation.h"
#include "registry_text.h"
#include "time_text.h"

namespace javaext {

namespace {

constexpr const char* RECORD_KEY = "SOFTWARE\\Korvane\\Java\\Installed";

// The clock as whole seconds since 1970 in 64 bits, so records stay right after 2038.
int64_t current_unix_seconds() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const uint64_t ticks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return javaext::unix_seconds_from_filetime_ticks(ticks);
}

// Closes a key opened or created here, on every way out.
class OpenKey {
 public:
  OpenKey() = default;
  OpenKey(const OpenKey&) = delete;
  OpenKey& operator=(const OpenKey&) = delete;
  ~OpenKey() {
    if (key_) RegCloseKey(key_);
  }
  HKEY* receive() { return &key_; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

}  // namespace

int read_registry_text(HKEY root, const char* sub_key_path, const char* value_name, char* buffer, DWORD capacity) {
  if (capacity == 0) return 0;
  buffer[0] = '\0';
  OpenKey key;
  if (RegOpenKeyA(root, sub_key_path, key.receive()) != ERROR_SUCCESS) return 0;
  DWORD type = 0;
  DWORD data_size = capacity;
  const LONG result =
      RegQueryValueExA(key.get(), value_name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &data_size);
  if (result != ERROR_SUCCESS) {
    buffer[0] = '\0';
    return 0;
  }
  return javaext::finish_registry_text({buffer, capacity}, data_size) ? 1 : 0;
}

int record_installed_file(const char* destination_path) {
  const int64_t now = current_unix_seconds();
  if (std::strlen(destination_path) > javaext::RECORD_NAME_LIMIT) return 0;

  OpenKey key;
  DWORD disposition = 0;
  char no_class[] = "";
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, RECORD_KEY, 0, no_class, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                      key.receive(), &disposition) != ERROR_SUCCESS) {
    return 0;
  }
  // RegSetValueExA counts a NUL that directly follows REG_SZ data into the data
  // (NT does this for callers that "forgot" the terminator). The record holds the
  // 25 characters without their NUL, so the byte after them must not be a NUL.
  javaext::TimeText data = javaext::format_time_text(now);
  data[javaext::TIME_TEXT_LENGTH] = '\n';
  const LONG result = RegSetValueExA(key.get(), destination_path, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.data()),
                                     javaext::TIME_TEXT_LENGTH);
  return result == ERROR_SUCCESS ? 1 : 0;
}

}  // namespace javaext
