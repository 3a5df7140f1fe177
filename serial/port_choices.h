// What the windows offer for picking a port, and what they say when the
// chosen port does not open.  Both windows (Qt and Win32) and the CLI take
// these from here, so a technician meets the same names and the same words
// everywhere.
//
// ComportChoices: the Comport box's list, the numbers "1" to "9" (ports
//   COM1 to COM9) followed by the stable names of this machine's ports.
// DescribeOpenFailure: why OpenExchangePort did not open a port, from its
//   result and the platform error after it, as a short reason ("no such
//   port", "the port is busy, another program holds it", "permission
//   denied", "it refused 115200 baud, ...") and what to do about it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "serial/platform.h"
#include "serial/settings.h"

namespace vantri {

std::vector<std::string> ComportChoices(const std::vector<port::PortInfo>& ports);
std::vector<std::string> ComportChoices();  // with this machine's ports

// The port for messages: "/dev/ttyUSB0", or "COM3 (/dev/ttyS2)" where a
// numbered port maps to a device of another name.
std::string PortLabel(const PortSetting& port);

struct OpenFailure {
    std::string reason;      // in the platform's own text encoding where it quotes the system
    std::string advice;      // what to do, "" where only a list of the ports helps
    bool listPorts = false;  // a list of the machine's ports would help
};

OpenFailure DescribeOpenFailure(const PortSetting& port, std::int32_t result, std::uint32_t error);

// "COM3 (/dev/ttyS2): the port is busy, another program holds it; close
// that program and try again." for a box's secondary text.
std::string OpenFailureDetail(const PortSetting& port, std::int32_t result, std::uint32_t error);

}  // namespace vantri
