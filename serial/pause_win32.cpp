// Pauses on Windows: a high-resolution waitable timer where there is one,
// else Sleep under a 1 ms timer resolution.
#include <chrono>

#include <windows.h>
// timeapi.h after windows.h: it needs the types windows.h brings.
#include <timeapi.h>

#include "serial/pause.h"

// Older SDK headers lack the flag; Windows before 10 1803 refuses it, and
// PauseMs then falls back to Sleep.
#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace vantri {

void PauseMs(std::uint32_t ms) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    // A high-resolution waitable timer sleeps to within a fraction of a
    // millisecond where Windows offers one (10 1803 and later); elsewhere
    // Sleep with the 1 ms timer resolution of PrecisePauses does.  Either way
    // the loop runs against the monotonic clock, so an early wake sleeps again.
    HANDLE timer = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                          TIMER_ALL_ACCESS);
    for (auto now = Clock::now(); now < deadline; now = Clock::now()) {
        const auto left =
            std::chrono::duration_cast<std::chrono::microseconds>(deadline - now).count();
        if (timer != nullptr) {
            LARGE_INTEGER due;
            due.QuadPart = -static_cast<LONGLONG>(left) * 10;  // relative, in 100 ns units
            if (SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE) &&
                WaitForSingleObject(timer, INFINITE) == WAIT_OBJECT_0) {
                continue;
            }
            CloseHandle(timer);
            timer = nullptr;
        }
        // Sleep whole milliseconds, at least one, so the loop never spins.
        const auto wholeMs = static_cast<DWORD>(left / 1000);
        Sleep(wholeMs > 0 ? wholeMs : 1);
    }
    if (timer != nullptr) {
        CloseHandle(timer);
    }
}

PrecisePauses::PrecisePauses() {
    if (timeBeginPeriod(1) == TIMERR_NOERROR) {
        saved_ = 1;
    }
}

PrecisePauses::~PrecisePauses() {
    if (saved_ == 1) {
        timeEndPeriod(1);
    }
}

}  // namespace vantri
