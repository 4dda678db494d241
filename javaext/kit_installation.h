// The installation of the extracted Java extensions into one registered Java kit,
// written once over a small platform interface so that the same steps run on
// Windows and under the unit tests' recording fake.
//
// A Platform names its text type as `using Char = ...;` (char when it names
// none: 8-bit texts; the Windows platform takes UTF-16 texts) and provides
// (HKEY_LOCAL_MACHINE is implied for the registry):
//   bool read_registry_text(const Char* key_path, const Char* value_name, std::span<Char> text);
//       true when the value was read as a NUL-terminated text into `text`
//   bool path_exists(const Char* path);                 a file or a directory
//   std::size_t read_file_start(const Char* path, std::span<char> bytes);
//       the file's first bytes into `bytes`; how many, 0 when it cannot be read
//   void create_directory(const Char* path);            outcome not needed
//   template <class Visit> bool for_each_name(Visit&&); every name directly in the
//       current directory, in listing order, as const Char*; false when no listing
//   bool copy_file(const Char* source, const Char* destination);  replaces a file
//   void record_installed_file(const Char* destination);
#pragma once

#include <array>
#include <cstddef>
#include <initializer_list>
#include <span>
#include <string_view>
#include <type_traits>

#include "bounded_text.h"
#include "extension_names.h"
#include "java_release.h"

