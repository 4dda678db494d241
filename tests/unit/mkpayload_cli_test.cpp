// mkpayload as a user meets it: the command line, the stub check, refusals that
// lose nothing, and --verify's report on installers it did not make.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>

#include "argument_file.h"
#include "command_line.h"
#include "entry_rules.h"
#include "file_io.h"
#include "implode_corpus.h"
#include "installer_inspect.h"
#include "kit_version.h"
#include "mkpayload_main.h"
#include "payload_builder.h"
#include "payload_layout.h"
#include "payload_reader.h"
#include "size_limits.h"
#include "stub_check.h"
#include "stub_location.h"

namespace {

namespace fs = std::filesystem;
using namespace mkpayload;

// The smallest image that reads as a 32-bit Windows GUI program.
std::vector<uint8_t> gui_program(uint16_t machine = 0x14C, uint16_t characteristics = 0x0102, uint16_t subsystem = 2) {
  std::vector<uint8_t> image(0x200, 0);
  image[0] = 'M';
  image[1] = 'Z';
  payload::store_u32(&image[0x3C], 0x40);
  image[0x40] = 'P';
  image[0x41] = 'E';
  image[0x44] = static_cast<uint8_t>(machine);
  image[0x45] = static_cast<uint8_t>(machine >> 8);
  image[0x44 + 16] = 224;
  image[0x44 + 18] = static_cast<uint8_t>(characteristics);
  image[0x44 + 19] = static_cast<uint8_t>(characteristics >> 8);
  image[0x58] = 0x0B;
  image[0x59] = 0x01;
  image[0x58 + 68] = static_cast<uint8_t>(subsystem);
  return image;
}

TEST(StubCheck, OnlyA32BitGuiProgramServes) {
  std::vector<uint8_t> cut = gui_program();
  cut.resize(0x60);
  const struct {
    std::vector<uint8_t> image;
    std::string problem;
  } cases[] = {
      {gui_program(), ""},
      {bytes_of("just some text, not a program at all; it is long enough to have a header field."), "MZ header"},
      {cut, "no PE header"},
      {gui_program(0x8664), "machine type 0x8664"},
      {gui_program(0x14C, 0x2102), "DLL"},
      {gui_program(0x14C, 0x0102, 3), "console program"},
  };
  for (const auto& c : cases) {
    const std::string problem = stub_program_problem(c.image);
    if (c.problem.empty()) {
      EXPECT_EQ(problem, "");
    } else {
      EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
    }
  }
}

std::optional<CommandLine> parse(std::vector<std::string> args, std::string* error = nullptr,
                                 std::set<std::string> existing = {}) {
  std::string e;
  auto line = parse_command_line(
      args, [&](const std::string& p) { return existing.count(p) > 0; }, e);
  if (error) *error = e;
  return line;
}

TEST(CommandLine, InputsInOrderWithTheirOptions) {
  const auto line = parse({"--stub", "s.exe", "-o", "out.exe", "a.jar", "--store", "docs/r.txt=README", "--exec",
                           "echo hi", "--compress", "--codepage", "1252", "x=y=z"});
  ASSERT_TRUE(line);
  EXPECT_EQ(line->mode, Mode::build);
  EXPECT_EQ(line->code_page, 1252u);
  ASSERT_EQ(line->inputs.size(), 4u);
  EXPECT_EQ(line->inputs[0].path, "a.jar");
  EXPECT_TRUE(line->inputs[0].compression.compress);
  EXPECT_EQ((std::pair{line->inputs[1].name, line->inputs[1].path}),
            (std::pair<std::string, std::string>{"docs/r.txt", "README"}));
  EXPECT_FALSE(line->inputs[1].compression.compress);
  EXPECT_TRUE(line->inputs[2].command);
  EXPECT_EQ((std::pair{line->inputs[3].name, line->inputs[3].path}), (std::pair<std::string, std::string>{"x", "y=z"}));
}

TEST(CommandLine, AnArgumentNamingAFileIsAPath) {
  const auto line = parse({"--stub", "s", "-o", "o", "a=b.txt"}, nullptr, {"a=b.txt"});
  ASSERT_TRUE(line);
  EXPECT_EQ(line->inputs[0].name, "");
  EXPECT_EQ(line->inputs[0].path, "a=b.txt");
}

TEST(CommandLine, InspectingModesAndMistakes) {
  auto extract = parse({"--extract", "setup.exe", "out", "--force", "--codepage", "932"});
  ASSERT_TRUE(extract);
  EXPECT_EQ(extract->mode, Mode::extract);
  EXPECT_EQ((std::tuple{extract->installer, extract->directory, extract->force, *extract->code_page}),
            (std::tuple<std::string, std::string, bool, unsigned>{"setup.exe", "out", true, 932}));
  const struct {
    std::vector<std::string> args;
    std::string error;
  } mistakes[] = {
      {{"--list"}, "--list takes INSTALLER"},
      {{"--verify", "a", "b"}, "--verify takes INSTALLER"},
      {{"--list", "a", "--force"}, "--force goes with --extract"},
      {{"--stub", "s", "-o", "o", "a", "--codepage", "65001"}, "ANSI code page"},
      {{"--stub", "s", "-o", "o", "a", "--codepage", "12x"}, "ANSI code page"},
      {{"--stub", "s", "a"}, "-o OUT is required"},
      {{"-o", "-", "a"}, "not written to standard output"},
      {{"--stub", "s", "-o", "o"}, "no inputs"},
      {{"--list", "a", "--verify"}, "choose one"},
      {{"--frobnicate"}, "unknown option"},
  };
  for (const auto& m : mistakes) {
    std::string error;
    EXPECT_FALSE(parse(m.args, &error)) << m.args[0];
    EXPECT_NE(error.find(m.error), std::string::npos) << error;
  }
}

class Mkpayload : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("kvn-cli-" + std::to_string(std::random_device{}()));
    fs::create_directories(dir);
    stub = write("stub.exe", gui_program());
  }
  void TearDown() override { fs::remove_all(dir); }

  std::string write(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::ofstream(dir / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return (dir / name).string();
  }
  // Runs mkpayload; returns its exit code, standard error in `err`.
  int run(std::vector<std::string> args) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int code = run_mkpayload(args);
    out = testing::internal::GetCapturedStdout();
    err = testing::internal::GetCapturedStderr();
    return code;
  }
  std::vector<std::string> leftovers() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
      if (e.path().filename().string().find(".tmp") != std::string::npos) names.push_back(e.path().filename().string());
    return names;
  }
  fs::path dir;
  std::string stub, out, err;
};

