// Stand-in for javaw in the launcher's end-to-end tests. It records how it was
// started into the file named by KVN_JAVAW_RECORD (which it can only know through
// the environment inherited from the launcher), as UTF-16LE fields each ended by a
// NUL: its exact command line, the STARTUPINFO flags and show command (decimal), its
// working directory and its own executable's path.
//
// When KVN_JAVAW_HOLD names a file, the stand-in then stays until that file exists
// (the test makes it to let it go), at most kHoldLimitMs, and on leaving writes
// "<record>.done" holding "released" or "timed out". A test can so see the launcher
// end while javaw is still running, with nothing left to timing.
#include <windows.h>

#include <string>

namespace {

// Shorter than the test runner's wait for the launcher, so a launcher that waited
// for javaw still ends and shows "<record>.done" where none may be yet.
constexpr DWORD kHoldLimitMs = 60000;

std::wstring environment(const wchar_t* name) {
  wchar_t value[4096];
  const DWORD length = GetEnvironmentVariableW(name, value, 4096);
  return length > 0 && length < 4096 ? std::wstring(value, length) : std::wstring();
}

bool write_file(const std::wstring& path, const std::wstring& text) {
  const HANDLE file =
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const DWORD bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  const bool ok = WriteFile(file, text.data(), bytes, &written, nullptr) && written == bytes;
  CloseHandle(file);
  return ok;
}

// Writes under a temporary name and renames, so a reader never sees half of it.
bool publish(const std::wstring& path, const std::wstring& text) {
  const std::wstring partial = path + L".part";
  return write_file(partial, text) && MoveFileExW(partial.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

bool file_exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Waits until `path` exists, at most `limit_ms`, woken by change notifications on
// its folder. The notification is set up before the first look, so a file made in
// between still ends the wait.
bool wait_for_file(const std::wstring& path, DWORD limit_ms) {
  const size_t separator = path.find_last_of(L"\\/");
  const std::wstring folder = separator == std::wstring::npos ? L"." : path.substr(0, separator);
  const HANDLE change = FindFirstChangeNotificationW(folder.c_str(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME);
  if (change == INVALID_HANDLE_VALUE) return false;
  const DWORD start = GetTickCount();
  while (!file_exists(path)) {
    const DWORD waited = GetTickCount() - start;
    if (waited >= limit_ms || WaitForSingleObject(change, limit_ms - waited) != WAIT_OBJECT_0 ||
        !FindNextChangeNotification(change)) {
      break;
    }
  }
  FindCloseChangeNotification(change);
  return file_exists(path);
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
  if (!publish(record, text)) return 4;

  const std::wstring hold = environment(L"KVN_JAVAW_HOLD");
  if (!hold.empty()) {
    const bool released = wait_for_file(hold, kHoldLimitMs);
    if (!publish(record + L".done", released ? L"released" : L"timed out")) return 5;
  }
  return 0;
}
