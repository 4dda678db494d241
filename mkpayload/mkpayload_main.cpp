// mkpayload: builds installers (the extractor stub with a payload appended) and
// lists, verifies and unpacks them without running them.
#include "mkpayload_main.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <new>
#include <system_error>

#include "argument_file.h"
#include "build_plan.h"
#include "command_line.h"
#include "file_io.h"
#include "implode_encoder.h"
#include "installer_builder.h"
#include "installer_inspect.h"
#include "kit_version.h"
#include "name_display.h"
#include "platform.h"
#include "progress_line.h"
#include "size_limits.h"
#include "stub_check.h"
#include "stub_location.h"
#include "usage_text.h"

namespace fs = std::filesystem;

namespace mkpayload {
namespace {

// An argument file is a list of arguments, not data: anything larger is a mistake.
constexpr uint64_t MAX_ARGUMENT_FILE_BYTES = 16 << 20;

int fail(const std::string& message) {
  std::fprintf(stderr, "mkpayload: %s\n", message.c_str());
  return 2;
}

bool exists(const std::string& utf8) {
  std::error_code ec;
  return fs::exists(path_from_utf8(utf8), ec);
}

// The output must not be the stub or an input under another spelling: it would
// be replaced by the installer being made from it.
std::string output_clash(const CommandLine& line, const std::vector<InputEntry>& entries) {
  const auto output = file_identity(path_from_utf8(line.output));
  if (!output) return {};
  if (file_identity(path_from_utf8(line.stub)) == output)
    return line.output + ": is the stub itself; the installer would replace it";
  for (const InputEntry& entry : entries)
    if (entry.file && file_identity(*entry.file) == output)
      return line.output + ": is the input " + entry.source + " itself; the installer would replace it";
  return {};
}

// The stub named by --stub, or the one installed beside mkpayload.
std::optional<std::string> stub_path(const CommandLine& line, std::string& error) {
  if (!line.stub.empty()) return line.stub;
  const auto self = own_executable_path();
  const auto found = self ? find_default_stub(*self,
                                              [](const fs::path& p) {
                                                std::error_code ec;
                                                return fs::is_regular_file(p, ec);
                                              })
                          : std::nullopt;
  if (!found) {
    error = std::string("no --stub given, and no ") + STUB_FILE_NAME +
            " beside mkpayload (in its folder, or in ../share/korvane-kit); name the extractor stub with --stub";
    return std::nullopt;
  }
  return utf8_of(*found);
}

// The largest input that the best level compresses (0: none).
size_t largest_best_level_input(std::span<const InputEntry> entries) {
  uint64_t largest = 0;
  for (const InputEntry& entry : entries)
    if (entry.compression.compress && entry.compression.level == CompressionLevel::best)
      largest = std::max(largest, entry.size());
  return static_cast<size_t>(std::min<uint64_t>(largest, SIZE_MAX));
}

int build(CommandLine line) {
  std::string error;
  const auto stub_name = stub_path(line, error);
  if (!stub_name) return fail(error);
  line.stub = *stub_name;
  const auto entries = plan_entries(line, error);
  if (!entries) return fail(error);
  if (std::string clash = output_clash(line, *entries); !clash.empty()) return fail(clash);
  std::error_code ec;
  if (fs::is_directory(path_from_utf8(line.output), ec)) return fail(line.output + ": is a directory");
  // Made ready while the stub and the first input are read.
  const implode::SecondCoreAhead second_core(largest_best_level_input(*entries));

  const auto stub_file = read_file_bytes(path_from_utf8(line.stub), error, MAX_INSTALLER_BYTES);
  if (!stub_file) return fail(line.stub + ": " + error);
  if (std::string problem = stub_program_problem(stub_file->bytes()); !problem.empty())
    return fail(line.stub + ": " + problem);
  auto stub = usable_stub(stub_file->bytes(), line.replace_payload, error);
  if (!stub) return fail(line.stub + ": " + error);

  AtomicOutputFile out;
  if (!out.open(path_from_utf8(line.output))) return fail(out.error());
  std::vector<BuiltEntry> built;
  bool made;
  {
    ProgressLine progress(stderr, !line.quiet && is_terminal(stderr));
    made = build_installer(*stub, *entries, out, built, error,
                           [&](const InputEntry& entry) { progress.begin(entry.shown(), entry.size()); });
  }
  if (!made) return fail(error);
  if (!out.commit(true)) return fail(out.error());
  if (line.quiet) return 0;
  const auto version = stub_version(*stub);
  std::printf(
      "stub: %s (%s)\n", line.stub.c_str(),
      version ? ("extractor " + *version).c_str() : "no version: an extractor from before 1.0.0, or another program");
  size_t width = 32;
  for (const BuiltEntry& entry : built) width = std::max(width, display_width(entry.name));
  for (const BuiltEntry& entry : built) {
    const uint64_t stored = entry.stored_size > 0 ? uint64_t(entry.stored_size) : uint64_t(-int64_t(entry.stored_size));
    std::printf("%s %-10s %10u -> %10llu\n", pad_to_width(entry.name, width).c_str(),
                entry.stored_size > 0 ? "compressed" : "stored", entry.unpacked_size,
                static_cast<unsigned long long>(stored));
  }
  std::error_code size_ec;
  std::printf("%s: %llu bytes, %zu entries\n", line.output.c_str(),
              static_cast<unsigned long long>(fs::file_size(path_from_utf8(line.output), size_ec)), built.size());
  return 0;
}

int inspect(const CommandLine& line) {
  std::string error;
  auto installer = InstallerImage::open(path_from_utf8(line.installer), error);
  if (!installer) return fail(line.installer + ": " + error);
  const InspectOptions options{line.installer, line.code_page, line.force};
  switch (line.mode) {
    case Mode::list: return list_installer(*installer, options);
    case Mode::verify: return verify_installer(*installer, options);
    default: return extract_installer(*installer, path_from_utf8(line.directory), options);
  }
}

}  // namespace

int run_mkpayload(std::span<const std::string> args) {
  if (args.empty()) {
    std::fputs(USAGE_TEXT, stderr);
    return 2;
  }
  std::string error;
  const auto expanded = expand_argument_files(
      std::vector<std::string>(args.begin(), args.end()),
      [](const std::string& path, std::string& reason) -> std::optional<std::string> {
        const auto bytes = read_whole_file(path_from_utf8(path), reason, MAX_ARGUMENT_FILE_BYTES);
        if (!bytes) return std::nullopt;
        return std::string(bytes->begin(), bytes->end());
      },
      takes_value, error);
  if (!expanded) return fail(error);
  const auto line = parse_command_line(*expanded, exists, error);
  if (!line) return fail(error + " (mkpayload --help lists the options)");
  if (line->mode == Mode::help) {
    std::fputs(USAGE_TEXT, stdout);
    return 0;
  }
  if (line->mode == Mode::version) {
    std::printf("mkpayload %s\n", common::KIT_VERSION);
    return 0;
  }
  // The system refusing memory or a thread is an error like any other: the
  // message, and the unwinding removes a half-written installer or extracted
  // file (an installer that was there before stays as it was).
  try {
    return line->mode == Mode::build ? build(*line) : inspect(*line);
  } catch (const std::bad_alloc&) {
    return fail("out of memory");
  } catch (const std::system_error& e) {
    return fail(std::string("the system refused: ") + e.what());
  }
}

}  // namespace mkpayload
