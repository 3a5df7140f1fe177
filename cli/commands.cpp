#include "cli/commands.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#include "cli/console.h"
#include "cli/interrupt.h"
#include "cli/json.h"
#include "cli/messages.h"
#include "cli/progress.h"
#include "image/hexfileHandle.h"
#include "image/save_file.h"
#include "serial/exchange.h"
#include "serial/platform.h"
#include "serial/settings.h"
#include "serial/zrkCommModule.h"

namespace vantri::cli {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Closes the port on every way out of a command that opened it; closing a
// port that is closed already does nothing.
struct PortCloser {
    PortCloser() = default;
    PortCloser(const PortCloser&) = delete;
    PortCloser& operator=(const PortCloser&) = delete;
    ~PortCloser() { CloseComPort(); }
};

// nullopt when the port is open and configured.
std::optional<Failure> OpenPort(const PortSetting& port,
                                std::uint32_t answerTimeoutMs = DeviceAnswerTimeoutMs) {
    const std::int32_t result = OpenExchangePort(port, answerTimeoutMs);
    if (result == 0) {
        return std::nullopt;
    }
    const std::uint32_t error = port::LastError();
    CloseComPort();  // results 2 to 5 leave the port held
    return PortOpenFailure(port, result, error);
}

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

bool ShowProgress(const Invocation& inv) {
    return !inv.quiet && IsTerminal(stderr);
}

// What a command reports at its end: the human summary line on success,
// or with --json one object on standard output, for failures too.
struct Summary {
    std::string port;  // the port label, once known
    std::string file;
    long long bytes = 0;
    double seconds = 0;
    std::string line;           // the summary line of a success
    bool lineToStderr = false;  // standard output carries the key buffer
};

// The port the line names, its label put in the summary; nullopt with
// `failure` set when the line names none that can be.
std::optional<PortSetting> ParsePort(const Invocation& inv, Summary& summary,
                                     std::optional<Failure>& failure) {
    std::string error;
    auto port = ParsePortSetting(inv.port.value_or(""), error);
    // COM0 and below name no port anywhere: a mistyped option, not a port
    // to look for.
    if (port && port->numbered && port->number < 1) {
        error =
            "port numbers start at 1 (COM1); give a number such as 3 or a device such as "
            "/dev/ttyUSB0.";
        port.reset();
    }
    if (!port) {
        failure = Failure{ExitUsage, error};
    } else {
        summary.port = PortLabel(*port);
    }
    return port;
}

// Loads a key buffer file; it must hold exactly KeyBufferSize bytes.
std::optional<Failure> LoadKeyFile(const std::string& name, KeyBytes& bytes) {
    ByteImage image;
    // Just over the size needed: a huge file is refused from its size alone.
    const LoadOutcome loaded = LoadBinFile(image, PathFromUtf8(name), KeyBufferSize + 1);
    const auto wrongSize = [&](std::uintmax_t size) {
        return Failure{ExitKeyFile, name + " holds " + std::to_string(size) +
                                        " bytes; a key buffer file must hold exactly " +
                                        std::to_string(KeyBufferSize) + " bytes."};
    };
    if (!loaded.ok) {
        if (loaded.fileSize > static_cast<std::uintmax_t>(KeyBufferSize)) {
            return wrongSize(loaded.fileSize);
        }
        return KeyFileFailure(name, loaded.error);
    }
    if (BinFileSize != KeyBufferSize || image.size() != static_cast<std::size_t>(KeyBufferSize)) {
        return wrongSize(loaded.fileSize);
    }
    bytes.clear();
    bytes.reserve(image.size());
    for (const ByteRecord& record : image) {
        bytes += static_cast<char>(record.Value);
    }
    return std::nullopt;
}

// The device side of `read` and `verify`: opens the port, runs the read
// exchange with a progress bar and closes the port.  Fills `outcome` with a
// complete key buffer and `seconds` with the exchange's duration, or gives
// the failure to report (`interrupted` says what a Ctrl-C left undone).
std::optional<Failure> ReadDevice(const Invocation& inv, const PortSetting& port, const char* label,
                                  const char* interrupted, ReadOutcome& outcome, double& seconds,
                                  std::uint32_t answerTimeoutMs = DeviceAnswerTimeoutMs) {
    CatchInterrupt();
    const PortCloser closer;
    if (const auto failure = OpenPort(port, answerTimeoutMs)) {
        return failure;
    }
    ProgressBar bar(label, ShowProgress(inv));
    ExchangeHooks hooks;
    hooks.afterRead = [&bar](int k) { bar.Update(k); };
    hooks.cancelled = [] { return Interrupted(); };
    const auto start = Clock::now();
    outcome = ReadKeyBuffer(hooks);
    seconds = SecondsSince(start);
    bar.Finish();

    if (Interrupted()) {
        std::string text = interrupted;
        if (outcome.requestSent) {
            // The device goes on answering, maybe after a pause; a read at
            // once would find the rest of this answer ahead of its own.
            Report(ExitInterrupted,
                   "interrupted; letting the device finish its answer first (Ctrl-C again to "
                   "stop at once).");
            ExchangeHooks rest;
            rest.cancelled = [] { return InterruptCount() >= 2; };
            if (LetAnswerEnd(rest, outcome) != ExchangeStatus::Done) {
                text +=
                    " The device may still be sending its answer: give it a moment before "
                    "the next command.";
            }
        }
        return Failure{ExitInterrupted, text};
    }
    CloseComPort();
    if (outcome.status != ExchangeStatus::Done) {
        return ReadFailure(port, outcome, answerTimeoutMs);
    }
    return std::nullopt;
}

// The folder a new file would go to must exist, and the name must not be a
// folder: found out before the device is touched, not after a good read.
std::optional<Failure> CheckOutputPath(const fs::path& out) {
    std::error_code ec;
    if (out.empty()) {
        return Failure{ExitUsage, "--out needs a file name."};
    }
    if (fs::is_directory(out, ec)) {
        return Failure{ExitOutputFile, "cannot write " + Utf8FromPath(out) +
                                           ": it is a folder; give a file name with --out."};
    }
    const fs::path folder = out.has_parent_path() ? out.parent_path() : fs::path(".");
    if (!fs::is_directory(folder, ec)) {
        return Failure{ExitOutputFile, "cannot write " + Utf8FromPath(out) + ": the folder " +
                                           Utf8FromPath(folder) +
                                           " does not exist; nothing was read."};
    }
    return std::nullopt;
}

int Conclude(const Invocation& inv, const Summary& summary, const std::optional<Failure>& failure) {
    const int code = failure ? Report(*failure) : ExitDone;
    if (inv.json) {
        JsonObject object;
        object.Add("command", CommandName(inv.command))
            .Add("result", failure ? "failed" : "ok")
            .Add("port", summary.port)
            .Add("file", summary.file)
            .Add("bytes", summary.bytes)
            .Add("seconds", summary.seconds)
            .Add("exit", static_cast<long long>(code));
        if (failure) {
            object.Add("message", failure->text);
        }
        std::printf("%s\n", object.Text().c_str());
    } else if (!failure && !inv.quiet && !summary.line.empty()) {
        std::fputs(summary.line.c_str(), summary.lineToStderr ? stderr : stdout);
    }
    return code;
}

std::string Seconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f s", seconds);
    return text;
}

