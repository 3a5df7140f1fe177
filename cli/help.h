// The help and version texts of vantri-key.
#pragma once

#include <string>

#include "cli/arguments.h"

namespace vantri::cli {

// The help of one command, or of the whole program for Command::None.
std::string HelpText(Command command);
std::string VersionText();

}  // namespace vantri::cli
