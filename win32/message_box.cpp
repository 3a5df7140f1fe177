#include "win32/message_box.h"

#include <string>

#include "win32/utf16.h"

namespace vantri::win32 {

void ShowMessageBox(HWND owner, const FormMessage& message) {
    std::wstring text = Widen(message.text);
    if (!message.detail.empty()) {
        text += L"\n\n" + Widen(message.detail);
    }
    const std::wstring title = message.title.empty() ? ApplicationTitle : Widen(message.title);
    MessageBoxW(owner, text.c_str(), title.c_str(), MB_OK | static_cast<UINT>(message.icon));
}

}  // namespace vantri::win32
