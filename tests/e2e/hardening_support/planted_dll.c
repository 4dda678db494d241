/* A DLL planted beside a program in the hardening tests: when any process loads
   it, it leaves a marker file named after itself ("<its path>.loaded"). It
   exports nothing; Wine fills the imports that a program expected from it with
   stubs, so loading it under a system DLL's name still runs DllMain. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) {
    char path[MAX_PATH + 16];
    DWORD length = GetModuleFileNameA(self, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return TRUE;
    lstrcatA(path, ".loaded");
    HANDLE marker = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
  }
  return TRUE;
}
