/* The control program of the DLL planting test: loads "kvnplant.dll" by bare
   name and shows a message box (which makes the system load more DLLs by
   name), with the default DLL search, which looks in the program's folder
   first. With the argument "protect" it first limits the search to the
   system directory, as the extractor and the launcher do. */
#include <string.h>
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show) {
  (void)instance;
  (void)previous;
  (void)show;
  if (strstr(command_line, "protect") != NULL) {
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
    SetDefaultDllDirectoriesFn set_default = (SetDefaultDllDirectoriesFn)(void*)GetProcAddress(
        GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories");
    if (set_default != NULL) set_default(LOAD_LIBRARY_SEARCH_SYSTEM32);
  }
  LoadLibraryA("kvnplant.dll");
  MessageBoxA(NULL, "loader", "loader", MB_OK);
  return 0;
}
