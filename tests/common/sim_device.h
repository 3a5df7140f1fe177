// The simulated device started in-process, the way the tests that drive a
// real port against it need it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "sim/devsim.h"

namespace vantri {

// The simulator serving `buffer` (empty: its own) with `fault` (empty:
// none, else as ParseFault reads it), pacing its answers at `lineRate`
// (0: as fast as it goes).  nullptr with `error` set when it cannot start.
inline std::unique_ptr<sim::Simulator> StartSimDevice(std::string_view fault, std::string buffer,
                                                      std::uint32_t lineRate, std::string& error) {
    sim::Options options;
    options.buffer = std::move(buffer);
    options.lineRate = lineRate;
    if (!fault.empty()) {
        const auto parsed = sim::ParseFault(fault, error);
        if (!parsed) {
            return nullptr;
        }
        options.faults.push_back(*parsed);
    }
    return sim::Simulator::Start(options, error);
}

}  // namespace vantri