std::optional<Failure> Read(const Invocation& inv, Summary& summary) {
    std::optional<Failure> failure;
    const auto port = ParsePort(inv, summary, failure);
    if (!port) {
        return failure;
    }
    const bool toStdout = inv.out == "-";
    const fs::path out = PathFromUtf8(inv.out);
    if (toStdout) {
        if (IsTerminal(stdout)) {
            return Failure{ExitUsage,
                           "--out - writes the raw key buffer to standard output, which is a "
                           "terminal; redirect it to a file or a pipe, or give --out FILE."};
        }
    } else if (const auto failure = CheckOutputPath(out)) {
        return failure;
    }

    ReadOutcome outcome;
    if (const auto failure = ReadDevice(inv, *port, "Reading", "interrupted; nothing was saved.",
                                        outcome, summary.seconds)) {
        summary.bytes = static_cast<long long>(outcome.response.size() / 2);
        return failure;
    }
    summary.bytes = KeyBufferSize;
    summary.line =
        "Read 4096 bytes from " + summary.port + " in " + Seconds(summary.seconds) + " -> ";
    if (toStdout) {
        SetBinary(stdout);
        if (std::fwrite(outcome.keyBuffer.data(), 1, outcome.keyBuffer.size(), stdout) !=
                outcome.keyBuffer.size() ||
            std::fflush(stdout) != 0) {
            return Failure{ExitOutputFile, "cannot write the key buffer to standard output."};
        }
        summary.lineToStderr = true;
        summary.line += "standard output\n";
        return std::nullopt;
    }
    std::error_code ec;
    const bool existed = fs::exists(out, ec);
    const SaveOutcome saved = SaveBinFile(out, outcome.keyBuffer);
    if (!saved.ok) {
        return Failure{ExitOutputFile, "cannot write " + Utf8FromPath(out) + ": " + saved.reason +
                                           (existed ? " (the existing file is untouched)" : "") +
                                           "; choose another file with --out and read again."};
    }
    summary.line += Utf8FromPath(out) + "\n";
    return std::nullopt;
}

