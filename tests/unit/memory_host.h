// An extractor::ExtractHost over memory: the own file is a byte vector, the work directory
// a map from path to content, and every call is recorded for the tests.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "extract_host.h"

struct MemoryHost final : extractor::ExtractHost {
  std::vector<uint8_t> own_file;
  bool can_open = true;
  std::map<std::string, std::vector<uint8_t>> files;  // full path -> content
  std::set<std::string> existing_dirs;                // paths that may hold entry files
  std::vector<std::string> commands;
  std::vector<std::pair<uint32_t, uint32_t>> beeps;
  std::vector<std::string> fatal_messages;
  std::vector<std::string> events;  // "write <path>", "command <text>", "self <path>"
  uint32_t fail_create_with = 0;    // system error for every file creation
  bool fail_write = false, fail_times = false, fail_self = false;
  size_t fail_write_at_block = SIZE_MAX;     // index of the first entry-file block whose write fails
  uint64_t fail_read_covering = UINT64_MAX;  // a read that includes this offset of the own file fails
  uint64_t largest_read = 0;
  std::map<std::string, std::vector<size_t>> block_sizes;  // full path -> sizes of the blocks written
  bool open = false;

  bool open_own_file(const char*) override { return open = can_open; }
  uint64_t own_file_size() override { return own_file.size(); }
  bool read_own_file(uint64_t offset, std::span<uint8_t> out) override {
    largest_read = std::max<uint64_t>(largest_read, out.size());
    if (!open || offset > own_file.size() || out.size() > own_file.size() - offset) return false;
    if (offset <= fail_read_covering && fail_read_covering - offset < out.size()) return false;
    std::copy_n(own_file.begin() + static_cast<ptrdiff_t>(offset), out.size(), out.begin());
    return true;
  }
  void close_own_file() override { open = false; }
  extractor::EntryFileResult write_entry_file(const char* path, extractor::FileContent& content) override {
    events.push_back(std::string("write ") + path);
    std::string p(path);
    const std::string dir = p.substr(0, p.rfind('\\'));
    if (fail_create_with) return {fail_create_with, false, false};
    if (!existing_dirs.count(dir)) return {3, false, false};
    const bool written = pour(content, p, fail_write_at_block);
    if (fail_write) {
      files[p].resize(files[p].size() / 2);
      return {0, false, false};
    }
    return {0, written, written && !fail_times};
  }
  void run_command(const char* command) override {
    events.push_back(std::string("command ") + command);
    commands.emplace_back(command);
  }
  bool write_self_copy(const char* path, extractor::FileContent& stub) override {
    events.push_back(std::string("self ") + path);
    if (fail_self) return false;
    return pour(stub, path, SIZE_MAX);
  }
  void beep(uint32_t frequency, uint32_t ms) override { beeps.emplace_back(frequency, ms); }
  void fatal_stop(const char* text) override { fatal_messages.emplace_back(text); }

 private:
  // Writes the content's blocks as the file at `path`; the block numbered
  // `failing_block` is not written and ends the content.
  bool pour(extractor::FileContent& content, const std::string& path, size_t failing_block) {
    std::vector<uint8_t>& file = files[path];
    std::vector<size_t>& sizes = block_sizes[path];
    file.clear();
    sizes.clear();
    return extractor::write_every_block(content, [&](std::span<const uint8_t> block) {
      if (sizes.size() == failing_block) return false;
      sizes.push_back(block.size());
      file.insert(file.end(), block.begin(), block.end());
      return true;
    });
  }
};
