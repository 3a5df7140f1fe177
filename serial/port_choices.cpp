#include "serial/port_choices.h"

namespace vantri {

std::vector<std::string> ComportChoices(const std::vector<port::PortInfo>& ports) {
    std::vector<std::string> choices;
    for (int n = 1; n <= 9; ++n) {
        choices.push_back(std::to_string(n));
    }
    for (const port::PortInfo& info : ports) {
        choices.push_back(info.name);
    }
    return choices;
}

std::vector<std::string> ComportChoices() {
    return ComportChoices(port::ListPorts());
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

}  // namespace vantri