std::optional<Failure> Write(const Invocation& inv, Summary& summary) {
    std::optional<Failure> failure;
    const auto port = ParsePort(inv, summary, failure);
    if (!port) {
        return failure;
    }
    std::string error;
    const auto blockSize = ParseBlocksize(inv.blocksize, error);
    if (!blockSize) {
        return Failure{ExitUsage, error};
    }
    const auto delay = ParseDelay(inv.delay, error);
    if (!delay) {
        return Failure{ExitUsage, error};
    }
    // The file is checked before the port is opened: a wrong file must not
    // cost a device round trip, and the device gets nothing from it.
    KeyBytes keyBuffer;
    if (const auto failure = LoadKeyFile(inv.file, keyBuffer)) {
        return failure;
    }

    CatchInterrupt();
    const PortCloser closer;
    if (const auto failure = OpenPort(*port)) {
        return failure;
    }
    ProgressBar bar("Writing", ShowProgress(inv));
    bool requestSent = false;
    bool toldToWait = false;
    ExchangeHooks hooks;
    hooks.requestSent = [&requestSent] { requestSent = true; };
    hooks.afterBlock = [&bar, step = *blockSize](int p) {
        bar.Update(std::min(p - 1 + step, KeyBufferSize));
    };
    // Asked after every block and during every pause, so the first Ctrl-C is
    // answered at once, whatever the Delay.
    hooks.cancelled = [&] {
        if (Interrupted() && requestSent && !toldToWait) {
            toldToWait = true;
            bar.Finish();
            Report(ExitInterrupted,
                   "finishing the write first, so that the device is not left waiting for the "
                   "rest of its key buffer; press Ctrl-C again to abandon it.");
        }
        return WriteAbandoned(requestSent);
    };
    const auto start = Clock::now();
    const WriteOutcome outcome = WriteKeyBuffer(keyBuffer, *blockSize, *delay, hooks);
    summary.seconds = SecondsSince(start);
    summary.bytes = outcome.bytesSent;
    bar.Finish();
    CloseComPort();

    if (outcome.status != ExchangeStatus::Done) {
        return WriteFailure(*port, outcome);
    }
    if (Interrupted()) {
        return Failure{ExitInterrupted,
                       "interrupted; the write was finished first: all " +
                           std::to_string(KeyBufferSize) +
                           " bytes were sent, but not read back; check them with vantri-key "
                           "verify."};
    }
    char pacing[64];
    std::snprintf(pacing, sizeof pacing, " (blocksize %d, delay %u ms)", *blockSize,
                  static_cast<unsigned>(*delay));
    summary.line = "Wrote 4096 bytes from " + inv.file + " to " + summary.port + " in " +
                   Seconds(summary.seconds) + pacing;
    if (inv.verify) {
        // Read back on a fresh open, as `verify` would, so the device's
        // stored buffer is what is compared; the device may still be
        // storing it, so its answer may be slow to come.
        ReadOutcome readBack;
        double readSeconds = 0;
        if (const auto failure = ReadDevice(
                inv, *port, "Verifying", "interrupted; the write was done, nothing was compared.",
                readBack, readSeconds, StoreAnswerTimeoutMs)) {
            return failure;
        }
        summary.seconds += readSeconds;
        if (const auto differences =
                CompareKeyBuffers(*port, inv.file, keyBuffer, readBack.keyBuffer)) {
            return Failure{ExitDifferences, *differences};
        }
        summary.line += ", verified";
    }
    summary.line += "\n";
    return std::nullopt;
}

