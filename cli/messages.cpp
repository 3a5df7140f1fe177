#include "cli/messages.h"

#include <cstdio>

#ifndef _WIN32
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#endif

#include "cli/utf8.h"
#include "image/hexfileHandle.h"
#include "serial/platform.h"
#include "serial/zrkCommModule.h"

namespace vantri::cli {
namespace {

constexpr const char* kListPorts = "try vantri-key ports to list the serial ports";

// The system's own text for an error, in the UTF-8 of everything else printed.
std::string SystemErrorText(std::uint32_t error) {
    return Utf8FromSystemText(port::ErrorText(error));
}

std::string Characters(const ReadOutcome& outcome) {
    return std::to_string(outcome.response.size()) + " of " + std::to_string(ResponseLength) +
           " characters";
}

// Where in a write the trouble struck, and what it left on the device.
std::string WriteWhere(const WriteOutcome& outcome) {
    if (outcome.position > 0) {
        return "at byte " + std::to_string(outcome.position) + " of " +
               std::to_string(KeyBufferSize);
    }
    if (outcome.bytesSent == 0) {
        return "at the write request";
    }
    return "after " + std::to_string(outcome.bytesSent) + " bytes";
}

std::string WriteAdvice(const WriteOutcome& outcome) {
    return outcome.bytesSent > 0 ? "the device may hold a partly written key buffer; write it again"
                                 : "nothing was written; check the device and write again";
}

#ifndef _WIN32
std::string UserName(uid_t uid) {
    const passwd* user = ::getpwuid(uid);
    return user != nullptr ? user->pw_name : "user " + std::to_string(uid);
}

std::string GroupName(gid_t gid) {
    const group* g = ::getgrgid(gid);
    return g != nullptr ? g->gr_name : "group " + std::to_string(gid);
}

std::string Mode(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// Linux gives pseudo-terminal ends the character-device majors 136 to 143.
bool IsPseudoTerminal(const struct stat& info) {
    return S_ISCHR(info.st_mode) && ::major(info.st_rdev) >= 136 && ::major(info.st_rdev) <= 143;
}

// What to do about a device that refused us: a serial device is opened
// through its group (dialout on Debian) where the group may use it; a
// pseudo-terminal only by the user whose program made it.
std::string PortAccessAdvice(const std::string& device) {
    struct stat info {};
    if (device.empty() || ::stat(device.c_str(), &info) != 0) {
        return "check who may open it (ls -l " + device + ")";
    }
    if (IsPseudoTerminal(info)) {
        return "it is a pseudo-terminal of " + UserName(info.st_uid) +
               ", which only they can open; run as that user";
    }
    const std::string groupName = GroupName(info.st_gid);
    if ((info.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP) && info.st_gid != 0) {
        return "add your user to the " + groupName + " group (sudo usermod -aG " + groupName +
               " $USER), log in again and retry";
    }
    return "only " + UserName(info.st_uid) + " may open it (mode " + Mode(info.st_mode) +
           "); run as " + UserName(info.st_uid) + " or ask an administrator for access";
}

// What to do about a key file that refused us: whose it is and its mode.
std::string FileAccessAdvice(const std::string& name) {
    struct stat info {};
    if (::stat(PathFromUtf8(name).c_str(), &info) != 0) {
        return "a folder on its way does not let you in; ask that folder's owner";
    }
    const std::string owner = UserName(info.st_uid);
    if (info.st_uid == ::geteuid()) {
        return "it is your file, but its mode " + Mode(info.st_mode) +
               " does not let you read it: chmod u+r " + name;
    }
    return "it belongs to " + owner + " (mode " + Mode(info.st_mode) + "); ask " + owner +
           " for a copy, or run as " + owner;
}
#endif

}  // namespace

int Report(const Failure& failure) {
    std::fprintf(stderr, "vantri-key: %s\n", failure.text.c_str());
    std::fflush(stderr);
    return failure.code;
}

int Report(ExitCode code, const std::string& text) {
    return Report(Failure{code, text});
}

std::string PortLabel(const PortSetting& port) {
    if (!port.numbered) {
        return port.device;
    }
    const std::string name = port.Name();
    const std::string device = port::ComPortDevice(port.number);
    if (device.empty() || device.find(name) != std::string::npos) {
        return name;
    }
    return name + " (" + device + ")";
}

Failure PortOpenFailure(const PortSetting& port, std::int32_t result, std::uint32_t error) {
    const std::string label = PortLabel(port);
    const std::string because = error != 0 ? " (" + SystemErrorText(error) + ")" : "";
    if (result != 1) {
        std::string what;
        switch (result) {
            case 2:
                what = "its line settings cannot be read";
                break;
            case 3:
                what = "it refused 115200 baud, 8 data bits, no parity, 1 stop bit";
                break;
            case 4:
                what = "it refused the read and write time-outs";
                break;
            default:
                what = "it refused the queue sizes";
                break;
        }
        return {ExitPortOpen, label + " opened, but " + what + because + "; is it a serial port? " +
                                  kListPorts + "."};
    }
    if (port.numbered && port::ComPortDevice(port.number).empty()) {
        return {ExitPortOpen, "cannot open " + label + ": no such port; " + kListPorts + "."};
    }
    if (port::IsBusyError(error)) {
        return {ExitPortOpen, "cannot open " + label +
                                  ": the port is busy, another program holds it; close that "
                                  "program and try again."};
    }
    if (port::IsAccessDeniedError(error)) {
#ifdef _WIN32
        return {ExitPortOpen, "cannot open " + label +
                                  ": access denied; another program may hold the port, close it "
                                  "and try again."};
#else
        const std::string device = port.numbered ? port::ComPortDevice(port.number) : port.device;
        return {ExitPortOpen,
                "cannot open " + label + ": permission denied; " + PortAccessAdvice(device) + "."};
#endif
    }
    if (port::IsNoSuchDeviceError(error)) {
        return {ExitPortOpen, "cannot open " + label + ": no such port; " + kListPorts + "."};
    }
    return {ExitPortOpen, "cannot open " + label + because +
                              "; check that it is a serial port: " + kListPorts + "."};
}

Failure KeyFileFailure(const std::string& name, const std::string& reason) {
    if (reason == "permission denied") {
#ifdef _WIN32
        return {ExitKeyFile, "cannot read " + name +
                                 ": permission denied; the file's owner or an administrator can "
                                 "give you read access."};
#else
        return {ExitKeyFile,
                "cannot read " + name + ": permission denied; " + FileAccessAdvice(name) + "."};
#endif
    }
    return {ExitKeyFile, "cannot read " + name + ": " + reason + "; check the file name."};
}

Failure ReadFailure(const PortSetting& port, const ReadOutcome& outcome) {
    const std::string label = PortLabel(port);
    switch (outcome.status) {
        case ExchangeStatus::Cancelled:
            return {ExitInterrupted, "interrupted."};
        case ExchangeStatus::Invalid: {
            const std::size_t at = outcome.badPosition;
            const unsigned value = at < outcome.response.size()
                                       ? static_cast<unsigned char>(outcome.response[at])
                                       : 0u;
            char code[8];
            std::snprintf(code, sizeof code, "0x%02X", value);
            return {ExitResponse, "invalid response from " + label + ": the character at offset " +
                                      std::to_string(at) + " (" + code +
                                      ") is not a hex digit; check the cable and read again."};
        }
        case ExchangeStatus::Incomplete:
            break;
        default:
            return {ExitResponse, "the read from " + label + " did not complete."};
    }
    if (outcome.error != 0 && port::IsDeviceLostError(outcome.error)) {
        return {ExitDeviceLost, "device lost on " + label + " after " + Characters(outcome) + " (" +
                                    SystemErrorText(outcome.error) +
                                    "); reconnect it and read again."};
    }
    if (outcome.error != 0) {
        return {ExitResponse, "reading from " + label + " failed after " + Characters(outcome) +
                                  " (" + SystemErrorText(outcome.error) +
                                  "); check the cable and read again."};
    }
    if (outcome.response.empty()) {
        return {ExitResponse,
                "the device on " + label + " did not answer within " +
                    std::to_string(DeviceAnswerTimeoutMs / 1000) +
                    " s; check that it is connected and switched on, and that this is its port."};
    }
    return {ExitResponse, "incomplete response from " + label + ": " + Characters(outcome) +
                              "; check the cable and read again."};
}

Failure WriteFailure(const PortSetting& port, const WriteOutcome& outcome) {
    const std::string label = PortLabel(port);
    const std::string because =
        outcome.error != 0 ? " (" + SystemErrorText(outcome.error) + ")" : "";
    switch (outcome.status) {
        case ExchangeStatus::Cancelled:
            return {ExitInterrupted, "interrupted after " + std::to_string(outcome.bytesSent) +
                                         " of " + std::to_string(KeyBufferSize) + " bytes."};
        case ExchangeStatus::DeviceLost:
            return {ExitDeviceLost, "device lost on " + label + " " + WriteWhere(outcome) +
                                        because + "; reconnect it: " + WriteAdvice(outcome) + "."};
        case ExchangeStatus::WriteFailed:
            if (outcome.error == 0) {
                return {ExitDeviceLost, "a write to " + label + " timed out " +
                                            WriteWhere(outcome) + ": the device takes no data; " +
                                            WriteAdvice(outcome) + "."};
            }
            return {ExitDeviceLost, "a write to " + label + " failed " + WriteWhere(outcome) +
                                        because + "; " + WriteAdvice(outcome) + "."};
        default:
            return {ExitDeviceLost, "the write to " + label + " did not complete."};
    }
}

}  // namespace vantri::cli
