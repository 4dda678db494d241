// Orvel6Launcher: starts `javaw -jar "<own directory>\Orvel63.jar" <own arguments>`
// with the window shown minimised, and ends without waiting for Java.
//
// Wide (UTF-16) Windows functions only, so arguments in any script reach Java as
// they were typed. Exit status: 0 once javaw has been started; after a failure, the
// failure's Windows error code (never 0), once its message box has been closed.
#include <windows.h>

#include <memory>
#include <string_view>

#include "launch_command.h"

namespace {

namespace launch = launcher;

constexpr wchar_t CAPTION[] = L"Orvel6Launcher";
// The longest path that the Windows path functions handle, NUL included.
constexpr DWORD MAX_PATH_LENGTH = 32768;

struct HeapRelease {
  void operator()(wchar_t* p) const { HeapFree(GetProcessHeap(), 0, p); }
};
using HeapText = std::unique_ptr<wchar_t[], HeapRelease>;

HeapText heap_text(std::size_t units) {
  return HeapText(static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, units * sizeof(wchar_t))));
}

// One modal message box without an owner: what failed, then the system's own text
// for the error code, and the code.
void report_failure(const wchar_t* what, DWORD error) {
  wchar_t* system_text = nullptr;
  const DWORD length =
      FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, error, 0, reinterpret_cast<wchar_t*>(&system_text), 0, nullptr);
  if (length == 0) {
    system_text = nullptr;
  } else {
    // The system texts end in a line break; the code goes on the same line.
    for (DWORD end = length; end > 0; --end) {
      if (system_text[end - 1] != L'\r' && system_text[end - 1] != L'\n') break;
      system_text[end - 1] = L'\0';
    }
  }
  DWORD_PTR inserts[] = {reinterpret_cast<DWORD_PTR>(what),
                         reinterpret_cast<DWORD_PTR>(system_text ? system_text : L"Unknown error."),
                         static_cast<DWORD_PTR>(error)};
  wchar_t* message = nullptr;
  const DWORD message_length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ARGUMENT_ARRAY,
      L"%1%n%n%2 (error %3!lu!)", 0, 0, reinterpret_cast<wchar_t*>(&message), 0, reinterpret_cast<va_list*>(inserts));
  MessageBoxW(nullptr, message_length != 0 ? message : what, CAPTION, MB_OK | MB_ICONERROR);
  LocalFree(message);
  LocalFree(system_text);
}

// Loads DLLs that are not yet mapped from the system directory only, never from the
// launcher's folder or the current directory. Looked up at run time: Windows 7
// without update KB2533623 does not have it, and there the launcher still runs.
void restrict_dll_search() {
  constexpr DWORD SEARCH_SYSTEM32 = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  if (kernel == nullptr) {
    return;
  }
  // Through the generic function pointer type, which the compiler lets any function
  // pointer convert to without a warning.
  const auto generic = reinterpret_cast<void (*)()>(GetProcAddress(kernel, "SetDefaultDllDirectories"));
  if (generic != nullptr) {
    reinterpret_cast<SetDefaultDllDirectoriesFn>(generic)(SEARCH_SYSTEM32);
  }
}

// The full path of the running executable in `module_path`, and the directory that
// holds it in `directory` (a view into `module_path`): no trailing backslash, except
// for a drive's root. Paths longer than MAX_PATH work: the buffer grows until the
// whole name fits. Returns 0, or the Windows error code of the failure.
DWORD AppDirectory(HeapText& module_path, std::wstring_view& directory) {
  for (DWORD capacity = MAX_PATH;; capacity *= 2) {
    if (capacity > MAX_PATH_LENGTH) {
      return ERROR_FILENAME_EXCED_RANGE;
    }
    module_path = heap_text(capacity);
    if (!module_path) {
      return ERROR_NOT_ENOUGH_MEMORY;
    }
    SetLastError(ERROR_SUCCESS);
    const DWORD length = GetModuleFileNameW(nullptr, module_path.get(), capacity);
    if (length == 0) {
      const DWORD error = GetLastError();
      return error != ERROR_SUCCESS ? error : ERROR_INVALID_FUNCTION;
    }
    // A name that did not fit comes back cut to `capacity` characters (with
    // ERROR_INSUFFICIENT_BUFFER from Vista on, without it on XP).
    if (length < capacity) {
      directory = launch::directory_of(std::wstring_view(module_path.get(), length));
      return directory.empty() ? ERROR_BAD_PATHNAME : ERROR_SUCCESS;
    }
  }
}

