// OutputFolder on POSIX: the folder is held as a directory descriptor and every
// step below it is an *at() call relative to a descriptor, each folder opened
// with O_NOFOLLOW | O_DIRECTORY, so a link planted inside the folder is never
// resolved, and renaming a folder meanwhile cannot redirect a later step.
// Nothing that might be a FIFO is opened without O_NONBLOCK (O_DIRECTORY
// already refuses it on Linux; the flag keeps other systems from blocking).
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <utility>

#include "output_folder.h"

namespace mkpayload {

namespace {

constexpr int FOLDER_FLAGS = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;

class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    reset(other.release());
    return *this;
  }
  ~UniqueFd() { reset(); }
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

std::string reason(int error_number) { return std::strerror(error_number); }

// What is at `name` in `folder`, looked at without following a link.
// `unreadable`: fstatat failed otherwise, and errno says why.
enum class EntryKind { missing, unreadable, link, folder, file, fifo, device, socket, other };

EntryKind entry_kind(int folder, const char* name) {
  struct stat info;
  if (::fstatat(folder, name, &info, AT_SYMLINK_NOFOLLOW) != 0)
    return errno == ENOENT ? EntryKind::missing : EntryKind::unreadable;
  if (S_ISLNK(info.st_mode)) return EntryKind::link;
  if (S_ISDIR(info.st_mode)) return EntryKind::folder;
  if (S_ISREG(info.st_mode)) return EntryKind::file;
  if (S_ISFIFO(info.st_mode)) return EntryKind::fifo;
  if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode)) return EntryKind::device;
  if (S_ISSOCK(info.st_mode)) return EntryKind::socket;
  return EntryKind::other;
}

// Why a name whose kind is not what a step needs is refused; nullptr when the
// failed call's own error says it better.
const char* not_a_folder_reason(EntryKind kind) {
  switch (kind) {
    case EntryKind::link: return "is a symbolic link, which is not followed inside the output folder";
    case EntryKind::file:
    case EntryKind::fifo:
    case EntryKind::device:
    case EntryKind::socket:
    case EntryKind::other: return "exists and is not a folder";
    default: return nullptr;
  }
}

const char* not_a_file_reason(EntryKind kind) {
  switch (kind) {
    case EntryKind::folder: return "is a folder";
    case EntryKind::fifo: return "is a FIFO";
    case EntryKind::device: return "is a device";
    case EntryKind::socket: return "is a socket";
    default: return "is not a regular file";
  }
}

// Empty: no entries other than "." and "..". nullopt (with `error`) when unreadable.
std::optional<bool> is_empty(int folder, std::string& error) {
  const int listing = ::openat(folder, ".", FOLDER_FLAGS);
  DIR* dir = listing >= 0 ? ::fdopendir(listing) : nullptr;  // owns `listing` from here
  if (dir == nullptr) {
    error = "cannot be listed: " + reason(errno);
    if (listing >= 0) ::close(listing);
    return std::nullopt;
  }
  bool empty = true;
  while (const dirent* entry = ::readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
      empty = false;
      break;
    }
  }
  ::closedir(dir);
  return empty;
}

// Makes every missing folder of `path`, the user's text: links in it are followed.
bool make_path(const std::string& path, std::string& error) {
  for (size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
    const std::string prefix = path.substr(0, end);
    if (::mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) {
      error = end == std::string::npos ? "cannot be created: " + reason(errno)
                                       : "cannot be created: its folder " + prefix + ": " + reason(errno);
      return false;
    }
    if (end == std::string::npos) return true;
  }
}

// Opens `path` as a folder. Links before its last component are followed (the
// user typed them); the last one must not be a link, which could have been
// planted to send the output elsewhere.
UniqueFd open_top(std::string path, std::string& error) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();  // "link/" would resolve the link
  const size_t slash = path.rfind('/');
  UniqueFd parent;
  std::string last = path;
  if (slash != std::string::npos) {
    parent.reset(::open(slash == 0 ? "/" : path.substr(0, slash).c_str(), FOLDER_FLAGS & ~O_NOFOLLOW));
    if (parent.get() < 0) {
      error = reason(errno);
      return UniqueFd();
    }
    last = path.substr(slash + 1);
    if (last.empty()) last = ".";  // the path is "/"
  }
  const int at = slash == std::string::npos ? AT_FDCWD : parent.get();
  UniqueFd folder(::openat(at, last.c_str(), FOLDER_FLAGS));
  if (folder.get() < 0) {
    const int failed = errno;
    const EntryKind kind = entry_kind(at, last.c_str());
    error = kind == EntryKind::link     ? "is a symbolic link (give the folder it points to)"
            : not_a_folder_reason(kind) ? not_a_folder_reason(kind)
                                        : reason(failed);
  }
  return folder;
}

// Opens folders[0]/folders[1]/... below `root`, making missing ones when `create`.
// `error` names the component that failed.
UniqueFd open_folders(int root, std::span<const std::string> folders, bool create, std::string& error) {
  UniqueFd current(::fcntl(root, F_DUPFD_CLOEXEC, 0));
  if (current.get() < 0) {
    error = reason(errno);
    return current;
  }
  std::string where;
  for (const std::string& name : folders) {
    where += (where.empty() ? "" : "/") + name;
    if (create && ::mkdirat(current.get(), name.c_str(), 0777) != 0 && errno != EEXIST) {
      error = where + " cannot be created: " + reason(errno);
      return UniqueFd();
    }
    UniqueFd next(::openat(current.get(), name.c_str(), FOLDER_FLAGS));
    if (next.get() < 0) {
      const int failed = errno;
      const char* why = not_a_folder_reason(entry_kind(current.get(), name.c_str()));
      error = why ? where + " " + why : where + ": " + reason(failed);
      return UniqueFd();
    }
    current = std::move(next);
  }
  return current;
}

