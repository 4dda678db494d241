// The portable code holds UTF-16 text as char16_t; the wide Windows calls take
// wchar_t, which is the same 16-bit code unit on Windows.
#pragma once

#include <windows.h>

namespace extractor {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "a Windows wide character is one UTF-16 code unit");

inline const wchar_t* wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
inline wchar_t* wide(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }

// Shows `text` in a message box without an owner window.
inline void show_message(const char16_t* text, const char16_t* caption, UINT type) {
  MessageBoxW(nullptr, wide(text), wide(caption), type);
}

}  // namespace extractor
