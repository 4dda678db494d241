// The whole of mkpayload behind its platform's entry point; arguments in UTF-8,
// without the program name. Returns the exit code.
#pragma once

#include <span>
#include <string>

namespace mkpayload {

int run_mkpayload(std::span<const std::string> args);

}  // namespace mkpayload
