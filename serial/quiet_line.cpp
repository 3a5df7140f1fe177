#include "serial/quiet_line.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <string>

#include "serial/pause.h"
#include "serial/zrkCommModule.h"

namespace vantri {
namespace {

using Clock = std::chrono::steady_clock;

// Between two looks at the input queue: fine enough that the wait ends
// within a few ms of the quiet interval, coarse enough to cost no CPU.
constexpr std::uint32_t PollMs = 5;

}  // namespace

bool ProcessEventsAndCheckCancel(const ExchangeHooks& hooks) {
    if (hooks.processEvents) {
        hooks.processEvents();
    }
    return hooks.cancelled && hooks.cancelled();
}

std::optional<ExchangeStatus> AwaitQuietLine(const ExchangeHooks& hooks, bool stopAtHex,
                                             std::uint32_t& error, std::uint32_t pauseMs,
                                             std::size_t owed) {
    error = 0;
    const auto start = Clock::now();
    auto lastArrival = start;
    std::size_t arrived = 0;
    const auto silence = [&] {
        return std::chrono::milliseconds(arrived < owed ? pauseMs : QuietLineMs);
    };
    for (;;) {
        // The clock before the look: an empty queue then proves the line
        // quiet up to `now`, however long this thread was held up between.
        const auto now = Clock::now();
        const std::int16_t waiting = InQueueCount(&error);
        if (error != 0) {
            return ExchangeStatus::DeviceLost;
        }
        if (waiting > 0) {
            const KeyBytes got = ReadBytes(waiting, &error);
            if (error != 0) {
                return ExchangeStatus::DeviceLost;
            }
            const auto hex = [](unsigned char c) { return std::isxdigit(c) != 0; };
            if (stopAtHex && std::any_of(got.begin(), got.end(), hex)) {
                return ExchangeStatus::Overlong;
            }
            if (!got.empty()) {
                lastArrival = Clock::now();
                arrived += got.size();
            }
        } else if (now - lastArrival >= silence()) {
            return std::nullopt;
        }
        if (now - start >= std::chrono::milliseconds(QuietLineLimitMs)) {
            return ExchangeStatus::NotQuiet;
        }
        if (ProcessEventsAndCheckCancel(hooks)) {
            return ExchangeStatus::Cancelled;
        }
        if (waiting <= 0) {
            PauseMs(PollMs);
        }
    }
}

}  // namespace vantri
