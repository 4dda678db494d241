// The folder that `mkpayload --extract` unpacks into, written so that nothing
// planted inside it can redirect a write elsewhere: links inside the folder are
// never followed, and a file is written under a temporary name in its own folder
// and renamed over its name, which replaces whatever link or file is there
// instead of writing through it.
//
// Paths inside the folder are given as components (UTF-8) that the caller has
// already checked to be plain names: not "", "." or "..", no separators.
// Errors are reasons in words for the caller to put after the name it reports
// (the folder's path, or the entry's name).
//
// The POSIX implementation works relative to descriptors it holds open, so it
// has no window between a check and a use. The Windows one works by path and
// checks each folder for a reparse point (symbolic link, junction) before using
// it: a process that can write in the output folder at the same time could swap
// a checked folder for a junction before the write that follows the check.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace mkpayload {

class OutputFolder {
 public:
  enum class Existing {
    must_be_empty,  // refuse a folder that has any entry
    replace_files,  // --force: unpack into a non-empty folder, replacing files of the same name
  };

  // A file being written: its content goes to a temporary file in the target
  // folder, which takes the file's name only at commit(). Destroying an
  // uncommitted NewFile removes the temporary file.
  class NewFile {
   public:
    // Appends `block` to the content.
    bool write(std::span<const uint8_t> block, std::string& error);
    // Closes the file and renames it over its name. Refuses, and removes the
    // temporary file, if something other than a regular file or a link has
    // appeared at the name meanwhile. The object is spent either way.
    bool commit(std::string& error);

    NewFile(NewFile&&) noexcept;
    NewFile& operator=(NewFile&&) noexcept;
    ~NewFile();

   private:
    friend class OutputFolder;
    struct State;
    explicit NewFile(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
  };

  // Opens `path` (UTF-8, as the user gave it) for writing below it. A missing
  // folder is created with its missing parents. Refused: a path that exists and
  // is not a folder; a path whose last component is a symbolic link or junction
  // (earlier components may be links: they are the user's choice, but the last
  // one could have been planted to redirect the output); a non-empty folder
  // unless `existing` is replace_files.
  static std::optional<OutputFolder> open(std::string_view path, Existing existing, std::string& error);

  // Makes each missing folder of `folders` in turn (a, a/b, ...). Refused, with
  // the component named in `error`: a symbolic link or junction in the way
  // (never followed, whatever it points at) or a component that exists and is
  // not a folder.
  bool make_folders(std::span<const std::string> folders, std::string& error);

  // Starts the file `name` in the existing folder `folders` (checked as
  // make_folders does, none created). At commit the file replaces a regular
  // file, a hard link or a symbolic link of that name (the link itself, never
  // what it points at); a folder, FIFO, device or socket at the name is
  // refused here and again at commit (on Windows also a link or junction to a
  // folder, which cannot be renamed over). In a folder opened as must_be_empty,
  // anything at the name was made during this run (a file written twice).
  std::optional<NewFile> create_file(std::span<const std::string> folders, std::string_view name, std::string& error);

  OutputFolder(OutputFolder&&) noexcept;
  OutputFolder& operator=(OutputFolder&&) noexcept;
  ~OutputFolder();

 private:
  struct Root;
  explicit OutputFolder(std::unique_ptr<Root> root);
  std::unique_ptr<Root> root_;
};

}  // namespace mkpayload