TEST_F(Mkpayload, FoldersGetTheirCommandBeforeTheirFirstEntry) {
  const std::string readme = write("README.txt", bytes_of("read me"));
  const std::string output = (dir / "setup.exe").string();
  ASSERT_EQ(run({"--stub", stub, "-o", output, "--store", "docs/readme.txt=" + readme, "Docs\\sub/more.txt=" + readme,
                 "docs\\again.txt=" + readme, "top.txt=" + readme}),
            0)
      << err;
  ASSERT_EQ(run({"--verify", output}), 0) << out << err;
  std::string error;
  const auto bytes = read_whole_file(output, error);
  std::span<const uint8_t> image = *bytes;
  payload::PayloadReader reader(read_from_memory, &image, image.size());
  ASSERT_EQ(reader.open(), payload::ReadStatus::ok);
  std::vector<std::string> names;
  payload::EntryView entry;
  while (!reader.at_end() && reader.next(entry) == payload::ReadStatus::ok) {
    std::string name(entry.name);
    if (name == "$EXEC") {
      std::string command(entry.data_length - 1, '\0');
      std::copy_n(image.begin() + static_cast<ptrdiff_t>(entry.data_offset), command.size(), command.begin());
      name += " " + command;
    }
    names.push_back(name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"$EXEC mkdir \"docs\" 2>nul", "docs\\readme.txt",
                                             "$EXEC mkdir \"Docs\\sub\" 2>nul", "Docs\\sub\\more.txt",
                                             "docs\\again.txt", "top.txt"}));
}

TEST_F(Mkpayload, RefusesToReplaceItsOwnInputsOrStub) {
  const std::string input = write("in.txt", bytes_of("precious"));
  fs::create_hard_link(input, dir / "alias.exe");
  for (const std::string& output : {input, (dir / "alias.exe").string(), stub}) {
    EXPECT_EQ(run({"--stub", stub, "-o", output, input}), 2) << output;
    EXPECT_NE(err.find("itself"), std::string::npos) << err;
  }
  std::string error;
  EXPECT_EQ(*read_whole_file(input, error), bytes_of("precious"));
  EXPECT_EQ(*read_whole_file(stub, error), gui_program());
  EXPECT_EQ(leftovers(), std::vector<std::string>{});
}

