// Linux: no core dump, no access to the process's memory by its peers.
#include <sys/prctl.h>

#include "image/process_hardening.h"

namespace vantri {

void HardenProcess() {
    // A non-dumpable process is dumped by no core pattern, file or pipe.
    static_cast<void>(::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0));
}

}  // namespace vantri
