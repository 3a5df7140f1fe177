#include "serial/call_trace.h"

#include <utility>

namespace vantri {
namespace {

PortCallTrace& CurrentTrace() {
    static PortCallTrace trace;
    return trace;
}

}  // namespace

PortCallTrace SetPortCallTrace(PortCallTrace trace) {
    return std::exchange(CurrentTrace(), std::move(trace));
}

void TracePortCall(PortCall call, std::uint32_t amount) {
    if (const PortCallTrace& trace = CurrentTrace()) {
        trace(call, amount);
    }
}

}  // namespace vantri
