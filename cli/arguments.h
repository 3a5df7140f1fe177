// The command line of vantri-key, taken apart.
//
//   vantri-key read   --port PORT [--out FILE|-] [--json]
//   vantri-key write  --port PORT [--blocksize N] [--delay MS] [--no-verify] [--json] FILE
//   vantri-key verify --port PORT [--json] FILE
//   vantri-key ports  [--json]
//   vantri-key --help | --version      (each command takes --help too)
//
// Options may come before or after the command, as "--name VALUE" or
// "--name=VALUE"; "-p PORT" is short for "--port PORT", and the environment
// variable VANTRI_PORT gives the port when the line names none.  "--"
// ends the options.  Only the shape of the line is
// checked here; the values are checked by the settings rules when a command
// runs, so the CLI and the window refuse the same texts.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "form/defaults.h"

namespace vantri::cli {

// In the order of the command tables (cli/arguments.cpp, cli/help.cpp).
enum class Command { None, Read, Write, Verify, Ports };

struct Invocation {
    Command command = Command::None;
    bool help = false;
    bool version = false;
    bool quiet = false;
    bool json = false;   // one JSON object (ports: array) on standard output
    bool verify = true;  // write: read the buffer back and compare (--no-verify: not)
    std::optional<std::string> port;
    std::string out = DefaultKeyFileName;  // the window's defaults (form/defaults.h)
    std::string blocksize = DefaultBlocksize;
    std::string delay = DefaultDelay;
    std::string file;  // the key buffer file of write and verify
};

// nullopt with `error` set (one sentence, for the user) when the line does
// not fit any command.  A line asking for help or the version is always
// accepted, whatever else it holds.
// `defaultPort` (VANTRI_PORT) is the port when the line gives none.
std::optional<Invocation> ParseArguments(const std::vector<std::string>& args, std::string& error,
                                         const char* defaultPort = nullptr);

const char* CommandName(Command command);

// Runs the command the line asks for to its end and gives the exit code
// (cli/messages.h); the port, when one was opened, is closed on every path
// (cli/commands.cpp).
int RunCommand(const Invocation& inv);

// The help of one command, or of the whole program for Command::None
// (cli/help.cpp), and the version line.
std::string HelpText(Command command);
std::string VersionText();

}  // namespace vantri::cli
