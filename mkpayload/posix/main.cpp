// mkpayload's entry point on Linux and other POSIX systems: the arguments are
// taken as UTF-8, as terminals and file names there hold them.
#include <string>
#include <vector>

#include "mkpayload_main.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return mkpayload::run_mkpayload(args);
}
