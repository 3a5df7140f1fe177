// What to tell a user whom the system refused a file or a device: whose it
// is, its mode, and what would let them in.  Shared by the CLI (key files,
// ports) and the windows (ports), so the advice reads the same everywhere.
//
// Each returns one clause without a final full stop, for a message such as
// "cannot read k.bin: permission denied; <advice>.".
#pragma once

#include <filesystem>
#include <string>

namespace vantri {

// A serial device refused with "permission denied": on POSIX a serial
// device is opened through its group (dialout on Debian) where that group
// may use it, a pseudo-terminal only by the user whose program made it.
std::string PortAccessAdvice(const std::string& device);

// A key file refused with "permission denied": whose file it is and its
// mode.  `shown` is the name as the user gave it.
std::string FileAccessAdvice(const std::filesystem::path& file, const std::string& shown);

}  // namespace vantri