TEST_F(Mkpayload, RefusesAStubThatIsNotAGuiProgram) {
  const std::string text = write("notes.txt", bytes_of("not a program"));
  EXPECT_EQ(run({"--stub", text, "-o", (dir / "o.exe").string(), text}), 2);
  EXPECT_NE(err.find("not a Windows program"), std::string::npos) << err;
  EXPECT_FALSE(fs::exists(dir / "o.exe"));
}

TEST_F(Mkpayload, RefusesOversizedInputsBeforeReadingThem) {
  // Sparse files: only their sizes are real, so a read would take long and a
  // refusal that comes at once shows it looked at the size first.
  const fs::path big = dir / "big.bin";
  std::ofstream(big).close();
  fs::resize_file(big, MAX_COMPRESSED_UNPACKED_BYTES + 1);
  EXPECT_EQ(run({"--stub", stub, "-o", (dir / "o.exe").string(), big.string()}), 2);
  EXPECT_NE(err.find("--store"), std::string::npos) << err;
  fs::resize_file(big, uint64_t{INT32_MAX} + 1);
  EXPECT_EQ(run({"--stub", stub, "-o", (dir / "o.exe").string(), "--store", big.string()}), 2);
  EXPECT_NE(err.find("2 GiB - 1"), std::string::npos) << err;
  EXPECT_FALSE(fs::exists(dir / "o.exe"));
}

TEST_F(Mkpayload, NonAsciiNamesNeedTheEndUsersCodePage) {
  const std::string input = write("in.txt", bytes_of("x"));
  const std::string output = (dir / "o.exe").string();
  EXPECT_EQ(run({"--stub", stub, "-o", output, "Zoë.txt=" + input}), 2);
  EXPECT_NE(err.find("--codepage"), std::string::npos) << err;
  EXPECT_EQ(run({"--stub", stub, "-o", output, "--codepage", "1251", "Zoë.txt=" + input}), 2);
  EXPECT_NE(err.find("U+00EB"), std::string::npos) << err;
  ASSERT_EQ(run({"--stub", stub, "-o", output, "--codepage", "1252", "Zoë.txt=" + input, "--exec", "echo é"}), 0)
      << err;
  EXPECT_EQ(run({"--list", output}), 0);
  EXPECT_NE(out.find("Zo<EB>.txt"), std::string::npos) << out;
  EXPECT_EQ(run({"--verify", output}), 1) << "without the page the bytes cannot be checked";
  EXPECT_EQ(run({"--verify", output, "--codepage", "1252"}), 0) << out << err;
  EXPECT_NE(out.find("Zoë.txt"), std::string::npos) << out;
}

// --verify on installers that mkpayload would not make: every problem is a
// fault, named by entry, on standard error.
TEST_F(Mkpayload, VerifyReportsWhatWouldFailOnTheEndUsersMachine) {
  const std::vector<uint8_t> stub_image = gui_program();
  const struct {
    std::vector<RawEntry> entries;
    std::string fault;
  } cases[] = {
      {{{"docs\\a.txt", bytes_of("a")}}, "no earlier command"},
      {{{std::string(MAX_ENTRY_NAME_BYTES + 1, 'n'), bytes_of("a")}}, "at most 181 bytes"},
      {{{"Zo\xEB.txt", bytes_of("a")}}, "--codepage"},
      {{{"a.txt", bytes_of("a")}, {"A.TXT", bytes_of("b")}}, "same file"},
      {{{"_self", bytes_of("a")}}, "stub copy"},
      {{{"$EXEC", bytes_of("echo a\necho b")}}, "line break"},
      {{{"big", {0x00, 0x04, 0x82, 0x02, 0xFE, 0x01}, 6, int64_t{MAX_COMPRESSED_UNPACKED_BYTES} + 1}}, "--store"},
  };
  for (const auto& c : cases) {
    const std::string path = write("hostile.exe", raw_installer(stub_image, c.entries));
    EXPECT_EQ(run({"--verify", path}), 1) << c.fault;
    EXPECT_NE(err.find("entry "), std::string::npos) << err;
    EXPECT_NE(err.find(c.fault), std::string::npos) << err;
  }
}

