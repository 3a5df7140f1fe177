// The serial ports of a POSIX system, from its sysfs and /dev: the stable
// /dev/serial/by-id name where udev made one, the kernel's name, the USB
// identity of an adapter and the console's mark.
#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <tuple>

#include "serial/platform.h"

namespace vantri::port {

namespace {

namespace fs = std::filesystem;

std::string ReadLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

// "ttyS2" before "ttyS10": the name, then its trailing number.
bool NaturalLess(const std::string& a, const std::string& b) {
    const auto key = [](const std::string& s) {
        const std::size_t i = s.find_last_not_of("0123456789") + 1;
        const std::size_t digits = std::min(s.find_first_not_of('0', i), s.size());
        return std::tuple(s.substr(0, i), s.size() - digits, s.substr(digits), s);
    };
    return key(a) < key(b);
}

// A tty with hardware behind it.  A ttyS node exists for every possible
// UART; only those with a chip (type other than PORT_UNKNOWN, 0) count.
bool IsPort(const fs::path& tty) {
    std::error_code ec;
    if (!fs::exists(tty / "device", ec)) {
        return false;
    }
    const std::string type = ReadLine(tty / "type");
    return !tty.filename().string().starts_with("ttyS") || (!type.empty() && type != "0");
}

// The USB identity of the adapter behind the port, else the driver.
void Describe(const fs::path& sys, const std::string& name, PortInfo& info) {
    std::error_code ec;
    fs::path dir = fs::canonical(sys / "class/tty" / name / "device", ec);
    std::string driver;
    for (int level = 0; !ec && level < 5 && dir.has_relative_path() && dir != sys; ++level) {
        if (!ReadLine(dir / "idVendor").empty()) {
            const std::pair<std::string PortInfo::*, const char*> files[] = {
                {&PortInfo::vendorId, "idVendor"},
                {&PortInfo::productId, "idProduct"},
                {&PortInfo::manufacturer, "manufacturer"},
                {&PortInfo::product, "product"},
                {&PortInfo::serialNumber, "serial"}};
            for (const auto& [field, file] : files) {
                info.*field = ReadLine(dir / file);
            }
            break;
        }
        std::error_code linkError;
        const fs::path link = fs::read_symlink(dir / "driver", linkError);
        if ((driver.empty() || driver == "port") && !linkError) {
            driver = link.filename().string();
        }
        dir = dir.parent_path();
    }
    if (!info.product.empty()) {
        info.description =
            info.manufacturer.empty() ? info.product : info.manufacturer + " " + info.product;
    } else if (driver != "port") {
        info.description = driver;
    }
    // A ttyS port also answers to its number form, COM<n+1>.
    unsigned index = 0;
    const char* end = name.data() + name.size();
    if (name.size() > 4 && name.starts_with("ttyS") &&
        std::from_chars(name.data() + 4, end, index).ptr == end && index < 32767) {
        const std::string com = "COM" + std::to_string(index + 1);
        info.description = info.description.empty() ? com : info.description + " (" + com + ")";
    }
}

}  // namespace

// One system's view of its serial ports, read from its sysfs and /dev.
std::vector<PortInfo> ListPorts(const std::filesystem::path& root) {
    const fs::path sys = root / "sys";
    std::error_code ec;
    // kernel name -> the by-id link that udev made for it
    std::map<std::string, std::string> stable;
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(root / "dev/serial/by-id", ec)) {
        std::error_code linkError;
        const std::string name = fs::canonical(entry.path(), linkError).filename().string();
        if (!linkError) {
            // The link as the system itself names it; the same choice on every run.
            const std::string link = root == root.root_path()
                                         ? entry.path().string()
                                         : "/" + entry.path().lexically_relative(root).string();
            auto& kept = stable.emplace(name, link).first->second;
            kept = std::min(kept, link);
            names.insert(name);
        }
    }
    for (const auto& entry : fs::directory_iterator(sys / "class/tty", ec)) {
        if (IsPort(entry.path())) {
            names.insert(entry.path().filename().string());
        }
    }
    std::vector<std::string> sorted(names.begin(), names.end());
    std::sort(sorted.begin(), sorted.end(), NaturalLess);

    // The ttys the kernel writes its console to ("ttyS0 tty0").
    std::set<std::string> consoles;
    std::istringstream active(ReadLine(sys / "class/tty/console/active"));
    for (std::string name; active >> name;) {
        consoles.insert(name);
    }
    std::vector<PortInfo> ports;
    for (const auto& name : sorted) {
        std::error_code missing;
        if (!fs::exists(root / "dev" / name, missing)) {
            continue;
        }
        PortInfo info;
        info.kernelName = "/dev/" + name;
        const auto link = stable.find(name);
        info.name = link != stable.end() ? link->second : info.kernelName;
        info.console = consoles.count(name) != 0;
        Describe(sys, name, info);
        ports.push_back(std::move(info));
    }
    return ports;
}

std::vector<PortInfo> ListPorts() {
    return ListPorts("/");
}

}  // namespace vantri::port
