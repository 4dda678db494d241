#include "installer_image.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform.h"

namespace mkpayload {

std::optional<InstallerImage> InstallerImage::open(const std::filesystem::path& path, std::string& error) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    error = "is a directory";
    return std::nullopt;
  }
  std::FILE* file = open_file(path, "rb");
  if (file == nullptr) {
    error = std::strerror(errno);
    return std::nullopt;
  }
  InstallerImage image;
  image.file_ = std::shared_ptr<std::FILE>(file, Closer());
  image.size_ = std::filesystem::file_size(path, ec);
  if (ec) {
    error = ec.message();
    return std::nullopt;
  }
  return image;
}

bool InstallerImage::read(uint64_t offset, std::span<uint8_t> out) const {
  if (offset > size_ || out.size() > size_ - offset) return false;
  if (!file_) {
    std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(offset), out.size(), out.begin());
    return true;
  }
  return read_file_at(file_.get(), offset, out);
}

bool InstallerImage::read_at(void* self, uint64_t offset, std::span<uint8_t> out) {
  return static_cast<const InstallerImage*>(self)->read(offset, out);
}

}  // namespace mkpayload
