// Test inputs for the implode encoder: files found on the machine (read at run
// time, skipped when absent) and generated data.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
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
  return first_file({"/usr/lib/i386-linux-gnu/wine/i386-windows/imm32.dll",
                     "/usr/lib/i386-linux-gnu/wine/i386-windows/msvcrt.dll",
                     "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/msvcrt.dll"},
                    max_bytes);
}
inline std::optional<Bytes> java_archive(size_t max_bytes) {
  return first_file({"/usr/share/java/guice.jar", "/usr/share/java/commons-io.jar",
                     "/usr/share/java/aopalliance-1.0.jar"},
                    max_bytes);
}
inline std::optional<Bytes> english_text(size_t max_bytes) {
  return first_file({"/usr/share/common-licenses/GPL-3", "/usr/share/common-licenses/GPL-2",
                     "/usr/share/common-licenses/Apache-2.0"},
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
  static const char* const words[] = {"the ", "entry ", "stream ", "decoder ", "window ", "match ",
                                      "literal ", "of ", "and ", "bytes.\n", "Installer ", "Java "};
  std::mt19937 rng(seed);
  Bytes data;
  while (data.size() < n) {
    const std::string w = words[rng() % std::size(words)];
    data.insert(data.end(), w.begin(), w.end());
  }
  data.resize(n);
  return data;
}

}  // namespace implode_test
