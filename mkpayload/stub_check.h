// Whether a file can serve as the installer's stub: a 32-bit Windows GUI
// program. Anything else (a text file, a DLL, a 64-bit or console program) would
// give an "installer" that never runs the extractor.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace mkpayload {

// Empty when `image` is a 32-bit x86 Windows GUI executable; otherwise what it is
// instead, as a sentence part ("is not a Windows program ...").
std::string stub_program_problem(std::span<const uint8_t> image);

}  // namespace mkpayload
