// mkpayload: builds installers (the extractor stub with a payload appended) and
// lists, verifies and unpacks them without running them.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "entry_compression.h"
#include "file_io.h"
#include "installer_builder.h"
#include "installer_inspect.h"
#include "payload_format.h"
#include "progress_line.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kUsage =
    "usage:\n"
    "  mkpayload --stub STUB -o OUT [--replace-payload] [--quiet] [ENTRY OPTIONS] INPUT...\n"
    "  mkpayload --list INSTALLER\n"
    "  mkpayload --verify INSTALLER\n"
    "  mkpayload --extract INSTALLER DIR\n"
    "\n"
    "INPUT is a file path (the entry is named after the file) or NAME=PATH.\n"
    "Entry options apply to the inputs that follow them:\n"
    "  --exec COMMAND      add a command entry (\"$EXEC\"), run by cmd.exe in the work directory\n"
    "  --store             store the following inputs as they are\n"
    "  --compress          compress the following inputs (the default)\n"
    "  --binary | --ascii  force the literal mode (default: the smaller stream)\n"
    "  --dict 1024|2048|4096|auto   dictionary size (default: auto)\n"
    "  --level fast|best   compression effort (default: best)\n"
    "--quiet: no progress line and no summary (errors are still reported)\n";

int fail(const std::string& message) {
  std::fprintf(stderr, "mkpayload: %s\n", message.c_str());
  return 2;
}

std::optional<std::vector<uint8_t>> load(const std::string& path, std::string& error) {
  std::string why;
  auto bytes = read_whole_file(path, why);
  if (!bytes) error = path + ": " + why;
  return bytes;
}

int inspect(int argc, char** argv) {
  const std::string_view mode = argv[1];
  const int wanted = mode == "--extract" ? 4 : 3;
  if (argc != wanted) return fail(std::string(mode) + " takes " + (wanted == 4 ? "INSTALLER DIR" : "INSTALLER") + "\n" + kUsage);
  std::string error;
  auto installer = load(argv[2], error);
  if (!installer) return fail(error);
  if (mode == "--list") return list_installer(*installer);
  if (mode == "--verify") return verify_installer(*installer);
  return extract_installer(*installer, argv[3]);
}

int build(int argc, char** argv) {
  std::string stub_path, out_path, error;
  bool replace_payload = false, quiet = false;
  CompressionOptions compression;
  std::vector<InputEntry> entries;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--stub" || arg == "-o" || arg == "--exec" || arg == "--dict" || arg == "--level") {
      if (i + 1 >= argc) return fail(std::string(arg) + " needs a value");
      const char* v = argv[++i];
      const std::string_view text = v;
      if (arg == "--stub") stub_path = v;
      else if (arg == "-o") out_path = v;
      else if (arg == "--exec") {
        InputEntry command{std::string(payload::kExecName), {}, compression, "--exec \"" + std::string(text) + "\""};
        command.content.assign(text.begin(), text.end());
        command.content.push_back(0);
        entries.push_back(std::move(command));
      } else if (arg == "--dict") {
        if (text == "1024") compression.dict_bits = 4;
        else if (text == "2048") compression.dict_bits = 5;
        else if (text == "4096") compression.dict_bits = 6;
        else if (text == "auto") compression.dict_bits = 0;
        else return fail("--dict takes 1024, 2048, 4096 or auto");
      } else {
        if (text == "fast") compression.level = CompressionLevel::fast;
        else if (text == "best") compression.level = CompressionLevel::best;
        else return fail("--level takes fast or best");
      }
    } else if (arg == "--store") compression.compress = false;
    else if (arg == "--compress") compression.compress = true;
    else if (arg == "--binary") compression.literals = LiteralMode::binary;
    else if (arg == "--ascii") compression.literals = LiteralMode::ascii;
    else if (arg == "--replace-payload") replace_payload = true;
    else if (arg == "--quiet") quiet = true;
    else if (arg.starts_with("-") && arg.size() > 1) return fail("unknown option " + std::string(arg) + "\n" + kUsage);
    else {
      const size_t eq = arg.find('=');
      const std::string path(eq == std::string_view::npos ? arg : arg.substr(eq + 1));
      std::string name(eq == std::string_view::npos ? fs::path(path).filename().string() : std::string(arg.substr(0, eq)));
      if (name == payload::kExecName) return fail("\"$EXEC\" is reserved for commands: use --exec");
      if (std::string problem = entry_name_problem(name); !problem.empty())
        return fail(std::string(arg) + ": entry name \"" + name + "\" " + problem);
      auto content = load(path, error);
      if (!content) return fail(error);
      entries.push_back({std::move(name), std::move(*content), compression, path});
    }
  }
  if (stub_path.empty() || out_path.empty()) return fail(std::string("--stub and -o are required\n") + kUsage);

  auto stub_file = load(stub_path, error);
  if (!stub_file) return fail(error);
  auto stub = usable_stub(*stub_file, replace_payload, error);
  if (!stub) return fail(stub_path + ": " + error);
  std::vector<BuiltEntry> built;
  std::optional<std::vector<uint8_t>> installer;
  {
    ProgressLine progress(stderr, !quiet && ProgressLine::is_terminal(stderr));
    installer = build_installer(*stub, entries, built, error,
                                [&](const InputEntry& entry) { progress.begin(entry.name, entry.content.size()); });
  }
  if (!installer) return fail(error);
  if (!write_file_atomically(out_path, *installer, true, error)) return fail(error);
  if (quiet) return 0;
  for (const BuiltEntry& entry : built)
    std::printf("%-32s %-10s %10u -> %10u\n", entry.name.c_str(), entry.stored_size > 0 ? "compressed" : "stored",
                entry.unpacked_size, static_cast<unsigned>(entry.stored_size > 0 ? entry.stored_size : -int64_t(entry.stored_size)));
  std::printf("%s: %zu bytes, %zu entries\n", out_path.c_str(), installer->size(), built.size());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    std::fputs(kUsage, argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  const std::string_view mode = argv[1];
  if (mode == "--list" || mode == "--verify" || mode == "--extract") return inspect(argc, argv);
  return build(argc, argv);
}
