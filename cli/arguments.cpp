#include "cli/arguments.h"

#include <algorithm>
#include <set>
#include <string_view>

namespace vantri::cli {
namespace {

// By Command after None: each command's name and the options it accepts.
struct CommandInfo {
    const char* name;
    std::string_view options;  // " name name ... "
};
constexpr CommandInfo kCommands[] = {
    {"read", " port out json quiet "},
    {"write", " port blocksize delay verify no-verify json quiet "},
    {"verify", " port json quiet "},
    {"ports", " json quiet "},
};

// The options without a value ("-h" is "--help", "-q" "--quiet"): what
// each sets.  Each may come once or more, before or after the command.
struct Switch {
    std::string_view name;  // as the commands' option lists name it
    bool Invocation::*field;
    bool value;
};
constexpr Switch kSwitches[] = {
    {"help", &Invocation::help, true},       {"quiet", &Invocation::quiet, true},
    {"version", &Invocation::version, true}, {"json", &Invocation::json, true},
    {"verify", &Invocation::verify, true},   {"no-verify", &Invocation::verify, false},
};

// The options that take a value, "--name VALUE" or "--name=VALUE".
constexpr std::string_view kValued[] = {"port", "out", "blocksize", "delay"};

}  // namespace

const char* CommandName(Command command) {
    return command == Command::None ? "" : kCommands[static_cast<int>(command) - 1].name;
}

std::optional<Invocation> ParseArguments(const std::vector<std::string>& args, std::string& error,
                                         const char* defaultPort) {
    Invocation inv;
    std::set<std::string> given;  // the options named, as the option lists name them
    std::vector<std::string> operands;
    error.clear();
    const auto fail = [&](std::string text) {  // the first error is the one told
        if (error.empty()) {
            error = std::move(text);
        }
    };
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const std::string longName = arg == "-h" ? "--help" : arg == "-q" ? "--quiet" : arg;
        const auto known = longName.starts_with("--")
                               ? std::ranges::find(kSwitches, longName.substr(2), &Switch::name)
                               : std::end(kSwitches);
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            const auto command = std::ranges::find(kCommands, arg, &CommandInfo::name);
            if (inv.command != Command::None) {
                operands.push_back(arg);
            } else if (command != std::end(kCommands)) {
                inv.command = static_cast<Command>(command - kCommands + 1);
            } else {
                fail("unknown command '" + arg + "'; use read, write, verify or ports.");
            }
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (known != std::end(kSwitches)) {
            inv.*known->field = known->value;
            given.insert(std::string(known->name));
        } else {
            // "-p PORT" and "-pPORT" are "--port PORT".
            const std::string spelled = arg.rfind("-p", 0) == 0
                                            ? "--port" + (arg.size() > 2 ? "=" + arg.substr(2) : "")
                                            : arg;
            const std::size_t eq = spelled.find('=');
            const std::string name = spelled.substr(2, eq - 2);
            if (spelled.rfind("--", 0) != 0 ||
                std::ranges::find(kValued, name) == std::end(kValued)) {
                fail("unknown option '" + arg + "' (see vantri-key --help).");
            } else if (eq == std::string::npos && i + 1 >= args.size()) {
                fail("--" + name + " needs a value.");
            } else if (const std::string value =
                           eq != std::string::npos ? spelled.substr(eq + 1) : args[++i];
                       !given.insert(name).second) {
                fail("--" + name + " is given twice.");
            } else if (name == "port") {
                inv.port = value;
            } else {
                *(name == "out"         ? &inv.out
                  : name == "blocksize" ? &inv.blocksize
                                        : &inv.delay) = value;
            }
        }
    }
    if (inv.help || inv.version) {
        return inv;
    }
    if (error.empty() && inv.command == Command::None) {
        error = "no command given; use read, write, verify or ports (see vantri-key --help).";
    }
    if (!error.empty()) {
        return std::nullopt;
    }
    if (!inv.port && defaultPort != nullptr && *defaultPort != '\0' &&
        inv.command != Command::Ports) {
        inv.port = defaultPort;
    }
    // What is wrong with the parts of the line for the command.
    const std::string name = CommandName(inv.command);
    const std::string see = " (see vantri-key " + name + " --help).";
    const bool needsFile = inv.command == Command::Write || inv.command == Command::Verify;
    const auto refused = std::ranges::find_if(given, [&](const std::string& option) {
        return kCommands[static_cast<int>(inv.command) - 1].options.find(" " + option + " ") ==
               std::string_view::npos;
    });
    if (refused != given.end()) {
        error = "--" + *refused + " is not an option of " + name + see;
    } else if (needsFile && operands.empty()) {
        error = name + " needs the key buffer file" + see;
    } else if (operands.size() > (needsFile ? 1u : 0u)) {
        error = "unexpected argument '" + operands[needsFile ? 1 : 0] + "'" + see;
    } else if (inv.command != Command::Ports && !inv.port) {
        error = name +
                " needs --port PORT, or VANTRI_PORT in the environment (list the ports with "
                "vantri-key ports).";
    } else if (inv.json && inv.out == "-") {
        error = "--json and --out - would both use standard output; give --out FILE.";
    }
    if (!error.empty()) {
        return std::nullopt;
    }
    inv.file = operands.empty() ? "" : operands.front();
    return inv;
}

}  // namespace vantri::cli
