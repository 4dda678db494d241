// Which extracted names are installed, and where.
#include <gtest/gtest.h>

#include <string_view>

#include "extension_names.h"

using javaext::classify_extracted_name;

namespace {

struct NameCase {
  std::string_view name;
  bool java_archive;
  bool native_library;
};

TEST(ExtensionNames, ClassifiesByLastPointIgnoringAsciiCase) {
  const NameCase cases[] = {
      {"a.jar", true, false},     {"Tools.JAR", true, false},
      {"x.JaR", true, false},     {"Port.Dll", false, true},
      {"lib.dll", false, true},   {"LIB.DLL", false, true},
      {"a.dll.jar", true, false},                               // only the last point counts
      {"a.jar.dll", false, true}, {"a.jar.bak", false, false},  // extension is .bak
      {".x.jar", false, false},                                 // begins with a point
      {".dll", false, false},     {".", false, false},
      {"..", false, false},       {"noextension", false, false},
      {"_SELF", false, false},                           // the stub copy
      {"", false, false},         {"a.", false, false},  // extension "."
      {"a.ja", false, false},     {"a.jarr", false, false},
      {"a.jar ", false, false},  // trailing blank is part of the extension
      {"jar", false, false},      {"a..jar", true, false},
      {"\xC1.jar", true, false},  // code-page bytes in the stem do not matter
  };
  for (const NameCase& c : cases) {
    const javaext::ExtensionMatch match = classify_extracted_name(c.name);
    EXPECT_EQ(match.java_archive, c.java_archive) << c.name;
    EXPECT_EQ(match.native_library, c.native_library) << c.name;
  }
}

TEST(ExtensionNames, OnlyAsciiLettersFoldCase) {
  EXPECT_TRUE(javaext::equals_ignoring_ascii_case(".JAR", ".jar"));
  EXPECT_TRUE(javaext::equals_ignoring_ascii_case("AZaz", "azAZ"));
  // 0xC1 and 0xE1 are upper and lower A-acute in code page 1252: not ASCII, not folded.
  EXPECT_FALSE(javaext::equals_ignoring_ascii_case("\xC1", "\xE1"));
  EXPECT_FALSE(classify_extracted_name("a.j\xC1r").java_archive);
  // Characters next to the letter ranges must not fold into them.
  EXPECT_FALSE(javaext::equals_ignoring_ascii_case("@", "`"));
  EXPECT_FALSE(javaext::equals_ignoring_ascii_case("[", "{"));
  EXPECT_FALSE(javaext::equals_ignoring_ascii_case(".jar", ".jars"));
}

}  // namespace
