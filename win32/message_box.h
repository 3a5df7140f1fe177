// The window's message boxes on MessageBoxW: one OK button, the message's
// icon, modal to `owner`.  A message without a title shows the application
// title "Vantri"; a detail text follows the text after a blank line, as a
// system box has no second, smaller text.
#pragma once

#include <windows.h>

#include "form/form_view.h"

namespace vantri::win32 {

inline constexpr wchar_t ApplicationTitle[] = L"Vantri";

void ShowMessageBox(HWND owner, const FormMessage& message);

}  // namespace vantri::win32
