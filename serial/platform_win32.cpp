// The platform layer over the Win32 communications API.  Each call is the one
// Win32 call that platform.h names; the handle is opened for synchronous I/O,
// so every call blocks until the driver is done or a time-out ends it.
#include "serial/platform.h"

#include <cstring>
#include <string>

#include <windows.h>

namespace vantri::port {

namespace {

HANDLE Native(Handle h) {
    return reinterpret_cast<HANDLE>(h);
}

// The port's own record, so that whatever is not set keeps its value.
bool PortState(Handle h, DCB& dcb) {
    dcb = DCB{};
    dcb.DCBlength = sizeof dcb;
    return GetCommState(Native(h), &dcb) != 0;
}

}  // namespace

bool IsBareComName(const std::string& name) {
    return name.size() > 3 && _strnicmp(name.c_str(), "COM", 3) == 0 &&
           name.find_first_not_of("0123456789", 3) == std::string::npos;
}

Handle OpenDevice(const std::string& name) {
    if (name.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return InvalidHandle;
    }
    // A bare "COM10" and above is no name Windows opens; the device namespace
    // form reaches every port number, and works for COM1 to COM9 alike.
    const std::string path = IsBareComName(name) ? "\\\\.\\" + name : name;
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return InvalidHandle;
    }
    // Input an earlier user left unread is not ours.  Its output is left
    // alone: on a line that has not sent it yet, such as wine's pty, it may
    // be the tail of our own last write, which the device still needs.
    PurgeComm(h, PURGE_RXCLEAR);
    SetLastError(ERROR_SUCCESS);
    return reinterpret_cast<Handle>(h);
}

bool GetLineSettings(Handle h, LineSettings& settings) {
    DCB dcb;
    if (!PortState(h, dcb)) {
        return false;
    }
    settings.BaudRate = dcb.BaudRate;
    return true;
}

bool SetLineSettings(Handle h, const LineSettings& settings) {
    // Flow control keeps the port's own value.
    DCB dcb;
    if (!IsSupported(settings)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    if (!PortState(h, dcb)) {
        return false;
    }
    dcb.BaudRate = settings.BaudRate;
    dcb.ByteSize = 8;
    dcb.Parity = settings.Parity;
    dcb.StopBits = settings.StopBits;
    return SetCommState(Native(h), &dcb) != 0;
}

bool SetTimeouts(Handle h, const Timeouts& timeouts) {
    if (!IsSupported(timeouts)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    COMMTIMEOUTS t{timeouts.ReadIntervalTimeout, timeouts.ReadTotalTimeoutMultiplier,
                   timeouts.ReadTotalTimeoutConstant, timeouts.WriteTotalTimeoutMultiplier,
                   timeouts.WriteTotalTimeoutConstant};
    return SetCommTimeouts(Native(h), &t) != 0;
}

bool SetQueueSizes(Handle h, std::uint32_t inQueue, std::uint32_t outQueue) {
    return SetupComm(Native(h), inQueue, outQueue) != 0;
}

bool Write(Handle h, const void* data, std::uint32_t count, std::uint32_t& written) {
    DWORD n = 0;
    const bool ok = WriteFile(Native(h), data, count, &n, nullptr) != 0;
    written = n;
    return ok;
}

bool Read(Handle h, void* buffer, std::uint32_t count, std::uint32_t& got) {
    DWORD n = 0;
    const bool ok = ReadFile(Native(h), buffer, count, &n, nullptr) != 0;
    got = n;
    return ok;
}

bool DrainOutput(Handle h) {
    return FlushFileBuffers(Native(h)) != 0;
}

bool ClearErrorAndCount(Handle h, std::uint32_t& errors, std::uint32_t& inQueue) {
    DWORD bits = 0;
    COMSTAT status{};
    const bool ok = ClearCommError(Native(h), &bits, &status) != 0;
    errors = ok ? bits : 0;
    inQueue = ok ? status.cbInQue : 0;
    return ok;
}

bool QueryLine(Handle h) {
    DWORD lines = 0;
    if (GetCommModemStatus(Native(h), &lines) == 0 && IsDeviceLostError(GetLastError())) {
        return false;
    }
    SetLastError(ERROR_SUCCESS);
    return true;
}

bool Close(Handle h) {
    // -1 is also the pseudo-handle of the process itself, which CloseHandle
    // "closes" with success; no port is open, so say so.
    if (h == InvalidHandle) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    return CloseHandle(Native(h)) != 0;
}

std::uint32_t LastError() {
    return GetLastError();
}

std::string ComPortDevice(std::int16_t number) {
    return number < 1 ? "" : "\\\\.\\COM" + std::to_string(number);
}

}  // namespace vantri::port
