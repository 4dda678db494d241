// Whole-file reads and all-or-nothing writes for mkpayload.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

// The file's bytes, or nullopt with `error` set.
std::optional<std::vector<uint8_t>> read_whole_file(const std::filesystem::path& path, std::string& error);

// Writes `bytes` to a temporary file beside `path` and renames it into place, so
// a failed run never leaves a half-written file under `path`.
bool write_file_atomically(const std::filesystem::path& path, std::span<const uint8_t> bytes, bool executable,
                           std::string& error);

// PayloadReader's ReadAt over bytes in memory (`file` is a std::span<const uint8_t>*).
bool read_from_memory(void* file, uint64_t offset, std::span<uint8_t> out);
