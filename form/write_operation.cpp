// Write: send a key buffer file the user chooses to the device.
#include "form/Form1.h"
#include "form/captions.h"
#include "form/messages.h"
#include "serial/exchange.h"
#include "serial/settings.h"

namespace vantri {

void Form1::Command3_Click() {
    if (comopened != False16) {
        view_.ShowNotice(BusyMessage);
        return;
    }
    const Running running(*this, FormButton::Read);
    // All three settings are checked before the port is opened; Blocksize
    // is taken once, the Delay box is read again at every pause.
    std::string error;
    std::optional<PortSetting> port =
        ParsePortSetting(view_.SettingText(FormSetting::Comport), error);
    const std::optional<int> blockSize =
        port ? ParseBlocksize(view_.SettingText(FormSetting::Blocksize), error) : std::nullopt;
    const std::optional<std::uint32_t> delay =
        blockSize ? ParseDelay(view_.SettingText(FormSetting::Delay), error) : std::nullopt;
    if (!OpenPort(delay ? port : std::nullopt, error, FormButton::Read)) {
        return;
    }

    const std::string filter = std::string("Bin Files(*.bin )") + '\0' + "*.bin" + '\0' + '\0';
    KeyFileName =
        view_.ShowOpenDialog(filter, OfnFileMustExist | OfnPathMustExist | OfnHideReadOnly,
                             "Select Keybuffer Bin file to write");
    if (closing_ || KeyFileName.empty()) {
        return;
    }
    // Nothing but a regular file of exactly 4096 bytes is read; anything
    // larger, a folder or a device is refused before any content is read.
    LoadBinFile(KeyImage, KeyFileName, KeyBufferSize);
    if (BinFileSize != KeyBufferSize) {
        view_.ShowMessage(WrongFileSizeMessage);
        return;
    }

    ExchangeHooks hooks = CommonHooks();
    hooks.afterBlock = [this](int p) { view_.SetCaption(WriteProgressCaption(p)); };
    hooks.requestSent = [this] { writeRequestSent_ = true; };
    hooks.delay = [this]() -> std::optional<std::uint32_t> {
        std::string ignored;  // an unusable text keeps the last good Delay
        return ParseDelay(view_.SettingText(FormSetting::Delay), ignored);
    };
    const WriteOutcome outcome = WriteKeyBuffer(
        hextobin(GetHexBlock(KeyImage, 0, KeyBufferSize, 1)), *blockSize, *delay, hooks);
    if (closing_ || outcome.status == ExchangeStatus::Cancelled) {
        return;  // the window has closed the port and is going away
    }
    const bool done = outcome.status == ExchangeStatus::Done;
    if (!done) {
        view_.ShowMessage(WriteFailedMessage(outcome, writeRequestSent_));
    }
    if (!closing_) {
        view_.SetCaption(done ? WriteDoneCaption : WindowCaption);
    }
}

}  // namespace vantri
