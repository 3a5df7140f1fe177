// Wait() on Linux: ppoll, because the line rate needs finer steps than
// poll's milliseconds (a byte at 115200 baud takes 87 microseconds).
#include <poll.h>

#include <algorithm>

#include "sim/device.h"

namespace vantri::sim {

int Wait(pollfd* fds, nfds_t count, std::optional<Clock::duration> timeout) {
    if (!timeout)
        return ::ppoll(fds, count, nullptr, nullptr);
    const auto ns = std::max<std::int64_t>(0, std::chrono::nanoseconds(*timeout).count());
    const timespec ts{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    return ::ppoll(fds, count, &ts, nullptr);
}

}  // namespace vantri::sim
