// Turns a stub and a list of inputs into an installer image:
// stub, entries in order, label block, padding to a multiple of 8, trailer.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "entry_compression.h"

// Longest entry name accepted, so that "<work directory>\<name>" always fits the
// extractor's 512-byte target path: a work directory path has at most 260
// characters, one backslash joins them, one byte is the NUL.
constexpr size_t kMaxEntryNameLength = 512 - 260 - 1 - 1;

struct InputEntry {
  std::string name;              // "$EXEC" for a command
  std::vector<uint8_t> content;  // a command's text includes its NUL
  CompressionOptions compression;
  std::string source;            // where it came from, for messages
};

struct BuiltEntry {
  std::string name;
  int32_t stored_size = 0;  // S
  uint32_t unpacked_size = 0;
};

// Checks a stub before use: refuses a signed stub (the payload would break its
// signature) and one that already carries a payload unless `replace_payload`,
// in which case the stub part is returned.
std::optional<std::span<const uint8_t>> usable_stub(std::span<const uint8_t> stub, bool replace_payload, std::string& error);

// Checks an input's entry name the way the extractor will; empty when fine.
std::string entry_name_problem(const std::string& name);

// Builds the installer. Every compressed entry has been decoded again by
// compress_entry and came back byte for byte; a fault is returned as `error`.
// `on_entry` (optional) is called before each entry is compressed.
std::optional<std::vector<uint8_t>> build_installer(std::span<const uint8_t> stub, std::span<const InputEntry> entries,
                                                    std::vector<BuiltEntry>& built, std::string& error,
                                                    const std::function<void(const InputEntry&)>& on_entry = {});
