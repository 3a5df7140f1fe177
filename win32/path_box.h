// PathBox: what a drop-down combo box needs when its texts may be longer
// than the box itself, as the Comport box's device paths and the stable
// names of the machine's ports are:
// - its list is as wide as its longest item, so a long name reads whole
//   there while the box stays narrow;
// - while the box is not being edited its field shows the start of its
//   text, where /dev/serial/by-id/... or COMn tells the ports apart;
// - a tooltip shows the whole text on hover, also while the window is not
//   the active one, and follows the text as it changes.
//
// Contract: Attach once the box exists.  The owner passes the box's
// notifications (the HIWORD of its WM_COMMAND) to OnNotify, calls TextSet
// after it sets the box's text itself and FitList after the box's items or
// its font changed.  The tooltip is owned by the box's window and goes with
// it.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <string>

namespace vantri::win32 {

class PathBox {
  public:
    // Where the system refuses the tooltip, the box works without.
    void Attach(HWND box);
    void FitList();
    void TextSet();
    void OnNotify(WORD code);
    HWND Tooltip() const { return tip_; }

  private:
    void ShowStart();
    void SetTip(const std::wstring& text, UINT message = TTM_UPDATETIPTEXTW);

    HWND box_ = nullptr;
    HWND edit_ = nullptr;  // the box's edit field, which covers most of it
    HWND tip_ = nullptr;
};

}  // namespace vantri::win32
