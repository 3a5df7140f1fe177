// Write: send a key buffer file the user chooses to the device.
#include <QComboBox>
#include <QPushButton>

#include "app/Form1.h"
#include "app/captions.h"
#include "app/failure_texts.h"
#include "app/local_path.h"
#include "app/message_box.h"
#include "dialogs/Module1.h"
#include "serial/exchange.h"
#include "serial/settings.h"

namespace vantri {

void Form1::Command3_Click() {
    if (comopened != False16) {
        ShowBusy();
        return;
    }
    const Running running(*this, Command4);

    // All three settings are checked before the port is opened; Blocksize
    // is taken once, the Delay box is read again at every pause.
    std::string error;
    const std::optional<PortSetting> port =
        ParsePortSetting(comport->currentText().toStdString(), error);
    std::optional<int> blockSize;
    std::optional<std::uint32_t> delay;
    if (port) {
        blockSize = ParseBlocksize(mylen->currentText().toStdString(), error);
    }
    if (blockSize) {
        delay = ParseDelay(mydelay->currentText().toStdString(), error);
    }
    if (!delay) {
        RefuseSetting(error);
        return;
    }
    if (!OpenPort(*port, Command4)) {
        return;
    }

    const QString filter = QStringLiteral("Bin Files(*.bin )") + QChar(0) +
                           QStringLiteral("*.bin") + QChar(0) + QChar(0);
    KeyFileName = ShowOpenDialog(filter, OfnFileMustExist | OfnPathMustExist | OfnHideReadOnly,
                                 this, QStringLiteral("Select Keybuffer Bin file to write"));
    if (closing_) {
        return;
    }
    if (KeyFileName.isEmpty()) {
        EndOperation(Command4);
        return;
    }

    // Nothing but a regular file of exactly 4096 bytes is read; anything
    // larger, a folder or a device is refused before any content is read.
    LoadBinFile(KeyImage, LocalPath(KeyFileName), KeyBufferSize);
    if (BinFileSize != KeyBufferSize) {
        ShowMessage(this, QStringLiteral("Wrong File size !"), QMessageBox::Critical,
                    QStringLiteral("Error in filesize"));
        if (closing_) {
            return;
        }
        KeyFileName.clear();
        EndOperation(Command4);
        return;
    }

    const std::int16_t stride = 1;
    const std::string data =
        hextobin(QString::fromLatin1(GetHexBlock(KeyImage, 0, KeyBufferSize, stride)));

    ExchangeHooks hooks = CommonHooks();
    hooks.afterBlock = [this](int p) { setWindowTitle(WriteProgressCaption(p)); };
    hooks.delay = [this]() -> std::optional<std::uint32_t> {
        std::string ignored;  // an unusable text keeps the last good Delay
        return ParseDelay(mydelay->currentText().toStdString(), ignored);
    };
    const WriteOutcome outcome = WriteKeyBuffer(data, *blockSize, *delay, hooks);
    if (closing_ || outcome.status == ExchangeStatus::Cancelled) {
        return;  // the window has closed the port and is going away
    }
    if (outcome.status == ExchangeStatus::Done) {
        setWindowTitle(QString::fromLatin1(WriteDoneCaption));
    } else {
        ShowMessage(this, WriteFailedText(outcome), QMessageBox::Critical, QStringLiteral("Error"));
        if (closing_) {
            return;
        }
        setWindowTitle(QString::fromLatin1(WindowCaption));
    }
    KeyFileName.clear();
    EndOperation(Command4);
}

}  // namespace vantri
