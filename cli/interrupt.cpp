#include "cli/interrupt.h"

#include <csignal>

namespace vantri::cli {
namespace {

volatile std::sig_atomic_t interrupted = 0;

extern "C" void OnInterrupt(int) {
    if (interrupted != 0) {
        // Second Ctrl-C: the default action, which ends the program.
        std::signal(SIGINT, SIG_DFL);
        std::raise(SIGINT);
        return;
    }
    interrupted = 1;
#ifdef _WIN32
    // The C runtime resets the handler before calling it; set it again so
    // the second Ctrl-C comes here too and ends the program.
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
    return interrupted != 0;
}

}  // namespace vantri::cli
