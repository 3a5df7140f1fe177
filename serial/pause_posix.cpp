// Pauses on POSIX: an absolute monotonic deadline, the timer slack at its
// minimum on Linux.
#include <cerrno>
#include <ctime>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include "serial/pause.h"

namespace vantri {

void PauseMs(std::uint32_t ms) {
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
    deadline.tv_sec += static_cast<time_t>(ms / 1000 + deadline.tv_nsec / 1000000000L);
    deadline.tv_nsec %= 1000000000L;
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

}  // namespace vantri
