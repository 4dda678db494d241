// The registry side of the Java extension installation: reading a kit's values
// and writing the record of an installed copy.
#pragma once

#include <windows.h>

namespace javaext {

// Reads `value_name` of the key `sub_key_path` under `root` into `buffer` as a
// NUL-terminated text of at most capacity - 1 bytes (capacity counts the NUL).
// The value's type is not examined: its data is taken byte for byte. Returns 1
// when the text was read, else 0 (key or value missing, data too long for the
// buffer, or filling it entirely without a NUL); on 0 the buffer holds no text.
int read_registry_text(HKEY root, const char* sub_key_path, const char* value_name, char* buffer, DWORD capacity);

// Records an installed copy under HKEY_LOCAL_MACHINE
// "SOFTWARE\Korvane\Java\Installed": a REG_SZ value named by `destination_path`
// whose data is the current UTC time text, 25 bytes without a NUL. Returns 1 when
// the value was set, else 0 (key not created or opened, value not set, or a
// destination path over 260 characters, which is never recorded under a cut name).
int record_installed_file(const char* destination_path);

}  // namespace javaext
