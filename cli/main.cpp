// vantri-key: reads, writes and verifies a device's key buffer from the
// command line, with the exchanges and settings rules of the window.
#include <cstdio>
#include <cstdlib>

#include "cli/arguments.h"
#include "cli/console.h"
#include "cli/messages.h"
#include "image/process_hardening.h"

int main(int argc, char** argv) {
    vantri::HardenProcess();  // before any key buffer is read
    using namespace vantri::cli;
    const Utf8Console console;
    const std::vector<std::string> args = Utf8Arguments(argc, argv);
    std::string error;
    const auto inv = ParseArguments(args, error, std::getenv("VANTRI_PORT"));
    if (!inv) {
        return Report({ExitUsage, error});
    }
    if (inv->help || inv->version) {
        std::fputs((inv->help ? HelpText(inv->command) : VersionText()).c_str(), stdout);
        return ExitDone;
    }
    return RunCommand(*inv);
}
