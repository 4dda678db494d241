// An installer to look at: a file read where needed (an installer may be
// gigabytes), or bytes in memory.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace mkpayload {

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

}  // namespace mkpayload
