// ExtractHost for mkpayload: the installer in memory, entry files written below
// a directory of the build machine, "$EXEC" commands collected instead of run.
// Used by --extract, --verify and the builder's decode-again check.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "extract_host.h"

class DirectoryHost final : public ExtractHost {
 public:
  // `target_dir` is the extractor-style directory text the paths begin with;
  // `output_dir` is where files really go (empty: nothing is written).
  DirectoryHost(std::span<const uint8_t> installer, std::string target_dir, std::filesystem::path output_dir)
      : installer_(installer), target_dir_(std::move(target_dir)), output_dir_(std::move(output_dir)) {}

  bool open_own_file(const char*) override { return true; }
  uint64_t own_file_size() override { return installer_.size(); }
  bool read_own_file(uint64_t offset, std::span<uint8_t> out) override;
  void close_own_file() override {}
  EntryFileResult write_entry_file(const char* path, FileContent& content) override;
  void run_command(const char* command) override { commands.emplace_back(command); }
  bool write_self_copy(const char* path, FileContent& stub) override;
  void beep(uint32_t, uint32_t) override {}
  void fatal_stop(const char* text) override { fatal_message = text; }

  std::vector<std::string> commands;
  std::vector<std::string> files_written;  // entry-relative names, in order
  std::string fatal_message;

 private:
  std::filesystem::path local_path(const char* path) const;

  std::span<const uint8_t> installer_;
  std::string target_dir_;
  std::filesystem::path output_dir_;
};
