#include "cli/interrupt.h"

#include <csignal>

#include "cli/console.h"

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
    ArmInterrupt(OnInterrupt);  // so the next Ctrl-C comes here too
}

}  // namespace

void CatchInterrupt() {
    ArmInterrupt(OnInterrupt);
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
