#include "serial/pause.h"

#include <chrono>

#ifdef _WIN32
#include <windows.h>
// timeapi.h after windows.h: it needs the types windows.h brings.
#include <timeapi.h>
// Older SDK headers lack the flag; Windows before 10 1803 refuses it, and
// PauseMs then falls back to Sleep.
#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif
#else
#include <cerrno>
#include <ctime>
#ifdef __linux__
#include <sys/prctl.h>
#endif
#endif

namespace vantri {

#ifdef _WIN32

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

#else

void PauseMs(std::uint32_t ms) {
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += static_cast<time_t>(ms / 1000);
    deadline.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    // An absolute deadline: a signal that interrupts the sleep does not
    // stretch the pause when it is resumed.
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

PrecisePauses::PrecisePauses() {
#ifdef __linux__
    // The default slack of 50 us is fine for one pause but adds up over the
    // 257 pauses of a write; 1 ns is the minimum the kernel takes.
    const int old = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    if (old >= 0 && prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0) == 0) {
        saved_ = old;
    }
#endif
}

PrecisePauses::~PrecisePauses() {
#ifdef __linux__
    if (saved_ >= 0) {
        prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(saved_), 0, 0, 0);
    }
#endif
}

#endif

}  // namespace vantri
