// Reasons for Win32 error codes.
#include <windows.h>

#include "image/os_error.h"

namespace vantri::detail {

std::string WindowsErrorReason(unsigned long code) {
    // The codes a file save or load meets in practice; the system's own texts
    // are long, localised and end in a full stop.
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
            return "no such file or directory";
        case ERROR_ACCESS_DENIED:
            return "permission denied";
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return "file in use by another program";
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return "no space left on device";
        case ERROR_WRITE_PROTECT:
            return "read-only file system";
        case ERROR_NOT_READY:
            return "device not ready";
        case ERROR_FILENAME_EXCED_RANGE:
            return "file name too long";
        case ERROR_INVALID_NAME:
            return "invalid file name";
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return "out of memory";
        // Names such as NUL, CON or COM1 are devices in every folder.
        case ERROR_BAD_DEV_TYPE:
        case ERROR_INVALID_HANDLE:
            return "it is a device name, not a file; choose another name";
        default:
            return "system error " + std::to_string(code);
    }
}

}  // namespace vantri::detail
