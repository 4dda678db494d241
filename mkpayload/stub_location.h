// Where mkpayload finds the extractor stub when --stub is not given: beside
// itself in an installed kit, never through a path fixed at build time.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

namespace mkpayload {

inline constexpr const char* STUB_FILE_NAME = "extractor.exe";

// The places looked at, in order, for mkpayload at `executable`:
//   <dir>/extractor.exe                        the Windows kit (all in one folder)
//   <dir>/../share/korvane-kit/extractor.exe   an installed kit (bin/, share/)
//   <dir>/../extractor.exe                     the Windows build tree (build/win32/mkpayload/)
//   <dir>/../../win32/extractor.exe            the Linux build tree (build/host/mkpayload/)
std::vector<std::filesystem::path> stub_candidates(const std::filesystem::path& executable);

// The first candidate that `is_file` accepts; nullopt when there is none.
std::optional<std::filesystem::path> find_default_stub(
    const std::filesystem::path& executable, const std::function<bool(const std::filesystem::path&)>& is_file);

}  // namespace mkpayload
