// mkpayload's entry point on Windows: the Unicode command line, converted to
// UTF-8, so arguments and file names in any script arrive intact. A console
// shows the UTF-8 output while mkpayload runs; its code page is put back after.
#include <windows.h>

#include <string>
#include <vector>

#include "mkpayload_main.h"

namespace {

std::string utf8_of(const wchar_t* text) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return {};
  std::string out(static_cast<size_t>(n - 1), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
  return out;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(utf8_of(argv[i]));
  const UINT console_page = GetConsoleOutputCP();
  if (console_page != 0) SetConsoleOutputCP(CP_UTF8);
  const int code = mkpayload::run_mkpayload(args);
  if (console_page != 0) SetConsoleOutputCP(console_page);
  return code;
}
