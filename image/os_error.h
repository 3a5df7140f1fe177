// Short lower-case reasons for failed file operations, as shown to a user
// after "Could not save ...": "permission denied", "no space left on device".
// Private to the image module.
#pragma once

#include <string>

namespace vantri::detail {

// Reason for a C library or POSIX error number (errno).
std::string ErrnoReason(int err);

// Reason for a Win32 error code (GetLastError); Windows only
// (os_error_win32.cpp).
std::string WindowsErrorReason(unsigned long code);

}  // namespace vantri::detail
