// UTF-8 <-> UTF-16 for the Win32 window: the form logic speaks UTF-8, the
// wide Win32 API UTF-16.  Lengths are explicit, so texts that hold
// characters of code 0 (a dialog's filter list) convert whole.  Invalid
// input becomes U+FFFD rather than failing.  WindowText reads a window's
// text through the wide API.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace vantri::win32 {

std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);
std::wstring WindowText(HWND window);

}  // namespace vantri::win32
