#include "cli/help.h"

#include "cli/console.h"

namespace vantri::cli {
namespace {

constexpr const char* kQuietHelp =
    "  --json            print one JSON object on standard output instead of the\n"
    "                    summary line: command, result, port, file, bytes, seconds,\n"
    "                    exit, and on failure the message\n"
    "  --quiet, -q       print errors only: no progress bar, no summary line\n"
    "  --help, -h        show this help\n";

constexpr const char* kExitCodes =
    "Exit codes:\n"
    "  0    done\n"
    "  2    usage error or unusable setting\n"
    "  3    the port cannot be opened\n"
    "  4    key buffer file missing, unreadable or not 4096 bytes\n"
    "  5    device response incomplete or invalid\n"
    "  6    device lost, or a write to it failed\n"
    "  7    output file cannot be written (an existing file is left untouched)\n"
    "  8    verify found differences\n"
    "  130  interrupted (Ctrl-C)\n";

constexpr const char* kLine =
    "The line runs at 115200 baud, 8 data bits, no parity, 1 stop bit.  A device\n"
    "that does not answer within 2 s ends a read.  The progress bar is drawn on\n"
    "standard error only when it is a terminal.\n";

}  // namespace

std::string HelpText(Command command) {
    std::string text;
    switch (command) {
        case Command::Read:
            text =
                "Usage: vantri-key read --port PORT [--out FILE|-] [--json]\n"
                "\n"
                "Reads the device's 4096-byte key buffer and saves it in FILE (default\n"
                "Ram.Bin), replacing FILE in one step: a failed save leaves an existing\n"
                "FILE as it was, and an interrupted read saves nothing.\n"
                "\n"
                "Options:\n";
            text += kPortHelp;
            text +=
                "  --out FILE        the file to save, used as given (default Ram.Bin)\n"
                "  --out -           the 4096 raw bytes to standard output (refused on a\n"
                "                    terminal); the summary line goes to standard error\n";
            text += kQuietHelp;
            break;
        case Command::Write:
            text =
                "Usage: vantri-key write --port PORT [--blocksize N] [--delay MS] [--no-verify]\n"
                "                        [--json] FILE\n"
                "\n"
                "Sends FILE, which must hold exactly 4096 bytes, to the device: the write\n"
                "request 0x06, then the bytes in blocks of N with a pause of MS\n"
                "milliseconds after each block.  FILE is checked before the port is opened.\n"
                "Then reads the buffer back and compares it, as verify does.  The first\n"
                "Ctrl-C lets a started write finish (the device would otherwise wait for the\n"
                "rest of it); a second abandons it.\n"
                "\n"
                "Options:\n";
            text += kPortHelp;
            text +=
                "  --blocksize N     bytes per block, 1 to 32767 (default 16)\n"
                "  --delay MS        pause after each block in ms, 0 to 2147483647 (default 10)\n"
                "  --no-verify       do not read the buffer back (--verify, the default, does)\n";
            text += kQuietHelp;
            break;
        case Command::Verify:
            text =
                "Usage: vantri-key verify --port PORT [--json] FILE\n"
                "\n"
                "Reads the device's key buffer and compares it with FILE (4096 bytes).\n"
                "Names the first differing offset and how many bytes differ.\n"
                "\n"
                "Options:\n";
            text += kPortHelp;
            text += kQuietHelp;
            break;
        case Command::Ports:
            text =
                "Usage: vantri-key ports [--json]\n"
                "\n"
                "Lists the serial ports of this machine, one a line: the name to use\n"
                "(on Linux the stable /dev/serial/by-id name where there is one), the\n"
                "kernel's name, and for USB adapters vendor:product id, maker, product\n"
                "and serial number.  The system's console port is marked.\n"
                "\n"
                "Options:\n"
                "  --json            the same as a JSON array\n"
                "  --help, -h        show this help\n";
            return text;
        case Command::None:
            text =
                "Usage: vantri-key COMMAND [OPTIONS]\n"
                "\n"
                "Moves a 4096-byte key buffer between a file and a device on a serial port.\n"
                "\n"
                "Commands:\n"
                "  read   --port PORT [--out FILE|-]\n"
                "         reads the device's key buffer into FILE (default Ram.Bin)\n"
                "  write  --port PORT [--blocksize N] [--delay MS] [--no-verify] FILE\n"
                "         sends FILE to the device (defaults: blocksize 16, delay 10 ms)\n"
                "  verify --port PORT FILE\n"
                "         reads the device's key buffer and compares it with FILE\n"
                "  ports  lists the serial ports of this machine\n"
                "\n"
                "Options:\n"
                "  --port, -p PORT   the serial port; VANTRI_PORT in the environment is\n"
                "                    the default\n"
                "  --json            one JSON object (ports: an array) on standard output\n"
                "  --quiet, -q       print errors only\n"
                "  --help, -h        show help (vantri-key COMMAND --help for a command)\n"
                "  --version         show the version\n";
            break;
    }
    text += "\n";
    text += kLine;
    text += "\n";
    text += kExitCodes;
    return text;
}

std::string VersionText() {
    return std::string("vantri-key ") + VANTRI_VERSION + "\n";
}

}  // namespace vantri::cli
