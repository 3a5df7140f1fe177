// The commands of vantri-key.  Each runs to its end and gives the exit code
// (cli/messages.h); the port, when one was opened, is closed on every path.
#pragma once

#include "cli/arguments.h"

namespace vantri::cli {

int RunRead(const Invocation& inv);
int RunWrite(const Invocation& inv);
int RunVerify(const Invocation& inv);
int RunPorts(const Invocation& inv);

}  // namespace vantri::cli
