// Reading fault modes from their text, and checking a whole set of options
// before the simulator starts, so a mistake is reported up front rather than
// showing up as a fault that silently never fires.
#include <charconv>
#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>

#include "sim/device.h"

namespace vantri::sim {
namespace {

// The parts of "name:a:b" after the name.
std::vector<std::string_view> Arguments(std::string_view text) {
    std::vector<std::string_view> parts;
    for (std::size_t colon = text.find(':'); colon != text.npos; colon = text.find(':')) {
        text.remove_prefix(colon + 1);
        parts.push_back(text.substr(0, text.find(':')));
    }
    return parts;
}

// Each fault mode, its arguments as the usage names them: N (Fault::n) or
// MS (Fault::ms).
struct Kind {
    Fault::Kind kind;
    std::string_view usage;
    std::string_view Name() const { return usage.substr(0, usage.find(':')); }
};
constexpr Kind kKinds[] = {
    {Fault::Kind::Silent, "silent"},           {Fault::Kind::Short, "short:N"},
    {Fault::Kind::Stall, "stall:N:MS"},        {Fault::Kind::Garbage, "garbage:N"},
    {Fault::Kind::Extra, "extra:N"},           {Fault::Kind::Hangup, "hangup:N"},
    {Fault::Kind::Chatter, "chatter"},         {Fault::Kind::Flip, "flip:N"},
    {Fault::Kind::BusyDrop, "busy-drop"},      {Fault::Kind::Double, "double"},
    {Fault::Kind::SlowStore, "slow-store:MS"}, {Fault::Kind::Burst, "burst:N:MS"}};

// Checks that `path` names a file that can be created: its folder exists and
// it is not itself a folder.
std::string CheckFilePath(const char* option, const std::filesystem::path& path) {
    const std::string prefix = std::string(option) + " " + path.string() + ": ";
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec))
        return prefix + "is a folder, not a file";
    const std::filesystem::path folder =
        path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    if (!std::filesystem::is_directory(folder, ec))
        return prefix + "folder " + folder.string() + " does not exist";
    return {};
}

}  // namespace

std::optional<Fault> ParseFault(std::string_view text, std::string& error) {
    const std::string_view name = text.substr(0, text.find(':'));
    const std::vector<std::string_view> args = Arguments(text);
    const std::string where = "--fault " + std::string(text) + ": ";
    for (const Kind& k : kKinds) {
        if (k.Name() != name)
            continue;
        const std::string usage(k.usage);
        const std::vector<std::string_view> names = Arguments(k.usage);
        if (args.size() != names.size()) {
            error = where + "expected " + usage;
            return std::nullopt;
        }
        Fault fault{k.kind};
        for (std::size_t i = 0; i < names.size(); ++i) {
            const bool isMs = names[i] == "MS";
            std::uint32_t& value = isMs ? fault.ms : fault.n;
            const char* end = args[i].data() + args[i].size();
            const auto [stop, ec] = std::from_chars(args[i].data(), end, value);
            if (ec != std::errc() || stop != end) {
                error = where +
                        (isMs ? "MS must be a whole number of milliseconds, as in "
                              : "N must be a whole number from 0 to 4294967295, as in ") +
                        usage;
                return std::nullopt;
            }
        }
        return fault;
    }
    std::string known;
    for (const Kind& k : kKinds)
        known += (known.empty() ? "" : ", ") + std::string(k.usage);
    error = where + "unknown fault mode (" + known + ")";
    return std::nullopt;
}

std::string FaultText(const Fault& fault) {
    for (const Kind& k : kKinds) {
        if (k.kind == fault.kind) {
            std::string text(k.Name());
            for (const std::string_view arg : Arguments(k.usage))
                text += ":" + std::to_string(arg == "MS" ? fault.ms : fault.n);
            return text;
        }
    }
    return "?";
}

std::string CheckOptions(const Options& options) {
    if (!options.buffer.empty() && options.buffer.size() != KeyBufferSize)
        return "--buffer: holds " + std::to_string(options.buffer.size()) +
               " bytes; a key buffer is exactly 4096 bytes";
    if (options.lineRate != 0 && (options.lineRate < 50 || options.lineRate > 4000000))
        return "--line-rate " + std::to_string(options.lineRate) +
               ": the rate must be from 50 to 4000000 baud";
    if (std::string e = options.link.empty() ? "" : CheckLinkPath(options.link); !e.empty())
        return e;
    for (const auto& [option, path] :
         {std::pair{"--link", std::filesystem::path(options.link)},
          std::pair{"--save", options.saveFile}, std::pair{"--log", options.logFile}}) {
        if (std::string e = path.empty() ? "" : CheckFilePath(option, path); !e.empty())
            return e;
    }

    std::uint64_t extra = 0;
    int stores = 0, bursts = 0;
    for (const Fault& f : options.faults) {
        if (f.kind == Fault::Kind::Extra)
            extra += f.n;
        // Two of these could only contradict each other.
        if ((f.kind == Fault::Kind::SlowStore && ++stores > 1) ||
            (f.kind == Fault::Kind::Burst && ++bursts > 1)) {
            return "--fault " + FaultText(f) + ": given twice; one " +
                   (f.kind == Fault::Kind::Burst ? "burst" : "slow-store") + " at most";
        }
        if (f.kind == Fault::Kind::Burst && f.n == 0)
            return "--fault " + FaultText(f) + ": N must be at least 1 byte";
    }
    if (extra > MaxExtra)
        return "--fault extra: at most " + std::to_string(MaxExtra) +
               " extra characters in all, not " + std::to_string(extra);
    // A fault placed beyond the answer would never fire: say so rather than
    // let a test pass for the wrong reason.
    const std::uint64_t length = ResponseLength + extra;
    for (const Fault& f : options.faults) {
        const std::string where = "--fault " + FaultText(f) + ": ";
        if (f.kind == Fault::Kind::Short && f.n > length)
            return where + "N is beyond the " + std::to_string(length) + " characters of an answer";
        if ((f.kind == Fault::Kind::Stall || f.kind == Fault::Kind::Garbage) && f.n >= length)
            return where + "N must be below the " + std::to_string(length) +
                   " characters of an answer (counted from 0)";
    }
    return {};
}

}  // namespace vantri::sim
