#include "serial/port_choices.h"

namespace vantri {

std::vector<std::string> ComportChoices(const std::vector<port::PortInfo>& ports) {
    std::vector<std::string> choices{"1", "2", "3", "4", "5", "6", "7", "8", "9"};
    for (const port::PortInfo& info : ports) {
        choices.push_back(info.name);
    }
    return choices;
}

std::vector<std::string> ComportChoices() {
    return ComportChoices(port::ListPorts());
}

std::string PortLabel(const PortSetting& port) {
    const std::string name = port.Name();
    const std::string device = port.numbered ? port::ComPortDevice(port.number) : "";
    return device.empty() || device.find(name) != std::string::npos ? name
                                                                    : name + " (" + device + ")";
}

}  // namespace vantri
