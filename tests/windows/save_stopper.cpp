// A saver for the tests that kill one half-way:
//
//   vantri_save_stopper TARGET STEP
//
// saves 4096 bytes to TARGET and, at STEP ("written" or "named") of the
// save, kills itself: exit code 9.  Exit code 1: the step never came.
#include <windows.h>

#include <string>

#include "image/save_file.h"

int main(int, char** argv) {
    const vantri::SaveStep stop =
        std::string(argv[2]) == "named" ? vantri::SaveStep::Named : vantri::SaveStep::Written;
    vantri::SaveBinFile(argv[1], std::string(4096, '\x5A'), [&](vantri::SaveStep step) {
        if (step == stop) {
            TerminateProcess(GetCurrentProcess(), 9);
        }
    });
    return 1;
}
