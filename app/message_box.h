// The window's message boxes: modal, one OK button, a text, an icon and a
// title.  A box that gives no title of its own shows the application title
// "Vantri".  (The title is set on each box rather than as the application's
// display name, which would also be appended to the window caption.)
#pragma once

#include <QMessageBox>
#include <QString>

namespace vantri {

inline constexpr char ApplicationTitle[] = "Vantri";

void ShowMessage(QWidget* owner, const QString& text, QMessageBox::Icon icon = QMessageBox::NoIcon,
                 const QString& title = QString());

}  // namespace vantri
