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
        const std::filesystem::path parent = folder.parent_path();
        folder = parent == folder ? std::filesystem::path() : parent;
    }
    return folder / failed.filename();
}

}  // namespace

void Form1::Command4_Click() {
    if (comopened != False16) {
        view_.ShowNotice(BusyMessage());
        return;
    }
    const Running running(*this, FormButton::Write);

    std::string error;
    const std::optional<PortSetting> port =
        ParsePortSetting(view_.SettingText(FormSetting::Comport), error);
    if (!port) {
        view_.ShowMessage(SettingRefusedMessage(error));
        return;
    }
    if (!OpenPort(*port, FormButton::Write)) {
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
        // (still "pending", so a second close is put off too).
        ExchangeHooks rest;
        rest.processEvents = [this] { view_.ProcessEvents(); };
        LetAnswerEnd(rest, outcome);
        EndOperation(FormButton::Write);
        return;
    }
    answerPending_ = false;
    if (closing_ || outcome.status == ExchangeStatus::Cancelled) {
        return;  // the window has closed the port and is going away
    }

    bool saved = false;
    if (outcome.status == ExchangeStatus::Done) {
        const SaveResult result = SaveKeyBuffer(outcome.keyBuffer);
        if (result == SaveResult::Cancelled) {
            // The caption keeps its last progress text.
            EndOperation(FormButton::Write);
            return;
        }
        saved = result == SaveResult::Saved;
    } else {
        view_.ShowMessage(ReadEndedMessage(outcome));
    }
    if (closing_) {
        return;
    }
    // Only a saved key buffer is "read"; a failed Read leaves the plain title.
    view_.SetCaption(saved ? ReadDoneCaption : WindowCaption);
    EndOperation(FormButton::Write);
}

Form1::SaveResult Form1::SaveKeyBuffer(const KeyBytes& keyBuffer) {
    const std::string filter = std::string("Bin File (*.bin)") + '\0' + "*.bin" + '\0' + '\0';
    KeyFileName = DefaultKeyFileName;
    for (bool failedBefore = false;; failedBefore = true) {
        KeyFileName = view_.ShowSaveDialog(filter, KeyFileName, "Save Keybuffer To Bin file");
        if (closing_) {
            return SaveResult::Discarded;
        }
        if (KeyFileName.empty()) {
            return failedBefore ? SaveResult::Discarded : SaveResult::Cancelled;
        }
        KeyFileName = WithBinExtension(KeyFileName);
        const SaveOutcome outcome = SaveBinFile(KeyFileName, keyBuffer);
        if (outcome.ok) {
            KeyFileName.clear();
            return SaveResult::Saved;
        }
        // The key buffer exists only here now: say why, and ask again.
        view_.ShowMessage(SaveFailedMessage(KeyFileName, outcome.reason));
        KeyFileName = ProposalAfterFailure(KeyFileName);
        if (closing_) {
            return SaveResult::Discarded;
        }
    }
}

}  // namespace vantri
