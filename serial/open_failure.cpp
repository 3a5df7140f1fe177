#include "serial/open_failure.h"

#include <filesystem>
#include <system_error>

#include "serial/platform.h"
#include "serial/port_access.h"
#include "serial/port_choices.h"

namespace vantri {

OpenFailure DescribeOpenFailure(const PortSetting& port, std::int32_t result, std::uint32_t error) {
    const std::string because = error != 0 ? " (" + port::ErrorText(error) + ")" : "";
    // OpenComPort's steps 2 to 5: the device opened, but is no serial port
    // as the link needs one.
    static const char* const refused[] = {
        "its line settings cannot be read",
        "it refused 115200 baud, 8 data bits, no parity, 1 stop bit",
        "it refused the read and write time-outs", "it refused the queue sizes"};
    if (result >= 2 && result <= 5) {
        return {refused[result - 2] + because, "is it a serial port?", true};
    }
    // A folder refuses to open as a port for reasons (access denied on
    // Windows) that would otherwise read as a busy or forbidden port.
    std::error_code ec;
    if (!port.numbered && std::filesystem::is_directory(port.device, ec)) {
        return {"it is a folder, not a serial port", "", true};
    }
    if ((port.numbered && port::ComPortDevice(port.number).empty()) ||
        port::IsNoSuchDeviceError(error)) {
        return {"no such port", "", true};
    }
    if (port::IsBusyError(error)) {
        return {"the port is busy, another program holds it", "close that program and try again",
                false};
    }
    if (port::IsAccessDeniedError(error)) {
        const std::string device = port.numbered ? port::ComPortDevice(port.number) : port.device;
        return {PortAccessDeniedText(), PortAccessAdvice(device), false};
    }
    return {error != 0 ? port::ErrorText(error) : "it cannot be opened",
            "check that it is a serial port", true};
}

std::string OpenFailureDetail(const PortSetting& port, std::int32_t result, std::uint32_t error) {
    const OpenFailure failure = DescribeOpenFailure(port, result, error);
    std::string text = PortLabel(port) + ": " + failure.reason;
    if (!failure.advice.empty()) {
        text += "; " + failure.advice;
    }
    return text + ".";
}

}  // namespace vantri
