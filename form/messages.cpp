#include "form/messages.h"

#include "form/write_stop.h"

#include "image/hexfileHandle.h"
#include "serial/platform.h"
#include "serial/port_choices.h"

namespace vantri {
namespace {

constexpr char ErrorTitle[] = "Error";

// What a device that may be waiting for the rest of a write needs first:
// until then it takes whatever comes as key bytes.
constexpr char RestartThenWrite[] =
    "Switch it off and on (or reconnect it) before anything else, then write the file again.";

// A device still talking from an earlier exchange, or not this device.
FormMessage NotQuietMessage(const std::string& whatBecame, const std::string& whatNext) {
    return {"The device keeps sending: the line never went quiet.", ErrorTitle, MessageIcon::Error,
            whatBecame +
                " Check that Comport is the device's port, switch the device off and on, " +
                "then " + whatNext + "."};
}

}  // namespace

FormMessage PortNotOpenedMessage(const std::string& detail) {
    return {"Not able to Open selected Comport", ErrorTitle, MessageIcon::Warning, detail};
}

FormMessage SettingRefusedMessage(const std::string& error) {
    return {error, ErrorTitle, MessageIcon::Warning, ""};
}

FormMessage ReadFailedMessage(const PortSetting& port, std::uint32_t error) {
    const std::string advice = port::IsDeviceLostError(error)
                                   ? "the device is gone: reconnect it, then read again."
                                   : "check the cable and the device, then read again.";
    return {
        std::to_string(error), "", MessageIcon::None,
        "Reading from " + PortLabel(port) + " failed: " + port::ErrorText(error) + "; " + advice};
}

FormMessage ReadEndedMessage(const ReadOutcome& outcome) {
    switch (outcome.status) {
        case ExchangeStatus::Invalid:
            // badPosition counts from 0, the user reads it from 1.
            return {"Invalid Keybuffer received: character " +
                        std::to_string(outcome.badPosition + 1) + " is not a hexadecimal digit.",
                    ErrorTitle, MessageIcon::Error, "Nothing was saved."};
        case ExchangeStatus::Overlong:
            return {"The device's answer went on past the " + std::to_string(ResponseLength) +
                        " characters of a Keybuffer.",
                    ErrorTitle, MessageIcon::Error,
                    "It was still sending an earlier answer, or answered twice. Nothing was saved; "
                    "wait a moment and read again."};
        case ExchangeStatus::NotQuiet:
            return NotQuietMessage("Nothing was saved.", "read again");
        default:
            break;
    }
    const std::size_t received = outcome.response.size();
    return {"Error in reading Keybuffer!", std::to_string(received) + " Bytes read",
            MessageIcon::Error,
            received > 0 ? ""
                         : "The device did not answer. Check the cable and its power. A device "
                           "whose write was interrupted may still be waiting for the rest of it: "
                           "switch it off and on, then read again."};
}

FormMessage SaveFailedMessage(const std::filesystem::path& fileName, const std::string& reason) {
    const std::u8string name = fileName.u8string();  // the boxes take UTF-8
    return {"Could not save the Keybuffer to " + std::string(name.begin(), name.end()) + ": " +
                reason + ".",
            ErrorTitle, MessageIcon::Error,
            "Choose another name or folder. Cancel discards the Keybuffer."};
}

FormMessage WriteFailedMessage(const WriteOutcome& outcome, bool requestSent) {
    if (outcome.status == ExchangeStatus::NotQuiet) {
        return NotQuietMessage("Nothing was sent to it.", "write the file again");
    }
    if (outcome.status == ExchangeStatus::Held) {
        // In seconds with one decimal, "1.2".
        return {"The Write was held for " + std::to_string(outcome.heldMs / 1000) + "." +
                    std::to_string(outcome.heldMs % 1000 / 100) +
                    " s between two blocks, longer than the device may wait.",
                ErrorTitle, MessageIcon::Error,
                std::string("The device may hold a partly written Keybuffer. ") + RestartThenWrite};
    }
    // A byte's write, or a drain or line check between blocks; after the
    // last block, the Keybuffer was sent but the device is gone.
    const WriteStop stop = WhereWriteStopped(outcome);
    const std::string where =
        stop == WriteStop::AtByte        ? AtByteOfBuffer(outcome.position)
        : stop == WriteStop::AfterLast   ? "after the last byte of the Keybuffer"
        : stop == WriteStop::BeforeFirst ? "before the first byte of the Keybuffer"
                                         : "after byte " + std::to_string(outcome.bytesSent) +
                                               " of " + std::to_string(KeyBufferSize);
    const std::string reason = " (" + port::ErrorText(outcome.error) + ").";
    const std::string what = outcome.status == ExchangeStatus::DeviceLost
                                 ? "The device was lost " + where + reason
                             : outcome.error != 0 ? "Writing to the device failed " + where + reason
                                                  : "The port took no more bytes " + where + ".";
    const std::string detail =
        !requestSent ? "Nothing was sent to the device. Check the cable and the device, then write "
                       "the file again."
        : outcome.bytesSent == KeyBufferSize
            ? std::string("The device may not have kept the file. ") + RestartThenWrite
            : std::string(
                  "The device got only part of the file and may be waiting for the rest. ") +
                  RestartThenWrite;
    return {what, ErrorTitle, MessageIcon::Error, detail};
}

}  // namespace vantri
