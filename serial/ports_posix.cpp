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
    auto split = [](const std::string& s) {
        std::size_t i = s.size();
        while (i > 0 && s[i - 1] >= '0' && s[i - 1] <= '9') {
            --i;
        }
        unsigned long long number = 0;
        for (std::size_t j = i; j < s.size() && j < i + 18; ++j) {
            number = number * 10 + static_cast<unsigned>(s[j] - '0');
        }
        return std::make_pair(s.substr(0, i), number);
    };
    auto ka = split(a), kb = split(b);
    return ka != kb ? ka < kb : a < b;
}

// One system's view of its serial ports, read from its sysfs and /dev.
class PortScan {
  public:
    explicit PortScan(fs::path root) : root_(std::move(root)), sys_(root_ / "sys") {}

    std::vector<PortInfo> Ports() const {
        std::error_code ec;
        // kernel name -> the by-id link that udev made for it
        std::map<std::string, std::string> stable;
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(root_ / "dev/serial/by-id", ec)) {
            std::error_code linkError;
            const fs::path target = fs::canonical(entry.path(), linkError);
            if (!linkError) {
                const std::string name = target.filename().string();
                const std::string link = Shown(entry.path());
                auto [it, fresh] = stable.emplace(name, link);
                if (!fresh && link < it->second) {
                    it->second = link;  // the same choice on every run
                }
                names.insert(name);
            }
        }
        for (const auto& entry : fs::directory_iterator(sys_ / "class/tty", ec)) {
            const std::string name = entry.path().filename().string();
            if (IsPort(name)) {
                names.insert(name);
            }
        }
        std::vector<std::string> sorted(names.begin(), names.end());
        std::sort(sorted.begin(), sorted.end(), NaturalLess);

        const std::set<std::string> consoles = Consoles();
        std::vector<PortInfo> ports;
        for (const auto& name : sorted) {
            std::error_code missing;
            if (!fs::exists(root_ / "dev" / name, missing)) {
                continue;
            }
            PortInfo info;
            info.kernelName = "/dev/" + name;
            const auto link = stable.find(name);
            info.name = link != stable.end() ? link->second : info.kernelName;
            info.console = consoles.count(name) != 0;
            Describe(name, info);
            ports.push_back(std::move(info));
        }
        return ports;
    }

  private:
    // A path inside the tree as the system itself names it.
    std::string Shown(const fs::path& path) const {
        if (root_ == root_.root_path()) {
            return path.string();
        }
        return (fs::path("/") / path.lexically_relative(root_)).string();
    }

    // A tty with hardware behind it.  A ttyS node exists for every possible
    // UART; only those with a chip (type other than PORT_UNKNOWN, 0) count.
    bool IsPort(const std::string& name) const {
        std::error_code ec;
        if (!fs::exists(sys_ / "class/tty" / name / "device", ec)) {
            return false;
        }
        if (name.starts_with("ttyS")) {
            const std::string type = ReadLine(sys_ / "class/tty" / name / "type");
            return !type.empty() && type != "0";
        }
        return true;
    }

    // The ttys the kernel writes its console to ("ttyS0 tty0").
    std::set<std::string> Consoles() const {
        std::set<std::string> names;
        std::istringstream active(ReadLine(sys_ / "class/tty/console/active"));
        for (std::string name; active >> name;) {
            names.insert(name);
        }
        return names;
    }

    // The USB identity of the adapter behind the port, else the driver.
    void Describe(const std::string& name, PortInfo& info) const {
        std::error_code ec;
        fs::path dir = fs::canonical(sys_ / "class/tty" / name / "device", ec);
        std::string driver;
        for (int level = 0; !ec && level < 5 && dir.has_relative_path() && dir != sys_; ++level) {
            if (!ReadLine(dir / "idVendor").empty()) {
                info.vendorId = ReadLine(dir / "idVendor");
                info.productId = ReadLine(dir / "idProduct");
                info.manufacturer = ReadLine(dir / "manufacturer");
                info.product = ReadLine(dir / "product");
                info.serialNumber = ReadLine(dir / "serial");
                break;
            }
            if (driver.empty() || driver == "port") {
                std::error_code linkError;
                const fs::path link = fs::read_symlink(dir / "driver", linkError);
                if (!linkError) {
                    driver = link.filename().string();
                }
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
        const char* digits = name.data() + 4;
        const char* end = name.data() + name.size();
        if (name.starts_with("ttyS") && digits != end &&
            std::from_chars(digits, end, index).ptr == end && index < 32767) {
            const std::string com = "COM" + std::to_string(index + 1);
            info.description = info.description.empty() ? com : info.description + " (" + com + ")";
        }
    }

    fs::path root_;
    fs::path sys_;
};

}  // namespace

std::vector<PortInfo> ListPorts(const std::filesystem::path& root) {
    return PortScan(root).Ports();
}

std::vector<PortInfo> ListPorts() {
    return ListPorts("/");
}

}  // namespace vantri::port