std::optional<Failure> Verify(const Invocation& inv, Summary& summary) {
    std::optional<Failure> failure;
    const auto port = ParsePort(inv, summary, failure);
    if (!port) {
        return failure;
    }
    KeyBytes expected;
    if (const auto failure = LoadKeyFile(inv.file, expected)) {
        return failure;
    }
    ReadOutcome outcome;
    if (const auto failure =
            ReadDevice(inv, *port, "Verifying", "interrupted; nothing was compared.", outcome,
                       summary.seconds)) {
        return failure;
    }
    summary.bytes = KeyBufferSize;
    if (const auto differences = CompareKeyBuffers(*port, inv.file, expected, outcome.keyBuffer)) {
        return Failure{ExitDifferences, *differences};
    }
    summary.line = "Verified 4096 bytes on " + summary.port + " in " + Seconds(summary.seconds) +
                   ": identical to " + inv.file + "\n";
    return std::nullopt;
}

int RunPorts(const Invocation& inv) {
    const auto ports = port::ListPorts();
    if (inv.json) {
        std::vector<JsonObject> items;
        for (const auto& info : ports) {
            JsonObject item;
            item.Add("name", info.name)
                .Add("kernel", info.kernelName)
                .Add("description", Utf8FromSystemText(info.description))
                .Add("vid", info.vendorId)
                .Add("pid", info.productId)
                .Add("manufacturer", Utf8FromSystemText(info.manufacturer))
                .Add("product", Utf8FromSystemText(info.product))
                .Add("serial", info.serialNumber)
                .Add("console", info.console);
            items.push_back(item);
        }
        std::printf("%s\n", JsonArray(items).c_str());
        return ExitDone;
    }
    if (ports.empty()) {
        std::printf("no serial ports found\n");
        return ExitDone;
    }
    for (const auto& info : ports) {
        std::string line = info.name;
        if (info.kernelName != info.name) {
            line += " -> " + info.kernelName;
        }
        if (!info.vendorId.empty()) {
            line += "  USB " + info.vendorId + ":" + info.productId;
            for (const std::string* text : {&info.manufacturer, &info.product}) {
                if (!text->empty()) {
                    line += "  " + Utf8FromSystemText(*text);
                }
            }
            if (!info.serialNumber.empty()) {
                line += "  serial " + info.serialNumber;
            }
        } else if (!info.description.empty()) {
            line += "  " + Utf8FromSystemText(info.description);
        }
        if (info.console) {
            line += "  (system console)";
        }
        std::printf("%s\n", line.c_str());
    }
    return ExitDone;
}

}  // namespace

int RunCommand(const Invocation& inv) {
    Summary summary;
    summary.file = inv.command == Command::Read ? inv.out : inv.file;
    std::optional<Failure> failure;
    switch (inv.command) {
        case Command::Read:
            failure = Read(inv, summary);
            break;
        case Command::Write:
            failure = Write(inv, summary);
            break;
        case Command::Verify:
            failure = Verify(inv, summary);
            break;
        case Command::Ports:
            return RunPorts(inv);
        case Command::None:
            return Report(ExitUsage, "no command given; see vantri-key --help.");
    }
    return Conclude(inv, summary, failure);
}

}  // namespace vantri::cli
