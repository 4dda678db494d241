#include "stub_check.h"

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <vector>

namespace mkpayload {
namespace {

// PE fields read here: e_lfanew at 0x3C; after "PE\0\0" the file header
// (Machine +0, Characteristics +18) and the optional header (Magic +0,
// Subsystem +68 in a PE32 header).
constexpr uint32_t MACHINE_I386 = 0x14C;
constexpr uint32_t MAGIC_PE32 = 0x10B;
constexpr uint32_t EXECUTABLE_IMAGE = 0x0002;
constexpr uint32_t DLL = 0x2000;
constexpr uint32_t SUBSYSTEM_GUI = 2;
constexpr uint32_t SUBSYSTEM_CONSOLE = 3;

uint32_t u16(std::span<const uint8_t> b, size_t at) { return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8; }
uint32_t u32(std::span<const uint8_t> b, size_t at) { return u16(b, at) | u16(b, at + 2) << 16; }

std::string hex(uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", v);
  return text;
}

}  // namespace

std::string stub_program_problem(std::span<const uint8_t> image) {
  if (image.size() < 0x40 || image[0] != 'M' || image[1] != 'Z')
    return "is not a Windows program (it does not begin with an MZ header); use the extractor stub, extractor.exe";
  const uint32_t pe_offset = u32(image, 0x3C);
  if (uint64_t{pe_offset} + 24 + 70 > image.size())
    return "is not a Windows program (no PE header); use the extractor stub, extractor.exe";
  const size_t pe = pe_offset;
  if (image[pe] != 'P' || image[pe + 1] != 'E' || image[pe + 2] || image[pe + 3])
    return "is not a Windows program (no PE header); use the extractor stub, extractor.exe";
  const size_t header = pe + 4, optional = header + 20;
  if (const uint32_t machine = u16(image, header); machine != MACHINE_I386)
    return "is not a 32-bit x86 Windows program (machine type " + hex(machine) + "); use the extractor stub";
  const uint32_t characteristics = u16(image, header + 18);
  if ((characteristics & DLL) != 0) return "is a DLL, not a program; use the extractor stub";
  if ((characteristics & EXECUTABLE_IMAGE) == 0) return "is not marked as an executable image";
  if (u16(image, optional) != MAGIC_PE32) return "has no 32-bit (PE32) optional header";
  if (const uint32_t subsystem = u16(image, optional + 68); subsystem != SUBSYSTEM_GUI)
    return subsystem == SUBSYSTEM_CONSOLE
               ? "is a console program; the stub must be a Windows GUI program such as extractor.exe"
               : "is not a Windows GUI program (subsystem " + std::to_string(subsystem) + ")";
  return {};
}

// The extractor's version resource (extractor/win32/extractor.rc.in) says
// "Korvane extractor" in its FileDescription; its fixed part, VS_FIXEDFILEINFO,
// begins with the signature 0xFEEF04BD and holds the file version as two
// 32-bit words (major << 16 | minor, patch << 16 | build) 8 bytes after it.
std::optional<std::string> stub_version(std::span<const uint8_t> image) {
  static constexpr char16_t DESCRIPTION[] = u"Korvane extractor";
  static constexpr uint8_t SIGNATURE[] = {0xBD, 0x04, 0xEF, 0xFE};
  std::vector<uint8_t> description;
  for (char16_t c : std::u16string_view(DESCRIPTION)) {
    description.push_back(static_cast<uint8_t>(c));
    description.push_back(static_cast<uint8_t>(c >> 8));
  }
  if (std::search(image.begin(), image.end(), description.begin(), description.end()) == image.end())
    return std::nullopt;
  const auto at = std::search(image.begin(), image.end(), std::begin(SIGNATURE), std::end(SIGNATURE));
  const size_t offset = static_cast<size_t>(at - image.begin());
  if (at == image.end() || image.size() - offset < 16) return std::nullopt;
  const uint32_t major_minor = u32(image, offset + 8), patch_build = u32(image, offset + 12);
  std::string version = std::to_string(major_minor >> 16) + "." + std::to_string(major_minor & 0xFFFF) + "." +
                        std::to_string(patch_build >> 16);
  if ((patch_build & 0xFFFF) != 0) version += "." + std::to_string(patch_build & 0xFFFF);
  return version;
}

}  // namespace mkpayload
