// The registry side of the Java extension installation: reading a kit's values
// and writing the record of an installed copy, through the wide calls.
#pragma once

#include <windows.h>

#include <span>

namespace javaext {

// Reads `value_name` of the key `sub_key_path` under `root` into `text` as a
// NUL-terminated text of at most text.size() - 1 characters. The value's type
// decides only how its data becomes text: string data (REG_SZ, REG_EXPAND_SZ,
// REG_MULTI_SZ) is UTF-16 already; data of any other type is taken byte for
// byte as text in the ANSI code page (at most text.size() bytes, as an 8-bit
// query into a buffer of that many bytes would take it) and converted. Nothing is
// expanded. Returns 1 when the text was read, else 0 (key or value missing, data
// too long, or filling the whole text without a NUL); on 0 `text` holds no text.
int read_registry_text(HKEY root, const char16_t* sub_key_path, const char16_t* value_name, std::span<char16_t> text);

// Records an installed copy under HKEY_LOCAL_MACHINE
// "SOFTWARE\Korvane\Java\Installed": a REG_SZ value named by `destination_path`
// whose data is the current UTC time text, 25 characters stored as 50 bytes of
// UTF-16 without a NUL (the bytes that RegSetValueExA stores for the 25-byte text).
// Returns 1 when the value was set, else 0 (key not created or opened, value not
// set, or a destination path over 260 characters, which is never recorded under
// a cut name).
int record_installed_file(const char16_t* destination_path);

}  // namespace javaext
