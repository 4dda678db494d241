// mkpayload's read-only views of an installer: --list, --verify, --extract.
// Reports go to standard output, errors to standard error; each returns the
// process exit code (0 fine, 1 fault).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "installer_image.h"

namespace mkpayload {

struct InspectOptions {
  std::string label = "installer";    // the installer's name in messages
  std::optional<unsigned> code_page;  // the end users' ANSI code page, to show and check names
  bool force = false;                 // --extract into a folder that is not empty
};

int list_installer(const InstallerImage& installer, const InspectOptions& options = {});
int verify_installer(const InstallerImage& installer, const InspectOptions& options = {});
int extract_installer(const InstallerImage& installer, const std::filesystem::path& dir,
                      const InspectOptions& options = {});

}  // namespace mkpayload
