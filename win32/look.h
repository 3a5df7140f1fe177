// The window's look (form/window_look.h) at one DPI: the fonts, the bold
// cut for the buttons, and the brushes of the coloured controls.  Where the
// system lacks the look's face, the face of its message font is used.
#pragma once

#include <windows.h>

#include "form/window_look.h"

namespace vantri::win32 {

constexpr COLORREF ColourRef(const Rgb& rgb) {
    return RGB(rgb.red, rgb.green, rgb.blue);
}

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
