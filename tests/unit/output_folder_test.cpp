// OutputFolder on this host: which folders open() accepts, what a link, hard
// link, FIFO or folder planted in the output folder does to a write, and that
// no temporary file is left behind. Each case lists the whole output folder
// afterwards, so a stray temporary file or a write in the wrong place shows.
#include "output_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>

namespace {

using mkpayload::OutputFolder;

namespace fs = std::filesystem;
using Existing = OutputFolder::Existing;
using Names = std::set<std::string>;

// A scratch tree: `out` (the output folder, not made) and `outside` holding
// victim.txt, which no write may change.
struct Scratch {
  fs::path root = fs::temp_directory_path() / ("kvn-output-folder-" + std::to_string(std::random_device{}()));
  fs::path out = root / "out";
  fs::path outside = root / "outside";
  fs::path victim = outside / "victim.txt";

  Scratch() {
    fs::create_directories(outside);
    std::ofstream(victim) << "victim";
  }
  ~Scratch() {
    std::error_code ignored;
    fs::remove_all(root, ignored);
  }
};

std::string read_text(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Every entry below `folder` (links not followed), relative, "/"-separated.
Names entries_below(const fs::path& folder) {
  Names names;
  for (const auto& entry : fs::recursive_directory_iterator(folder))
    names.insert(entry.path().lexically_relative(folder).generic_string());
  return names;
}

// What a case finds at a name before the output folder is opened.
enum class Planted {
  nothing,
  empty_folder,
  folder_with_hidden_file,
  file,
  fifo,
  link_to_empty_folder,
  link_to_outside_folder,
  link_to_outside_file,
  dangling_link,  // to outside/made, which must stay missing
  hard_link_to_outside_file,
};

void plant(Planted what, const Scratch& s, const fs::path& at) {
  switch (what) {
    case Planted::nothing: break;
    case Planted::empty_folder: fs::create_directory(at); break;
    case Planted::folder_with_hidden_file:
      fs::create_directory(at);
      std::ofstream(at / ".hidden");
      break;
    case Planted::file: std::ofstream(at) << "old content, longer"; break;
    case Planted::fifo: ASSERT_EQ(::mkfifo(at.c_str(), 0600), 0); break;
    case Planted::link_to_empty_folder:
      fs::create_directory(s.root / "empty");
      fs::create_directory_symlink(s.root / "empty", at);
      break;
    case Planted::link_to_outside_folder: fs::create_directory_symlink(s.outside, at); break;
    case Planted::link_to_outside_file: fs::create_symlink(s.victim, at); break;
    case Planted::dangling_link: fs::create_symlink(s.outside / "made", at); break;
    case Planted::hard_link_to_outside_file: fs::create_hard_link(s.victim, at); break;
  }
}

// Ends the test program if the guarded calls block (a FIFO opened for writing
// waits for a reader) instead of letting the test hang.
class BlockGuard {
 public:
  BlockGuard() {
    std::signal(SIGALRM, [](int) {
      constexpr char MESSAGE[] = "blocked: a call waited on a FIFO\n";
      (void)!::write(2, MESSAGE, sizeof MESSAGE - 1);
      ::_exit(3);
    });
    ::alarm(20);
  }
  ~BlockGuard() { ::alarm(0); }
};

// Writes `content` in two blocks as `name` below `folders`; the error, or "".
std::string write_file(OutputFolder& folder, std::vector<std::string> folders, std::string_view name,
                       std::string_view content) {
  std::string error;
  std::optional<OutputFolder::NewFile> file = folder.create_file(folders, name, error);
  const auto bytes = [](std::string_view text) {
    return std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  };
  const size_t half = content.size() / 2;
  if (file && file->write(bytes(content.substr(0, half)), error) && file->write(bytes(content.substr(half)), error) &&
      file->commit(error))
    return "";
  return error.empty() ? "failed without a reason" : error;
}

std::optional<OutputFolder> open_out(const Scratch& scratch, Existing existing) {
  std::string error;
  std::optional<OutputFolder> folder = OutputFolder::open(scratch.out.string(), existing, error);
  if (!folder) ADD_FAILURE() << "open: " << error;
  return folder;
}

struct OpenCase {
  Planted at_out;
  const char* path;  // below the scratch root
  Existing existing;
  const char* refusal;  // part of the reason, or nullptr when accepted
};

TEST(OutputFolder, OpenAcceptsMissingOrEmptyFoldersAndRefusesTheRest) {
  constexpr OpenCase cases[] = {
      {Planted::nothing, "out/a/b", Existing::must_be_empty, nullptr},  // made with its missing parent
      {Planted::empty_folder, "out", Existing::must_be_empty, nullptr},
      {Planted::empty_folder, "out//", Existing::must_be_empty, nullptr},
      {Planted::folder_with_hidden_file, "out", Existing::must_be_empty, "is not empty"},
      {Planted::folder_with_hidden_file, "out", Existing::replace_files, nullptr},
      {Planted::file, "out", Existing::replace_files, "exists and is not a folder"},
      {Planted::file, "out/sub", Existing::replace_files, "Not a directory"},
      {Planted::fifo, "out", Existing::replace_files, "exists and is not a folder"},
      {Planted::link_to_empty_folder, "out", Existing::must_be_empty, "symbolic link"},
      {Planted::link_to_outside_folder, "out/", Existing::replace_files, "symbolic link"},
      {Planted::dangling_link, "out", Existing::replace_files, "symbolic link"},
  };
  for (const OpenCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "planted " << static_cast<int>(c.at_out) << ", path " << c.path);
    Scratch scratch;
    plant(c.at_out, scratch, scratch.out);
    std::string error;
    std::optional<OutputFolder> folder;
    {
      BlockGuard guard;
      folder = OutputFolder::open((scratch.root / c.path).string(), c.existing, error);
    }
    if (c.refusal) {
      EXPECT_FALSE(folder);
      EXPECT_NE(error.find(c.refusal), std::string::npos) << error;
    } else {
      ASSERT_TRUE(folder) << error;
      EXPECT_EQ(write_file(*folder, {}, "probe", "here"), "");
      EXPECT_EQ(read_text(scratch.root / c.path / "probe"), "here");
    }
    EXPECT_EQ(entries_below(scratch.outside), Names{"victim.txt"});
  }
}

struct PlantCase {
  Planted at_name;
  const char* refusal;  // part of the reason, or nullptr when the new file replaces what is there
};

TEST(OutputFolder, FileReplacesLinksAndFilesAtItsNameButNeverWritesThroughThem) {
  constexpr PlantCase cases[] = {
      {Planted::nothing, nullptr},
      {Planted::file, nullptr},
      {Planted::link_to_outside_file, nullptr},
      {Planted::hard_link_to_outside_file, nullptr},
      {Planted::dangling_link, nullptr},
      {Planted::link_to_outside_folder, nullptr},
      {Planted::empty_folder, "is a folder"},
      {Planted::fifo, "is a FIFO"},
  };
  for (const PlantCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "planted " << static_cast<int>(c.at_name));
    Scratch scratch;
    fs::create_directory(scratch.out);
    plant(c.at_name, scratch, scratch.out / "readme.txt");
    std::optional<OutputFolder> folder = open_out(scratch, Existing::replace_files);
    ASSERT_TRUE(folder);
    const fs::file_type planted = fs::symlink_status(scratch.out / "readme.txt").type();
    std::string error;
    {
      BlockGuard guard;
      error = write_file(*folder, {}, "readme.txt", "new content");
    }
    if (c.refusal) {
      EXPECT_NE(error.find(c.refusal), std::string::npos) << error;
      EXPECT_EQ(fs::symlink_status(scratch.out / "readme.txt").type(), planted);
    } else {
      EXPECT_EQ(error, "");
      EXPECT_EQ(fs::symlink_status(scratch.out / "readme.txt").type(), fs::file_type::regular);
      EXPECT_EQ(read_text(scratch.out / "readme.txt"), "new content");
    }
    EXPECT_EQ(entries_below(scratch.out), Names{"readme.txt"});
    EXPECT_EQ(entries_below(scratch.outside), Names{"victim.txt"});
    EXPECT_EQ(read_text(scratch.victim), "victim");
  }
}

