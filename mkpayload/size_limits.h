// The sizes an installer's entries may have so that the extractor, a 32-bit
// program, unpacks them on an end user's machine.
#pragma once

#include <cstdint>
#include <string>

#include "extraction_limits.h"

namespace mkpayload {

// The extractor reads its own file through 32-bit C stream offsets.
inline constexpr uint64_t MAX_INSTALLER_BYTES = payload::LARGEST_INSTALLER_SIZE;
// A compressed entry is decoded whole into memory before it is written: the
// limit that holds on every Windows, 32-bit systems included.
inline constexpr uint64_t MAX_COMPRESSED_UNPACKED_BYTES = payload::LARGEST_COMPRESSED_UNPACKED_SIZE;

// "is N bytes; a compressed entry ..." with the limit and what to do instead.
std::string compressed_too_large(uint64_t size);

}  // namespace mkpayload
