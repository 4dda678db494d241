// The name rules over UTF-16: a name as the file system reads it once its bytes
// are converted from the ANSI code page. The same verdicts as over bytes, and
// superscript port digits, which only a converted name can hold.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "entry_name.h"

namespace {

using payload::NameVerdict;

std::string show(std::u16string_view name) {
  std::string out;
  for (char16_t c : name) out += c < 0x80 ? std::string(1, static_cast<char>(c)) : "<U+" + std::to_string(c) + ">";
  return out;
}

TEST(EntryNamesUtf16, ConvertedNamesThatStayInTheDirectoryPass) {
  for (std::u16string_view name : {u"a.txt", u"Юлия 日本.jar", u"sub\\café.dll", u"5€.txt", u"COM0", u"COM¹0", u"COM½",
                                   u"LPT⁴", u"x..y", u"console.txt", u".hidden", u"_SELF"})
    EXPECT_EQ(payload::check_entry_name(name), NameVerdict::ok) << show(name);
}

TEST(EntryNamesUtf16, ConvertedNamesThatLeaveTheDirectoryOrAreNoFilesAreRefused) {
  const std::pair<std::u16string_view, NameVerdict> cases[] = {
      {u"", NameVerdict::empty},
      {u"Юлия\\", NameVerdict::empty},
      {u"\\Юлия", NameVerdict::absolute},
      {u"/x", NameVerdict::absolute},
      {u"日:x", NameVerdict::colon},
      {u"a\\..\\..\\日本", NameVerdict::parent_component},
      {u"CON", NameVerdict::device_name},
      {u"sub\\nul.日本", NameVerdict::device_name},
      {u"COM¹", NameVerdict::device_name},  // superscript one: a port to Windows
      {u"com².txt", NameVerdict::device_name},
      {u"LPT³ .log", NameVerdict::device_name},
      {u"日本.", NameVerdict::trailing_dot_space},
      {u"日本 ", NameVerdict::trailing_dot_space},
      {u"a?b", NameVerdict::control_character},  // a default character '?' from a failed conversion
      {u"a\x0001"
       u"b",
       NameVerdict::control_character},
      {u"a*", NameVerdict::control_character},
  };
  for (const auto& [name, verdict] : cases) EXPECT_EQ(payload::check_entry_name(name), verdict) << show(name);
}

TEST(EntryNamesUtf16, CodeUnitsAboveAsciiNeverTakeTheRoleOfAsciiCharacters) {
  // Fullwidth solidus, reverse solidus, colon and full stop, and the units whose
  // low byte is '\', ':', '.' or '?': ordinary characters to Windows.
  for (std::u16string_view name :
       {u"a／b", u"a＼b", u"a：b", u"x．", u"a\u015Cb", u"a\u013Ab", u"x\u012E", u"a\u013Fb"})
    EXPECT_EQ(payload::check_entry_name(name), NameVerdict::ok) << show(name);
}

TEST(EntryNamesUtf16, SuperscriptDigitsAreNoPortsAsBytes) {
  // As bytes the rules know no code page: 0xB9 is '¹' in 1252 but '№' in 1251.
  EXPECT_EQ(payload::check_entry_name(std::string_view("COM\xB9")), NameVerdict::ok);
  EXPECT_EQ(payload::check_entry_name(std::u16string_view(u"COM¹")), NameVerdict::device_name);
}

}  // namespace