TEST_F(Mkpayload, InspectingAFileThatIsNotAnInstaller) {
  const std::string text = write("notes.txt", bytes_of("just a text file"));
  for (const char* mode : {"--list", "--verify"}) {
    EXPECT_EQ(run({mode, text}), 1);
    EXPECT_NE(err.find("not an installer"), std::string::npos) << err;
  }
}

// --extract writes only inside its folder, never through a link planted there,
// and only into a folder that is empty unless --force.
TEST_F(Mkpayload, ExtractIsSafeOnTheMachineThatRunsIt) {
  const std::string output = (dir / "setup.exe").string();
  const std::string readme = write("README.txt", bytes_of("read me"));
  ASSERT_EQ(run({"--stub", stub, "-o", output, "--codepage", "1252", "docs/readme.txt=" + readme, "Zoë.txt=" + readme,
                 "plain.txt=" + readme}),
            0)
      << err;
  const fs::path out_dir = dir / "out";
  ASSERT_EQ(run({"--extract", output, out_dir.string(), "--codepage", "1252"}), 0) << err;
  std::string error;
  EXPECT_EQ(*read_whole_file(out_dir / "docs" / "readme.txt", error), bytes_of("read me"))
      << "the folder made by --extract";
  EXPECT_EQ(*read_whole_file(out_dir / "Zoë.txt", error), bytes_of("read me"));
  EXPECT_EQ(*read_whole_file(out_dir / "_SELF", error), gui_program());

  // Not empty: refused without --force, nothing changed.
  const std::string victim = write("victim.txt", bytes_of("outside"));
  const fs::path planted = dir / "planted";
  fs::create_directories(planted);
  fs::create_symlink(victim, planted / "plain.txt");
  fs::create_directory_symlink(dir, planted / "docs");
  EXPECT_EQ(run({"--extract", output, planted.string(), "--codepage", "1252"}), 1);
  EXPECT_NE(err.find("not empty"), std::string::npos) << err;
  EXPECT_NE(err.find("--force"), std::string::npos) << err;
  // With --force: the link to a folder outside stops the run at its entry; the
  // link to a file outside is never written through.
  EXPECT_EQ(run({"--extract", output, planted.string(), "--codepage", "1252", "--force"}), 1);
  EXPECT_NE(err.find("entry \"docs\\readme.txt\""), std::string::npos) << err;
  EXPECT_FALSE(fs::exists(dir / "readme.txt"));
  fs::remove(planted / "docs");
  EXPECT_EQ(run({"--extract", output, planted.string(), "--codepage", "1252", "--force"}), 0) << err;
  EXPECT_EQ(*read_whole_file(victim, error), bytes_of("outside"));
  EXPECT_FALSE(fs::is_symlink(planted / "plain.txt"));
  EXPECT_EQ(*read_whole_file(planted / "plain.txt", error), bytes_of("read me"));
}

TEST_F(Mkpayload, ExtractNamesTheEntryItCannotWrite) {
  const std::string output = (dir / "setup.exe").string();
  const std::string readme = write("README.txt", bytes_of("x"));
  ASSERT_EQ(run({"--stub", stub, "-o", output, "--codepage", "1252", "first.txt=" + readme, "Zoë.txt=" + readme}), 0);
  EXPECT_EQ(run({"--extract", output, (dir / "out").string()}), 1) << "its name needs the code page";
  EXPECT_NE(err.find("entry \"Zo<EB>.txt\""), std::string::npos) << err;
  EXPECT_NE(err.find("--codepage"), std::string::npos) << err;
  EXPECT_EQ(out.find("error"), std::string::npos) << "errors go to standard error";

  const std::string text = write("notes.txt", bytes_of("not an installer at all, just text"));
  EXPECT_EQ(run({"--extract", text, (dir / "never").string()}), 1);
  EXPECT_FALSE(fs::exists(dir / "never")) << "nothing is created for a file that is not an installer";
}

}  // namespace

