// What POSIX error numbers mean to the link: their text, and which of them
// say the device is gone, refused, busy or not there.
#include <cerrno>
#include <cstring>
#include <string>

#include "serial/platform.h"

namespace vantri::port {

namespace {

// strerror_r comes in a GNU flavour (returns the text) and an XSI one (fills
// the buffer); these take whichever this C library has.
[[maybe_unused]] std::string StrerrorResult(const char* text, const char*, std::uint32_t) {
    return text;
}
[[maybe_unused]] std::string StrerrorResult(int rc, const char* buffer, std::uint32_t error) {
    return rc == 0 ? std::string(buffer) : "error " + std::to_string(error);
}

}  // namespace

std::string ErrorText(std::uint32_t error) {
    char buffer[256] = {};
    return StrerrorResult(::strerror_r(static_cast<int>(error), buffer, sizeof buffer), buffer,
                          error);
}

bool IsDeviceLostError(std::uint32_t error) {
    // EPROTO: a USB transfer to an adapter that is no longer there.
    return error == EIO || error == ENXIO || error == ENODEV || error == EPIPE || error == EPROTO;
}

bool IsAccessDeniedError(std::uint32_t error) {
    return error == EACCES || error == EPERM;
}

bool IsBusyError(std::uint32_t error) {
    return error == EBUSY || error == EWOULDBLOCK;  // flock says EWOULDBLOCK
}

bool IsNoSuchDeviceError(std::uint32_t error) {
    // At open, ENXIO and ENODEV mean no device answers to the name.
    return error == ENOENT || error == ENXIO || error == ENODEV;
}

}  // namespace vantri::port
