#include "cli/messages.h"

#include <cstdio>

#include "cli/console.h"
#include "form/write_stop.h"
#include "image/access_advice.h"
#include "serial/open_failure.h"
#include "serial/platform.h"
#include "serial/port_choices.h"
#include "serial/quiet_line.h"

namespace vantri::cli {
namespace {

// The system's own text for an error, in the UTF-8 of everything else printed.
std::string SystemErrorText(std::uint32_t error) {
    return Utf8FromSystemText(port::ErrorText(error));
}

}  // namespace

int Report(const Failure& failure) {
    std::fprintf(stderr, "vantri-key: %s\n", failure.text.c_str());
    std::fflush(stderr);
    return failure.code;
}

Failure PortOpenFailure(const PortSetting& port, std::int32_t result, std::uint32_t error) {
    // The window says the same, from the same source.
    const OpenFailure why = DescribeOpenFailure(port, result, error);
    std::string text = "cannot open " + PortLabel(port) + ": " + Utf8FromSystemText(why.reason);
    if (!why.advice.empty()) {
        text += "; " + why.advice;
    }
    if (why.listPorts) {
        text += why.advice.empty() ? "; " : why.advice.back() == '?' ? " " : ": ";
        text += "try vantri-key ports to list the serial ports";
    }
    return {ExitPortOpen, text + "."};
}

Failure KeyFileFailure(const std::string& name, const std::string& reason) {
    return {ExitKeyFile,
            "cannot read " + name + ": " + reason + "; " +
                (reason == "permission denied" ? FileAccessAdvice(PathFromUtf8(name), name) + "."
                                               : "check the file name.")};
}

Failure ReadFailure(const PortSetting& port, const ReadOutcome& outcome,
                    std::uint32_t answerTimeoutMs) {
    const std::string label = PortLabel(port);
    const std::string got = std::to_string(outcome.response.size()) + " of " +
                            std::to_string(ResponseLength) + " characters";
    const std::size_t at = outcome.badPosition;
    switch (outcome.status) {
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
            char code[8];
            std::snprintf(
                code, sizeof code, "0x%02X",
                at < outcome.response.size() ? unsigned(std::uint8_t(outcome.response[at])) : 0u);
            return {ExitResponse, "invalid response from " + label + ": the character at offset " +
                                      std::to_string(at) + " (" + code +
                                      ") is not a hex digit; check the cable and read again."};
        }
        case ExchangeStatus::Incomplete:
            break;
        default:
            return {ExitResponse, "the read from " + label + " did not complete."};
    }
    if (outcome.error != 0) {
        const bool lost = port::IsDeviceLostError(outcome.error);
        return {
            lost ? ExitDeviceLost : ExitResponse,
            (lost ? "device lost on " : "reading from ") + label +
                (lost ? " after " : " failed after ") + got + " (" +
                SystemErrorText(outcome.error) +
                (lost ? "); reconnect it and read again." : "); check the cable and read again.")};
    }
    if (outcome.response.empty()) {
        // A device silent after an interrupted write is waiting for its data,
        // not missing: say both.
        return {ExitResponse,
                "the device on " + label + " did not answer within " +
                    std::to_string(answerTimeoutMs / 1000) +
                    " s; check that it is connected and switched on, and that this is its port; "
                    "if a write to it was interrupted, it may still be waiting for the rest of "
                    "that write: switch it off and on, then try again."};
    }
    return {ExitResponse,
            "incomplete response from " + label + ": " + got + "; check the cable and read again."};
}

Failure WriteFailure(const PortSetting& port, const WriteOutcome& outcome) {
    // What a write that stopped left on the device, and what to do.  Once
    // 0x06 is out the device takes the next 4096 bytes as its buffer,
    // whatever they are: another write now would be mixed into the rest of
    // this one, and a read would only feed it one more byte.  Only a fresh
    // start clears that.
    const std::string label = PortLabel(port),
                      advice = outcome.requestSent
                                   ? "the device holds a partly written key buffer and may be "
                                     "waiting for the rest of it; switch it off and on (or "
                                     "reconnect it) before anything else, then write again."
                                   : "nothing was sent; check the device and write again.";
    const std::string because =
        outcome.error != 0 ? " (" + SystemErrorText(outcome.error) + ")" : "";
    // Where in the write the trouble struck.
    const WriteStop stop = WhereWriteStopped(outcome);
    const std::string where = stop == WriteStop::AtByte ? AtByteOfBuffer(outcome.position)
                              : stop == WriteStop::BeforeFirst
                                  ? "at the write request"
                                  : "after " + std::to_string(outcome.bytesSent) + " bytes";
    char held[32];
    std::snprintf(held, sizeof held, "%.1f s", outcome.heldMs / 1000.0);
    switch (outcome.status) {
        case ExchangeStatus::Cancelled:
            return {ExitInterrupted, outcome.requestSent
                                         ? "write abandoned after " +
                                               std::to_string(outcome.bytesSent) + " of " +
                                               std::to_string(KeyBufferSize) + " bytes: " + advice
                                         : "interrupted; nothing was sent."};
        case ExchangeStatus::NotQuiet:
            return {ExitResponse, "the device on " + label + " kept sending for " +
                                      std::to_string(QuietLineLimitMs / 1000) +
                                      " s, so it was not asked to take a write; " + advice};
        case ExchangeStatus::Held:
            return {ExitDeviceLost, "the write to " + label + " was held up for " + held +
                                        " after byte " + std::to_string(outcome.bytesSent) +
                                        ", longer than the device waits for the next block; " +
                                        advice};
        case ExchangeStatus::DeviceLost:
            return {ExitDeviceLost, "device lost on " + label + " " + where + because +
                                        "; reconnect it: " + advice};
        case ExchangeStatus::WriteFailed:
            return {ExitDeviceLost,
                    "a write to " + label +
                        (outcome.error == 0 ? " timed out " + where + ": the device takes no data; "
                                            : " failed " + where + because + "; ") +
                        advice};
        default:
            return {ExitDeviceLost, "the write to " + label + " did not complete."};
    }
}

}  // namespace vantri::cli
