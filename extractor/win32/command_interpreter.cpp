// Runs a "$EXEC" command the way the C runtime's system() does: the program named
// by COMSPEC, with the command line "<interpreter> /c <command>" (no quotes
// added), inheriting the environment and the current directory, waited for.
// When COMSPEC is unset, or its program is missing or refused, the bare name
// "cmd.exe" ("command.com" on Windows 9x) is looked up in the current directory,
// then along PATH.
//
// Everything goes through the wide calls: COMSPEC and PATH as the environment
// holds them, and the command, whose bytes are in the ANSI code page, converted
// to UTF-16 as CreateProcessA would have converted it.
#include <windows.h>

#include <cstring>

#include "heap_bytes.h"

namespace extractor {

namespace {

enum class Started { yes, not_found, failed };

// A heap text of `units` UTF-16 code units.
class WideBuffer {
 public:
  explicit WideBuffer(size_t units) : bytes_(uint64_t(units) * sizeof(wchar_t)) {}
  bool ok() const { return bytes_.ok(); }
  wchar_t* data() const { return reinterpret_cast<wchar_t*>(bytes_.data()); }

 private:
  HeapBytes bytes_;
};

size_t text_length(const wchar_t* text) {
  size_t length = 0;
  while (text[length] != 0) ++length;
  return length;
}

Started start_and_wait(const wchar_t* program, const wchar_t* shown_name, const wchar_t* command) {
  static constexpr wchar_t SWITCH[] = L" /c ";
  const size_t name_length = text_length(shown_name), command_length = text_length(command);
  const size_t switch_length = sizeof SWITCH / sizeof SWITCH[0] - 1;
  WideBuffer line(name_length + switch_length + command_length + 1);
  if (!line.ok()) return Started::failed;
  wchar_t* text = line.data();
  std::memcpy(text, shown_name, name_length * sizeof(wchar_t));
  std::memcpy(text + name_length, SWITCH, switch_length * sizeof(wchar_t));
  std::memcpy(text + name_length + switch_length, command, (command_length + 1) * sizeof(wchar_t));

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(program, text, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
    const DWORD error = GetLastError();
    const bool missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
                         error == ERROR_ACCESS_DENIED || error == ERROR_BAD_EXE_FORMAT;
    return missing ? Started::not_found : Started::failed;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return Started::yes;
}

// Reads an environment variable of any length; `found` is false when it is unset.
WideBuffer environment_value(const wchar_t* name, bool& found) {
  const DWORD needed = GetEnvironmentVariableW(name, nullptr, 0);
  found = needed != 0;
  WideBuffer value(found ? needed : 1);
  if (!found || !value.ok()) return value;
  const DWORD got = GetEnvironmentVariableW(name, value.data(), needed);
  found = got != 0 && got < needed;
  return value;
}

}  // namespace

void run_command_interpreter(const char* command) {
  const int command_units = MultiByteToWideChar(CP_ACP, 0, command, -1, nullptr, 0);
  if (command_units <= 0) return;
  WideBuffer wide_command(static_cast<size_t>(command_units));
  if (!wide_command.ok() || MultiByteToWideChar(CP_ACP, 0, command, -1, wide_command.data(), command_units) == 0)
    return;

  bool have_comspec = false;
  WideBuffer comspec = environment_value(L"COMSPEC", have_comspec);
  if (have_comspec && comspec.ok()) {
    if (start_and_wait(comspec.data(), comspec.data(), wide_command.data()) != Started::not_found) return;
  }

  const wchar_t* fallback = (GetVersion() & 0x80000000u) ? L"command.com" : L"cmd.exe";
  bool have_path = false;
  WideBuffer path = environment_value(L"PATH", have_path);
  const wchar_t* path_text = have_path && path.ok() ? path.data() : L"";
  const size_t path_length = text_length(path_text);
  WideBuffer search(path_length + 3);
  if (!search.ok()) return;
  wchar_t* search_text = search.data();
  search_text[0] = L'.';
  search_text[1] = L';';
  std::memcpy(search_text + 2, path_text, (path_length + 1) * sizeof(wchar_t));

  wchar_t found[MAX_PATH + 1];
  const DWORD length = SearchPathW(search_text, fallback, nullptr, MAX_PATH + 1, found, nullptr);
  if (length == 0 || length >= MAX_PATH + 1) return;
  start_and_wait(found, fallback, wide_command.data());
}

}  // namespace extractor
