#include "java_registry.h"

#include <cstring>

#include "kit_installation.h"
#include "registry_text.h"
#include "time_text.h"

namespace javaext {

namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "a Windows wide character is one UTF-16 code unit");

constexpr const wchar_t* RECORD_KEY = L"SOFTWARE\\Korvane\\Java\\Installed";

const wchar_t* wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

bool is_string_type(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// The clock broken down in UTC by the system, so records stay right after 2038.
javaext::UtcTime current_utc_time() {
  SYSTEMTIME now;
  GetSystemTime(&now);
  return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wDayOfWeek};
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

// Data of a type that is not a string, `size` bytes at the start of `text`,
// taken as text in the ANSI code page and converted in place to UTF-16.
bool convert_byte_text(std::span<char16_t> text, DWORD size) {
  char bytes[HOME_CAPACITY];
  if (size > text.size() || text.size() > sizeof bytes) return false;
  std::memcpy(bytes, text.data(), size);
  text[0] = u'\0';
  if (!javaext::finish_registry_text(std::span<char>(bytes, text.size()), size)) return false;
  const int length = static_cast<int>(std::strlen(bytes));
  if (length == 0) return true;
  const int units = MultiByteToWideChar(CP_ACP, 0, bytes, length, reinterpret_cast<wchar_t*>(text.data()),
                                        static_cast<int>(text.size()) - 1);
  if (units <= 0) return false;
  text[static_cast<size_t>(units)] = u'\0';
  return true;
}

}  // namespace

int read_registry_text(HKEY root, const char16_t* sub_key_path, const char16_t* value_name, std::span<char16_t> text) {
  if (text.empty()) return 0;
  text[0] = u'\0';
  OpenKey key;
  if (RegOpenKeyW(root, wide(sub_key_path), key.receive()) != ERROR_SUCCESS) return 0;
  DWORD type = 0;
  DWORD data_size = static_cast<DWORD>(text.size_bytes());
  const LONG result =
      RegQueryValueExW(key.get(), wide(value_name), nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &data_size);
  bool read = false;
  if (result == ERROR_SUCCESS) {
    read = is_string_type(type) ? javaext::finish_registry_text(text, data_size / sizeof(char16_t))
                                : convert_byte_text(text, data_size);
  }
  if (!read) text[0] = u'\0';
  return read ? 1 : 0;
}

int record_installed_file(const char16_t* destination_path) {
  const javaext::UtcTime now = current_utc_time();
  if (std::char_traits<char16_t>::length(destination_path) > javaext::RECORD_NAME_LIMIT) return 0;

  OpenKey key;
  DWORD disposition = 0;
  wchar_t no_class[] = L"";
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, RECORD_KEY, 0, no_class, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                      key.receive(), &disposition) != ERROR_SUCCESS) {
    return 0;
  }
  // The time text is ASCII; each of its 25 characters is one UTF-16 code unit,
  // so the value holds the 50 bytes that RegSetValueExA stores for the 8-bit
  // text. RegSetValue counts a NUL that directly follows REG_SZ data into the
  // data (NT does this for callers that "forgot" the terminator), so the unit
  // after the 25 must not be a NUL.
  const javaext::TimeText time_text = javaext::format_time_text(now);
  wchar_t data[javaext::TIME_TEXT_LENGTH + 1];
  for (std::size_t i = 0; i < javaext::TIME_TEXT_LENGTH; ++i) data[i] = static_cast<wchar_t>(time_text[i]);
  data[javaext::TIME_TEXT_LENGTH] = L'\n';
  const LONG result = RegSetValueExW(key.get(), wide(destination_path), 0, REG_SZ, reinterpret_cast<const BYTE*>(data),
                                     javaext::TIME_TEXT_LENGTH * sizeof(wchar_t));
  return result == ERROR_SUCCESS ? 1 : 0;
}

}  // namespace javaext
