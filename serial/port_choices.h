// The names a technician picks and reads a port by, the same in both
// windows (Qt and Win32) and the CLI.
//
// ComportChoices: the Comport box's list, the numbers "1" to "9" (ports
//   COM1 to COM9) followed by the stable names of this machine's ports.
// PortLabel: the port for messages.
#pragma once

#include <string>
#include <vector>

#include "serial/platform.h"
#include "serial/settings.h"

namespace vantri {

std::vector<std::string> ComportChoices(const std::vector<port::PortInfo>& ports);
std::vector<std::string> ComportChoices();  // with this machine's ports

// "/dev/ttyUSB0", or "COM3 (/dev/ttyS2)" where a numbered port maps to a
// device of another name.
std::string PortLabel(const PortSetting& port);

}  // namespace vantri