bool same_text_ignoring_case(std::wstring_view a, std::wstring_view b) {
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

// Whether `candidate`, a prefix of the launcher's command line, names the launcher's
// own executable, with or without its ".exe" (as CreateProcess completes it). The
// file names are compared first, so only a likely match costs a full-path lookup.
bool names_this_program(std::wstring_view candidate, std::wstring_view module_path) {
  constexpr std::wstring_view EXE = L".exe";
  const std::wstring_view file_name = module_path.substr(module_path.rfind(L'\\') + 1);
  const std::wstring_view candidate_name = candidate.substr(candidate.find_last_of(L"\\/") + 1);
  const bool named_exe =
      file_name.size() > EXE.size() && same_text_ignoring_case(file_name.substr(file_name.size() - EXE.size()), EXE);
  const bool with_extension = same_text_ignoring_case(candidate_name, file_name);
  const bool without_extension =
      named_exe && same_text_ignoring_case(candidate_name, file_name.substr(0, file_name.size() - EXE.size()));
  if (!with_extension && !without_extension) {
    return false;
  }
  wchar_t name[MAX_PATH_LENGTH];
  if (candidate.size() + EXE.size() >= MAX_PATH_LENGTH) {
    return false;
  }
  std::size_t length = candidate.copy(name, candidate.size());
  if (!with_extension) {
    length += EXE.copy(name + length, EXE.size());
  }
  name[length] = L'\0';
  wchar_t full[MAX_PATH_LENGTH];
  const DWORD full_length = GetFullPathNameW(name, MAX_PATH_LENGTH, full, nullptr);
  return full_length > 0 && full_length < MAX_PATH_LENGTH &&
         same_text_ignoring_case(std::wstring_view(full, full_length), module_path);
}

// Starts javaw with the window shown minimised, in the launcher's own working
// directory and environment, and lets it run on its own.
DWORD start_java(wchar_t* command_line) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWMINIMIZED;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, command_line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : ERROR_INVALID_FUNCTION;
  }
  if (process.hThread != nullptr) CloseHandle(process.hThread);
  if (process.hProcess != nullptr) CloseHandle(process.hProcess);
  return ERROR_SUCCESS;
}

// Builds the javaw command line from the launcher's directory and its argument tail,
// starts it, and returns the exit status.
int Main() {
  HeapText module_path;
  std::wstring_view directory;
  if (const DWORD error = AppDirectory(module_path, directory); error != ERROR_SUCCESS) {
    report_failure(L"The launcher's own folder could not be determined.", error);
    return static_cast<int>(error);
  }
  const std::wstring_view module(module_path.get());
  const std::wstring_view tail =
      launch::argument_tail(std::wstring_view(GetCommandLineW()),
                            [module](std::wstring_view candidate) { return names_this_program(candidate, module); });

  const std::size_t length = launch::java_command_line_length(directory, tail);
  if (length + 1 > launch::MAX_COMMAND_LINE) {
    report_failure(L"The command line for javaw is too long.", ERROR_FILENAME_EXCED_RANGE);
    return ERROR_FILENAME_EXCED_RANGE;
  }
  HeapText command_line = heap_text(length + 1);
  if (!command_line) {
    report_failure(L"The command line for javaw could not be built.", ERROR_NOT_ENOUGH_MEMORY);
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  launch::write_java_command_line(std::span(command_line.get(), length + 1), directory, tail);

  if (const DWORD error = start_java(command_line.get()); error != ERROR_SUCCESS) {
    report_failure(L"The Java runtime (javaw) could not be started.", error);
    return static_cast<int>(error);
  }
  return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  restrict_dll_search();
  return Main();
}
