// zrkCommModule: the program's one serial port.
//
// The module holds the process-wide handle ComHandle (-1 while no port is
// open) and five operations on it.  OpenComPort opens and configures a port
// and returns the step that failed (a line or time-outs other than the
// link supports, serial/platform.h, are refused at steps 3 and 4):
//
//   0 opened and configured      3 line settings refused
//   1 device cannot be opened     4 time-outs refused
//   2 line settings unreadable    5 queue sizes refused
//
// On 2 to 5 the port stays held until the next OpenComPort or CloseComPort,
// and an OpenComPort while a port is open closes that port first.  The other
// operations use ComHandle as it is; with no port open their platform calls
// simply fail.  Only the caller's thread touches the module.
//
// Byte strings are strings of one char per byte (byte 0 included); what
// is read is KeyBytes, whose memory is wiped when freed, since it may be keys.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "image/key_bytes.h"
#include "serial/platform.h"

namespace vantri {

extern port::Handle ComHandle;

// "COM" + number in decimal, a negative number keeping its sign: the name
// the user sees for a numbered port.
std::string ComPortName(std::int16_t port);

// Opens the port "COM" + `port` (mapped to the platform's device name).
std::int32_t OpenComPort(std::int16_t port, std::int32_t baudRate, std::uint8_t parity,
                         std::uint8_t stopBits, std::uint32_t readIntervalTimeout,
                         std::uint32_t readTotalTimeoutMultiplier,
                         std::uint32_t readTotalTimeoutConstant,
                         std::uint32_t writeTotalTimeoutMultiplier,
                         std::uint32_t writeTotalTimeoutConstant);

// The same for a device given by name ("/dev/ttyUSB0", a simulator's pty).
std::int32_t OpenComPort(const std::string& device, std::int32_t baudRate, std::uint8_t parity,
                         std::uint8_t stopBits, std::uint32_t readIntervalTimeout,
                         std::uint32_t readTotalTimeoutMultiplier,
                         std::uint32_t readTotalTimeoutConstant,
                         std::uint32_t writeTotalTimeoutMultiplier,
                         std::uint32_t writeTotalTimeoutConstant);

// Closes the port, harmless when none is open.  Returns the platform close
// call's success flag (non-zero: closed); ComHandle is -1 afterwards.
std::int32_t CloseComPort();

// Writes `text` in one platform write.  Returns the write's success flag.
// `written` receives the bytes actually written (fewer after a time-out) and
// `error` the platform error number of a failed write (else 0).
std::int32_t SendString(std::string_view text, std::uint32_t* written = nullptr,
                        std::uint32_t* error = nullptr);

// One platform read of up to `count` bytes: what arrived before the
// time-outs ended it, possibly "".  `count` below 1 reads nothing.  A failed
// read returns "" and puts the platform error number in `error` (else 0);
// the caller decides how to tell the user.
KeyBytes ReadBytes(std::int16_t count, std::uint32_t* error = nullptr);

// Bytes waiting in the input queue (0 when the query fails), clamped to
// 32767.  Clears any line error the port has flagged.  A failed query puts
// the platform error number in `error` (else 0): a device that is gone
// fails it, so it is also the check that the line is still there.
std::int16_t InQueueCount(std::uint32_t* error = nullptr);

// Waits until everything sent has left the port (one platform call).
// Returns its success flag; `error` receives the platform error number of a
// failure (else 0), such as a device that went away.
std::int32_t DrainOutput(std::uint32_t* error = nullptr);

// Asks the device for its modem lines (one platform call): fails, with the
// platform error number in `error`, only when the device is gone.  A USB
// adapter whose cable was pulled fails it at once, where its writes still
// succeed for a moment.
std::int32_t QueryLine(std::uint32_t* error = nullptr);

}  // namespace vantri
