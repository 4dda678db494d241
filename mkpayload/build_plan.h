// From the command line's inputs to the installer's entries, with everything
// checked that can be checked before a byte is read: names and commands in the
// end user's code page, the extractor's name rules and path limits, sizes, two
// entries for one file. Entries in folders get the command entries that create
// the folders, placed before the first entry of each.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "command_line.h"
#include "installer_builder.h"

namespace mkpayload {

std::optional<std::vector<InputEntry>> plan_entries(const CommandLine& line, std::string& error);

// The command that creates `folders` (outermost first) below the work
// directory, harmless for a folder that exists already.
std::string folder_command(const std::vector<std::string>& folders);

}  // namespace mkpayload
