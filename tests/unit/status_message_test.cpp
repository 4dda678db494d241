// The extractor's texts: messages, the work directory's name and path.
#include "status_message.h"

#include <gtest/gtest.h>

#include <string>

#include "bounded_text.h"
#include "work_directory.h"

namespace {

using namespace extractor;
using common::BoundedText;

std::string message(int32_t status, const char* file = "") {
  char out[MESSAGE_CAPACITY];
  return format_status_message(out, status, file);
}

TEST(StatusMessage, OnlyMinusThreeNamesTheFile) {
  EXPECT_EQ(message(-3, "C:\\T\\KVN.1\\d\\f"), "Extractor could not create temporary file 'C:\\T\\KVN.1\\d\\f'. ");
  EXPECT_EQ(message(-5, "C:\\T\\KVN.1\\f"), "Error: Extractor failed with error=-5");
  EXPECT_EQ(message(7), "Error: Extractor failed with error=7");
  EXPECT_EQ(message(INT32_MIN), "Error: Extractor failed with error=-2147483648");
}

TEST(StatusMessage, LongFileNameIsCutButTheTextStaysClosed) {
  const std::string path(1100, 'p');
  const std::string text = message(-3, path.c_str());
  EXPECT_EQ(text.size(), MESSAGE_CAPACITY - 1);
  EXPECT_EQ(text.substr(text.size() - 3), "'. ");
}

TEST(StatusMessage, FatalStopsPrintSigned32BitValues) {
  char out[MESSAGE_CAPACITY];
  EXPECT_STREQ(format_allocation_error(out, 46883), "Memory Allocation Error 937660");
  EXPECT_STREQ(format_allocation_error(out, 0x7FFFFFFF), "Memory Allocation Error -20");  // 20 x S wraps in 32 bits
  EXPECT_STREQ(format_overflow_error(out, 4096, 4096, 5000), "UnCompressed data will overflow buffer (4096 4096 5000)");
  EXPECT_STREQ(format_overflow_error(out, 0, 1, 0xFFFFFFFFu), "UnCompressed data will overflow buffer (0 1 -1)");
  EXPECT_STREQ(format_directory_error(out, 183), "Error: Extractor failed to create a directory; error=183");
}

TEST(WorkDirectory, NameIsUpperCaseHexWithoutLeadingZeros) {
  char name[16];
  EXPECT_STREQ(format_work_directory_name(name, 0x3C9A1F0B), "KVN.3C9A1F0B");
  EXPECT_STREQ(format_work_directory_name(name, 0xABC), "KVN.ABC");
  EXPECT_STREQ(format_work_directory_name(name, 0), "KVN.0");
  EXPECT_STREQ(format_work_directory_name(name, 0xFFFFFFFF), "KVN.FFFFFFFF");
}

TEST(WorkDirectory, SeparatorOnlyWhenTheTempPathLacksOne) {
  char path[SHORT_PATH_CAPACITY];
  ASSERT_TRUE(join_work_directory_path(path, "C:\\Temp\\", "KVN.1"));
  EXPECT_STREQ(path, "C:\\Temp\\KVN.1");
  ASSERT_TRUE(join_work_directory_path(path, "C:/Temp/", "KVN.1"));
  EXPECT_STREQ(path, "C:/Temp/KVN.1");
  ASSERT_TRUE(join_work_directory_path(path, "C:\\Temp", "KVN.1"));
  EXPECT_STREQ(path, "C:\\Temp\\KVN.1");
}

TEST(WorkDirectory, PathOfExactly260CharactersFitsOneMoreDoesNot) {
  char path[SHORT_PATH_CAPACITY];
  const std::string name = "KVN.ABCDEF12";
  const std::string temp_fits(260 - name.size() - 1, 't');
  EXPECT_TRUE(join_work_directory_path(path, temp_fits.c_str(), name.c_str()));
  EXPECT_EQ(std::string(path).size(), 260u);
  const std::string temp_too_long = temp_fits + "t";
  EXPECT_FALSE(join_work_directory_path(path, temp_too_long.c_str(), name.c_str()));
}

TEST(BoundedText, KeepsWhatFitsAndNeverWritesPastTheBuffer) {
  char buffer[8 + 1];
  buffer[8] = '#';  // canary beyond the span
  BoundedText text(std::span<char>(buffer, 8));
  text.append("1234567");
  EXPECT_TRUE(text.ok());
  text.append("8");
  EXPECT_FALSE(text.ok());
  EXPECT_STREQ(buffer, "1234567");
  EXPECT_EQ(buffer[8], '#');
}

}  // namespace

// The wide message box's texts: the same words, and a path with every character.
TEST(WideStatusMessage, SameWordsAndThePathWhole) {
  char16_t out[MESSAGE_CAPACITY];
  EXPECT_EQ(std::u16string_view(format_status_message(out, -3, u"C:\\Юлия 日本\\KVN.1\\d\\f")),
            u"Extractor could not create temporary file 'C:\\Юлия 日本\\KVN.1\\d\\f'. ");
  EXPECT_EQ(std::u16string_view(format_status_message(out, -123, u"C:\\x")),
            u"Error: Extractor failed with error=-123");
  EXPECT_EQ(std::u16string_view(format_status_message(out, 2, u"")), u"Error: Extractor failed with error=2");
  EXPECT_EQ(std::u16string_view(format_directory_error(out, 183)),
            u"Error: Extractor failed to create a directory; error=183");
  EXPECT_EQ(std::u16string_view(format_enter_directory_error(out, 123)),
            u"Error: Extractor failed to enter its work directory; error=123");
}

TEST(WideStatusMessage, LongPathIsCutInCharactersAndTheTextStaysClosed) {
  const std::u16string path(1100, u'日');
  char16_t out[MESSAGE_CAPACITY];
  const std::u16string_view text = format_status_message(out, -3, path.c_str());
  EXPECT_EQ(text.size(), MESSAGE_CAPACITY - 1);
  EXPECT_EQ(text.substr(text.size() - 3), u"'. ");
}

TEST(WideWorkDirectory, NameAndPathAsInEightBits) {
  char16_t name[16];
  EXPECT_EQ(std::u16string_view(format_work_directory_name(name, 0x3C9A1F0B)), u"KVN.3C9A1F0B");
  char16_t path[SHORT_PATH_CAPACITY];
  ASSERT_TRUE(join_work_directory_path(path, u"C:\\Юлия\\Temp\\", u"KVN.1"));
  EXPECT_EQ(std::u16string_view(path), u"C:\\Юлия\\Temp\\KVN.1");
  const std::u16string temp_fits(260 - 12 - 1, u'日');  // 260 characters with the name
  EXPECT_TRUE(join_work_directory_path(path, temp_fits.c_str(), u"KVN.ABCDEF12"));
  EXPECT_FALSE(join_work_directory_path(path, (temp_fits + u"日").c_str(), u"KVN.ABCDEF12"));
}
