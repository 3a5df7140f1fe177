// What the windows and the CLI say when the chosen port does not open: why
// OpenExchangePort failed, from its result and the platform error after it,
// as a short reason ("no such port", "the port is busy, another program
// holds it", "permission denied", "it refused 115200 baud, ...") and what to
// do about it.
#pragma once

#include <cstdint>
#include <string>

#include "serial/settings.h"

namespace vantri {

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
