// Read: fetch the device's key buffer and save it in a file the user names.
#include <QComboBox>
#include <QCoreApplication>
#include <QPushButton>

#include "app/Form1.h"
#include "app/captions.h"
#include "app/failure_texts.h"
#include "app/local_path.h"
#include "app/message_box.h"
#include "dialogs/Module1.h"
#include "image/save_file.h"
#include "serial/exchange.h"
#include "serial/settings.h"

namespace vantri {

void Form1::Command4_Click() {
    if (comopened != False16) {
        ShowBusy();
        return;
    }
    const Running running(*this, Command3);

    std::string error;
    const std::optional<PortSetting> port =
        ParsePortSetting(comport->currentText().toStdString(), error);
    if (!port) {
        RefuseSetting(error);
        return;
    }
    if (!OpenPort(*port, Command3)) {
        return;
    }

    ExchangeHooks hooks = CommonHooks();
    hooks.afterRead = [this](int k) {
        if (const std::optional<QString> caption = ReadProgressCaption(k)) {
            setWindowTitle(*caption);
        }
    };
    hooks.readFailed = [this](std::uint32_t readError) {
        ShowMessage(this, QString::number(readError));
    };
    const ReadOutcome outcome = ReadKeyBuffer(hooks);
    if (closing_ || outcome.status == ExchangeStatus::Cancelled) {
        return;  // the window has closed the port and is going away
    }

    bool saved = false;
    if (outcome.status == ExchangeStatus::Done) {
        const SaveResult result = SaveKeyBuffer(outcome.keyBuffer);
        if (result == SaveResult::Cancelled) {
            // The caption keeps its last progress text.
            EndOperation(Command3);
            return;
        }
        saved = result == SaveResult::Saved;
    } else if (outcome.status == ExchangeStatus::Invalid) {
        ShowMessage(this, InvalidResponseText(outcome.badPosition), QMessageBox::Critical,
                    QStringLiteral("Error"));
    } else {
        ShowMessage(this, QStringLiteral("Error in reading Keybuffer!"), QMessageBox::Critical,
                    QString::number(outcome.response.size()) + QStringLiteral(" Bytes read"));
    }
    if (closing_) {
        return;
    }
    // Only a saved key buffer is "read"; a failed Read leaves the plain title.
    setWindowTitle(QString::fromLatin1(saved ? ReadDoneCaption : WindowCaption));
    EndOperation(Command3);
}

Form1::SaveResult Form1::SaveKeyBuffer(const std::string& keyBuffer) {
    const QString filter = QStringLiteral("Bin File (*.bin)") + QChar(0) + QStringLiteral("*.bin") +
                           QChar(0) + QChar(0);
    KeyFileName = QStringLiteral("Ram.Bin");
    for (bool failedBefore = false;; failedBefore = true) {
        KeyFileName =
            ShowSaveDialog(filter, this, KeyFileName, QStringLiteral("Save Keybuffer To Bin file"));
        if (closing_) {
            return SaveResult::Discarded;
        }
        if (KeyFileName.isEmpty()) {
            return failedBefore ? SaveResult::Discarded : SaveResult::Cancelled;
        }
        KeyFileName = WithBinExtension(KeyFileName);
        const SaveOutcome outcome = SaveBinFile(LocalPath(KeyFileName), keyBuffer);
        if (outcome.ok) {
            KeyFileName.clear();
            return SaveResult::Saved;
        }
        // The key buffer exists only here now: say why, and ask again.
        ShowMessage(this, SaveFailedText(KeyFileName, outcome.reason), QMessageBox::Critical,
                    QStringLiteral("Error"));
        if (closing_) {
            return SaveResult::Discarded;
        }
    }
}

}  // namespace vantri
