#include "app/message_box.h"

#include <QMessageBox>

namespace vantri {
namespace {

void Fill(QMessageBox& box, const FormMessage& message) {
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    if (message.icon == MessageIcon::Warning) {
        icon = QMessageBox::Warning;
    } else if (message.icon == MessageIcon::Error) {
        icon = QMessageBox::Critical;
    }
    box.setIcon(icon);
    box.setWindowTitle(
        QString::fromStdString(message.title.empty() ? ApplicationTitle : message.title));
    // File names and device texts are shown as they are, never as markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromStdString(message.text));
    box.setInformativeText(QString::fromStdString(message.detail));
    box.setStandardButtons(QMessageBox::Ok);
}

}  // namespace

void ShowMessageBox(QWidget* owner, const FormMessage& message) {
    QMessageBox box(owner);
    Fill(box, message);
    box.exec();
}

QMessageBox* ShowNoticeBox(QWidget* owner, const FormMessage& message) {
    auto* box = new QMessageBox(owner);
    Fill(*box, message);
    box->setWindowModality(Qt::NonModal);
    // OK, Escape and the box's own close box all end in finished.
    QObject::connect(box, &QDialog::finished, box, &QObject::deleteLater);
    box->show();
    return box;
}

}  // namespace vantri
