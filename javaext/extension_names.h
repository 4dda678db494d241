// Which extracted files are installed into a Java kit, judged by name alone. The
// names come from the directory listing: 8-bit, or UTF-16 from the wide calls.
#pragma once

#include <string_view>

namespace javaext {

struct ExtensionMatch {
  bool java_archive;    // goes to lib\ext
  bool native_library;  // goes to lib\ext\x86
};

// True when both texts are equal once the ASCII letters A-Z are taken as a-z.
// Bytes of 0x80 and above (code-page letters) are compared as they are.
bool equals_ignoring_ascii_case(std::string_view a, std::string_view b);

// A name that begins with "." (".", "..", hidden files) matches nothing, nor does
// a name without ".". Otherwise the extension is the text from the last "." on,
// and ".jar" and ".dll" are tested independently of each other, ignoring ASCII case.
ExtensionMatch classify_extracted_name(std::string_view name);
ExtensionMatch classify_extracted_name(std::u16string_view name);

}  // namespace javaext
