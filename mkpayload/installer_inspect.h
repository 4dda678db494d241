// mkpayload's read-only views of an installer: --list, --verify, --extract.
// Reports go to standard output, errors to standard error; each returns the
// process exit code (0 fine, 1 fault).
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace mkpayload {

// An installer to look at: a file read where needed (an installer may be
// gigabytes), or bytes in memory.
class InstallerImage {
 public:
  static std::optional<InstallerImage> open(const std::filesystem::path& path, std::string& error);
  explicit InstallerImage(std::span<const uint8_t> bytes) : bytes_(bytes), size_(bytes.size()) {}

  uint64_t size() const { return size_; }
  bool read(uint64_t offset, std::span<uint8_t> out) const;
  // PayloadReader's ReadAt (`self` is an InstallerImage*).
  static bool read_at(void* self, uint64_t offset, std::span<uint8_t> out);

 private:
  InstallerImage() = default;
  struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::shared_ptr<std::FILE> file_;
  std::span<const uint8_t> bytes_;
  uint64_t size_ = 0;
};

struct InspectOptions {
  std::string label = "installer";    // the installer's name in messages
  std::optional<unsigned> code_page;  // the end users' ANSI code page, to show and check names
  bool force = false;                 // --extract into a folder that is not empty
};

int list_installer(const InstallerImage& installer, const InspectOptions& options = {});
int verify_installer(const InstallerImage& installer, const InspectOptions& options = {});
int extract_installer(const InstallerImage& installer, const std::filesystem::path& dir, const InspectOptions& options = {});

}  // namespace mkpayload
