// The commands of vantri-key.  RunCommand runs the one the line asks for to its end and gives the
// exit code (cli/messages.h); the port, when one was opened, is closed on every path.
#pragma once

#include "cli/arguments.h"

namespace vantri::cli {

int RunCommand(const Invocation& inv);

}  // namespace vantri::cli
