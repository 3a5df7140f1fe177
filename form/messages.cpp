#include "form/messages.h"

#include "image/hexfileHandle.h"
#include "serial/platform.h"

namespace vantri {
namespace {

constexpr char ErrorTitle[] = "Error";

// A path in UTF-8, as the boxes take their texts.
std::string Utf8(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

}  // namespace

FormMessage BusyMessage() {
    return {"Allready open", "", MessageIcon::None, ""};
}

FormMessage PortNotOpenedMessage(const std::string& detail) {
    return {"Not able to Open selected Comport", ErrorTitle, MessageIcon::Warning, detail};
}

FormMessage SettingRefusedMessage(const std::string& error) {
    return {error, ErrorTitle, MessageIcon::Warning, ""};
}

FormMessage IncompleteResponseMessage(std::size_t received) {
    return {"Error in reading Keybuffer!", std::to_string(received) + " Bytes read",
            MessageIcon::Error, ""};
}

FormMessage ReadFailedMessage(std::uint32_t error) {
    return {std::to_string(error), "", MessageIcon::None, ""};
}

FormMessage InvalidResponseMessage(std::size_t position) {
    return {"Invalid Keybuffer received: character " + std::to_string(position + 1) +
                " is not a hexadecimal digit.",
            ErrorTitle, MessageIcon::Error, "Nothing was saved."};
}

FormMessage SaveFailedMessage(const std::filesystem::path& fileName, const std::string& reason) {
    return {"Could not save the Keybuffer to " + Utf8(fileName) + ": " + reason + ".", ErrorTitle,
            MessageIcon::Error, "Choose another name or folder. Cancel discards the Keybuffer."};
}

FormMessage WrongFileSizeMessage() {
    return {"Wrong File size !", "Error in filesize", MessageIcon::Error, ""};
}

FormMessage WriteFailedMessage(const WriteOutcome& outcome) {
    // A byte's write, or a drain or line check between blocks; after the
    // last block, the Keybuffer was sent but the device is gone.
    const std::string where =
        outcome.position > 0
            ? "at byte " + std::to_string(outcome.position) + " of " + std::to_string(KeyBufferSize)
        : outcome.bytesSent == KeyBufferSize ? "after the last byte of the Keybuffer"
        : outcome.bytesSent > 0 ? "after byte " + std::to_string(outcome.bytesSent) + " of " +
                                      std::to_string(KeyBufferSize)
                                : "before the first byte of the Keybuffer";
    const std::string reason = port::ErrorText(outcome.error);
    std::string what;
    if (outcome.status == ExchangeStatus::DeviceLost) {
        what = "The device was lost " + where + " (" + reason + ").";
    } else if (outcome.error != 0) {
        what = "Writing to the device failed " + where + " (" + reason + ").";
    } else {
        what = "The port took no more bytes " + where + ".";
    }
    return {what, ErrorTitle, MessageIcon::Error,
            outcome.bytesSent == KeyBufferSize
                ? "The device may not have kept the file. Write it again."
                : "The write was stopped before the device had the whole file. Write it again."};
}

}  // namespace vantri
