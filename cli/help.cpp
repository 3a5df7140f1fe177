// The help texts: each command's usage, then its options around the port's
// (kPortHelp, as this system names ports) and the ones all commands share,
// then the line settings and the exit codes.
#include "cli/arguments.h"
#include "cli/console.h"

namespace vantri::cli {
namespace {

// By Command: what comes before the port's option, and the options after it.
constexpr const char* kUsage[][2] = {
    {R"(Usage: vantri-key COMMAND [OPTIONS]

Moves a 4096-byte key buffer between a file and a device on a serial port.

Commands:
  read   --port PORT [--out FILE|-]
         reads the device's key buffer into FILE (default Ram.Bin)
  write  --port PORT [--blocksize N] [--delay MS] [--no-verify] FILE
         sends FILE to the device (defaults: blocksize 16, delay 10 ms)
  verify --port PORT FILE
         reads the device's key buffer and compares it with FILE
  ports  lists the serial ports of this machine

Options:
  --port, -p PORT   the serial port; VANTRI_PORT in the environment is
                    the default
  --json            one JSON object (ports: an array) on standard output
  --quiet, -q       print errors only
  --help, -h        show help (vantri-key COMMAND --help for a command)
  --version         show the version
)",
     nullptr},
    {R"(Usage: vantri-key read --port PORT [--out FILE|-] [--json]

Reads the device's 4096-byte key buffer and saves it in FILE (default
Ram.Bin), replacing FILE in one step: a failed save leaves an existing
FILE as it was, and an interrupted read saves nothing.

Options:
)",
     R"(  --out FILE        the file to save, used as given (default Ram.Bin)
  --out -           the 4096 raw bytes to standard output (refused on a
                    terminal); the summary line goes to standard error
)"},
    {R"(Usage: vantri-key write --port PORT [--blocksize N] [--delay MS] [--no-verify]
                        [--json] FILE

Sends FILE, which must hold exactly 4096 bytes, to the device: the write
request 0x06, then the bytes in blocks of N with a pause of MS
milliseconds after each block.  FILE is checked before the port is opened.
Then reads the buffer back and compares it, as verify does.  The first
Ctrl-C lets a started write finish (the device would otherwise wait for the
rest of it); a second abandons it.

Options:
)",
     R"(  --blocksize N     bytes per block, 1 to 32767 (default 16)
  --delay MS        pause after each block in ms, 0 to 2147483647 (default 10)
  --no-verify       do not read the buffer back (--verify, the default, does)
)"},
    {R"(Usage: vantri-key verify --port PORT [--json] FILE

Reads the device's key buffer and compares it with FILE (4096 bytes).
Names the first differing offset and how many bytes differ.

Options:
)",
     ""},
    {R"(Usage: vantri-key ports [--json]

Lists the serial ports of this machine, one a line: the name to use
(on Linux the stable /dev/serial/by-id name where there is one), the
kernel's name, and for USB adapters vendor:product id, maker, product
and serial number.  The system's console port is marked.

Options:
  --json            the same as a JSON array
  --help, -h        show this help
)",
     nullptr},
};

constexpr const char* kShared =
    R"(  --json            print one JSON object on standard output instead of the
                    summary line: command, result, port, file, bytes, seconds,
                    exit, and on failure the message
  --quiet, -q       print errors only: no progress bar, no summary line
  --help, -h        show this help
)";

constexpr const char* kTrailer = R"(
The line runs at 115200 baud, 8 data bits, no parity, 1 stop bit.  A device
that does not answer within 2 s ends a read.  The progress bar is drawn on
standard error only when it is a terminal.

Exit codes:
  0    done
  2    usage error or unusable setting
  3    the port cannot be opened
  4    key buffer file missing, unreadable or not 4096 bytes
  5    device response incomplete or invalid
  6    device lost, or a write to it failed
  7    output file cannot be written (an existing file is left untouched)
  8    verify found differences
  130  interrupted (Ctrl-C)
)";

}  // namespace

std::string HelpText(Command command) {
    const auto& [usage, options] = kUsage[static_cast<int>(command)];
    return std::string(usage) + (options ? std::string(kPortHelp) + options + kShared : "") +
           (command == Command::Ports ? "" : kTrailer);
}

std::string VersionText() {
    return std::string("vantri-key ") + VANTRI_VERSION + "\n";
}

}  // namespace vantri::cli
