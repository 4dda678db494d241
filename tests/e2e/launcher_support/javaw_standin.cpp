// Stand-in for javaw in the launcher's end-to-end tests. It records how it was
// started into the file named by KVN_JAVAW_RECORD (which it can only know through
// the environment inherited from the launcher), as UTF-16LE fields each ended by a
// NUL: its exact command line, the STARTUPINFO flags and show command (decimal), its
// working directory and its own executable's path. The record is written under a
// temporary name and renamed, so a reader never sees half of it. When
// KVN_JAVAW_SLEEP_MS is set it then sleeps that long and writes "<record>.done".
#include <windows.h>

#include <string>

namespace {

std::wstring environment(const wchar_t* name) {
  wchar_t value[4096];
  const DWORD length = GetEnvironmentVariableW(name, value, 4096);
  return length > 0 && length < 4096 ? std::wstring(value, length) : std::wstring();
}

bool write_file(const std::wstring& path, const std::wstring& text) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const DWORD bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  const bool ok = WriteFile(file, text.data(), bytes, &written, nullptr) && written == bytes;
  CloseHandle(file);
  return ok;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  const std::wstring record = environment(L"KVN_JAVAW_RECORD");
  if (record.empty()) return 3;

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  GetStartupInfoW(&startup);
  std::wstring cwd(GetCurrentDirectoryW(0, nullptr), L'\0');
  cwd.resize(GetCurrentDirectoryW(static_cast<DWORD>(cwd.size()), cwd.data()));
  std::wstring module(32768, L'\0');
  module.resize(GetModuleFileNameW(nullptr, module.data(), static_cast<DWORD>(module.size())));

  std::wstring text;
  for (const std::wstring& field : {std::wstring(GetCommandLineW()), std::to_wstring(startup.dwFlags),
                                    std::to_wstring(startup.wShowWindow), cwd, module}) {
    text += field;
    text += L'\0';
  }
  const std::wstring partial = record + L".part";
  if (!write_file(partial, text) || !MoveFileExW(partial.c_str(), record.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    return 4;
  }

  const std::wstring sleep_ms = environment(L"KVN_JAVAW_SLEEP_MS");
  if (!sleep_ms.empty()) {
    Sleep(static_cast<DWORD>(std::stoul(sleep_ms)));
    write_file(record + L".done", L"done");
  }
  return 0;
}
