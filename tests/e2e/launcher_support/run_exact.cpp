// Runner of the launcher's end-to-end tests: starts a program with an exact raw
// command line, which no shell or Wine quoting could produce reliably.
//
//   kvn_run_exact <file>
//
// <file> holds the command line in UTF-8. The runner passes it to CreateProcessW
// with no application name (so the system splits off the program name as it does
// for any caller), waits for the program to end and prints "exit=<code>" and the
// milliseconds it ran as "ms=<n>". When the program cannot be started it prints
// "create_error=<code>" and exits with 2; bad use exits with 1.
#include <windows.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fputs("usage: kvn_run_exact <file with the command line in UTF-8>\n", stderr);
    return 1;
  }
  const HANDLE file = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "cannot open the command-line file (error %lu)\n", GetLastError());
    return 1;
  }
  std::string utf8(GetFileSize(file, nullptr), '\0');
  DWORD read = 0;
  const BOOL ok = ReadFile(file, utf8.data(), static_cast<DWORD>(utf8.size()), &read, nullptr);
  CloseHandle(file);
  if (!ok || read != utf8.size()) {
    std::fputs("cannot read the command-line file\n", stderr);
    return 1;
  }
  std::wstring command_line(utf8.size() + 1, L'\0');
  const int units = utf8.empty()
                        ? 0
                        : MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()),
                                              command_line.data(), static_cast<int>(command_line.size()));
  if (units <= 0) {
    std::fputs("the command-line file is empty or not UTF-8\n", stderr);
    return 1;
  }
  command_line.resize(static_cast<size_t>(units));

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  const DWORD start = GetTickCount();
  if (!CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    std::printf("create_error=%lu\n", GetLastError());
    return 2;
  }
  CloseHandle(process.hThread);
  if (WaitForSingleObject(process.hProcess, 120000) != WAIT_OBJECT_0) {
    std::puts("timeout");
    TerminateProcess(process.hProcess, 99);
    return 3;
  }
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  std::printf("exit=%lu\nms=%lu\n", code, GetTickCount() - start);
  return 0;
}