namespace {

using namespace mkpayload;

struct SplitCase {
  std::string text;
  std::vector<std::string> args;
};

TEST(ArgumentFile, SplitsLikeTheUsualConvention) {
  const SplitCase cases[] = {
      {"-o setup.exe\na.jar b.dll\n", {"-o", "setup.exe", "a.jar", "b.dll"}},
      {"  # a comment\n\t--store   big.zip  \r\n#another\n", {"--store", "big.zip"}},
      {"\"C:\\Program Files\\x.jar\" 'it''s'", {"C:\\Program Files\\x.jar", "its"}},
      {"--exec \"mkdir logs & echo done> logs\\a.txt\"", {"--exec", "mkdir logs & echo done> logs\\a.txt"}},
      {"--exec 'echo \"quoted\"'", {"--exec", "echo \"quoted\""}},
      {"docs/a.txt=\"my file.txt\"", {"docs/a.txt=my file.txt"}},
      {"a # not a comment here", {"a", "#", "not", "a", "comment", "here"}},
      {"", {}},
  };
  for (const SplitCase& c : cases) {
    std::string error;
    EXPECT_EQ(split_argument_file(c.text, error), c.args) << c.text;
  }
  std::string error;
  EXPECT_EQ(split_argument_file("ok\n\"open\nclosed\"", error), std::nullopt);
  EXPECT_NE(error.find("line 2"), std::string::npos) << error;
}

TEST(ArgumentFile, ExpandsNestedFilesButNotOptionValues) {
  const std::map<std::string, std::string> files = {
      {"top.args", "-o out.exe @inner.args --exec @echo-command"},
      {"inner.args", "a.jar\n--exec @not-a-file\n"},
      {"loop.args", "@loop.args"},
  };
  const ReadArgumentFile read = [&](const std::string& path, std::string& reason) -> std::optional<std::string> {
    const auto it = files.find(path);
    if (it == files.end()) {
      reason = "no such file";
      return std::nullopt;
    }
    return it->second;
  };
  std::string error;
  EXPECT_EQ(expand_argument_files({"--quiet", "@top.args", "last"}, read, takes_value, error),
            (std::vector<std::string>{"--quiet", "-o", "out.exe", "a.jar", "--exec", "@not-a-file", "--exec",
                                      "@echo-command", "last"}));
  EXPECT_EQ(expand_argument_files({"@missing.args"}, read, takes_value, error), std::nullopt);
  EXPECT_EQ(error, "missing.args: no such file");
  EXPECT_EQ(expand_argument_files({"@loop.args"}, read, takes_value, error), std::nullopt);
  EXPECT_NE(error.find("nest deeper"), std::string::npos) << error;
}

TEST(StubLocation, BesideMkpayloadInEachLayout) {
  const fs::path kit = "/opt/kit";
  const struct {
    fs::path executable;
    fs::path stub;  // the only one present
  } layouts[] = {
      {kit / "mkpayload.exe", kit / "extractor.exe"},
      {kit / "bin" / "mkpayload", kit / "share" / "korvane-kit" / "extractor.exe"},
      {kit / "build" / "win32" / "mkpayload" / "mkpayload.exe", kit / "build" / "win32" / "extractor.exe"},
      {kit / "build" / "host" / "mkpayload" / "mkpayload", kit / "build" / "win32" / "extractor.exe"},
  };
  for (const auto& layout : layouts) {
    const auto found =
        find_default_stub(layout.executable, [&](const fs::path& p) { return p.lexically_normal() == layout.stub; });
    EXPECT_EQ(found, layout.stub) << layout.executable;
  }
  EXPECT_EQ(find_default_stub(kit / "bin" / "mkpayload", [](const fs::path&) { return false; }), std::nullopt);
}

TEST(StubCheck, VersionOfAnExtractorStub) {
  std::vector<uint8_t> image = gui_program();
  EXPECT_EQ(stub_version(image), std::nullopt) << "no version block";
  for (char16_t c : std::u16string_view(u"FileDescription Korvane extractor")) {
    image.push_back(static_cast<uint8_t>(c));
    image.push_back(static_cast<uint8_t>(c >> 8));
  }
  const uint8_t fixed[] = {0xBD, 0x04, 0xEF, 0xFE, 0, 0, 1, 0, 2, 0, 1, 0, 0, 0, 3, 0};  // 1.2.3.0
  image.insert(image.end(), std::begin(fixed), std::end(fixed));
  EXPECT_EQ(stub_version(image), "1.2.3");
}

TEST_F(Mkpayload, SameInputsGiveTheSameInstallerByteForByte) {
  const std::string text = write("notes.txt", bytes_of(std::string(20000, 'x') + "some text to compress"));
  const std::string data = write("data.bin", std::vector<uint8_t>(5000, 7));
  const std::string list =
      write("entries.args",
            bytes_of("# the entry list\n" + text + "\n--store docs/data.bin=" + data + "\n--exec \"echo done\"\n"));
  const fs::path first = dir / "first.exe", again = dir / "sub" / "again.exe";
  fs::create_directories(again.parent_path());
  ASSERT_EQ(run({"--stub", stub, "-o", first.string(), "@" + list}), 0) << err;
  ASSERT_EQ(
      run({"--stub", stub, "-o", again.string(), text, "--store", "docs/data.bin=" + data, "--exec", "echo done"}), 0)
      << err;
  std::string error;
  EXPECT_EQ(*read_whole_file(first, error), *read_whole_file(again, error))
      << "an argument file gives what the same arguments give, and nothing of the time, paths or temporary names "
         "goes into an installer";
}

// The address sanitizer's runtime, where this program has it (the sanitizer
// builds link it, the fuzzing build through the instrumented libraries alone).
extern "C" void __asan_init() __attribute__((weak));

// Memory or a thread that the system refuses, wherever that happens (reading,
// either thread of the split search, writing), is an error like any other:
// mkpayload says so and exits 2, an installer that was there before stays as
// it was, and no temporary file is left; or, where only the second search
// thread's memory was refused, the first goes on alone to the same installer.
// Never an abort. Each limit on the address space is tried in a child process.
TEST_F(Mkpayload, RefusedMemoryIsAnErrorThatLosesNothing) {
  if (&__asan_init != nullptr)
    GTEST_SKIP() << "the address sanitizer needs the address space that the limits take away";
  const std::string input = write("text.txt", implode_test::generated_text(600000, 5));  // split in two
  const fs::path output = dir / "setup.exe";
  // Every run in a child, the one without a limit too: memory that a run here
  // freed would be room for the next child, whatever its limit.
  const auto run_limited = [&](const fs::path& to, rlim_t extra_mib) {
    if (extra_mib > 0) {
      long pages = 0;
      std::ifstream("/proc/self/statm") >> pages;  // the address space in use
      const rlim_t bytes = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (extra_mib << 20);
      const rlimit limit{bytes, bytes};
      setrlimit(RLIMIT_AS, &limit);
    }
    std::exit(run_mkpayload(std::vector<std::string>{"--stub", stub, "-o", to.string(), "--quiet", input}));
  };
  EXPECT_EXIT(run_limited(dir / "full.exe", 0), testing::ExitedWithCode(0), "^$");
  std::string error;
  const auto full = read_whole_file(dir / "full.exe", error);
  ASSERT_TRUE(full) << error;
  const auto exited_0_or_2 = [](int status) {
    return WIFEXITED(status) && (WEXITSTATUS(status) == 0 || WEXITSTATUS(status) == 2);
  };
  unsigned refused = 0, built = 0;
  for (rlim_t extra_mib = 1; extra_mib <= 64; extra_mib += 3) {
    SCOPED_TRACE(testing::Message() << extra_mib << " MiB more address space");
    write("setup.exe", bytes_of("earlier"));
    EXPECT_EXIT(run_limited(output, extra_mib), exited_0_or_2, "^$|mkpayload: (out of memory|the system refused)");
    const std::vector<uint8_t> now = *read_whole_file(output, error);
    if (now == *full) {
      ++built;
    } else {
      EXPECT_EQ(now, bytes_of("earlier"));
      ++refused;
    }
    EXPECT_EQ(leftovers(), std::vector<std::string>{});
  }
  EXPECT_GT(refused, 0u) << "the limits are too wide to refuse anything";
  EXPECT_GT(built, 0u) << "the limits are too narrow to build anything";
}

TEST_F(Mkpayload, HelpAndVersion) {
  EXPECT_EQ(run({"--help"}), 0);
  for (const char* option :
       {"--stub", "-o OUT", "--exec", "--codepage", "--store", "--compress", "--binary", "--ascii", "--dict", "--level",
        "--replace-payload", "--quiet", "--list", "--verify", "--extract", "--force", "--help", "--version", "@FILE"})
    EXPECT_NE(out.find("  " + std::string(option)), std::string::npos) << option << " has its line";
  EXPECT_EQ(run({"--version"}), 0);
  EXPECT_EQ(out, "mkpayload " + std::string(common::KIT_VERSION) + "\n");
}

}  // namespace
