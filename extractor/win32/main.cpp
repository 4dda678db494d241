// The extractor's run: make a fresh work directory below the temporary
// directory, unpack the payload into it, install the Java extensions, delete the
// extracted files. Exit code 0 after a complete run (and after the message that
// no work directory could be made), -1 after a failed extraction, 1 after a
// fatal stop inside extraction. The command line is not read.
//
// Every path goes through the wide calls, so the temporary directory, the
// installer's own folder and the Java kits' homes may hold any character, not
// only those of the ANSI code page. The limits stay those of the 8-bit calls,
// counted in characters.
#include <windows.h>

#include "extract_payload.h"
#include "install_java_extensions.h"
#include "status_message.h"
#include "wide_text.h"
#include "win32_extract_host.h"
#include "work_directory.h"

namespace extractor {
namespace {

constexpr int EXIT_FAILED = -1;

// Loads the DLLs that the system loads for us only from the system directory,
// never from the installer's own folder (which others may write to).
void restrict_dll_search() {
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  auto set_default = reinterpret_cast<SetDefaultDllDirectoriesFn>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (set_default != nullptr) set_default(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

uint32_t clock_seconds_since_1970() {
  SYSTEMTIME now;
  GetSystemTime(&now);
  return seconds_since_1970({now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond});
}

int show_and_exit(const char16_t* text, int exit_code) {
  show_message(text, RUN_CAPTION, MB_ICONERROR);
  return exit_code;
}

// Deletes every file of the current directory whose name does not begin with a
// full stop. Subdirectories stay; so does the directory itself.
void delete_extracted_files() {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(L"*.*", &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if (found.cFileName[0] != L'.') DeleteFileW(found.cFileName);
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

int run() {
  restrict_dll_search();

  // On the stack, not in static storage: the compiler would give zero-filled
  // arrays of their own data section room in the file (4 KiB of zeros).
  char16_t failed_file_name[FAILED_FILE_NAME_CAPACITY];
  char16_t message[MESSAGE_CAPACITY];

  char16_t temp_dir[SHORT_PATH_CAPACITY];
  const DWORD temp_length = GetTempPathW(SHORT_PATH_CAPACITY, wide(temp_dir));
  if (temp_length == 0 || temp_length >= SHORT_PATH_CAPACITY)
    return show_and_exit(format_enter_directory_error(message, ERROR_FILENAME_EXCED_RANGE), EXIT_FAILED);
  SetCurrentDirectoryW(wide(temp_dir));

  // The work directory's full path must fit its buffer before the directory is
  // made: everything after this point, above all the clean-up, happens inside it.
  char16_t name[16];
  char16_t work_dir[SHORT_PATH_CAPACITY];
  bool created = false;
  for (uint32_t attempt = 0; attempt < WORK_DIRECTORY_ATTEMPTS && !created; ++attempt) {
    format_work_directory_name(name, clock_seconds_since_1970());
    if (!join_work_directory_path(work_dir, temp_dir, name))
      return show_and_exit(format_enter_directory_error(message, ERROR_FILENAME_EXCED_RANGE), EXIT_FAILED);
    created = CreateDirectoryW(wide(name), nullptr) != 0;
  }
  if (!created) return show_and_exit(format_directory_error(message, GetLastError()), 0);
  if (!SetCurrentDirectoryW(wide(work_dir)))
    return show_and_exit(format_enter_directory_error(message, GetLastError()), EXIT_FAILED);

  char16_t own_path[SHORT_PATH_CAPACITY];
  const DWORD own_length = GetModuleFileNameW(nullptr, wide(own_path), SHORT_PATH_CAPACITY);
  int32_t status = EXTRACT_NO_MODULE_PATH;
  if (own_length != 0 && own_length < SHORT_PATH_CAPACITY) {
    Win32ExtractHost host;
    status = extract_payload(host, own_path, work_dir, failed_file_name);
  }
  if (status != EXTRACT_OK) return show_and_exit(format_status_message(message, status, failed_file_name), EXIT_FAILED);

  javaext::install_java_extensions(u"Java Development Kit", u"\\jre");
  javaext::install_java_extensions(u"Java Runtime Environment", u"");
  delete_extracted_files();
  return 0;
}

}  // namespace
}  // namespace extractor

// The program's entry point (linked with -nostartfiles): the C runtime's start-up
// would parse a command line that the extractor ignores, set up stdio, atexit and
// exception handlers it does not use, and pull 12 KiB into every installer. The
// extractor has no static constructors, and the msvcrt functions it imports
// (malloc, free, mem*) need no start-up: msvcrt.dll sets itself up when loaded.
extern "C" void WINAPI extractor_start() { ExitProcess(static_cast<UINT>(extractor::run())); }
