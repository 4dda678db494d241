// The Java version read from a home's release file, which decides whether a kit
// is a Java 9 or later (that a lib\ext would stop) or an older one.
#include <gtest/gtest.h>

#include <string_view>

#include "java_release.h"

namespace {

struct VersionCase {
  std::string_view release;
  int feature;
};

TEST(JavaRelease, FeatureVersionOfTheJavaVersionLine) {
  const VersionCase cases[] = {
      {"JAVA_VERSION=\"9\"\n", 9},         {"JAVA_VERSION=\"9.0.4\"\n", 9},
      {"JAVA_VERSION=\"11\"\n", 11},       {"JAVA_VERSION=\"17.0.15\"\n", 17},
      {"JAVA_VERSION=\"1.8.0_392\"\n", 8}, {"JAVA_VERSION=\"1.7\"\n", 7},
      {"JAVA_VERSION=\"1.9.0\"", 9},  // the old scheme's 9, last line without a line feed
      {"JAVA_VERSION=\"9-ea\"\n", 9},      {"JAVA_VERSION=\"10+46\"\n", 10},
      {"JAVA_VERSION=17.0.15\n", 17},  // unquoted
      {"JAVA_VERSION=1.8.0_392\r\n", 8},   {"JAVA_VERSION=\"25.0.3\"\r\nJAVA_VERSION_DATE=\"2026-04-21\"\r\n", 25},
      {"  JAVA_VERSION=\"21\"\n", 21},  // indented
  };
  for (const VersionCase& c : cases) EXPECT_EQ(javaext::java_feature_version(c.release), c.feature) << c.release;
}

TEST(JavaRelease, TheLineIsFoundAmongTheOthersByItsWholeKey) {
  constexpr std::string_view jdk17 =
      "IMPLEMENTOR=\"Debian\"\n"
      "JAVA_RUNTIME_VERSION=\"17.0.15+6-Debian-1deb12u1\"\n"
      "JAVA_VERSION=\"17.0.15\"\n"
      "JAVA_VERSION_DATE=\"2025-04-15\"\n"
      "MODULES=\"java.base java.compiler\"\n";
  EXPECT_EQ(javaext::java_feature_version(jdk17), 17);
  constexpr std::string_view jdk8 =
      "JAVA_VERSION=\"1.8.0_392\"\n"
      "OS_NAME=\"Windows\"\n"
      "SOURCE=\".:git:4d9f9dc5ec36\"\n";
  EXPECT_EQ(javaext::java_feature_version(jdk8), 8);
  // Only the key itself: neither a longer key nor one inside another line counts.
  EXPECT_EQ(javaext::java_feature_version("JAVA_VERSION_DATE=\"2025\"\nX_JAVA_VERSION=\"17\"\n# JAVA_VERSION=\"17\"\n"),
            0);
}

TEST(JavaRelease, NoVersionWhereTheFileGivesNone) {
  for (std::string_view release : {
           "",                                           // empty or unreadable file
           "IMPLEMENTOR=\"Oracle\"\nOS_ARCH=\"x86\"\n",  // no JAVA_VERSION line
           "JAVA_VERSION=\n",                            // empty value
           "JAVA_VERSION=\"\"\n",
           "JAVA_VERSION=\"17\n",  // quote not closed
           "JAVA_VERSION=17\"\n",  // quote not opened
           "JAVA_VERSION='17'\n",  // single quotes are no version
           "JAVA_VERSION=\"v17\"\n", "JAVA_VERSION=\"17a\"\n", "JAVA_VERSION=\"1.x\"\n",
           "JAVA_VERSION=\"99999\"\n",  // more digits than a version has
           "JAVA_VERSION = \"17\"\n",   // not a shell assignment
       }) {
    EXPECT_EQ(javaext::java_feature_version(release), 0) << release;
  }
}

TEST(JavaRelease, FirstModularJavaIsNine) {
  EXPECT_LT(javaext::java_feature_version("JAVA_VERSION=\"1.8.0_392\""), javaext::FIRST_MODULAR_JAVA);
  EXPECT_EQ(javaext::java_feature_version("JAVA_VERSION=\"9\""), javaext::FIRST_MODULAR_JAVA);
}

}  // namespace
