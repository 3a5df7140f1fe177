#include "app/message_box.h"

#include <QMessageBox>

namespace vantri {

void ShowMessageBox(QWidget* owner, const FormMessage& message) {
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    if (message.icon == MessageIcon::Warning) {
        icon = QMessageBox::Warning;
    } else if (message.icon == MessageIcon::Error) {
        icon = QMessageBox::Critical;
    }
    const QString title =
        QString::fromStdString(message.title.empty() ? ApplicationTitle : message.title);
    QMessageBox box(icon, title, QString::fromStdString(message.text), QMessageBox::Ok, owner);
    // File names and device texts are shown as they are, never as markup.
    box.setTextFormat(Qt::PlainText);
    box.setInformativeText(QString::fromStdString(message.detail));
    box.exec();
}

}  // namespace vantri
