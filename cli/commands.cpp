#include "cli/arguments.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>

#include "cli/console.h"
#include "cli/json.h"
#include "cli/messages.h"
#include "image/hexfileHandle.h"
#include "image/save_file.h"
#include "serial/platform.h"
#include "serial/port_choices.h"
#include "serial/zrkCommModule.h"

namespace vantri::cli {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Outcome = std::optional<Failure>;  // nullopt: done

// Ctrl-C.  The handler only counts; the running exchange sees the count at
// its next cancel check (after each read, during each pause) and the
// command closes the port and exits 130.  The handler does not restart
// interrupted system calls, so a read waiting on a silent device returns at
// once.
//
// A read or verify stops at the first Ctrl-C.  A write that has sent its
// request does not: stopping it there would leave the device waiting for
// the rest of its buffer and taking whatever comes next as data, so the
// first Ctrl-C lets it finish (a few seconds at most) and the second
// abandons it at once.  A third ends the program on the spot.
volatile std::sig_atomic_t interrupts = 0;

extern "C" void OnInterrupt(int) {
    if (interrupts >= 2) {
        // Third Ctrl-C: the default action, which ends the program.
        std::signal(SIGINT, SIG_DFL);
        std::raise(SIGINT);
        return;
    }
    interrupts = interrupts + 1;
    ArmInterrupt(OnInterrupt);  // so the next Ctrl-C comes here too
}

// The progress bar over a key buffer, on standard error.  Drawn only when
// standard error is a terminal, so logs and pipes stay clean:
// "Reading  [###########.........................]  31%".  It is redrawn
// only when the percentage changes, and Finish ends its line so the next
// message starts on a line of its own.
class ProgressBar {
  public:
    ProgressBar(const char* label, const Invocation& inv)
        : label_(label), shown_(!inv.quiet && IsTerminal(stderr)) {}
    ~ProgressBar() { Finish(); }

    void Update(int done) {
        done = std::clamp(done, 0, KeyBufferSize);
        if (!shown_ || done * 100 / KeyBufferSize == percent_) {
            return;
        }
        percent_ = done * 100 / KeyBufferSize;
        const int filled = done * 40 / KeyBufferSize;
        std::fprintf(stderr, "\r%-9s [%s%s] %3d%%", label_, std::string(filled, '#').c_str(),
                     std::string(40 - filled, '.').c_str(), percent_);
        std::fflush(stderr);
        drawn_ = true;
    }
    void Finish() {
        if (drawn_) {
            std::fputc('\n', stderr);
            std::fflush(stderr);
        }
        shown_ = drawn_ = false;
    }

