#include "stub_location.h"

namespace mkpayload {

std::vector<std::filesystem::path> stub_candidates(const std::filesystem::path& executable) {
  const std::filesystem::path dir = executable.parent_path();
  return {dir / STUB_FILE_NAME, dir / ".." / "share" / "korvane-kit" / STUB_FILE_NAME, dir / ".." / STUB_FILE_NAME,
          dir / ".." / ".." / "win32" / STUB_FILE_NAME};
}

std::optional<std::filesystem::path> find_default_stub(
    const std::filesystem::path& executable, const std::function<bool(const std::filesystem::path&)>& is_file) {
  for (const std::filesystem::path& candidate : stub_candidates(executable))
    if (is_file(candidate)) return candidate.lexically_normal();
  return std::nullopt;
}

}  // namespace mkpayload
