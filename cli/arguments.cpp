#include "cli/arguments.h"

#include <set>
#include <string_view>

namespace vantri::cli {
namespace {

// Each command's name and the options it accepts.
struct CommandInfo {
    Command command;
    const char* name;
    std::string_view options;  // " name name ... "
};
constexpr CommandInfo kCommands[] = {
    {Command::Read, "read", " port out json "},
    {Command::Write, "write", " port blocksize delay verify no-verify json "},
    {Command::Verify, "verify", " port json "},
    {Command::Ports, "ports", " json "},
};

std::optional<Command> CommandFromName(std::string_view name) {
    for (const CommandInfo& info : kCommands) {
        if (name == info.name) {
            return info.command;
        }
    }
    return std::nullopt;
}

bool TakesValue(std::string_view name) {
    return name == "port" || name == "out" || name == "blocksize" || name == "delay";
}

bool Accepts(Command command, const std::string& name) {
    for (const CommandInfo& info : kCommands) {
        if (info.command == command) {
            return info.options.find(" " + name + " ") != std::string_view::npos;
        }
    }
    return false;
}

// What is wrong with the parts of the line for `inv.command`; "" when
// nothing.
std::string CheckShape(const Invocation& inv, const std::set<std::string>& given,
                       const std::vector<std::string>& operands) {
    if (inv.command == Command::None) {
        return "no command given; use read, write, verify or ports (see vantri-key --help).";
    }
    const std::string name = CommandName(inv.command);
    for (const auto& option : given) {
        if (!Accepts(inv.command, option)) {
            return "--" + option + " is not an option of " + name + " (see vantri-key " + name +
                   " --help).";
        }
    }
    const bool needsFile = inv.command == Command::Write || inv.command == Command::Verify;
    if (needsFile && operands.empty()) {
        return name + " needs the key buffer file (see vantri-key " + name + " --help).";
    }
    const std::size_t allowed = needsFile ? 1 : 0;
    if (operands.size() > allowed) {
        return "unexpected argument '" + operands[allowed] + "' (see vantri-key " + name +
               " --help).";
    }
    if (inv.command != Command::Ports && !inv.port) {
        return name +
               " needs --port PORT, or VANTRI_PORT in the environment (list the ports with "
               "vantri-key ports).";
    }
    if (inv.json && inv.out == "-") {
        return "--json and --out - would both use standard output; give --out FILE.";
    }
    return "";
}

}  // namespace

const char* CommandName(Command command) {
    for (const CommandInfo& info : kCommands) {
        if (info.command == command) {
            return info.name;
        }
    }
    return "";
}

std::optional<Invocation> ParseArguments(const std::vector<std::string>& args, std::string& error,
                                         const char* defaultPort) {
    Invocation inv;
    std::set<std::string> given;
    std::vector<std::string> operands;
    std::string firstError;
    const auto fail = [&](std::string text) {
        if (firstError.empty()) {
            firstError = std::move(text);
        }
    };

    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool looksLikeOption = !optionsEnded && arg.size() > 1 && arg[0] == '-';
        if (!looksLikeOption) {
            if (inv.command == Command::None && operands.empty()) {
                if (const auto command = CommandFromName(arg)) {
                    inv.command = *command;
                } else {
                    fail("unknown command '" + arg + "'; use read, write, verify or ports.");
                }
            } else {
                operands.push_back(arg);
            }
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "-h" || arg == "--help") {
            inv.help = true;
            continue;
        }
        if (arg == "-q" || arg == "--quiet") {
            inv.quiet = true;
            continue;
        }
        if (arg == "--version") {
            inv.version = true;
            continue;
        }
        if (arg == "--json" || arg == "--verify" || arg == "--no-verify") {
            if (arg == "--json") {
                inv.json = true;
            } else {
                inv.verify = arg == "--verify";
            }
            given.insert(arg.substr(2));
            continue;
        }
        // "-p PORT" and "-pPORT" are "--port PORT".
        const std::string spelled =
            arg.rfind("-p", 0) == 0 ? "--port" + (arg.size() > 2 ? "=" + arg.substr(2) : "") : arg;
        std::string name = spelled.substr(spelled.rfind("--", 0) == 0 ? 2 : 1);
        std::optional<std::string> value;
        if (const auto eq = name.find('='); eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.erase(eq);
        }
        if (spelled.rfind("--", 0) != 0 || !TakesValue(name)) {
            fail("unknown option '" + arg + "' (see vantri-key --help).");
            continue;
        }
        if (!value) {
            if (i + 1 >= args.size()) {
                fail("--" + name + " needs a value.");
                continue;
            }
            value = args[++i];
        }
        if (!given.insert(name).second) {
            fail("--" + name + " is given twice.");
            continue;
        }
        if (name == "port") {
            inv.port = *value;
        } else if (name == "out") {
            inv.out = *value;
        } else if (name == "blocksize") {
            inv.blocksize = *value;
        } else {
            inv.delay = *value;
        }
    }

    if (inv.help || inv.version) {
        return inv;
    }
    if (!firstError.empty()) {
        error = firstError;
        return std::nullopt;
    }
    if (!inv.port && defaultPort != nullptr && *defaultPort != '\0' &&
        inv.command != Command::Ports) {
        inv.port = defaultPort;
    }
    error = CheckShape(inv, given, operands);
    if (!error.empty()) {
        return std::nullopt;
    }
    if (!operands.empty()) {
        inv.file = operands.front();
    }
    return inv;
}

}  // namespace vantri::cli
