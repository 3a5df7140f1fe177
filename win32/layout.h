// The window's controls as the user's documentation lays them out: kind,
// name, text and place in twips (1/1440 inch) from the top left of the
// client area.  The combo boxes' texts and lists come from the form logic.
// The table is in focus order, which is also the order the controls are
// created in: IsDialogMessage tabs through them in that order.
#pragma once

#include <windows.h>

#include <array>

namespace vantri::win32 {

enum class ControlKind { Button, Combo, Label };

struct ControlPlace {
    int id;
    ControlKind kind;
    const wchar_t* name;           // the control's name, for the reader and the tests
    const wchar_t* text;           // caption, or the combo box's text at start
    int left, top, width, height;  // twips
};

// Control ids.  Buttons keep clear of IDOK/IDCANCEL, which IsDialogMessage
// sends for Enter and Escape.
inline constexpr int IdCommand4 = 104;  // "&Read"
inline constexpr int IdCommand3 = 103;  // "&Write"
inline constexpr int IdMydelay = 110;
inline constexpr int IdMylen = 111;
inline constexpr int IdComport = 112;
inline constexpr int IdLabel3 = 123;
inline constexpr int IdLabel2 = 122;
inline constexpr int IdLabel1 = 121;

inline constexpr std::array<ControlPlace, 8> Controls{{
    {IdComport, ControlKind::Combo, L"comport", L"", 2160, 720, 615, 315},
    {IdLabel1, ControlKind::Label, L"Label1", L"Comport", 1510, 760, 735, 255},
    {IdCommand3, ControlKind::Button, L"Command3", L"&Write", 120, 480, 1215, 375},
    {IdCommand4, ControlKind::Button, L"Command4", L"&Read", 120, 120, 1215, 375},
    {IdMylen, ControlKind::Combo, L"mylen", L"", 2160, 360, 615, 315},
    {IdLabel2, ControlKind::Label, L"Label2", L"Blocksize", 1440, 400, 855, 255},
    {IdMydelay, ControlKind::Combo, L"mydelay", L"", 2160, 0, 615, 315},
    {IdLabel3, ControlKind::Label, L"Label3", L"Delay", 1680, 40, 615, 255},
}};

inline constexpr int ClientWidthTwips = 2835;
inline constexpr int ClientHeightTwips = 1095;

// Twips to pixels at `dpi` dots per inch, rounded.
inline int TwipsToPixels(int twips, UINT dpi) {
    return MulDiv(twips, static_cast<int>(dpi), 1440);
}

}  // namespace vantri::win32
