// Installs the extracted Java archives (.jar) and native libraries (.dll) of the
// current directory into the extension directories of one registered Java kit.
#pragma once

namespace javaext {

// Statuses: 0 home found and the directory scanned; 1 "CurrentVersion" not read;
// 2 "JavaHome" not read. Nothing is created, copied or recorded for 1 and 2.
int install_java_extensions(const char* kit_name, const char* home_suffix);

}  // namespace javaext
