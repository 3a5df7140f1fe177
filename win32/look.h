// The window's look at one DPI: the fonts and the brushes of the coloured
// controls.  The labels are yellow on the window's black; the combo boxes
// pale yellow with the system's window-text colour.  The font is
// "MS Sans Serif" 8.25 pt where the system has that face, else the face of
// its message font at that size; the buttons use its bold cut.
#pragma once

#include <windows.h>

namespace vantri::win32 {

inline constexpr COLORREF BackColour = RGB(0, 0, 0);
inline constexpr COLORREF LabelColour = RGB(255, 255, 0);
inline constexpr COLORREF BoxColour = RGB(255, 255, 192);

class WindowLook {
  public:
    explicit WindowLook(UINT dpi);
    ~WindowLook();
    WindowLook(const WindowLook&) = delete;
    WindowLook& operator=(const WindowLook&) = delete;

    HFONT Font() const { return font_; }
    HFONT BoldFont() const { return bold_; }
    HBRUSH BackBrush() const { return back_; }
    HBRUSH BoxBrush() const { return box_; }

  private:
    HFONT font_;
    HFONT bold_;
    HBRUSH back_;
    HBRUSH box_;
};

}  // namespace vantri::win32
