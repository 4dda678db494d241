// Test inputs for the implode encoder: files found on the machine (read at run
// time, skipped when absent) and generated data (text-like, random, PE-like).
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace implode_test {

using Bytes = std::vector<uint8_t>;

inline std::optional<Bytes> read_file(const std::filesystem::path& path, size_t max_bytes = SIZE_MAX) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  Bytes data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (data.size() > max_bytes) data.resize(max_bytes);
  return data;
}

// A real Windows PE file (Wine's builtin DLLs are PE images), a Java archive,
// English text: the first one found of each list.
inline std::optional<Bytes> first_file(std::initializer_list<const char*> paths, size_t max_bytes) {
  for (const char* p : paths)
    if (auto data = read_file(p, max_bytes)) return data;
  return std::nullopt;
}
inline std::optional<Bytes> windows_dll(size_t max_bytes) {
  return first_file(
      {"/usr/lib/i386-linux-gnu/wine/i386-windows/imm32.dll", "/usr/lib/i386-linux-gnu/wine/i386-windows/msvcrt.dll",
       "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/msvcrt.dll"},
      max_bytes);
}
inline std::optional<Bytes> java_archive(size_t max_bytes) {
  return first_file(
      {"/usr/share/java/guice.jar", "/usr/share/java/commons-io.jar", "/usr/share/java/aopalliance-1.0.jar"},
      max_bytes);
}
inline std::optional<Bytes> english_text(size_t max_bytes) {
  return first_file(
      {"/usr/share/common-licenses/GPL-3", "/usr/share/common-licenses/GPL-2", "/usr/share/common-licenses/Apache-2.0"},
      max_bytes);
}

inline Bytes random_bytes(size_t n, uint32_t seed, unsigned alphabet = 256) {
  std::mt19937 rng(seed);
  Bytes data(n);
  for (auto& b : data) b = static_cast<uint8_t>(rng() % alphabet);
  return data;
}

// Words from a small vocabulary: text-like, with repeats at every distance.
inline Bytes generated_text(size_t n, uint32_t seed) {
  static const char* const words[] = {"the ",     "entry ", "stream ", "decoder ", "window ",    "match ",
                                      "literal ", "of ",    "and ",    "bytes.\n", "Installer ", "Java "};
  std::mt19937 rng(seed);
  Bytes data;
  while (data.size() < n) {
    const std::string w = words[rng() % std::size(words)];
    data.insert(data.end(), w.begin(), w.end());
  }
  data.resize(n);
  return data;
}

// PE-like binary data, made here so that tests which pin the encoder's output do
// not depend on files of the machine: a header with a DOS stub text and a section
// table, x86-like code (prologues, epilogues, calls, memory operands with small
// displacements, int3 padding, now and then a function repeated whole), import
// names with their hints and address tables, ASCII and UTF-16 strings, data with
// long zero runs, and relocation blocks. The parts repeat in that order until `n`
// bytes are made. Only raw std::mt19937 outputs are used (the standard fixes them
// bit for bit; its distributions are left to each library), so every build makes
// the same bytes.
class PeLikeImage {
 public:
  explicit PeLikeImage(uint32_t seed) : rng_(seed) {}

  Bytes make(size_t n) {
    header();
    while (out_.size() < n) {
      code(24 * 1024 + pick(24 * 1024));
      imports(40 + pick(60));
      strings(60 + pick(80));
      data(8 * 1024 + pick(8 * 1024));
      relocations(4 + pick(8));
    }
    out_.resize(n);
    return std::move(out_);
  }

