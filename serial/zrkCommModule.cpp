// zrkCommModule: the program's one serial port, one platform call per step.
#include "serial/zrkCommModule.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace vantri {

port::Handle ComHandle = port::InvalidHandle;

namespace {

// The queue sizes the driver is asked for: a whole read response fits the
// input queue.
constexpr std::uint32_t InputQueueSize = 8192;
constexpr std::uint32_t OutputQueueSize = 1024;

// A platform call's success flag as 1 or 0; `error`, if asked for, gets
// the platform error number of a failure, else 0.
std::int32_t Outcome(bool ok, std::uint32_t* error) {
    if (error != nullptr) {
        *error = ok ? 0 : port::LastError();
    }
    return ok ? 1 : 0;
}

}  // namespace

std::string ComPortName(std::int16_t port) {
    return "COM" + std::to_string(port);
}

std::int32_t OpenComPort(std::int16_t port, std::int32_t baudRate, std::uint8_t parity,
                         std::uint8_t stopBits, std::uint32_t readIntervalTimeout,
                         std::uint32_t readTotalTimeoutMultiplier,
                         std::uint32_t readTotalTimeoutConstant,
                         std::uint32_t writeTotalTimeoutMultiplier,
                         std::uint32_t writeTotalTimeoutConstant) {
    // A number that names no device maps to "", which no device answers to.
    return OpenComPort(port::ComPortDevice(port), baudRate, parity, stopBits, readIntervalTimeout,
                       readTotalTimeoutMultiplier, readTotalTimeoutConstant,
                       writeTotalTimeoutMultiplier, writeTotalTimeoutConstant);
}

std::int32_t OpenComPort(const std::string& device, std::int32_t baudRate, std::uint8_t parity,
                         std::uint8_t stopBits, std::uint32_t readIntervalTimeout,
                         std::uint32_t readTotalTimeoutMultiplier,
                         std::uint32_t readTotalTimeoutConstant,
                         std::uint32_t writeTotalTimeoutMultiplier,
                         std::uint32_t writeTotalTimeoutConstant) {
    if (ComHandle != port::InvalidHandle) {
        CloseComPort();
    }
    // Stored whatever it is: on failure it is the invalid handle.
    ComHandle = port::OpenDevice(device);
    if (ComHandle == port::InvalidHandle) {
        return 1;
    }
    // From here on a failure keeps the port held; the next OpenComPort or
    // CloseComPort releases it.
    port::LineSettings line;
    if (!port::GetLineSettings(ComHandle, line)) {
        return 2;
    }
    line = {static_cast<std::uint32_t>(baudRate), parity, stopBits};
    if (!port::SetLineSettings(ComHandle, line)) {
        return 3;
    }
    if (!port::SetTimeouts(
            ComHandle, {readIntervalTimeout, readTotalTimeoutMultiplier, readTotalTimeoutConstant,
                        writeTotalTimeoutMultiplier, writeTotalTimeoutConstant})) {
        return 4;
    }
    if (!port::SetQueueSizes(ComHandle, InputQueueSize, OutputQueueSize)) {
        return 5;
    }
    return 0;
}

std::int32_t CloseComPort() {
    // Closing -1 fails harmlessly; the handle is released either way.
    return port::Close(std::exchange(ComHandle, port::InvalidHandle)) ? 1 : 0;
}

std::int32_t SendString(std::string_view text, std::uint32_t* written, std::uint32_t* error) {
    std::uint32_t sent = 0;
    // Nothing to send is no write at all, and so no failure either.
    const auto count = static_cast<std::uint32_t>(
        std::min<std::size_t>(text.size(), std::numeric_limits<std::uint32_t>::max()));
    const bool ok = text.empty() || port::Write(ComHandle, text.data(), count, sent);
    if (written != nullptr) {
        *written = sent;
    }
    return Outcome(ok, error);
}

KeyBytes ReadBytes(std::int16_t count, std::uint32_t* error) {
    KeyBytes bytes(static_cast<std::size_t>(std::max<std::int16_t>(count, 0)), '\0');
    std::uint32_t got = 0;
    const bool ok =
        count < 1 || port::Read(ComHandle, bytes.data(), static_cast<std::uint32_t>(count), got);
    Outcome(ok, error);
    bytes.resize(ok ? got : 0);
    return bytes;
}

std::int16_t InQueueCount(std::uint32_t* error) {
    std::uint32_t errors = 0, inQueue = 0;
    Outcome(port::ClearErrorAndCount(ComHandle, errors, inQueue), error);
    return static_cast<std::int16_t>(std::min<std::uint32_t>(inQueue, 32767));
}

std::int32_t DrainOutput(std::uint32_t* error) {
    return Outcome(port::DrainOutput(ComHandle), error);
}

std::int32_t QueryLine(std::uint32_t* error) {
    return Outcome(port::QueryLine(ComHandle), error);
}

}  // namespace vantri
