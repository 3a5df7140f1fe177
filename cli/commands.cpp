#include "cli/commands.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#include "cli/interrupt.h"
#include "cli/messages.h"
#include "cli/progress.h"
#include "cli/utf8.h"
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

// Closes the port on every way out of a command that opened it.
class OpenPort {
  public:
    OpenPort() = default;
    ~OpenPort() { Close(); }
    OpenPort(const OpenPort&) = delete;
    OpenPort& operator=(const OpenPort&) = delete;

    // nullopt when the port is open and configured.
    std::optional<Failure> Open(const PortSetting& port) {
        const std::int32_t result = OpenExchangePort(port);
        const std::uint32_t error = port::LastError();
        open_ = true;  // results 2 to 5 leave the port held: close it too
        if (result != 0) {
            Close();
            return PortOpenFailure(port, result, error);
        }
        return std::nullopt;
    }

    void Close() {
        if (open_) {
            CloseComPort();
            open_ = false;
        }
    }

  private:
    bool open_ = false;
};

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

bool ShowProgress(const Invocation& inv) {
    return !inv.quiet && StderrIsTerminal();
}

std::optional<PortSetting> ParsePort(const Invocation& inv, std::string& error) {
    return ParsePortSetting(inv.port.value_or(""), error);
}

// Loads a key buffer file; it must hold exactly KeyBufferSize bytes.
std::optional<Failure> LoadKeyFile(const std::string& name, std::string& bytes) {
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
                                  const char* interrupted, ReadOutcome& outcome, double& seconds) {
    CatchInterrupt();
    OpenPort link;
    if (const auto failure = link.Open(port)) {
        return failure;
    }
    ProgressBar bar(label, KeyBufferSize, ShowProgress(inv));
    ExchangeHooks hooks;
    hooks.afterRead = [&bar](int k) { bar.Update(k); };
    hooks.cancelled = [] { return Interrupted(); };
    const auto start = Clock::now();
    outcome = ReadKeyBuffer(hooks);
    seconds = SecondsSince(start);
    bar.Finish();
    link.Close();

    if (Interrupted()) {
        return Failure{ExitInterrupted, interrupted};
    }
    if (outcome.status != ExchangeStatus::Done) {
        return ReadFailure(port, outcome);
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

}  // namespace

int RunRead(const Invocation& inv) {
    std::string error;
    const auto port = ParsePort(inv, error);
    if (!port) {
        return Report(ExitUsage, error);
    }
    const fs::path out = PathFromUtf8(inv.out);
    if (const auto failure = CheckOutputPath(out)) {
        return Report(*failure);
    }

    ReadOutcome outcome;
    double seconds = 0;
    if (const auto failure = ReadDevice(inv, *port, "Reading", "interrupted; nothing was saved.",
                                        outcome, seconds)) {
        return Report(*failure);
    }
    std::error_code ec;
    const bool existed = fs::exists(out, ec);
    const SaveOutcome saved = SaveBinFile(out, outcome.keyBuffer);
    if (!saved.ok) {
        return Report(ExitOutputFile, "cannot write " + Utf8FromPath(out) + ": " + saved.reason +
                                          (existed ? " (the existing file is untouched)" : "") +
                                          "; choose another file with --out and read again.");
    }
    if (!inv.quiet) {
        std::printf("Read %d bytes from %s in %.2f s -> %s\n", KeyBufferSize,
                    PortLabel(*port).c_str(), seconds, Utf8FromPath(out).c_str());
    }
    return ExitDone;
}

int RunWrite(const Invocation& inv) {
    std::string error;
    const auto port = ParsePort(inv, error);
    if (!port) {
        return Report(ExitUsage, error);
    }
    const auto blockSize = ParseBlocksize(inv.blocksize, error);
    if (!blockSize) {
        return Report(ExitUsage, error);
    }
    const auto delay = ParseDelay(inv.delay, error);
    if (!delay) {
        return Report(ExitUsage, error);
    }
    // The file is checked before the port is opened: a wrong file must not
    // cost a device round trip, and the device gets nothing from it.
    std::string keyBuffer;
    if (const auto failure = LoadKeyFile(inv.file, keyBuffer)) {
        return Report(*failure);
    }

    CatchInterrupt();
    OpenPort link;
    if (const auto failure = link.Open(*port)) {
        return Report(*failure);
    }
    ProgressBar bar("Writing", KeyBufferSize, ShowProgress(inv));
    ExchangeHooks hooks;
    hooks.afterBlock = [&bar, step = *blockSize](int p) {
        bar.Update(std::min(p - 1 + step, KeyBufferSize));
    };
    hooks.cancelled = [] { return Interrupted(); };
    const auto start = Clock::now();
    const WriteOutcome outcome = WriteKeyBuffer(keyBuffer, *blockSize, *delay, hooks);
    const double seconds = SecondsSince(start);
    bar.Finish();
    link.Close();

    if (Interrupted()) {
        if (outcome.status == ExchangeStatus::Done) {
            return Report(ExitInterrupted, "interrupted, after all " +
                                               std::to_string(outcome.bytesSent) +
                                               " bytes had been sent.");
        }
        return Report(ExitInterrupted,
                      "interrupted after " + std::to_string(outcome.bytesSent) + " of " +
                          std::to_string(KeyBufferSize) +
                          " bytes; the device may hold a partly written key buffer; write it "
                          "again.");
    }
    if (outcome.status != ExchangeStatus::Done) {
        return Report(WriteFailure(*port, outcome));
    }
    if (!inv.quiet) {
        std::printf("Wrote %d bytes from %s to %s in %.2f s (blocksize %d, delay %u ms)\n",
                    outcome.bytesSent, inv.file.c_str(), PortLabel(*port).c_str(), seconds,
                    *blockSize, static_cast<unsigned>(*delay));
    }
    return ExitDone;
}

int RunVerify(const Invocation& inv) {
    std::string error;
    const auto port = ParsePort(inv, error);
    if (!port) {
        return Report(ExitUsage, error);
    }
    std::string expected;
    if (const auto failure = LoadKeyFile(inv.file, expected)) {
        return Report(*failure);
    }

    ReadOutcome outcome;
    double seconds = 0;
    if (const auto failure = ReadDevice(inv, *port, "Verifying",
                                        "interrupted; nothing was compared.", outcome, seconds)) {
        return Report(*failure);
    }
    int differing = 0;
    std::size_t first = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (expected[i] != outcome.keyBuffer[i]) {
            if (differing == 0) {
                first = i;
            }
            ++differing;
        }
    }
    if (differing > 0) {
        char detail[96];
        std::snprintf(detail, sizeof detail,
                      "the first at offset %zu (0x%04zX): file 0x%02X, device 0x%02X", first, first,
                      static_cast<unsigned char>(expected[first]),
                      static_cast<unsigned char>(outcome.keyBuffer[first]));
        return Report(ExitDifferences, "the device on " + PortLabel(*port) + " differs from " +
                                           inv.file + " in " + std::to_string(differing) + " of " +
                                           std::to_string(KeyBufferSize) + " bytes, " + detail +
                                           ".");
    }
    if (!inv.quiet) {
        std::printf("Verified %d bytes on %s in %.2f s: identical to %s\n", KeyBufferSize,
                    PortLabel(*port).c_str(), seconds, inv.file.c_str());
    }
    return ExitDone;
}

int RunPorts(const Invocation&) {
    const auto ports = port::ListPorts();
    if (ports.empty()) {
        std::printf("no serial ports found\n");
        return ExitDone;
    }
    for (const auto& info : ports) {
        if (info.description.empty()) {
            std::printf("%s\n", info.name.c_str());
        } else {
            std::printf("%-20s %s\n", info.name.c_str(),
                        Utf8FromSystemText(info.description).c_str());
        }
    }
    return ExitDone;
}

}  // namespace vantri::cli
