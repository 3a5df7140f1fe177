// The platform layer over the Win32 communications API.  Each call is the one
// Win32 call that platform.h names; the handle is opened for synchronous I/O,
// so every call blocks until the driver is done or a time-out ends it.
#include "serial/platform.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <windows.h>
// setupapi.h needs the types of windows.h.
#include <setupapi.h>

namespace vantri::port {

namespace {

static_assert(sizeof(DCB) <= sizeof(LineSettings::native), "the DCB must fit LineSettings");

HANDLE Native(Handle h) {
    return reinterpret_cast<HANDLE>(h);
}

// True for "COM" + digits, in any case: a name as users type it.
bool IsBareComName(const std::string& name) {
    if (name.size() < 4) {
        return false;
    }
    for (std::size_t i = 0; i < 3; ++i) {
        if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) {
            return false;
        }
    }
    return std::all_of(name.begin() + 3, name.end(),
                       [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; });
}

// The COM number of "COM12", 0 for anything else; orders the port list.
unsigned long ComNumber(const std::string& name) {
    return IsBareComName(name) ? std::strtoul(name.c_str() + 3, nullptr, 10) : 0;
}

// A text property of a device, "" where it has none.
std::string DeviceText(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
    char text[512] = {};
    if (!SetupDiGetDeviceRegistryPropertyA(set, &device, property, nullptr,
                                           reinterpret_cast<BYTE*>(text), sizeof text - 1,
                                           nullptr)) {
        return {};
    }
    return text;  // the first string of a multi-string
}

// The product string the USB device itself reports, as UTF-16 turned into
// the ANSI code page of every other text here.
std::string BusReportedText(HDEVINFO set, SP_DEVINFO_DATA& device) {
    // DEVPKEY_Device_BusReportedDeviceDesc, spelled out for the same reason.
    static const DEVPROPKEY kBusReported = {
        {0x540b947e, 0x8b40, 0x45bc, {0xa8, 0xa2, 0x6a, 0x0b, 0x89, 0x4c, 0xbd, 0xa2}}, 4};
    wchar_t wide[256] = {};
    DEVPROPTYPE type = 0;
    if (!SetupDiGetDevicePropertyW(set, &device, &kBusReported, &type,
                                   reinterpret_cast<BYTE*>(wide), sizeof wide - sizeof(wchar_t),
                                   nullptr, 0)) {
        return {};
    }
    char text[512] = {};
    WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof text - 1, nullptr, nullptr);
    return text;
}

// The four hex digits after `tag` ("VID_") in a hardware id, "" if none.
std::string IdAfter(const std::string& id, const char* tag) {
    const auto at = id.find(tag);
    if (at == std::string::npos || at + std::strlen(tag) + 4 > id.size()) {
        return {};
    }
    std::string digits = id.substr(at + std::strlen(tag), 4);
    for (char& c : digits) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return digits;
}

// The USB serial number in an instance id: "USB\VID_2341&PID_0043\85736323"
// or "FTDIBUS\VID_0403+PID_6001+A50285BIA\0000".  Windows makes up an
// id with '&' in it for a device without a serial number.
std::string SerialFromInstance(const std::string& instance) {
    const auto first = instance.find('\\');
    const auto second = instance.find('\\', first + 1);
    if (first == std::string::npos || second == std::string::npos) {
        return {};
    }
    const std::string middle = instance.substr(first + 1, second - first - 1);
    if (const auto plus = middle.rfind('+'); plus != std::string::npos) {
        return middle.substr(plus + 1);
    }
    std::string last = instance.substr(second + 1);
    if (!instance.starts_with("USB\\") || last.find('&') != std::string::npos) {
        return {};
    }
    return last;
}

// What SetupAPI knows of the present devices of the Ports class, by their
// "PortName", as Device Manager shows them.
std::map<std::string, PortInfo> DeviceDetails() {
    // GUID_DEVCLASS_PORTS, spelled out so that no GUID-defining header games
    // are needed.
    static const GUID kPortsClass = {
        0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
    std::map<std::string, PortInfo> details;
    HDEVINFO set = SetupDiGetClassDevsA(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) {
        return details;
    }
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE) {
            continue;
        }
        char port[64] = {};
        DWORD portSize = sizeof port - 1;
        DWORD type = 0;
        const bool havePort =
            RegQueryValueExA(key, "PortName", nullptr, &type, reinterpret_cast<BYTE*>(port),
                             &portSize) == ERROR_SUCCESS &&
            type == REG_SZ;
        RegCloseKey(key);
        if (!havePort) {
            continue;
        }
        PortInfo info;
        info.description = DeviceText(set, device, SPDRP_FRIENDLYNAME);
        const std::string hardware = DeviceText(set, device, SPDRP_HARDWAREID);
        info.vendorId = IdAfter(hardware, "VID_");
        info.productId = IdAfter(hardware, "PID_");
        if (!info.vendorId.empty()) {
            info.manufacturer = DeviceText(set, device, SPDRP_MFG);
            info.product = BusReportedText(set, device);
            char instance[512] = {};
            if (SetupDiGetDeviceInstanceIdA(set, &device, instance, sizeof instance - 1, nullptr)) {
                info.serialNumber = SerialFromInstance(instance);
            }
        }
        details[port] = info;
    }
    SetupDiDestroyDeviceInfoList(set);
    return details;
}

