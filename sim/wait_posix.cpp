// Wait() where there is no ppoll: poll, its timeout rounded up to whole
// milliseconds, so it never wakes before a deadline.
#include <poll.h>

#include <algorithm>

#include "sim/device.h"

namespace vantri::sim {

int Wait(pollfd* fds, nfds_t count, std::optional<Clock::duration> timeout) {
    if (!timeout)
        return ::poll(fds, count, -1);
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(*timeout).count();
    return ::poll(fds, count, static_cast<int>(std::clamp<std::int64_t>(ms, 0, 1 << 30)));
}

}  // namespace vantri::sim
