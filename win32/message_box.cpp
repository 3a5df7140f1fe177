#include "win32/message_box.h"

#include <string>

#include "win32/utf16.h"

namespace vantri::win32 {

void ShowMessageBox(HWND owner, const FormMessage& message, UINT style) {
    std::wstring text = Widen(message.text);
    if (!message.detail.empty()) {
        text += L"\n\n" + Widen(message.detail);
    }
    const std::wstring title = Widen(message.title.empty() ? ApplicationTitle : message.title);
    MessageBoxW(owner, text.c_str(), title.c_str(),
                MB_OK | static_cast<UINT>(message.icon) | style);
}

void NoticeBox::Show(const FormMessage& message) {
    if (thread_ && WaitForSingleObject(thread_, 0) == WAIT_TIMEOUT) {
        return;  // one is up
    }
    TakeDown();  // the ended one's handle
    message_ = message;
    // Without a thread there is no notice: one on this thread would hold
    // the operation.
    thread_ = CreateThread(nullptr, 0, &NoticeBox::Run, this, 0, &threadId_);
}

void NoticeBox::TakeDown() {
    if (!thread_) {
        return;
    }
    // Just after the start the box may not exist yet: Cancel is pressed
    // until the thread has ended.  Messages the box's thread sends to this
    // one meanwhile are answered, so that it cannot wait for us in turn.
    while (MsgWaitForMultipleObjects(1, &thread_, FALSE, 10, QS_SENDMESSAGE) != WAIT_OBJECT_0) {
        MSG sent;
        PeekMessageW(&sent, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        EnumThreadWindows(
            threadId_,
            [](HWND window, LPARAM) -> BOOL {
                PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
                return TRUE;
            },
            0);
    }
    CloseHandle(thread_);
    thread_ = nullptr;
}

DWORD WINAPI NoticeBox::Run(void* self) {
    ShowMessageBox(nullptr, static_cast<NoticeBox*>(self)->message_, MB_TOPMOST | MB_SETFOREGROUND);
    return 0;
}

}  // namespace vantri::win32
