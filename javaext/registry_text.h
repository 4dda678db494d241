// Registry data taken as text, byte for byte, whatever the value's type.
#pragma once

#include <cstddef>
#include <span>

namespace javaext {

// Makes the `data_size` characters that a registry query placed at the start of
// `buffer` a NUL-terminated text. The text ends at the first NUL in the data;
// data without a NUL gets one after its last character when the buffer has room.
// Data that fills the whole buffer without a NUL does not fit as a text: the
// result is then false and the buffer holds the empty text. Nothing is written
// past the buffer. Characters are bytes (8-bit queries) or UTF-16 code units
// (wide queries, whose data sizes the caller counts in code units).
bool finish_registry_text(std::span<char> buffer, std::size_t data_size);
bool finish_registry_text(std::span<char16_t> buffer, std::size_t data_size);

}  // namespace javaext
