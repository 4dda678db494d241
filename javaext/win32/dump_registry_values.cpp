// Test tool: prints every value and subkey of a key under HKEY_LOCAL_MACHINE, as
// a 32-bit program sees it, with each value's exact type, data length and bytes.
//   dump_registry_values KEY
// Output lines:
//   "value<TAB>NAME<TAB>TYPE<TAB>LENGTH<TAB>HEX"   as the 8-bit calls give them
//       (names and string data converted to the ANSI code page);
//   "wvalue<TAB>NAMEHEX<TAB>TYPE<TAB>LENGTH<TAB>HEX" as stored: the name's UTF-16LE
//       code units and the data's bytes, both in hexadecimal, read with the wide
//       calls, which convert nothing;
//   "subkey<TAB>NAME".
// Exit code 2 when the key does not exist.
#include <windows.h>

#include <cstdio>

namespace {

void print_hex(const BYTE* bytes, DWORD length) {
  for (DWORD i = 0; i < length; ++i) std::printf("%02x", bytes[i]);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: dump_registry_values KEY\n");
    return 1;
  }
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, argv[1], 0, KEY_READ, &key) != ERROR_SUCCESS) return 2;
  static char name[16384];
  static WCHAR wide_name[16384];
  static BYTE data[65536];
  for (DWORD index = 0;; ++index) {
    DWORD name_size = sizeof name;
    DWORD data_size = sizeof data;
    DWORD type = 0;
    if (RegEnumValueA(key, index, name, &name_size, nullptr, &type, data, &data_size) != ERROR_SUCCESS) break;
    std::printf("value\t%s\t%lu\t%lu\t", name, static_cast<unsigned long>(type), static_cast<unsigned long>(data_size));
    print_hex(data, data_size);
    std::printf("\n");
  }
  for (DWORD index = 0;; ++index) {
    DWORD name_units = sizeof wide_name / sizeof wide_name[0];
    DWORD data_size = sizeof data;
    DWORD type = 0;
    if (RegEnumValueW(key, index, wide_name, &name_units, nullptr, &type, data, &data_size) != ERROR_SUCCESS) break;
    std::printf("wvalue\t");
    print_hex(reinterpret_cast<const BYTE*>(wide_name), name_units * sizeof(WCHAR));
    std::printf("\t%lu\t%lu\t", static_cast<unsigned long>(type), static_cast<unsigned long>(data_size));
    print_hex(data, data_size);
    std::printf("\n");
  }
  for (DWORD index = 0;; ++index) {
    DWORD name_size = sizeof name;
    if (RegEnumKeyExA(key, index, name, &name_size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    std::printf("subkey\t%s\n", name);
  }
  RegCloseKey(key);
  return 0;
}