TEST(OutputFolder, SubfoldersAreMadeButNeverThroughWhatIsPlantedInTheirPlace) {
  constexpr PlantCase cases[] = {
      {Planted::nothing, nullptr},
      {Planted::empty_folder, nullptr},
      {Planted::link_to_outside_folder, "sub is a symbolic link"},
      {Planted::dangling_link, "sub is a symbolic link"},
      {Planted::file, "sub exists and is not a folder"},
      {Planted::fifo, "sub exists and is not a folder"},
  };
  const std::vector<std::string> folders = {"sub", "deeper", "deepest"};
  for (const PlantCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "planted " << static_cast<int>(c.at_name));
    Scratch scratch;
    fs::create_directory(scratch.out);
    plant(c.at_name, scratch, scratch.out / "sub");
    std::optional<OutputFolder> folder = open_out(scratch, Existing::replace_files);
    ASSERT_TRUE(folder);
    std::string error;
    BlockGuard guard;
    const bool made = folder->make_folders(folders, error);
    if (c.refusal) {
      EXPECT_FALSE(made);
      EXPECT_NE(error.find(c.refusal), std::string::npos) << error;
      EXPECT_NE(write_file(*folder, folders, "file", "x").find(c.refusal), std::string::npos);
      EXPECT_EQ(entries_below(scratch.out), Names{"sub"});
    } else {
      EXPECT_TRUE(made) << error;
      EXPECT_EQ(write_file(*folder, folders, "file", "x"), "");
      EXPECT_EQ(entries_below(scratch.out),
                (Names{"sub", "sub/deeper", "sub/deeper/deepest", "sub/deeper/deepest/file"}));
    }
    EXPECT_EQ(entries_below(scratch.outside), Names{"victim.txt"});
  }
}

