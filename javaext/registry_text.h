// Registry data taken as text, byte for byte, whatever the value's type.
#pragma once

#include <cstddef>
#include <span>

namespace javaext {

// Makes the `data_size` bytes that a registry query placed at the start of
// `buffer` a NUL-terminated text. The text ends at the first NUL in the data;
// data without a NUL gets one after its last byte when the buffer has room. Data
// that fills the whole buffer without a NUL does not fit as a text: the result is
// then false and the buffer holds the empty text. Nothing is written past the buffer.
bool finish_registry_text(std::span<char> buffer, std::size_t data_size);

}  // namespace javaext