// What rename may replace at the name: a regular file (also one with other hard
// links) or a symbolic link, which is replaced itself, never what it points at.
bool name_is_replaceable(int folder, const std::string& name, std::string& error) {
  const EntryKind kind = entry_kind(folder, name.c_str());
  if (kind == EntryKind::missing || kind == EntryKind::file || kind == EntryKind::link) return true;
  error = kind == EntryKind::unreadable ? reason(errno) : not_a_file_reason(kind);
  return false;
}

}  // namespace

struct OutputFolder::Root {
  UniqueFd fd;
};

struct OutputFolder::NewFile::State {
  UniqueFd folder;
  UniqueFd file;
  std::string temp_name;  // removed by the destructor unless empty
  std::string name;

  ~State() {
    file.reset();
    if (!temp_name.empty()) ::unlinkat(folder.get(), temp_name.c_str(), 0);
  }
};

OutputFolder::OutputFolder(std::unique_ptr<Root> root) : root_(std::move(root)) {}
OutputFolder::OutputFolder(OutputFolder&&) noexcept = default;
OutputFolder& OutputFolder::operator=(OutputFolder&&) noexcept = default;
OutputFolder::~OutputFolder() = default;

OutputFolder::NewFile::NewFile(std::unique_ptr<State> state) : state_(std::move(state)) {}
OutputFolder::NewFile::NewFile(NewFile&&) noexcept = default;
OutputFolder::NewFile& OutputFolder::NewFile::operator=(NewFile&&) noexcept = default;
OutputFolder::NewFile::~NewFile() = default;

std::optional<OutputFolder> OutputFolder::open(std::string_view path, Existing existing, std::string& error) {
  if (path.empty()) {
    error = "is an empty path";
    return std::nullopt;
  }
  const std::string text(path);
  struct stat info;
  if (::lstat(text.c_str(), &info) != 0 && errno == ENOENT && !make_path(text, error)) return std::nullopt;
  UniqueFd fd = open_top(text, error);
  if (fd.get() < 0) return std::nullopt;
  if (existing == Existing::must_be_empty) {
    const std::optional<bool> empty = is_empty(fd.get(), error);
    if (!empty) return std::nullopt;
    if (!*empty) {
      error = "is not empty (use --force to unpack into it anyway)";
      return std::nullopt;
    }
  }
  return OutputFolder(std::make_unique<Root>(Root{std::move(fd)}));
}

bool OutputFolder::make_folders(std::span<const std::string> folders, std::string& error) {
  return open_folders(root_->fd.get(), folders, true, error).get() >= 0;
}

std::optional<OutputFolder::NewFile> OutputFolder::create_file(std::span<const std::string> folders,
                                                               std::string_view name, std::string& error) {
  auto state = std::make_unique<NewFile::State>();
  state->folder = open_folders(root_->fd.get(), folders, false, error);
  state->name = name;
  if (state->folder.get() < 0 || !name_is_replaceable(state->folder.get(), state->name, error)) return std::nullopt;

  // A fixed-length name, so a long entry name cannot make it too long; random,
  // so it cannot be planted in advance; O_EXCL, so it is always a new file.
  std::random_device random;
  for (int attempt = 0; attempt < 16; ++attempt) {
    char temp[40];
    std::snprintf(temp, sizeof temp, ".mkpayload-%08x%08x.tmp", random(), random());
    state->file.reset(::openat(state->folder.get(), temp, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (state->file.get() >= 0) {
      state->temp_name = temp;
      return NewFile(std::move(state));
    }
    if (errno != EEXIST) break;
  }
  error = "cannot create a temporary file beside it: " + reason(errno);
  return std::nullopt;
}

bool OutputFolder::NewFile::write(std::span<const uint8_t> block, std::string& error) {
  if (!state_ || state_->file.get() < 0) {
    error = "is already closed";
    return false;
  }
  while (!block.empty()) {
    const ssize_t written = ::write(state_->file.get(), block.data(), block.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      error = "cannot be written: " + reason(written < 0 ? errno : EIO);
      return false;
    }
    block = block.subspan(static_cast<size_t>(written));
  }
  return true;
}

bool OutputFolder::NewFile::commit(std::string& error) {
  const std::unique_ptr<State> state = std::move(state_);  // spent either way; its destructor cleans up
  if (!state || state->file.get() < 0) {
    error = "is already closed";
    return false;
  }
  if (::close(state->file.release()) != 0) {
    error = "cannot be written: " + reason(errno);
    return false;
  }
  if (!name_is_replaceable(state->folder.get(), state->name, error)) return false;
  if (::renameat(state->folder.get(), state->temp_name.c_str(), state->folder.get(), state->name.c_str()) != 0) {
    error = "cannot be put in place: " + reason(errno);
    return false;
  }
  state->temp_name.clear();
  return true;
}

}  // namespace mkpayload
