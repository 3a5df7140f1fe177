// Reasons for Win32 error codes.
#include <windows.h>

#include "image/os_error.h"

namespace vantri::detail {

std::string WindowsErrorReason(unsigned long code) {
    // The codes a file save or load meets in practice; the system's own texts
    // are long, localised and end in a full stop.
    static constexpr struct {
        unsigned long code;
        const char* reason;
    } kReasons[] = {
        {ERROR_FILE_NOT_FOUND, "no such file or directory"},
        {ERROR_PATH_NOT_FOUND, "no such file or directory"},
        {ERROR_INVALID_DRIVE, "no such file or directory"},
        {ERROR_BAD_NETPATH, "no such file or directory"},
        {ERROR_ACCESS_DENIED, "permission denied"},
        {ERROR_SHARING_VIOLATION, "file in use by another program"},
        {ERROR_LOCK_VIOLATION, "file in use by another program"},
        {ERROR_DISK_FULL, "no space left on device"},
        {ERROR_HANDLE_DISK_FULL, "no space left on device"},
        {ERROR_WRITE_PROTECT, "read-only file system"},
        {ERROR_NOT_READY, "device not ready"},
        {ERROR_FILENAME_EXCED_RANGE, "file name too long"},
        {ERROR_INVALID_NAME, "invalid file name"},
        {ERROR_NOT_ENOUGH_MEMORY, "out of memory"},
        {ERROR_OUTOFMEMORY, "out of memory"},
        // Names such as NUL, CON or COM1 are devices in every folder.
        {ERROR_BAD_DEV_TYPE, "it is a device name, not a file; choose another name"},
        {ERROR_INVALID_HANDLE, "it is a device name, not a file; choose another name"},
    };
    for (const auto& known : kReasons) {
        if (known.code == code) {
            return known.reason;
        }
    }
    return "system error " + std::to_string(code);
}

}  // namespace vantri::detail
