// Turns a stub and a list of entries into an installer:
// stub, entries in order, label block, padding to a multiple of 8, trailer.
// Entries are written one at a time as they are made; a stored input is copied
// from its file in blocks, so memory does not grow with it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "entry_compression.h"
#include "file_io.h"

namespace mkpayload {

struct InputEntry {
  std::string name;              // as the payload holds it (bytes in the end user's code page); "$EXEC" for a command
  std::vector<uint8_t> content;  // a command's text with its NUL, or an input held in memory
  CompressionOptions compression;
  std::string source;  // where it came from, for messages
  std::string text;    // the name or command as UTF-8, for messages and the summary (empty: `name`)
  std::optional<std::filesystem::path> file;  // an input read from this file when it is written
  uint64_t file_size = 0;                     // its size when the build was planned

  bool command() const;
  uint64_t size() const { return file ? file_size : content.size(); }
  const std::string& shown() const { return text.empty() ? name : text; }
};

struct BuiltEntry {
  std::string name;         // UTF-8, for the summary
  int32_t stored_size = 0;  // S
  uint32_t unpacked_size = 0;
};

// Checks a stub before use: refuses a signed stub (the payload would break its
// signature) and one that already carries a payload unless `replace_payload`,
// in which case the stub part is returned.
std::optional<std::span<const uint8_t>> usable_stub(std::span<const uint8_t> stub, bool replace_payload,
                                                    std::string& error);

// Writes the installer to `out`. Every compressed entry has been decoded again by
// compress_entry and came back byte for byte; a fault is returned as `error`.
// `on_entry` (optional) is called before each entry is compressed.
bool build_installer(std::span<const uint8_t> stub, std::span<const InputEntry> entries, ByteSink& out,
                     std::vector<BuiltEntry>& built, std::string& error,
                     const std::function<void(const InputEntry&)>& on_entry = {});

// The same into memory (tests and small tools).
std::optional<std::vector<uint8_t>> build_installer(std::span<const uint8_t> stub, std::span<const InputEntry> entries,
                                                    std::vector<BuiltEntry>& built, std::string& error,
                                                    const std::function<void(const InputEntry&)>& on_entry = {});

}  // namespace mkpayload
