// The window's controls on Win32: their ids, 100 + their place in Controls
// (form/window_look.h), clear of IDOK/IDCANCEL, which IsDialogMessage sends
// for Enter and Escape.
#pragma once

#include <string_view>

#include "form/window_look.h"

namespace vantri::win32 {

constexpr int IdOf(std::string_view name) {
    return 100 + static_cast<int>(IndexOf(name));
}

constexpr bool IsLabel(int id) {
    const auto i = static_cast<std::size_t>(id - 100);
    return id >= 100 && i < Controls.size() && Controls[i].kind == ControlKind::Label;
}

inline constexpr int IdCommand4 = IdOf("Command4");  // "&Read"
inline constexpr int IdCommand3 = IdOf("Command3");  // "&Write"
inline constexpr int IdComport = IdOf("comport");

}  // namespace vantri::win32
