// The platform layer under the serial link: one small API, one backend per OS
// (platform_posix.cpp over termios and poll(), platform_win32.cpp over the
// Win32 communications API; the port lists in ports_posix.cpp and
// ports_win32.cpp).  Each call mirrors one Win32 call, so that the link
// above reads the same on every platform:
//
//   OpenDevice          CreateFileA (read/write, exclusive, synchronous)
//   GetLineSettings     GetCommState
//   SetLineSettings     SetCommState
//   SetTimeouts         SetCommTimeouts
//   SetQueueSizes       SetupComm
//   Write / Read        WriteFile / ReadFile
//   DrainOutput         FlushFileBuffers (tcdrain on POSIX)
//   ClearErrorAndCount  ClearCommError, giving COMSTAT.cbInQue
//   Close               CloseHandle
//   LastError           GetLastError (errno on POSIX)
//
// The link does what the exchanges use and no more: the line 115200 baud
// 8N1, and the plain COMMTIMEOUTS rules: the total read time-out (a
// constant, no per-byte part) starts with the call, the interval time-out
// starts at the first byte and restarts at each byte, the write time-out is
// multiplier x bytes + constant, and a time-out is not an error but a short
// (or empty) result.  Other settings, and the MAXDWORD forms, are refused
// on every backend (EINVAL, ERROR_INVALID_PARAMETER).  A device that is gone
// (hang-up, unplugged adapter) makes Read and Write fail at once.
//
// Calls return false on failure, like the Win32 calls return zero, and set
// the thread's LastError.  Nothing throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace vantri::port {

// A port handle; InvalidHandle (-1) means none, as INVALID_HANDLE_VALUE.
using Handle = std::intptr_t;
inline constexpr Handle InvalidHandle = -1;

// Win32 codings of the line settings; only no parity and one stop bit are
// supported.
inline constexpr std::uint8_t NoParity = 0, OneStopBit = 0;
inline constexpr std::uint32_t SupportedBaudRate = 115200;

// The line settings of a port, always with 8 data bits.  SetLineSettings
// starts from the port's own record (DCB or termios) and changes only
// these, so flow control and modem-line handling keep the port's values.
struct LineSettings {
    std::uint32_t BaudRate = 0;
    std::uint8_t Parity = NoParity;
    std::uint8_t StopBits = OneStopBit;
};
inline bool IsSupported(const LineSettings& s) {
    return s.BaudRate == SupportedBaudRate && s.Parity == NoParity && s.StopBits == OneStopBit;
}

// COMMTIMEOUTS, in milliseconds; 0 means no time-out of that kind.
struct Timeouts {
    std::uint32_t ReadIntervalTimeout = 0;
    std::uint32_t ReadTotalTimeoutMultiplier = 0;
    std::uint32_t ReadTotalTimeoutConstant = 0;
    std::uint32_t WriteTotalTimeoutMultiplier = 0;
    std::uint32_t WriteTotalTimeoutConstant = 0;
};
inline constexpr std::uint32_t MaxDword = 0xFFFFFFFFu;
inline bool IsSupported(const Timeouts& t) {
    return t.ReadTotalTimeoutMultiplier == 0 && t.ReadIntervalTimeout != MaxDword &&
           t.ReadTotalTimeoutConstant != MaxDword && t.WriteTotalTimeoutMultiplier != MaxDword &&
           t.WriteTotalTimeoutConstant != MaxDword;
}

// Opens a serial device by its platform name for exclusive use; another
// holder of the port (another program or another handle of ours) makes it
// fail.  The input queue starts empty.
Handle OpenDevice(const std::string& name);
// Reads the port's line record; gives its rate.  Fails for a device
// without a line (no serial port).
bool GetLineSettings(Handle h, LineSettings& settings);
bool SetLineSettings(Handle h, const LineSettings& settings);
bool SetTimeouts(Handle h, const Timeouts& timeouts);
bool SetQueueSizes(Handle h, std::uint32_t inQueue, std::uint32_t outQueue);
bool Write(Handle h, const void* data, std::uint32_t count, std::uint32_t& written);
bool Read(Handle h, void* buffer, std::uint32_t count, std::uint32_t& got);
// Waits until every byte written has left the port: a Write returns once
// its bytes are queued, and on a real line they still take their line time.
// Fails when the device is gone.  On POSIX the wait is bounded like a
// write of what is still queued (the write time-outs), so a line held by
// flow control fails it with ETIMEDOUT.  On a pty there is no line time, so
// it returns at once.
bool DrainOutput(Handle h);
// Clears line errors (their bits go to `errors`) and reports the bytes waiting
// in the input queue (0 on failure).  Fails when the device is gone (on POSIX: the line hung
// up or is in error), so it doubles as the check that the line is still there.
bool ClearErrorAndCount(Handle h, std::uint32_t& errors, std::uint32_t& inQueue);
// Asks the device for its modem lines.  A USB adapter answers from the chip
// itself, so a pulled cable fails this at once, while writes to it still
// count as sent for a moment (a fifth of a second seen on ftdi_sio).  Fails
// only for a device that is gone; a port without modem lines (a pty) passes.
bool QueryLine(Handle h);
bool Close(Handle h);
std::uint32_t LastError();

// The platform's device name for "COM" + number, or "" where that number
// names no device: "\\.\COM12" on Windows, "/dev/ttyS<n-1>" for n >= 1 on
// POSIX.
std::string ComPortDevice(std::int16_t number);

// Readable text for an error number of LastError.
std::string ErrorText(std::uint32_t error);

// Error numbers the layers above need to recognise.
bool IsDeviceLostError(std::uint32_t error);    // hang-up, unplugged, no such device
bool IsAccessDeniedError(std::uint32_t error);  // no permission for the device
bool IsBusyError(std::uint32_t error);          // held by another program or handle
bool IsNoSuchDeviceError(std::uint32_t error);  // the device does not exist

struct PortInfo {
    std::string name;         // what to pass as the port: the stable name where there is one
    std::string kernelName;   // the system's own name: "/dev/ttyUSB0", "COM3"
    std::string description;  // driver or adapter, where known
    // USB adapters: vendor and product ids (four hex digits), and the
    // adapter's own maker, product and serial number strings, where it has them.
    std::string vendorId, productId, manufacturer, product, serialNumber;
    bool console = false;  // the system uses the port as its console
};
// The serial ports of this machine, as well as the platform can tell.  On
// Linux the stable name is the /dev/serial/by-id link where udev made one;
// on Windows it is "COMn".
std::vector<PortInfo> ListPorts();
#ifdef _WIN32
// True for "COM" + digits, in any case: a port name as users type it.
bool IsBareComName(const std::string& name);
#else
// The same, for a system whose root is `root`: its sysfs at root/sys and its
// devices at root/dev, names shown as that system would show them.
std::vector<PortInfo> ListPorts(const std::filesystem::path& root);
#endif

}  // namespace vantri::port
