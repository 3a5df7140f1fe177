#include "cli/interrupt.h"

#include <csignal>

namespace vantri::cli {
namespace {

volatile std::sig_atomic_t interrupts = 0;

extern "C" void OnInterrupt(int) {
    if (interrupts >= 2) {
        // Third Ctrl-C: the default action, which ends the program.
        std::signal(SIGINT, SIG_DFL);
        std::raise(SIGINT);
        return;
    }
    interrupts = interrupts + 1;
#ifdef _WIN32
    // The C runtime resets the handler before calling it; set it again so
    // the next Ctrl-C comes here too.
    std::signal(SIGINT, OnInterrupt);
#endif
}

}  // namespace

void CatchInterrupt() {
#ifdef _WIN32
    std::signal(SIGINT, OnInterrupt);
#else
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a blocked read or write returns EINTR
    sigaction(SIGINT, &action, nullptr);
#endif
}

bool Interrupted() {
    return interrupts != 0;
}

int InterruptCount() {
    return interrupts;
}

bool WriteAbandoned(bool requestSent) {
    return interrupts >= (requestSent ? 2 : 1);
}

}  // namespace vantri::cli