// The serial ports the drivers have announced: value "\Device\Serial0" =
// "COM1" under SERIALCOMM.  The value name tells the driver's kind.
std::vector<PortInfo> RegisteredPorts() {
    std::vector<PortInfo> ports;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
        return ports;
    }
    for (DWORD i = 0;; ++i) {
        char valueName[256] = {};
        DWORD nameSize = sizeof valueName;
        char data[256] = {};
        DWORD dataSize = sizeof data - 1;
        DWORD type = 0;
        const LONG rc = RegEnumValueA(key, i, valueName, &nameSize, nullptr, &type,
                                      reinterpret_cast<BYTE*>(data), &dataSize);
        if (rc == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (rc == ERROR_SUCCESS && type == REG_SZ && data[0] != '\0') {
            PortInfo info;
            info.name = data;
            info.description = valueName;
            ports.push_back(info);
        }
    }
    RegCloseKey(key);
    return ports;
}

// Fallback where SERIALCOMM is missing: the COM names of the DOS device
// namespace, with their targets.
std::vector<PortInfo> DosDevicePorts() {
    std::vector<PortInfo> ports;
    std::vector<char> all(64 * 1024);
    const DWORD length = QueryDosDeviceA(nullptr, all.data(), static_cast<DWORD>(all.size()));
    if (length == 0) {
        return ports;
    }
    for (const char* p = all.data(); p < all.data() + length && *p != '\0';
         p += std::strlen(p) + 1) {
        const std::string name = p;
        if (!IsBareComName(name)) {
            continue;
        }
        char target[512] = {};
        const bool known = QueryDosDeviceA(name.c_str(), target, sizeof target) != 0;
        PortInfo info;
        info.name = name;
        info.description = known ? target : "";
        ports.push_back(info);
    }
    return ports;
}

}  // namespace

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
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(Native(h), &dcb)) {
        return false;
    }
    settings.BaudRate = dcb.BaudRate;
    settings.ByteSize = dcb.ByteSize;
    settings.Parity = dcb.Parity;
    settings.StopBits = dcb.StopBits;
    std::memcpy(settings.native, &dcb, sizeof dcb);
    return true;
}

bool SetLineSettings(Handle h, const LineSettings& settings) {
    DCB dcb{};
    std::memcpy(&dcb, settings.native, sizeof dcb);
    // Only a record that GetLineSettings filled carries the port's own flow
    // control; a blank one would switch it off unasked.
    if (dcb.DCBlength != sizeof dcb) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    dcb.BaudRate = settings.BaudRate;
    dcb.ByteSize = settings.ByteSize;
    dcb.Parity = settings.Parity;
    dcb.StopBits = settings.StopBits;
    return SetCommState(Native(h), &dcb) != 0;
}

bool SetTimeouts(Handle h, const Timeouts& timeouts) {
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = timeouts.ReadIntervalTimeout;
    t.ReadTotalTimeoutMultiplier = timeouts.ReadTotalTimeoutMultiplier;
    t.ReadTotalTimeoutConstant = timeouts.ReadTotalTimeoutConstant;
    t.WriteTotalTimeoutMultiplier = timeouts.WriteTotalTimeoutMultiplier;
    t.WriteTotalTimeoutConstant = timeouts.WriteTotalTimeoutConstant;
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
    if (number < 1) {
        return "";
    }
    return "\\\\.\\COM" + std::to_string(number);
}

std::string ErrorText(std::uint32_t error) {
    char text[512] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, error, 0, text, sizeof text, nullptr);
    std::string message(text, length);
    // The system's texts end in ".\r\n"; callers put them inside sentences.
    while (!message.empty() && (std::isspace(static_cast<unsigned char>(message.back())) != 0 ||
                                message.back() == '.')) {
        message.pop_back();
    }
    if (message.empty()) {
        return "error " + std::to_string(error);
    }
    return message;
}

bool IsDeviceLostError(std::uint32_t error) {
    switch (error) {
        case ERROR_OPERATION_ABORTED:     // the driver cancelled the I/O of a vanished port
        case ERROR_BAD_COMMAND:           // USB adapters unplugged under an open handle
        case ERROR_GEN_FAILURE:           // likewise
        case ERROR_DEVICE_REMOVED:        // likewise
        case ERROR_DEVICE_NOT_CONNECTED:  // likewise
        case ERROR_NOT_READY:             // the line behind the port hung up
        case ERROR_DEV_NOT_EXIST:         // the device is no longer available
            return true;
        default:
            return false;
    }
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

std::vector<PortInfo> ListPorts() {
    std::vector<PortInfo> ports = RegisteredPorts();
    if (ports.empty()) {
        ports = DosDevicePorts();
    }
    const std::map<std::string, PortInfo> details = DeviceDetails();
    for (PortInfo& port : ports) {
        const auto found = details.find(port.name);
        if (found != details.end()) {
            const PortInfo registered = port;
            port = found->second;
            port.name = registered.name;
            if (port.description.empty()) {
                port.description = registered.description;
            }
        }
        // "COMn" is both the name to use and the system's own.
        port.kernelName = port.name;
    }
    std::sort(ports.begin(), ports.end(), [](const PortInfo& a, const PortInfo& b) {
        const unsigned long na = ComNumber(a.name);
        const unsigned long nb = ComNumber(b.name);
        return na != nb ? na < nb : a.name < b.name;
    });
    ports.erase(std::unique(ports.begin(), ports.end(),
                            [](const PortInfo& a, const PortInfo& b) { return a.name == b.name; }),
                ports.end());
    return ports;
}

}  // namespace vantri::port
