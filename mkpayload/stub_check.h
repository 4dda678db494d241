// Whether a file can serve as the installer's stub: a 32-bit Windows GUI
// program. Anything else (a text file, a DLL, a 64-bit or console program) would
// give an "installer" that never runs the extractor.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace mkpayload {

// Empty when `image` is a 32-bit x86 Windows GUI executable; otherwise what it is
// instead, as a sentence part ("is not a Windows program ...").
std::string stub_program_problem(std::span<const uint8_t> image);

// The kit version that the extractor stub `image` carries in its version
// resource ("1.0.0"), or nullopt for a stub without one (an extractor from
// before it had one, or another program).
std::optional<std::string> stub_version(std::span<const uint8_t> image);

}  // namespace mkpayload
