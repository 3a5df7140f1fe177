// A record of the link's platform calls, in the order they are made.
//
// The write exchange owes the device an order on the wire: one platform
// write per byte, and a pause only once everything written has left the
// port.  Neither shows in the bytes the device receives, so the link reports
// each platform write, output drain and pause to a trace function when one
// is set.  Tests and benchmarks read it; with none set nothing is recorded.
// Only the caller's thread uses the link, so the trace is not locked.
#pragma once

#include <cstdint>
#include <functional>

namespace vantri {

enum class PortCall {
    Write,        // one platform write; `amount` is its byte count
    DrainOutput,  // waited until the output queue had left the port
    Pause,        // a pause of the write exchange; `amount` is its length in ms
};

using PortCallTrace = std::function<void(PortCall call, std::uint32_t amount)>;

// Sets the trace (an empty function: none) and gives back the one before.
PortCallTrace SetPortCallTrace(PortCallTrace trace);

// Reports one call to the trace, if any.
void TracePortCall(PortCall call, std::uint32_t amount);

}  // namespace vantri
