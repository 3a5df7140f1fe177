// The serial ports of a Windows machine: the COM names the drivers have
// announced (SERIALCOMM, else the DOS device names), with what SetupAPI
// knows of each, as Device Manager shows them.
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <windows.h>
// setupapi.h needs the types of windows.h.
#include <setupapi.h>

#include "serial/platform.h"

namespace vantri::port {

namespace {

// A text property of a device, "" where it has none.
std::string DeviceText(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
    char text[512] = {};
    const bool ok = SetupDiGetDeviceRegistryPropertyA(
        set, &device, property, nullptr, reinterpret_cast<BYTE*>(text), sizeof text - 1, nullptr);
    return ok ? text : "";  // the first string of a multi-string
}

// The product string the USB device itself reports, as UTF-16 turned into
// the ANSI code page of every other text here.
std::string BusReportedText(HDEVINFO set, SP_DEVINFO_DATA& device) {
    // DEVPKEY_Device_BusReportedDeviceDesc, spelled out so that no
    // property-key header (devpkey.h and its initguid games) is needed.
    static const DEVPROPKEY kBusReported = {
        {0x540b947e, 0x8b40, 0x45bc, {0xa8, 0xa2, 0x6a, 0x0b, 0x89, 0x4c, 0xbd, 0xa2}}, 4};
    wchar_t wide[256] = {};
    DEVPROPTYPE type = 0;
    char text[512] = {};
    if (SetupDiGetDevicePropertyW(set, &device, &kBusReported, &type, reinterpret_cast<BYTE*>(wide),
                                  sizeof wide - sizeof(wchar_t), nullptr, 0)) {
        WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof text - 1, nullptr, nullptr);
    }
    return text;
}

// The four hex digits after `tag` ("VID_") in a hardware id, "" if none.
std::string IdAfter(const std::string& id, const std::string& tag) {
    const auto at = id.find(tag);
    if (at == std::string::npos || at + tag.size() + 4 > id.size()) {
        return {};
    }
    std::string digits = id.substr(at + tag.size(), 4);
    std::transform(digits.begin(), digits.end(), digits.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
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
    const std::string last = instance.substr(second + 1);
    return instance.starts_with("USB\\") && last.find('&') == std::string::npos ? last : "";
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
        char port[64] = {};
        DWORD portSize = sizeof port - 1, type = 0;
        if (key == INVALID_HANDLE_VALUE) {
            continue;
        }
        const LONG rc = RegQueryValueExA(key, "PortName", nullptr, &type,
                                         reinterpret_cast<BYTE*>(port), &portSize);
        RegCloseKey(key);
        if (rc != ERROR_SUCCESS || type != REG_SZ) {
            continue;
        }
        PortInfo& info = details[port];
        info.description = DeviceText(set, device, SPDRP_FRIENDLYNAME);
        const std::string hardware = DeviceText(set, device, SPDRP_HARDWAREID);
        info.vendorId = IdAfter(hardware, "VID_");
        info.productId = IdAfter(hardware, "PID_");
        char instance[512] = {};
        if (!info.vendorId.empty()) {
            info.manufacturer = DeviceText(set, device, SPDRP_MFG);
            info.product = BusReportedText(set, device);
            if (SetupDiGetDeviceInstanceIdA(set, &device, instance, sizeof instance - 1, nullptr)) {
                info.serialNumber = SerialFromInstance(instance);
            }
        }
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
        char valueName[256] = {}, data[256] = {};
        DWORD nameSize = sizeof valueName, dataSize = sizeof data - 1, type = 0;
        const LONG rc = RegEnumValueA(key, i, valueName, &nameSize, nullptr, &type,
                                      reinterpret_cast<BYTE*>(data), &dataSize);
        if (rc == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (rc == ERROR_SUCCESS && type == REG_SZ && data[0] != '\0') {
            ports.push_back({.name = data, .description = valueName});
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
    for (const char* p = all.data(); p < all.data() + length && *p != '\0';
         p += std::strlen(p) + 1) {
        char target[512] = {};
        if (IsBareComName(p)) {
            const bool known = QueryDosDeviceA(p, target, sizeof target) != 0;
            ports.push_back({.name = p, .description = known ? target : ""});
        }
    }
    return ports;
}

}  // namespace

std::vector<PortInfo> ListPorts() {
    std::vector<PortInfo> ports = RegisteredPorts();
    if (ports.empty()) {
        ports = DosDevicePorts();
    }
    const std::map<std::string, PortInfo> details = DeviceDetails();
    for (PortInfo& port : ports) {
        if (const auto found = details.find(port.name); found != details.end()) {
            const PortInfo registered = std::exchange(port, found->second);
            port.name = registered.name;
            if (port.description.empty()) {
                port.description = registered.description;
            }
        }
        // "COMn" is both the name to use and the system's own.
        port.kernelName = port.name;
    }
    // COM2 before COM10: by number, then by name.
    const auto order = [](const PortInfo& p) {
        return std::pair(
            IsBareComName(p.name) ? std::strtoul(p.name.c_str() + 3, nullptr, 10) : 0ul, p.name);
    };
    std::sort(ports.begin(), ports.end(),
              [&](const PortInfo& a, const PortInfo& b) { return order(a) < order(b); });
    ports.erase(std::unique(ports.begin(), ports.end(),
                            [](const PortInfo& a, const PortInfo& b) { return a.name == b.name; }),
                ports.end());
    return ports;
}

}  // namespace vantri::port
