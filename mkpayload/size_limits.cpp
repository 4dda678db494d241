#include "size_limits.h"

namespace mkpayload {

std::string compressed_too_large(uint64_t size) {
  return "is " + std::to_string(size) + " bytes; a compressed entry may unpack to at most " +
         std::to_string(MAX_COMPRESSED_UNPACKED_BYTES) +
         " bytes, since the extractor holds it whole in memory. Store it with --store (stored entries are copied in "
         "blocks), or split the file";
}

}  // namespace mkpayload
