// vantri-key: reads, writes and verifies a device's key buffer from the
// command line, with the exchanges and settings rules of the window.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/console.h"
#include "cli/help.h"
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
        return Report(ExitUsage, error);
    }
    if (inv->help) {
        std::fputs(HelpText(inv->command).c_str(), stdout);
        return ExitDone;
    }
    if (inv->version) {
        std::fputs(VersionText().c_str(), stdout);
        return ExitDone;
    }
    return RunCommand(*inv);
}
