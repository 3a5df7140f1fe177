// What Win32 error codes mean to the link: their text, and which of them
// say the device is gone, refused, busy or not there.
#include <windows.h>

#include <algorithm>
#include <iterator>
#include <string>

#include "serial/platform.h"

namespace vantri::port {

std::string ErrorText(std::uint32_t error) {
    char text[512] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, error, 0, text, sizeof text, nullptr);
    std::string message(text, length);
    // The system's texts end in ".\r\n"; callers put them inside sentences.
    message.erase(message.find_last_not_of(" \t\n\v\f\r.") + 1);
    return message.empty() ? "error " + std::to_string(error) : message;
}

bool IsDeviceLostError(std::uint32_t error) {
    constexpr DWORD lost[] = {
        ERROR_OPERATION_ABORTED,     // the driver cancelled the I/O of a vanished port
        ERROR_BAD_COMMAND,           // USB adapters unplugged under an open handle
        ERROR_GEN_FAILURE,           // likewise
        ERROR_DEVICE_REMOVED,        // likewise
        ERROR_DEVICE_NOT_CONNECTED,  // likewise
        ERROR_NOT_READY,             // the line behind the port hung up
        ERROR_DEV_NOT_EXIST,         // the device is no longer available
    };
    return std::find(std::begin(lost), std::end(lost), error) != std::end(lost);
}

// Windows answers an open of a port that another handle holds with
// ERROR_ACCESS_DENIED, and serial ports carry no per-user permissions in
// practice, so that error means busy here, never "no permission".
bool IsAccessDeniedError(std::uint32_t error) {
    return error == ERROR_PRIVILEGE_NOT_HELD;
}

bool IsBusyError(std::uint32_t error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_BUSY;
}

bool IsNoSuchDeviceError(std::uint32_t error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
           error == ERROR_INVALID_NAME;
}

}  // namespace vantri::port
