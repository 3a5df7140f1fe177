#include "app/message_box.h"

namespace vantri {

void ShowMessage(QWidget* owner, const QString& text, QMessageBox::Icon icon,
                 const QString& title) {
    QMessageBox box(icon, title.isEmpty() ? QString::fromLatin1(ApplicationTitle) : title, text,
                    QMessageBox::Ok, owner);
    // File names and device texts are shown as they are, never as markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

}  // namespace vantri
