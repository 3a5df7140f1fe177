// What to say when the system refuses a user the port: the refusal in the
// system's words and what would let them in.  One file per OS
// (port_access_posix.cpp, port_access_win32.cpp).
#pragma once

#include <string>

namespace vantri {

// "permission denied" on POSIX, "access denied" on Windows.
const char* PortAccessDeniedText();

// One clause without a final full stop.  On POSIX a serial device is opened
// through its group (dialout on Debian) where that group may use it, a
// pseudo-terminal only by the user whose program made it.  On Windows the
// one refusal that means no permission (another holder is "busy") is a
// privilege the port's driver asks for.
std::string PortAccessAdvice(const std::string& device);

}  // namespace vantri
