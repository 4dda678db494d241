// ExtractHost for mkpayload: the installer read from its file, entry files
// written into a safe output folder of the build machine, "$EXEC" commands
// collected instead of run. Used by --extract, and by --verify to decode
// entries (with no folder: nothing is written).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "extract_host.h"
#include "installer_image.h"
#include "output_folder.h"

namespace mkpayload {

using extractor::EntryFileResult;
using extractor::ExtractHost;
using extractor::FileContent;

class DirectoryHost final : public ExtractHost {
 public:
  // The extractor is run with the target directory "."; names are turned into
  // file names with `code_page` (ASCII needs none).
  static constexpr const char* TARGET_DIRECTORY = ".";

  DirectoryHost(const InstallerImage* installer, OutputFolder* folder, std::optional<unsigned> code_page)
      : installer_(installer), folder_(folder), code_page_(code_page) {}

  bool open_own_file(const char*) override { return installer_ != nullptr; }
  uint64_t own_file_size() override { return installer_ ? installer_->size() : 0; }
  bool read_own_file(uint64_t offset, std::span<uint8_t> out) override;
  void close_own_file() override {}
  EntryFileResult write_entry_file(const char* path, FileContent& content) override;
  void run_command(const char* command) override;
  bool write_self_copy(const char* path, FileContent& stub) override;
  void beep(uint32_t, uint32_t) override {}
  void fatal_stop(const char* text) override { fatal_message = text; }

  std::vector<std::string> commands;       // as shown (see name_display.h)
  std::vector<std::string> files_written;  // names as shown, in order
  std::string fatal_message;
  std::string failure;  // why the last file could not be written, in words

 private:
  bool write_file(std::string_view name_bytes, FileContent& content);

  const InstallerImage* installer_;
  OutputFolder* folder_;
  std::optional<unsigned> code_page_;
};

}  // namespace mkpayload
