// Read: fetch the device's key buffer and save it in a file the user names.
#include <filesystem>
#include <system_error>

#include "form/Form1.h"
#include "form/captions.h"
#include "form/messages.h"
#include "image/save_file.h"
#include "serial/exchange.h"
#include "serial/settings.h"

namespace vantri {
namespace {

// The name to offer again after a failed save: the same name, in the
// nearest folder that still exists.  A dialog asked to start in a folder
// that is gone may not open at all, and its "" would read as the user's
// Cancel, dropping the key buffer nobody gave up.
std::filesystem::path ProposalAfterFailure(const std::filesystem::path& failed) {
    std::filesystem::path folder = failed.parent_path();
    std::error_code ec;
    while (!folder.empty() && !std::filesystem::is_directory(folder, ec)) {
        folder = folder.parent_path() == folder ? std::filesystem::path() : folder.parent_path();
    }
    return folder / failed.filename();
}

}  // namespace

void Form1::Command4_Click() {
    if (comopened != False16) {
        view_.ShowNotice(BusyMessage);
        return;
    }
    const Running running(*this, FormButton::Write);
    std::string error;
    const std::optional<PortSetting> port =
        ParsePortSetting(view_.SettingText(FormSetting::Comport), error);
    if (!OpenPort(port, error, FormButton::Write)) {
        return;
    }

    ExchangeHooks hooks = CommonHooks();
    hooks.afterRead = [this](int k) {
        if (const std::optional<std::string> caption = ReadProgressCaption(k)) {
            view_.SetCaption(*caption);
        }
    };
    hooks.readFailed = [this, &port](std::uint32_t readError) {
        view_.ShowMessage(ReadFailedMessage(*port, readError));
    };
    hooks.requestSent = [this] { answerPending_ = true; };
    const ReadOutcome outcome = ReadKeyBuffer(hooks);
    if (stopReading_) {
        // A close is waiting: the rest of the answer comes and goes first
        // (still "pending", so a second close is put off too), with events
        // processed meanwhile and no cancel.
        hooks.cancelled = nullptr;
        LetAnswerEnd(hooks, outcome);
        return;
    }
    answerPending_ = false;
    if (closing_ || outcome.status == ExchangeStatus::Cancelled) {
        return;  // the window has closed the port and is going away
    }
    if (outcome.status != ExchangeStatus::Done) {
        view_.ShowMessage(ReadEndedMessage(outcome));
        if (!closing_) {
            view_.SetCaption(WindowCaption);
        }
        return;
    }

    // The key buffer is saved under a name the user chooses; after a failed
    // save it exists only here, so the dialog is offered again.
    const std::string filter = std::string("Bin File (*.bin)") + '\0' + "*.bin" + '\0' + '\0';
    KeyFileName = DefaultKeyFileName;
    for (bool failedBefore = false; !closing_; failedBefore = true) {
        KeyFileName = view_.ShowSaveDialog(filter, KeyFileName, "Save Keybuffer To Bin file");
        if (closing_) {
            return;
        }
        if (KeyFileName.empty()) {
            // Cancel in the first dialog keeps the last progress text; only a
            // saved key buffer is "read".
            if (failedBefore) {
                view_.SetCaption(WindowCaption);
            }
            return;
        }
        KeyFileName = WithBinExtension(KeyFileName);
        const SaveOutcome saved = SaveBinFile(KeyFileName, outcome.keyBuffer);
        if (saved.ok) {
            view_.SetCaption(ReadDoneCaption);
            return;
        }
        view_.ShowMessage(SaveFailedMessage(KeyFileName, saved.reason));
        KeyFileName = ProposalAfterFailure(KeyFileName);
    }
}

}  // namespace vantri
