// The launcher's text work: the program name in a raw command line, the argument
// tail after it, the executable's directory, and the javaw command line.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "launch_command.h"

namespace {

using namespace std::literals;
namespace launch = launcher;

// A stand-in for the Windows check: the program is named by exactly `self`.
auto named(std::u16string_view self) {
  return [self](std::u16string_view candidate) { return candidate == self; };
}
auto nothing_names_this_program = [](std::u16string_view) { return false; };

std::u16string tail_of(std::u16string_view command_line, std::u16string_view self) {
  return std::u16string(launch::argument_tail(command_line, named(self)));
}

std::u16string java_command_line(std::u16string_view directory, std::u16string_view tail) {
  const auto length = launch::java_command_line_length(directory, tail);
  std::u16string out(length + 2, u'#');  // one canary beyond the NUL
  const auto written = launch::write_java_command_line(std::span(out.data(), length + 1), directory, tail);
  EXPECT_EQ(written, length);
  EXPECT_EQ(out[length], u'\0');
  EXPECT_EQ(out[length + 1], u'#');
  out.resize(length);
  return out;
}

TEST(LauncherArgumentTail, EmptyWithoutArguments) {
  EXPECT_EQ(tail_of(u"C:\\Kit\\Orvel6Launcher.exe", u"C:\\Kit\\Orvel6Launcher.exe"), u"");
  EXPECT_EQ(tail_of(u"\"C:\\My Kit\\Orvel6Launcher.exe\"", u""), u"");
  EXPECT_EQ(tail_of(u"\"C:\\My Kit\\Orvel6Launcher.exe\"   \t ", u""), u"");
  EXPECT_EQ(tail_of(u"", u""), u"");
}

TEST(LauncherArgumentTail, QuotedNameWithBlanksEndsAtItsClosingQuote) {
  EXPECT_EQ(tail_of(u"\"C:\\My Kit\\Orvel6Launcher.exe\" -mode 2", u""), u"-mode 2");
  // Text right after the closing quote is an argument, as for CreateProcess.
  EXPECT_EQ(tail_of(u"\"C:\\My Kit\\Orvel6Launcher.exe\"-x", u""), u"-x");
  // An unclosed quote makes the whole line the name.
  EXPECT_EQ(tail_of(u"\"C:\\My Kit\\Orvel6Launcher.exe -x", u""), u"");
}

TEST(LauncherArgumentTail, BlanksBeforeTheFirstArgumentAreDroppedTheRestIsKept) {
  EXPECT_EQ(tail_of(u"Orvel6Launcher \t  a  \"b c\"\t\\\"d\\\\  ", u"Orvel6Launcher"), u"a  \"b c\"\t\\\"d\\\\  ");
}

TEST(LauncherArgumentTail, KeepsEveryCodeUnitOfTheArguments) {
  const std::u16string args = u"\"\u00e4\u00df \u041e\u0440\u0432\u0435\u043b\" \U0001F600 \"a\"\"b\" c\\\\\"";
  EXPECT_EQ(tail_of(u"\"C:\\Kit\\Orvel6Launcher.exe\" " + args, u""), args);
}

TEST(LauncherArgumentTail, UnquotedNameWithBlanksIsFoundByWhatNamesThisProgram) {
  const std::u16string self = u"C:\\Program Files\\Kit\\Orvel6Launcher.exe";
  EXPECT_EQ(tail_of(self + u" -x y", self), u"-x y");
  EXPECT_EQ(tail_of(self, self), u"");
  EXPECT_EQ(tail_of(self + u"   ", self), u"");
  // The shortest prefix that names the program wins.
  EXPECT_EQ(tail_of(u"C:\\Kit\\a b c", u"C:\\Kit\\a"), u"b c");
  EXPECT_EQ(tail_of(u"C:\\Kit\\a b c", u"C:\\Kit\\a b"), u"c");
}

TEST(LauncherArgumentTail, OffersEachBlankEndedPrefixShortestFirst) {
  std::vector<std::u16string> offered;
  const auto tail = launch::argument_tail(u"a b  c\td "sv, [&](std::u16string_view candidate) {
    offered.emplace_back(candidate);
    return false;
  });
  EXPECT_EQ(offered, (std::vector<std::u16string>{u"a", u"a b", u"a b  c", u"a b  c\td"}));
  // When nothing names the program, its name ends at the first blank.
  EXPECT_EQ(tail, u"b  c\td ");
}

TEST(LauncherArgumentTail, QuotedNameIsNotOfferedToTheCheck) {
  bool asked = false;
  const auto tail = launch::argument_tail(u"\"a b\" c"sv, [&](std::u16string_view) { return asked = true; });
  EXPECT_FALSE(asked);
  EXPECT_EQ(tail, u"c");
  EXPECT_EQ(launch::argument_tail(u"a b"sv, nothing_names_this_program), u"b");
}

TEST(LauncherDirectory, DropsTheFileNameAndItsBackslash) {
  EXPECT_EQ(launch::directory_of(u"C:\\Kit\\Orvel6Launcher.exe"sv), u"C:\\Kit");
  EXPECT_EQ(launch::directory_of(u"C:\\My Kit\\sub\\Orvel6Launcher.exe"sv), u"C:\\My Kit\\sub");
  EXPECT_EQ(launch::directory_of(u"\\\\server\\share\\Orvel6Launcher.exe"sv), u"\\\\server\\share");
}

TEST(LauncherDirectory, DriveRootKeepsItsBackslash) {
  EXPECT_EQ(launch::directory_of(u"C:\\Orvel6Launcher.exe"sv), u"C:\\");
  EXPECT_EQ(launch::directory_of(u"\\\\?\\C:\\Orvel6Launcher.exe"sv), u"\\\\?\\C:\\");
}

TEST(LauncherDirectory, EmptyWithoutBackslash) { EXPECT_EQ(launch::directory_of(u"Orvel6Launcher.exe"sv), u""); }

TEST(LauncherDirectory, LongPathsAreNotCut) {
  std::u16string dir = u"C:";
  while (dir.size() < 1000) dir += u"\\abcdefghijklmnopqrstuvwxyz";
  EXPECT_EQ(launch::directory_of(std::u16string_view(dir + u"\\Orvel6Launcher.exe")), dir);
}

TEST(LauncherJavaCommandLine, QuotesTheArchiveAndAddsOneSpace) {
  EXPECT_EQ(java_command_line(u"C:\\Kit", u"-mode 2"), u"javaw -jar \"C:\\Kit\\Orvel63.jar\" -mode 2");
  EXPECT_EQ(java_command_line(u"C:\\Kit", u""), u"javaw -jar \"C:\\Kit\\Orvel63.jar\" ");
}

TEST(LauncherJavaCommandLine, DriveRootGivesTwoBackslashes) {
  EXPECT_EQ(java_command_line(u"C:\\", u"x"), u"javaw -jar \"C:\\\\Orvel63.jar\" x");
}

TEST(LauncherJavaCommandLine, TakesDirectoryAndTailAsTheyAre) {
  const std::u16string dir = u"D:\\\u00c4 \"odd\"\\";
  const std::u16string tail = u" \"\\\" \U0001F600\t";
  EXPECT_EQ(java_command_line(dir, tail), u"javaw -jar \"" + dir + u"\\Orvel63.jar\" " + tail);
}

TEST(LauncherJavaCommandLine, LengthCountsEveryPiece) {
  EXPECT_EQ(launch::java_command_line_length(u""sv, u""sv),
            std::u16string_view(u"javaw -jar \"\\Orvel63.jar\" ").size());
  EXPECT_EQ(launch::java_command_line_length(u"ab"sv, u"cde"sv), launch::java_command_line_length(u""sv, u""sv) + 5);
}

}  // namespace
