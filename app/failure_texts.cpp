#include "app/failure_texts.h"

#include <QDir>

#include "image/hexfileHandle.h"
#include "serial/platform.h"

namespace vantri {

QString InvalidResponseText(std::size_t position) {
    return QStringLiteral(
               "Invalid Keybuffer received: character %1 is not a hexadecimal digit.\n"
               "Nothing was saved.")
        .arg(static_cast<qulonglong>(position) + 1);
}

QString SaveFailedText(const QString& fileName, const std::string& reason) {
    return QStringLiteral(
               "Could not save the Keybuffer to %1: %2.\n"
               "Choose another name or folder. Cancel discards the Keybuffer.")
        .arg(QDir::toNativeSeparators(fileName), QString::fromStdString(reason));
}

QString WriteFailedText(const WriteOutcome& outcome) {
    const QString where =
        outcome.position > 0
            ? QStringLiteral("at byte %1 of %2").arg(outcome.position).arg(KeyBufferSize)
            : QStringLiteral("before the first byte of the Keybuffer");
    const QString reason = QString::fromStdString(port::ErrorText(outcome.error));
    QString what;
    if (outcome.status == ExchangeStatus::DeviceLost) {
        what = QStringLiteral("The device was lost %1 (%2).").arg(where, reason);
    } else if (outcome.error != 0) {
        what = QStringLiteral("Writing to the device failed %1 (%2).").arg(where, reason);
    } else {
        what = QStringLiteral("The port took no more bytes %1.").arg(where);
    }
    return what + QStringLiteral(
                      "\nThe write was stopped before the device had the whole file. "
                      "Write it again.");
}

}  // namespace vantri
