#include "cli/messages.h"

#include <cstdio>

#include "cli/console.h"
#include "form/write_stop.h"
#include "image/access_advice.h"
#include "image/hexfileHandle.h"
#include "serial/platform.h"
#include "serial/quiet_line.h"
#include "serial/zrkCommModule.h"

namespace vantri::cli {
namespace {

constexpr const char* kListPorts = "try vantri-key ports to list the serial ports";

// The system's own text for an error, in the UTF-8 of everything else printed.
std::string SystemErrorText(std::uint32_t error) {
    return Utf8FromSystemText(port::ErrorText(error));
}

std::string Characters(const ReadOutcome& outcome) {
    return std::to_string(outcome.response.size()) + " of " + std::to_string(ResponseLength) +
           " characters";
}

// Where in a write the trouble struck, and what it left on the device.
std::string WriteWhere(const WriteOutcome& outcome) {
    switch (WhereWriteStopped(outcome)) {
        case WriteStop::AtByte:
            return AtByteOfBuffer(outcome.position);
        case WriteStop::BeforeFirst:
            return "at the write request";
        default:
            return "after " + std::to_string(outcome.bytesSent) + " bytes";
    }
}

// What a write that stopped left on the device, and what to do.  Once 0x06
// is out the device takes the next 4096 bytes as its buffer, whatever they
// are: another write now would be mixed into the rest of this one, and a
// read would only feed it one more byte.  Only a fresh start clears that.
std::string WriteAdvice(const WriteOutcome& outcome) {
    if (!outcome.requestSent) {
        return "nothing was sent; check the device and write again";
    }
    return "the device holds a partly written key buffer and may be waiting for the rest of it; "
           "switch it off and on (or reconnect it) before anything else, then write again";
}

// A device silent after an interrupted write is waiting for its data, not
// missing: say both.
constexpr const char* kMaybeWaiting =
    "check that it is connected and switched on, and that this is its port; if a write to it "
    "was interrupted, it may still be waiting for the rest of that write: switch it off and on, "
    "then try again";

}  // namespace

int Report(const Failure& failure) {
    std::fprintf(stderr, "vantri-key: %s\n", failure.text.c_str());
    std::fflush(stderr);
    return failure.code;
}

int Report(ExitCode code, const std::string& text) {
    return Report(Failure{code, text});
}

Failure PortOpenFailure(const PortSetting& port, std::int32_t result, std::uint32_t error) {
    // The window says the same, from the same source.
    const OpenFailure why = DescribeOpenFailure(port, result, error);
    std::string text = "cannot open " + PortLabel(port) + ": " + Utf8FromSystemText(why.reason);
    if (!why.advice.empty()) {
        text += "; " + why.advice;
    }
    if (why.listPorts) {
        const char* joint = why.advice.empty() ? "; " : why.advice.back() == '?' ? " " : ": ";
        text += joint + std::string(kListPorts);
    }
    return {ExitPortOpen, text + "."};
}

Failure KeyFileFailure(const std::string& name, const std::string& reason) {
    if (reason == "permission denied") {
        return {ExitKeyFile, "cannot read " + name + ": permission denied; " +
                                 FileAccessAdvice(PathFromUtf8(name), name) + "."};
    }
    return {ExitKeyFile, "cannot read " + name + ": " + reason + "; check the file name."};
}

Failure ReadFailure(const PortSetting& port, const ReadOutcome& outcome,
                    std::uint32_t answerTimeoutMs) {
    const std::string label = PortLabel(port);
    switch (outcome.status) {
        case ExchangeStatus::Cancelled:
            return {ExitInterrupted, "interrupted."};
        case ExchangeStatus::Overlong:
            return {ExitResponse,
                    "the answer from " + label +
                        " was followed by more of it: it began before the request, or the "
                        "device answered twice; nothing was taken from it. Wait a moment and "
                        "read again."};
        case ExchangeStatus::NotQuiet:
            return {ExitResponse, "the device on " + label + " kept sending for " +
                                      std::to_string(QuietLineLimitMs / 1000) +
                                      " s and was never asked; check that this is its port and "
                                      "that nothing else talks on the line."};
        case ExchangeStatus::Invalid: {
            const std::size_t at = outcome.badPosition;
            const unsigned value = at < outcome.response.size()
                                       ? static_cast<unsigned char>(outcome.response[at])
                                       : 0u;
            char code[8];
            std::snprintf(code, sizeof code, "0x%02X", value);
            return {ExitResponse, "invalid response from " + label + ": the character at offset " +
                                      std::to_string(at) + " (" + code +
                                      ") is not a hex digit; check the cable and read again."};
        }
        case ExchangeStatus::Incomplete:
            break;
        default:
            return {ExitResponse, "the read from " + label + " did not complete."};
    }
    if (outcome.error != 0 && port::IsDeviceLostError(outcome.error)) {
        return {ExitDeviceLost, "device lost on " + label + " after " + Characters(outcome) + " (" +
                                    SystemErrorText(outcome.error) +
                                    "); reconnect it and read again."};
    }
    if (outcome.error != 0) {
        return {ExitResponse, "reading from " + label + " failed after " + Characters(outcome) +
                                  " (" + SystemErrorText(outcome.error) +
                                  "); check the cable and read again."};
    }
    if (outcome.response.empty()) {
        return {ExitResponse, "the device on " + label + " did not answer within " +
                                  std::to_string(answerTimeoutMs / 1000) + " s; " + kMaybeWaiting +
                                  "."};
    }
    return {ExitResponse, "incomplete response from " + label + ": " + Characters(outcome) +
                              "; check the cable and read again."};
}

Failure WriteFailure(const PortSetting& port, const WriteOutcome& outcome) {
    const std::string label = PortLabel(port);
    const std::string because =
        outcome.error != 0 ? " (" + SystemErrorText(outcome.error) + ")" : "";
    switch (outcome.status) {
        case ExchangeStatus::Cancelled:
            if (!outcome.requestSent) {
                return {ExitInterrupted, "interrupted; nothing was sent."};
            }
            return {ExitInterrupted, "write abandoned after " + std::to_string(outcome.bytesSent) +
                                         " of " + std::to_string(KeyBufferSize) +
                                         " bytes: " + WriteAdvice(outcome) + "."};
        case ExchangeStatus::NotQuiet:
            return {ExitResponse, "the device on " + label + " kept sending for " +
                                      std::to_string(QuietLineLimitMs / 1000) +
                                      " s, so it was not asked to take a write; " +
                                      WriteAdvice(outcome) + "."};
        case ExchangeStatus::Held: {
            char held[32];
            std::snprintf(held, sizeof held, "%.1f s", outcome.heldMs / 1000.0);
            return {ExitDeviceLost, "the write to " + label + " was held up for " + held +
                                        " after byte " + std::to_string(outcome.bytesSent) +
                                        ", longer than the device waits for the next block; " +
                                        WriteAdvice(outcome) + "."};
        }
        case ExchangeStatus::DeviceLost:
            return {ExitDeviceLost, "device lost on " + label + " " + WriteWhere(outcome) +
                                        because + "; reconnect it: " + WriteAdvice(outcome) + "."};
        case ExchangeStatus::WriteFailed:
            if (outcome.error == 0) {
                return {ExitDeviceLost, "a write to " + label + " timed out " +
                                            WriteWhere(outcome) + ": the device takes no data; " +
                                            WriteAdvice(outcome) + "."};
            }
            return {ExitDeviceLost, "a write to " + label + " failed " + WriteWhere(outcome) +
                                        because + "; " + WriteAdvice(outcome) + "."};
        default:
            return {ExitDeviceLost, "the write to " + label + " did not complete."};
    }
}

}  // namespace vantri::cli
