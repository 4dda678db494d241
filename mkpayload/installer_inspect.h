// mkpayload's read-only views of an installer: --list, --verify, --extract.
// Each prints to stdout and returns the process exit code (0 fine, 1 fault).
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>

int list_installer(std::span<const uint8_t> installer);
int verify_installer(std::span<const uint8_t> installer);
int extract_installer(std::span<const uint8_t> installer, const std::filesystem::path& dir);
