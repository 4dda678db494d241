// Runs a "$EXEC" command the way the C runtime's system() does: the program named
// by COMSPEC, with the command line "<interpreter> /c <command>" (no quotes
// added), inheriting the environment and the current directory, waited for.
// When COMSPEC is unset, or its program is missing or refused, the bare name
// "cmd.exe" ("command.com" on Windows 9x) is looked up in the current directory,
// then along PATH.
#include <windows.h>

#include <cstring>

#include "heap_bytes.h"

namespace extractor {

namespace {

enum class Started { yes, not_found, failed };

Started start_and_wait(const char* program, const char* shown_name, const char* command) {
  const size_t name_length = std::strlen(shown_name), command_length = std::strlen(command);
  HeapBytes line(uint64_t(name_length) + 4 + command_length + 1);
  if (!line.ok()) return Started::failed;
  char* text = reinterpret_cast<char*>(line.data());
  std::memcpy(text, shown_name, name_length);
  std::memcpy(text + name_length, " /c ", 4);
  std::memcpy(text + name_length + 4, command, command_length + 1);

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(program, text, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
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

// Reads an environment variable of any length; nullptr when unset.
HeapBytes environment_value(const char* name, bool& found) {
  DWORD needed = GetEnvironmentVariableA(name, nullptr, 0);
  found = needed != 0;
  HeapBytes value(found ? needed : 1);
  if (!found || !value.ok()) return value;
  const DWORD got = GetEnvironmentVariableA(name, reinterpret_cast<char*>(value.data()), needed);
  found = got != 0 && got < needed;
  return value;
}

}  // namespace

void run_command_interpreter(const char* command) {
  bool have_comspec = false;
  HeapBytes comspec = environment_value("COMSPEC", have_comspec);
  if (have_comspec && comspec.ok()) {
    const char* interpreter = reinterpret_cast<const char*>(comspec.data());
    if (start_and_wait(interpreter, interpreter, command) != Started::not_found) return;
  }

  const char* fallback = (GetVersion() & 0x80000000u) ? "command.com" : "cmd.exe";
  bool have_path = false;
  HeapBytes path = environment_value("PATH", have_path);
  const char* path_text = have_path && path.ok() ? reinterpret_cast<const char*>(path.data()) : "";
  HeapBytes search(std::strlen(path_text) + 3);
  if (!search.ok()) return;
  char* search_text = reinterpret_cast<char*>(search.data());
  std::memcpy(search_text, ".;", 2);
  std::memcpy(search_text + 2, path_text, std::strlen(path_text) + 1);

  char found[MAX_PATH + 1];
  const DWORD length = SearchPathA(search_text, fallback, nullptr, sizeof found, found, nullptr);
  if (length == 0 || length >= sizeof found) return;
  start_and_wait(found, fallback, command);
}

}  // namespace extractor