namespace javaext {

using common::ascii_text;
using common::FixedText;

enum KitStatus : int {
  KIT_INSTALLED = 0,         // home found; the work directory scanned (or no listing)
  KIT_VERSION_NOT_READ = 1,  // "CurrentVersion" missing, empty or too long: nothing done
  KIT_HOME_NOT_READ = 2,     // "JavaHome" missing, empty or too long: nothing done
  KIT_MODULAR_JAVA = 3,      // the home is a Java 9 or later, which a lib\ext would stop: nothing done
};

// Capacities in characters of the platform's text type, NUL included.
inline constexpr std::size_t KEY_PATH_CAPACITY = 1024;  // also each destination path in turn
inline constexpr std::size_t VERSION_CAPACITY = 64;
inline constexpr std::size_t HOME_CAPACITY = 1024;
inline constexpr std::size_t DIRECTORY_CAPACITY = 1024;
// A record is named by its destination path in a field of MAX_PATH + 1
// characters. A longer destination is neither copied nor recorded, so the kit
// never holds an installed file without its record and no record carries a cut name.
inline constexpr std::size_t RECORD_NAME_LIMIT = 260;
// How much of a home's release file is read: JAVA_VERSION stands in its first lines.
inline constexpr std::size_t RELEASE_READ_LIMIT = 4096;

// The text type a Platform names, char by default.
template <class Platform>
struct PlatformText {
  using type = char;
};
template <class Platform>
requires requires { typename Platform::Char; }
struct PlatformText<Platform> {
  using type = typename Platform::Char;
};

// The working texts of one installation; the key path later holds each probed
// path and destination path in turn.
template <class Char>
struct KitTexts {
  FixedText<KEY_PATH_CAPACITY, Char> key_path;
  FixedText<VERSION_CAPACITY, Char> version;
  FixedText<HOME_CAPACITY, Char> home;
  FixedText<DIRECTORY_CAPACITY, Char> runtime_directory;
  FixedText<DIRECTORY_CAPACITY, Char> extension_directory;
  FixedText<DIRECTORY_CAPACITY, Char> x86_directory;
  std::array<char, RELEASE_READ_LIMIT> release;
};

namespace detail {

// The fixed pieces of the key paths and file paths, as texts of Char.
template <class Char>
struct KitNames {
  static constexpr auto javasoft_key = ascii_text<Char>("SOFTWARE\\JavaSoft\\");
  static constexpr auto current_version = ascii_text<Char>("CurrentVersion");
  static constexpr auto java_home = ascii_text<Char>("JavaHome");
  static constexpr auto separator = ascii_text<Char>("\\");
  static constexpr auto lib_ext = ascii_text<Char>("\\lib\\ext");
  static constexpr auto lib_ext_x86 = ascii_text<Char>("\\lib\\ext\\x86");
  static constexpr auto x86 = ascii_text<Char>("\\x86\\");
  static constexpr auto lib_modules = ascii_text<Char>("\\lib\\modules");
  static constexpr auto release = ascii_text<Char>("\\release");
};

// Java 9 and later stop at start-up ("extensions mechanism no longer supported")
// when their home holds lib\ext. Every runtime image from Java 9 on holds
// lib\modules, and its release file names the version; a home with either sign
// gets nothing. A path that does not fit its text cannot be probed, and the home
// then counts as an older Java, whose installation goes on as it always did.
template <class Platform, class Char>
bool is_modular_java(Platform& platform, KitTexts<Char>& texts, std::basic_string_view<Char> directory) {
  using Names = KitNames<Char>;
  if (texts.key_path.assign({directory, Names::lib_modules}) && platform.path_exists(texts.key_path.c_str())) {
    return true;
  }
  if (!texts.key_path.assign({directory, Names::release})) return false;
  const std::size_t length = platform.read_file_start(texts.key_path.c_str(), std::span<char>(texts.release));
  const std::string_view release(texts.release.data(), length < texts.release.size() ? length : texts.release.size());
  return java_feature_version(release) >= FIRST_MODULAR_JAVA;
}

// Copies one extracted file to the destination joined from `parts` and records
// the copy. A destination that does not fit its text, or is too long to name a
// record, is skipped: no copy, no record.
template <class Platform, class Char>
void install_one_file(Platform& platform, FixedText<KEY_PATH_CAPACITY, Char>& destination, const Char* file_name,
                      std::initializer_list<std::type_identity_t<std::basic_string_view<Char>>> parts) {
  if (!destination.assign(parts) || destination.size() > RECORD_NAME_LIMIT) return;
  if (platform.copy_file(file_name, destination.c_str())) platform.record_installed_file(destination.c_str());
}

template <class Platform, class Char>
int install_into_kit(Platform& platform, KitTexts<Char>& texts, std::basic_string_view<Char> kit_name,
                     std::basic_string_view<Char> home_suffix) {
  using Names = KitNames<Char>;
  if (!texts.key_path.assign({Names::javasoft_key, kit_name}) ||
      !platform.read_registry_text(texts.key_path.c_str(), Names::current_version.text, texts.version.buffer()) ||
      texts.version.empty()) {
    return KIT_VERSION_NOT_READ;
  }
  // An empty home would make every path below relative to the current drive's root.
  if (!texts.key_path.assign({Names::javasoft_key, kit_name, Names::separator, texts.version.view()}) ||
      !platform.read_registry_text(texts.key_path.c_str(), Names::java_home.text, texts.home.buffer()) ||
      texts.home.empty()) {
    return KIT_HOME_NOT_READ;
  }

  // The home and, for a kit whose runtime lies below it (the JDK's "\jre"), the
  // runtime directory: either being a modern Java leaves the kit alone.
  if (is_modular_java(platform, texts, texts.home.view())) return KIT_MODULAR_JAVA;
  if (!home_suffix.empty() && texts.runtime_directory.assign({texts.home.view(), home_suffix}) &&
      is_modular_java(platform, texts, texts.runtime_directory.view())) {
    return KIT_MODULAR_JAVA;
  }

  // The home is used as the registry gives it: no separator added or removed.
  if (!texts.extension_directory.assign({texts.home.view(), home_suffix, Names::lib_ext})) {
    return KIT_INSTALLED;  // no destination of this kit could fit either
  }
  platform.create_directory(texts.extension_directory.c_str());
  if (texts.x86_directory.assign({texts.home.view(), home_suffix, Names::lib_ext_x86})) {
    platform.create_directory(texts.x86_directory.c_str());
  }  // else every native library's destination is longer still and is skipped

  const std::basic_string_view<Char> extension_directory = texts.extension_directory.view();
  platform.for_each_name([&](const Char* file_name) {
    const std::basic_string_view<Char> name(file_name);
    const ExtensionMatch match = classify_extracted_name(name);
    if (match.java_archive) {
      install_one_file(platform, texts.key_path, file_name, {extension_directory, Names::separator, name});
    }
    if (match.native_library) {
      install_one_file(platform, texts.key_path, file_name, {extension_directory, Names::x86, name});
    }
  });
  return KIT_INSTALLED;
}

}  // namespace detail

// Installs every extracted .jar of the current directory into the kit's lib\ext
// and every .dll into lib\ext\x86, recording each copy; returns a KitStatus.
// The working texts are released at this one exit whatever the outcome.
template <class Platform>
int install_kit_extensions(Platform& platform, const typename PlatformText<Platform>::type* kit_name,
                           const typename PlatformText<Platform>::type* home_suffix) {
  using Char = typename PlatformText<Platform>::type;
  using View = std::basic_string_view<Char>;
  KitTexts<Char> texts;
  const int status = kit_name == nullptr ? KIT_VERSION_NOT_READ
                                         : detail::install_into_kit<Platform, Char>(
                                               platform, texts, kit_name, home_suffix ? View(home_suffix) : View());
  return status;
}

}  // namespace javaext