TEST(OutputFolder, FileInAMissingFolderIsRefusedWithoutMakingIt) {
  Scratch scratch;
  std::optional<OutputFolder> folder = open_out(scratch, Existing::must_be_empty);
  ASSERT_TRUE(folder);
  EXPECT_NE(write_file(*folder, {"sub"}, "file", "x").find("sub: No such file"), std::string::npos);
  EXPECT_EQ(entries_below(scratch.out), Names{});
}

TEST(OutputFolder, FileWrittenTwiceInAnEmptyFolderKeepsTheLastContent) {
  Scratch scratch;
  std::optional<OutputFolder> folder = open_out(scratch, Existing::must_be_empty);
  ASSERT_TRUE(folder);
  EXPECT_EQ(write_file(*folder, {}, "twice", "first, the longer one"), "");
  EXPECT_EQ(write_file(*folder, {}, "twice", "second"), "");
  EXPECT_EQ(read_text(scratch.out / "twice"), "second");
  EXPECT_EQ(entries_below(scratch.out), Names{"twice"});
}

TEST(OutputFolder, AbandonedFileLeavesNothing) {
  Scratch scratch;
  std::optional<OutputFolder> folder = open_out(scratch, Existing::must_be_empty);
  ASSERT_TRUE(folder);
  std::string error;
  {
    std::optional<OutputFolder::NewFile> file = folder->create_file({}, "left", error);
    ASSERT_TRUE(file) << error;
    const uint8_t block[] = {1, 2, 3};
    ASSERT_TRUE(file->write(block, error)) << error;
    EXPECT_EQ(entries_below(scratch.out).size(), 1u) << "the temporary file";
  }
  EXPECT_EQ(entries_below(scratch.out), Names{});
}

TEST(OutputFolder, FolderAppearingAtTheNameBeforeCommitIsNotReplaced) {
  Scratch scratch;
  std::optional<OutputFolder> folder = open_out(scratch, Existing::must_be_empty);
  ASSERT_TRUE(folder);
  std::string error;
  std::optional<OutputFolder::NewFile> file = folder->create_file({}, "name", error);
  ASSERT_TRUE(file) << error;
  fs::create_directory(scratch.out / "name");
  EXPECT_FALSE(file->commit(error));
  EXPECT_NE(error.find("is a folder"), std::string::npos) << error;
  EXPECT_FALSE(file->commit(error)) << "spent";
  EXPECT_EQ(entries_below(scratch.out), Names{"name"});
}

// The folder is held open: moving it away and planting a link at its path
// after open() does not redirect the writes that follow.
TEST(OutputFolder, WritesFollowTheOpenedFolderNotItsPath) {
  Scratch scratch;
  std::optional<OutputFolder> folder = open_out(scratch, Existing::must_be_empty);
  ASSERT_TRUE(folder);
  fs::rename(scratch.out, scratch.root / "moved");
  fs::create_directory_symlink(scratch.outside, scratch.out);
  EXPECT_EQ(write_file(*folder, {}, "file", "x"), "");
  EXPECT_EQ(entries_below(scratch.root / "moved"), Names{"file"});
  EXPECT_EQ(entries_below(scratch.outside), Names{"victim.txt"});
}

}  // namespace
