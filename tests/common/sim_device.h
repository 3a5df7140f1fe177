// The simulated device started in-process, the way the tests that drive a
// real port against it need it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sim/devsim.h"

namespace vantri {

// The simulator with `options` and `faults` (each as ParseFault reads it;
// "" is none).  nullptr with `error` set when it cannot start.
inline std::unique_ptr<sim::Simulator> StartSimDevice(const std::vector<std::string>& faults,
                                                      sim::Options options, std::string& error) {
    for (const std::string& fault : faults) {
        if (fault.empty()) {
            continue;
        }
        const auto parsed = sim::ParseFault(fault, error);
        if (!parsed) {
            return nullptr;
        }
        options.faults.push_back(*parsed);
    }
    return sim::Simulator::Start(options, error);
}

// The simulator serving `buffer` (empty: its own) with `fault` (empty:
// none), pacing its answers at `lineRate` (0: as fast as it goes).
inline std::unique_ptr<sim::Simulator> StartSimDevice(std::string_view fault, std::string buffer,
                                                      std::uint32_t lineRate, std::string& error) {
    sim::Options options;
    options.buffer = std::move(buffer);
    options.lineRate = lineRate;
    return StartSimDevice({std::string(fault)}, options, error);
}

}  // namespace vantri
