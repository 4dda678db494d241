// The installation of the extracted Java extensions into one registered Java kit,
// written once over a small platform interface so that the same steps run on
// Windows and under the unit tests' recording fake.
//
// A Platform provides (HKEY_LOCAL_MACHINE is implied for the registry):
//   bool read_registry_text(const char* key_path, const char* value_name, std::span<char> text);
//       true when the value was read as a NUL-terminated text into `text`
//   void create_directory(const char* path);            outcome not needed
//   template <class Visit> bool for_each_name(Visit&&); every name directly in the
//       current directory, in listing order, as const char*; false when no listing
//   bool copy_file(const char* source, const char* destination);  replaces a file
//   void record_installed_file(const char* destination);
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string_view>

#include "bounded_text.h"
#include "extension_names.h"

namespace javaext {

using common::FixedText;

enum KitStatus : int {
  KIT_INSTALLED = 0,         // home found; the work directory scanned (or no listing)
  KIT_VERSION_NOT_READ = 1,  // "CurrentVersion" missing, empty or too long: nothing done
  KIT_HOME_NOT_READ = 2,     // "JavaHome" missing, empty or too long: nothing done
};

inline constexpr std::size_t KEY_PATH_CAPACITY = 1024;  // also each destination path in turn
inline constexpr std::size_t VERSION_CAPACITY = 64;
inline constexpr std::size_t HOME_CAPACITY = 1024;
inline constexpr std::size_t DIRECTORY_CAPACITY = 1024;
// A record is named by its destination path in a field of MAX_PATH + 1 bytes. A
// longer destination is neither copied nor recorded, so the kit never holds an
// installed file without its record and no record carries a cut name.
inline constexpr std::size_t RECORD_NAME_LIMIT = 260;

inline constexpr std::string_view JAVASOFT_KEY = "SOFTWARE\\JavaSoft\\";
inline constexpr const char* CURRENT_VERSION_VALUE = "CurrentVersion";
inline constexpr const char* JAVA_HOME_VALUE = "JavaHome";

// The working texts of one installation; the key path later holds each
// destination path in turn.
struct KitTexts {
  FixedText<KEY_PATH_CAPACITY> key_path;
  FixedText<VERSION_CAPACITY> version;
  FixedText<HOME_CAPACITY> home;
  FixedText<DIRECTORY_CAPACITY> extension_directory;
  FixedText<DIRECTORY_CAPACITY> x86_directory;
};

namespace detail {

// Copies one extracted file to the destination joined from `parts` and records
// the copy. A destination that does not fit its text, or is too long to name a
// record, is skipped: no copy, no record.
template <class Platform>
void install_one_file(Platform& platform, FixedText<KEY_PATH_CAPACITY>& destination, const char* file_name,
                      std::initializer_list<std::string_view> parts) {
  if (!destination.assign(parts) || destination.size() > RECORD_NAME_LIMIT) return;
  if (platform.copy_file(file_name, destination.c_str())) platform.record_installed_file(destination.c_str());
}

template <class Platform>
int install_into_kit(Platform& platform, KitTexts& texts, std::string_view kit_name, std::string_view home_suffix) {
  if (!texts.key_path.assign({JAVASOFT_KEY, kit_name}) ||
      !platform.read_registry_text(texts.key_path.c_str(), CURRENT_VERSION_VALUE, texts.version.buffer()) ||
      texts.version.empty()) {
    return KIT_VERSION_NOT_READ;
  }
  // An empty home would make every path below relative to the current drive's root.
  if (!texts.key_path.assign({JAVASOFT_KEY, kit_name, "\\", texts.version.view()}) ||
      !platform.read_registry_text(texts.key_path.c_str(), JAVA_HOME_VALUE, texts.home.buffer()) ||
      texts.home.empty()) {
    return KIT_HOME_NOT_READ;
  }

  // The home is used as the registry gives it: no separator added or removed.
  if (!texts.extension_directory.assign({texts.home.view(), home_suffix, "\\lib\\ext"})) {
    return KIT_INSTALLED;  // no destination of this kit could fit either
  }
  platform.create_directory(texts.extension_directory.c_str());
  if (texts.x86_directory.assign({texts.home.view(), home_suffix, "\\lib\\ext\\x86"})) {
    platform.create_directory(texts.x86_directory.c_str());
  }  // else every native library's destination is longer still and is skipped

  const std::string_view extension_directory = texts.extension_directory.view();
  platform.for_each_name([&](const char* file_name) {
    const ExtensionMatch match = classify_extracted_name(file_name);
    if (match.java_archive) {
      install_one_file(platform, texts.key_path, file_name, {extension_directory, "\\", file_name});
    }
    if (match.native_library) {
      install_one_file(platform, texts.key_path, file_name, {extension_directory, "\\x86\\", file_name});
    }
  });
  return KIT_INSTALLED;
}

}  // namespace detail

// Installs every extracted .jar of the current directory into the kit's lib\ext
// and every .dll into lib\ext\x86, recording each copy; returns a KitStatus.
// The working texts are released at this one exit whatever the outcome.
template <class Platform>
int install_kit_extensions(Platform& platform, const char* kit_name, const char* home_suffix) {
  KitTexts texts;
  const int status = kit_name == nullptr
                         ? KIT_VERSION_NOT_READ
                         : detail::install_into_kit(platform, texts, kit_name, home_suffix ? home_suffix : "");
  return status;
}

}  // namespace javaext
