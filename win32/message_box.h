// The window's message boxes on MessageBoxW: one OK button, the message's
// icon, modal to `owner`.  A message without a title shows ApplicationTitle
// (form/form_view.h); a detail text follows the text after a blank line, as a
// system box has no second, smaller text.
//
// NoticeBox is the same box shown so that it holds nothing: MessageBoxW
// runs a modal loop on the thread that calls it, and the window's thread
// runs the operations, so the notice gets a short-lived thread of its own.
// It has no owner (an owner on another thread would have the two threads
// share their input, and would be disabled while the box is up) and stays
// on top, so it is not lost behind the window.
#pragma once

#include <windows.h>

#include "form/form_view.h"

namespace vantri::win32 {

// `style`: MB_* bits added to MB_OK and the icon.
void ShowMessageBox(HWND owner, const FormMessage& message, UINT style = 0);

class NoticeBox {
  public:
    NoticeBox() = default;
    ~NoticeBox() { TakeDown(); }
    NoticeBox(const NoticeBox&) = delete;
    NoticeBox& operator=(const NoticeBox&) = delete;

    // Shows `message` and returns at once; nothing while a notice is up.
    void Show(const FormMessage& message);
    // Closes the notice, if one is up, as its Escape key would, and returns
    // once its thread has ended.
    void TakeDown();

  private:
    static DWORD WINAPI Run(void* self);

    FormMessage message_;  // the thread's, untouched while it runs
    HANDLE thread_ = nullptr;
    DWORD threadId_ = 0;
};

}  // namespace vantri::win32