  private:
    const char* label_;
    bool shown_, drawn_ = false;
    int percent_ = -1;
};

// What a command reports at its end: the human summary line on success,
// or with --json one object on standard output, for failures too.
struct Summary {
    std::string port;  // the port label, once known
    long long bytes = 0;
    double seconds = 0;
    std::string line;  // the summary line of a success
};

std::string Fixed(const char* format, double value) {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// Opens `port` for one exchange with the Ctrl-C handler armed, runs
// `exchange` and closes the port on every way out (closing a closed port
// does nothing).
template <typename Exchange>
Outcome OnPort(const PortSetting& port, std::uint32_t answerTimeoutMs, Exchange exchange) {
    ArmInterrupt(OnInterrupt);
    struct Closer {
        ~Closer() { CloseComPort(); }
    } closer;
    if (const std::int32_t result = OpenExchangePort(port, answerTimeoutMs); result != 0) {
        const std::uint32_t error = port::LastError();
        CloseComPort();  // results 2 to 5 leave the port held
        return PortOpenFailure(port, result, error);
    }
    return exchange();
}

// The read exchange of `read` and `verify` with its progress bar: fills
// `outcome` with a complete key buffer, or gives the failure to report
// (`interrupted` says what a Ctrl-C left undone).
Outcome ReadDevice(const Invocation& inv, const PortSetting& port, const char* label,
                   const char* interrupted, ReadOutcome& outcome, double& seconds,
                   std::uint32_t answerTimeoutMs) {
    return OnPort(port, answerTimeoutMs, [&]() -> Outcome {
        ProgressBar bar(label, inv);
        ExchangeHooks hooks;
        hooks.afterRead = [&bar](int k) { bar.Update(k); };
        hooks.cancelled = [] { return interrupts != 0; };
        const auto start = Clock::now();
        outcome = ReadKeyBuffer(hooks);
        seconds = std::chrono::duration<double>(Clock::now() - start).count();
        bar.Finish();
        if (interrupts == 0) {
            CloseComPort();
            return outcome.status == ExchangeStatus::Done
                       ? std::nullopt
                       : Outcome(ReadFailure(port, outcome, answerTimeoutMs));
        }
        std::string text = interrupted;
        if (outcome.requestSent) {
            // The device goes on answering, maybe after a pause; a read at
            // once would find the rest of this answer ahead of its own.
            Report({ExitInterrupted,
                    "interrupted; letting the device finish its answer first (Ctrl-C again to "
                    "stop at once)."});
            ExchangeHooks rest;
            rest.cancelled = [] { return interrupts >= 2; };
            if (LetAnswerEnd(rest, outcome) != ExchangeStatus::Done) {
                text +=
                    " The device may still be sending its answer: give it a moment before "
                    "the next command.";
            }
        }
        return Failure{ExitInterrupted, text};
    });
}

// Reads the device's buffer and compares it with `expected`, the buffer of
// inv.file.
Outcome Compare(const Invocation& inv, const PortSetting& port, const KeyBytes& expected,
                const char* interrupted, double& seconds, std::uint32_t answerTimeoutMs) {
    ReadOutcome outcome;
    if (auto failure =
            ReadDevice(inv, port, "Verifying", interrupted, outcome, seconds, answerTimeoutMs)) {
        return failure;
    }
    const auto differences = CompareKeyBuffers(port, inv.file, expected, outcome.keyBuffer);
    return differences ? Outcome(Failure{ExitDifferences, *differences}) : std::nullopt;
}

// Loads a key buffer file; it must hold exactly KeyBufferSize bytes.
Outcome LoadKeyFile(const std::string& name, KeyBytes& bytes) {
    ByteImage image;
    // Just over the size needed: a huge file is refused from its size alone.
    const LoadOutcome loaded = LoadBinFile(image, PathFromUtf8(name), KeyBufferSize + 1);
    if (!loaded.ok && loaded.fileSize <= static_cast<std::uintmax_t>(KeyBufferSize)) {
        return KeyFileFailure(name, loaded.error);
    }
    if (!loaded.ok || BinFileSize != KeyBufferSize ||
        image.size() != static_cast<std::size_t>(KeyBufferSize)) {
        return Failure{ExitKeyFile, name + " holds " + std::to_string(loaded.fileSize) +
                                        " bytes; a key buffer file must hold exactly " +
                                        std::to_string(KeyBufferSize) + " bytes."};
    }
    bytes.clear();
    for (const ByteRecord& record : image) {
        bytes += static_cast<char>(record.Value);
    }
    return std::nullopt;
}

Outcome Read(const Invocation& inv, const PortSetting& port, Summary& summary) {
    const bool toStdout = inv.out == "-";
    const fs::path out = PathFromUtf8(inv.out),
                   folder = out.has_parent_path() ? out.parent_path() : ".";
    // The file is checked before the device is touched, not after a good read.
    std::error_code ec;
    if (toStdout) {
        if (IsTerminal(stdout)) {
            return Failure{ExitUsage,
                           "--out - writes the raw key buffer to standard output, which is a "
                           "terminal; redirect it to a file or a pipe, or give --out FILE."};
        }
    } else if (out.empty()) {
        return Failure{ExitUsage, "--out needs a file name."};
    } else if (fs::is_directory(out, ec)) {
        return Failure{ExitOutputFile, "cannot write " + Utf8FromPath(out) +
                                           ": it is a folder; give a file name with --out."};
    } else if (!fs::is_directory(folder, ec)) {
        return Failure{ExitOutputFile, "cannot write " + Utf8FromPath(out) + ": the folder " +
                                           Utf8FromPath(folder) +
                                           " does not exist; nothing was read."};
    }
    ReadOutcome outcome;
    if (const auto failure = ReadDevice(inv, port, "Reading", "interrupted; nothing was saved.",
                                        outcome, summary.seconds, DeviceAnswerTimeoutMs)) {
        summary.bytes = static_cast<long long>(outcome.response.size() / 2);
        return failure;
    }
    summary.bytes = KeyBufferSize;
    summary.line =
        "Read 4096 bytes from " + summary.port + " in " + Fixed("%.2f s", summary.seconds) + " -> ";
    if (toStdout) {
        SetBinary(stdout);
        summary.line += "standard output\n";
        const std::size_t size = outcome.keyBuffer.size();
        return std::fwrite(outcome.keyBuffer.data(), 1, size, stdout) == size &&
                       std::fflush(stdout) == 0
                   ? std::nullopt
                   : Outcome(Failure{ExitOutputFile,
                                     "cannot write the key buffer to standard output."});
    }
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

Outcome Write(const Invocation& inv, const PortSetting& port, Summary& summary) {
    std::string error;
    const auto blockSize = ParseBlocksize(inv.blocksize, error);
    const auto delay = blockSize ? ParseDelay(inv.delay, error) : std::nullopt;
    if (!delay) {
        return Failure{ExitUsage, error};
    }
    // The file is checked before the port is opened: a wrong file must not
    // cost a device round trip, and the device gets nothing from it.
    KeyBytes keyBuffer;
    if (const auto failure = LoadKeyFile(inv.file, keyBuffer)) {
        return failure;
    }
    WriteOutcome outcome;
    if (const auto failure = OnPort(port, DeviceAnswerTimeoutMs, [&] {
            ProgressBar bar("Writing", inv);
            bool requestSent = false, toldToWait = false;
            ExchangeHooks hooks;
            hooks.requestSent = [&requestSent] { requestSent = true; };
            hooks.afterBlock = [&bar, step = *blockSize](int p) {
                bar.Update(std::min(p - 1 + step, KeyBufferSize));
            };
            // Asked after every block and during every pause, so the first
            // Ctrl-C is answered at once, whatever the Delay.
            hooks.cancelled = [&] {
                if (interrupts != 0 && requestSent && !toldToWait) {
                    toldToWait = true;
                    bar.Finish();
                    Report({ExitInterrupted,
                            "finishing the write first, so that the device is not left waiting "
                            "for the rest of its key buffer; press Ctrl-C again to abandon it."});
                }
                return interrupts >= (requestSent ? 2 : 1);
            };
            const auto start = Clock::now();
            outcome = WriteKeyBuffer(keyBuffer, *blockSize, *delay, hooks);
            summary.seconds = std::chrono::duration<double>(Clock::now() - start).count();
            return Outcome();
        })) {
        return failure;
    }
    summary.bytes = outcome.bytesSent;
    if (outcome.status != ExchangeStatus::Done) {
        return WriteFailure(port, outcome);
    }
    if (interrupts != 0) {
        return Failure{ExitInterrupted,
                       "interrupted; the write was finished first: all " +
                           std::to_string(KeyBufferSize) +
                           " bytes were sent, but not read back; check them with vantri-key "
                           "verify."};
    }
    summary.line = "Wrote 4096 bytes from " + inv.file + " to " + summary.port + " in " +
                   Fixed("%.2f s", summary.seconds) + " (blocksize " + std::to_string(*blockSize) +
                   ", delay " + std::to_string(*delay) + " ms)";
    if (inv.verify) {
        // Read back on a fresh open, as `verify` would, so the device's
        // stored buffer is what is compared; the device may still be
        // storing it, so its answer may be slow to come.
        double readSeconds = 0;
        const auto failure =
            Compare(inv, port, keyBuffer, "interrupted; the write was done, nothing was compared.",
                    readSeconds, StoreAnswerTimeoutMs);
        summary.seconds += !failure || failure->code == ExitDifferences ? readSeconds : 0;
        if (failure) {
            return failure;
        }
        summary.line += ", verified";
    }
    summary.line += "\n";
    return std::nullopt;
}

Outcome Verify(const Invocation& inv, const PortSetting& port, Summary& summary) {
    KeyBytes expected;
    auto failure = LoadKeyFile(inv.file, expected);
    if (!failure) {
        failure = Compare(inv, port, expected, "interrupted; nothing was compared.",
                          summary.seconds, DeviceAnswerTimeoutMs);
        summary.bytes = !failure || failure->code == ExitDifferences ? KeyBufferSize : 0;
    }
    summary.line = "Verified 4096 bytes on " + summary.port + " in " +
                   Fixed("%.2f s", summary.seconds) + ": identical to " + inv.file + "\n";
    return failure;
}

int RunPorts(const Invocation& inv) {
    const auto ports = port::ListPorts();
    std::string text;
    for (const auto& info : ports) {
        const std::string description = Utf8FromSystemText(info.description),
                          maker = Utf8FromSystemText(info.manufacturer),
                          product = Utf8FromSystemText(info.product);
        if (inv.json) {
            text += (text.empty() ? "" : ",\n ") +
                    JsonObject({{"name", JsonString(info.name)},
                                {"kernel", JsonString(info.kernelName)},
                                {"description", JsonString(description)},
                                {"vid", JsonString(info.vendorId)},
                                {"pid", JsonString(info.productId)},
                                {"manufacturer", JsonString(maker)},
                                {"product", JsonString(product)},
                                {"serial", JsonString(info.serialNumber)},
                                {"console", info.console ? "true" : "false"}});
            continue;
        }
        text += info.name + (info.kernelName != info.name ? " -> " + info.kernelName : "");
        if (!info.vendorId.empty()) {
            text += "  USB " + info.vendorId + ":" + info.productId;
            for (const std::string* part : {&maker, &product}) {
                text += part->empty() ? "" : "  " + *part;
            }
            text += info.serialNumber.empty() ? "" : "  serial " + info.serialNumber;
        } else if (!description.empty()) {
            text += "  " + description;
        }
        text += info.console ? "  (system console)\n" : "\n";
    }
    text = inv.json ? "[" + text + "]\n" : ports.empty() ? "no serial ports found\n" : text;
    std::fputs(text.c_str(), stdout);
    return ExitDone;
}

}  // namespace

int RunCommand(const Invocation& inv) {
    if (inv.command == Command::Ports) {
        return RunPorts(inv);
    }
    Summary summary;
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
    Outcome failure = Failure{ExitUsage, error};
    if (port) {
        summary.port = PortLabel(*port);
        const auto run = inv.command == Command::Read    ? Read
                         : inv.command == Command::Write ? Write
                                                         : Verify;
        failure = run(inv, *port, summary);
    }
    const int code = failure ? Report(*failure) : ExitDone;
    if (inv.json) {
        std::vector<std::pair<const char*, std::string>> members = {
            {"command", JsonString(CommandName(inv.command))},
            {"result", JsonString(failure ? "failed" : "ok")},
            {"port", JsonString(summary.port)},
            {"file", JsonString(inv.command == Command::Read ? inv.out : inv.file)},
            {"bytes", std::to_string(summary.bytes)},
            {"seconds", Fixed("%.3f", summary.seconds)},
            {"exit", std::to_string(code)}};
        if (failure) {
            members.emplace_back("message", JsonString(failure->text));
        }
        std::printf("%s\n", JsonObject(members).c_str());
    } else if (!failure && !inv.quiet && !summary.line.empty()) {
        // Standard output may carry the key buffer.
        std::fputs(summary.line.c_str(),
                   inv.command == Command::Read && inv.out == "-" ? stderr : stdout);
    }
    return code;
}

}  // namespace vantri::cli
