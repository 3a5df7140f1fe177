// The window's message boxes: one OK button, a text, an icon and a title,
// and a message's detail as the box's smaller, informative text.  A box
// that gives no title of its own shows ApplicationTitle (form/form_view.h).
// (The title is set on each box rather than as the application's display
// name, which would also be appended to the window caption.)
//
// ShowMessageBox is modal and returns when the user has pressed OK.
// ShowNoticeBox shows the same box not modal and returns at once; the box
// deletes itself when it is closed.
#pragma once

#include "form/form_view.h"

class QMessageBox;
class QWidget;

namespace vantri {

void ShowMessageBox(QWidget* owner, const FormMessage& message);
QMessageBox* ShowNoticeBox(QWidget* owner, const FormMessage& message);

}  // namespace vantri
