// Which entry names may become files below the work directory.
#pragma once

#include <string_view>

namespace payload {

enum class NameVerdict {
  ok,
  empty,               // "" or a name that is only separators
  absolute,            // begins with "\" or "/" (root of the drive, or a UNC path)
  colon,               // a drive letter, or an alternate data stream ("a:b")
  parent_component,    // a ".." component would leave the work directory
  device_name,         // CON, PRN, AUX, NUL, COM1-9, LPT1-9, with or without an extension
  trailing_dot_space,  // Windows strips trailing dots and spaces, so the file would get another name
  control_character,   // bytes below 0x20, or one of < > " | ? * that Windows refuses anyway
};

// Judges an entry name (the text before its NUL) as the payload holds it. Names
// with a directory part below the work directory ("sub\file") are fine: the file
// is created only when the subdirectory already exists.
NameVerdict check_entry_name(std::string_view name);

// Judges the same name once more as the file system reads it: its bytes
// converted from the ANSI code page to UTF-16. The rules are the same, read over
// UTF-16 code units, so that no conversion can turn a name that passed as bytes
// into one that leaves the work directory (a character that becomes '?', '\' or
// ':'). Windows also takes COM and LPT followed by a superscript digit (¹ ² ³,
// bytes of code page 1252) for devices, so those count as device names here.
NameVerdict check_entry_name(std::u16string_view name);

// A short reason for a refused name, for builder and tool messages.
std::string_view describe(NameVerdict verdict);

}  // namespace payload
