// Installs the extracted Java archives (.jar) and native libraries (.dll) of the
// current directory into the extension directories of one registered Java kit.
#pragma once

namespace javaext {

// Statuses (KitStatus): 0 home found and the directory scanned; 1
// "CurrentVersion" not read; 2 "JavaHome" not read; 3 the home is a Java 9 or
// later. Nothing is created, copied or recorded for 1, 2 and 3. The kit name
// and suffix are UTF-16, as every text of the Windows side.
int install_java_extensions(const char16_t* kit_name, const char16_t* home_suffix);

}  // namespace javaext
