// The few things mkpayload needs from the operating system beyond the standard
// library, each implemented in posix/ and win32/: files opened by any Unicode
// path, 64-bit positions, and file identity. Paths travel as UTF-8.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace mkpayload {

// UTF-8 <-> path, the same on every system (a Windows path is UTF-16 inside).
std::filesystem::path path_from_utf8(std::string_view utf8);
std::string utf8_of(const std::filesystem::path& path);

// fopen for any path the system can name.
std::FILE* open_file(const std::filesystem::path& path, const char* mode);

// Creates a new file for writing ("wb"); fails (errno EEXIST) when the name
// exists, also as a link, so nothing is ever written through one.
std::FILE* create_new_file(const std::filesystem::path& path);

// Reads `out.size()` bytes at `offset`; false when they are not all there.
bool read_file_at(std::FILE* file, uint64_t offset, std::span<uint8_t> out);

// The path of the running mkpayload; nullopt when the system does not say.
std::optional<std::filesystem::path> own_executable_path();

// Whether the stream is a terminal (a Windows console in the Windows build).
bool is_terminal(std::FILE* stream);

// What identifies a file whatever path leads to it (device and file number).
struct FileIdentity {
  uint64_t volume = 0;
  uint64_t index = 0;
  bool operator==(const FileIdentity&) const = default;
};
// nullopt when the file does not exist or cannot be looked at.
std::optional<FileIdentity> file_identity(const std::filesystem::path& path);

}  // namespace mkpayload
