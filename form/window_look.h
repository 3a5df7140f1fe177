// The look of the program's one window, toolkit-free: the controls with
// their names, texts and places, the colours and the font.  Both views (the
// Qt window in app/, the native Win32 window in win32/) draw from this and
// decide nothing of it themselves.
//
// Places are in twips (1/1440 inch) from the top left of the client area;
// a view scales them to its screen with TwipsToPixels.  Labels are yellow on
// the window's black, the boxes pale yellow with the system's window-text
// colour, buttons keep the system's colours.  The font is "MS Sans Serif"
// 8.25 pt, or the nearest the system has; the buttons use its bold cut.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "form/form_view.h"

namespace vantri {

struct Twips {
    int left, top, width, height;
};

enum class ControlKind { Button, Combo, Label };

struct ControlLook {
    ControlKind kind;
    const char* name;  // the control's name, as the views and tests know it
    const char* text;  // a button's or label's text; a box's comes from the logic
    Twips place;
};

inline constexpr Twips ClientArea{0, 0, 2835, 1095};

// In focus order, which is also the order of creation: each label comes
// just before the box it names, since a screen reader names a box by the
// label created before it.
inline constexpr std::array<ControlLook, 8> Controls{{
    {ControlKind::Label, "Label1", "Comport", {1510, 760, 735, 255}},
    {ControlKind::Combo, "comport", "", {2160, 720, 615, 315}},
    {ControlKind::Button, "Command3", "&Write", {120, 480, 1215, 375}},
    {ControlKind::Button, "Command4", "&Read", {120, 120, 1215, 375}},
    {ControlKind::Label, "Label2", "Blocksize", {1440, 400, 855, 255}},
    {ControlKind::Combo, "mylen", "", {2160, 360, 615, 315}},
    {ControlKind::Label, "Label3", "Delay", {1680, 40, 615, 255}},
    {ControlKind::Combo, "mydelay", "", {2160, 0, 615, 315}},
}};

// The position of a control in Controls.
constexpr std::size_t IndexOf(std::string_view name) {
    std::size_t i = 0;
    while (i < Controls.size() && Controls[i].name != name) {
        ++i;
    }
    return i;
}

constexpr std::string_view ControlName(FormButton button) {
    return button == FormButton::Read ? "Command4" : "Command3";
}

constexpr std::string_view ControlName(FormSetting setting) {
    constexpr std::string_view names[] = {"comport", "mylen", "mydelay"};
    return names[static_cast<int>(setting)];
}

// Where control `i` is shown.  A label's documented place reaches under the
// box it names; it is shown up to the box, whose text must stay whole, so
// the label's text has to fit in what is left.
constexpr Twips ShownPlace(std::size_t i) {
    Twips place = Controls[i].place;
    if (Controls[i].kind == ControlKind::Label) {
        const int room = Controls[i + 1].place.left - place.left;
        place.width = place.width < room ? place.width : room;
    }
    return place;
}

// Twips to pixels at `dpi` dots per inch, rounded; 15 twips to a pixel at 96.
constexpr int TwipsToPixels(int twips, int dpi) {
    return (twips * dpi + 720) / 1440;
}

struct Rgb {
    int red, green, blue;
};

inline constexpr Rgb BackColour{0, 0, 0};
inline constexpr Rgb LabelColour{255, 255, 0};
inline constexpr Rgb BoxColour{255, 255, 192};

inline constexpr char FontFace[] = "MS Sans Serif";
inline constexpr int FontHundredthsOfPoint = 825;

}  // namespace vantri