 private:
  uint32_t pick(uint32_t n) { return static_cast<uint32_t>(rng_() % n); }
  void put(std::initializer_list<uint8_t> bytes) { out_.insert(out_.end(), bytes); }
  void put_text(std::string_view text) { out_.insert(out_.end(), text.begin(), text.end()); }
  void put16(uint32_t v) { put({static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)}); }
  void put32(uint32_t v) {
    put16(v);
    put16(v >> 16);
  }
  void zeros(size_t count) { out_.insert(out_.end(), count, 0); }
  void align(size_t to, uint8_t fill) {
    while (out_.size() % to != 0) out_.push_back(fill);
  }
  // Small displacements off ebp: locals and arguments, few of them per function.
  uint8_t local() { return static_cast<uint8_t>(0x100 - 4 * (1 + pick(12))); }
  uint8_t argument() { return static_cast<uint8_t>(8 + 4 * pick(5)); }

  void header() {
    put_text("MZ");
    put({0x90, 0, 3, 0, 0, 0, 4, 0, 0, 0, 0xFF, 0xFF});
    zeros(0x3C - out_.size());
    put32(0x80);
    put_text("This program cannot be run in DOS mode.\r\r\n$");
    zeros(0x80 - out_.size());
    put_text("PE");
    zeros(2);
    put({0x4C, 0x01, 5, 0});
    put32(static_cast<uint32_t>(rng_()));
    zeros(8);
    put({0xE0, 0, 0x0E, 0x21, 0x0B, 0x01, 2, 0x27});
    for (int i = 0; i < 30; ++i) {  // optional header fields: zeros, page-aligned sizes and a few odd ones
      if (pick(4) == 0) {
        put32(0);
        continue;
      }
      const uint32_t pages = pick(64) << 12;
      put32(pick(4) == 0 ? pages | pick(4096) : pages);
    }
    for (const char* name : {".text", ".rdata", ".data", ".rsrc", ".reloc"}) {
      const std::string_view text(name);
      put_text(text);
      zeros(8 - text.size());
      for (int i = 0; i < 4; ++i) put32(pick(256) << 12);
      zeros(12);
      put32(pick(2) == 0 ? 0x60000020 : 0x40000040);
    }
    zeros(0x400 - out_.size());
  }

  void function() {
    put({0x55, 0x8B, 0xEC});  // push ebp; mov ebp, esp
    if (pick(3) != 0) put({0x83, 0xEC, static_cast<uint8_t>(4 * (1 + pick(16)))});
    put({0x53, 0x56, 0x57});
    const uint32_t steps = 4 + pick(40);
    for (uint32_t i = 0; i < steps; ++i) {
      switch (pick(12)) {
        case 0: put({0x8B, 0x45, argument()}); break;  // mov eax, [ebp+arg]
        case 1: put({0x89, 0x45, local()}); break;     // mov [ebp-x], eax
        case 2: put({0x8B, 0x4D, local()}); break;     // mov ecx, [ebp-x]
        case 3: put({0x50}); break;                    // push eax
        case 4:                                        // push imm32
          put({0x68});
          put32(0x10000000 | pick(0x4000) << 4);
          break;
        case 5:  // call [import]: a few dozen import slots
          put({0xFF, 0x15});
          put32(0x10050000 + 4 * pick(48));
          break;
        case 6:  // call rel32
          put({0xE8});
          put32(static_cast<uint32_t>(-static_cast<int32_t>(16 * (1 + pick(4000)))));
          break;
        case 7: put({0x85, 0xC0, pick(2) ? uint8_t{0x74} : uint8_t{0x75}, static_cast<uint8_t>(2 + pick(40))}); break;
        case 8: put({0x83, 0xF8, static_cast<uint8_t>(pick(16)), 0x7C, static_cast<uint8_t>(2 + pick(30))}); break;
        case 9: put({0x33, 0xC0}); break;                                            // xor eax, eax
        case 10: put({0x8D, 0x4D, local(), 0x51}); break;                            // lea ecx, [ebp-x]; push ecx
        default: put({0x83, 0xC4, static_cast<uint8_t>(4 * (1 + pick(6)))}); break;  // add esp, n
      }
    }
    put({0x5F, 0x5E, 0x5B, 0x8B, 0xE5, 0x5D});
    if (pick(2) == 0)
      put({0xC3});
    else
      put({0xC2, static_cast<uint8_t>(4 * (1 + pick(4))), 0});
    align(16, 0xCC);
  }

  void code(size_t bytes) {
    const size_t end = out_.size() + bytes;
    while (out_.size() < end) {
      const size_t start = out_.size();
      if (start > 4096 && pick(8) == 0) {  // a function seen before, repeated whole
        const size_t from = start - 16 * (1 + pick(200));
        const size_t length = 16 * (2 + pick(8));
        for (size_t i = 0; i < length; ++i) out_.push_back(out_[from + i]);
      } else {
        function();
      }
    }
  }

  void imports(uint32_t count) {
    static constexpr std::string_view names[] = {"GetProcAddress",
                                                 "LoadLibraryA",
                                                 "LoadLibraryW",
                                                 "FreeLibrary",
                                                 "GetModuleHandleW",
                                                 "GetLastError",
                                                 "SetLastError",
                                                 "CreateFileW",
                                                 "ReadFile",
                                                 "WriteFile",
                                                 "CloseHandle",
                                                 "HeapAlloc",
                                                 "HeapFree",
                                                 "GetProcessHeap",
                                                 "VirtualAlloc",
                                                 "VirtualFree",
                                                 "EnterCriticalSection",
                                                 "LeaveCriticalSection",
                                                 "InitializeCriticalSection",
                                                 "DeleteCriticalSection",
                                                 "MultiByteToWideChar",
                                                 "WideCharToMultiByte",
                                                 "RegOpenKeyExW",
                                                 "RegQueryValueExW",
                                                 "RegCloseKey",
                                                 "GetWindowLongW",
                                                 "SendMessageW",
                                                 "DefWindowProcW",
                                                 "GetSystemTimeAsFileTime",
                                                 "QueryPerformanceCounter",
                                                 "lstrlenW",
                                                 "lstrcpyW",
                                                 "_wcsicmp",
                                                 "memcpy",
                                                 "memset",
                                                 "malloc",
                                                 "free",
                                                 "__getmainargs",
                                                 "_initterm",
                                                 "_onexit"};
    uint32_t rva = 0x5000 + (pick(64) << 8);
    for (uint32_t i = 0; i < count; ++i) {  // the lookup table: name RVAs, ascending
      put32(rva);
      rva += 16 + 2 * pick(12);
    }
    zeros(4);
    for (uint32_t i = 0; i < count; ++i) {  // hint and name, padded to an even size
      put16(pick(800));
      put_text(names[pick(std::size(names))]);
      put({0});
      align(2, 0);
    }
    put_text(pick(2) ? "KERNEL32.dll" : "USER32.dll");
    zeros(2 + pick(6));
  }

  void strings(uint32_t count) {
    static constexpr std::string_view words[] = {"file",
                                                 "not",
                                                 "found",
                                                 "the",
                                                 "installer",
                                                 "cannot",
                                                 "open",
                                                 "%s",
                                                 "error",
                                                 "path",
                                                 "Java",
                                                 "setup",
                                                 "Software\\Korvane",
                                                 "could",
                                                 "be",
                                                 "written",
                                                 "directory",
                                                 "%d",
                                                 "bytes",
                                                 "registry",
                                                 "key",
                                                 "value"};
    for (uint32_t i = 0; i < count; ++i) {
      std::string line;
      const uint32_t n = 1 + pick(8);
      for (uint32_t w = 0; w < n; ++w) {
        if (w > 0) line += ' ';
        line += words[pick(std::size(words))];
      }
      if (pick(2) == 0) {  // UTF-16LE, as resources and wide-character APIs keep them
        for (char c : line) put({static_cast<uint8_t>(c), 0});
        zeros(2);
      } else {
        put_text(line);
        put({0});
        align(4, 0);
      }
    }
  }

  void data(size_t bytes) {
    const size_t end = out_.size() + bytes;
    while (out_.size() < end) {
      switch (pick(4)) {
        case 0: zeros(pick(2) ? 4 * pick(64) : 256 + pick(2000)); break;
        case 1: put32(0x10000000 | pick(0x10000) << 4); break;  // pointers into the image
        case 2: put32(pick(256)); break;                        // small integers
        default:                                                // a GUID-like record
          for (int i = 0; i < 16; ++i) out_.push_back(static_cast<uint8_t>(rng_()));
          break;
      }
    }
  }

  void relocations(uint32_t blocks) {
    uint32_t page = pick(64) << 12;
    for (uint32_t b = 0; b < blocks; ++b) {
      const uint32_t entries = 16 + 2 * pick(100);
      put32(page);
      put32(8 + 2 * entries);
      uint32_t offset = 0;
      for (uint32_t i = 0; i < entries; ++i) {
        offset = std::min<uint32_t>(offset + 1 + pick(48), 0xFFF);
        put16(0x3000 | offset);
      }
      page += 0x1000;
    }
  }

  std::mt19937 rng_;
  Bytes out_;
};

inline Bytes pe_like_image(size_t n, uint32_t seed) { return PeLikeImage(seed).make(n); }

}  // namespace implode_test
