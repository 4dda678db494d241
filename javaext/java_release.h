// The Java version that a Java home's "release" file names. Every Java runtime
// since 9 (and most of 8) carries this file of shell assignments, one per line,
// among them JAVA_VERSION="17.0.15" or JAVA_VERSION="1.8.0_392".
#pragma once

#include <string_view>

namespace javaext {

// Java 9 and later refuse to start when their home holds lib\ext.
inline constexpr int FIRST_MODULAR_JAVA = 9;

// The feature version of the first JAVA_VERSION line of `release_text`: the
// number before the first "." ("17.0.15" is 17), or after "1." for the old
// scheme ("1.8.0_392" is 8, "1.7" is 7). The value may stand in double quotes.
// 0 when there is no such line or its value does not begin with a version.
int java_feature_version(std::string_view release_text);

}  // namespace javaext
