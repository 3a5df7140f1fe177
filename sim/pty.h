// The pseudo-terminal the simulated device lives on, and the symbolic link
// that gives its port side a stable name.
#pragma once

#include <string>

#include "sim/unique_fd.h"

namespace vantri::sim {

struct Pty {
    UniqueFd master;       // the device's side, non-blocking
    UniqueFd slave;        // held open so the master never sees the port side vanish
    std::string portPath;  // the port side, "/dev/pts/N"
};

// Opens a pty pair with the port side in raw mode (8 bits through, no echo,
// no translation).  False with `error` set when the system has no pty to give.
bool OpenPty(Pty& pty, std::string& error);

// Makes `link` a symbolic link to `target`.  An existing symbolic link is
// replaced (atomically); any other file is left alone and refused.
bool MakeLink(const std::string& link, const std::string& target, std::string& error);

// Removes `link` if it is still a symbolic link to `target`, so a link that
// another program has since taken over is left to it.
void RemoveLink(const std::string& link, const std::string& target);

}  // namespace vantri::sim
