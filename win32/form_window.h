// FormWindow: the native Win32 view of the program's one window.
//
// It draws the window as the user knows it (the caption, the eight controls
// at their places in twips scaled by the window's DPI, colours, fonts,
// access keys, tab order and icon), owns the window's logic, Form1 (form/),
// and passes the Read and Write clicks and the close box on to it;
// everything a click does is the logic's.  The FormView calls
// (form/form_view.h) are carried out with the system's own means:
// MessageBoxW (the notice on a thread of its own), the common file dialogs
// (Module1), a PeekMessage pump.
//
// Keyboard: messages go through IsDialogMessage, so Tab follows the focus
// order and Alt+R / Alt+W press the buttons, also while an operation
// processes events.  The Comport box lists ports with long names and takes
// device paths: it is a PathBox (list as wide as its items, the start of
// its text shown, a tooltip with the whole text).  A close during an
// operation hides the window at once and destroys it when the operation has
// got back out of its click, unless the logic puts the close off (Cancel):
// then the window stays until the logic asks for the close.
//
// While an operation runs, the window's own modal loops in DefWindowProc
// (moving it by its caption, the system menu, tracking the close box) are
// not entered: each would hold the operation for as long as the user holds
// the mouse or leaves the menu open.  The close box then closes at once.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "form/Form1.h"
#include "form/form_view.h"
#include "win32/layout.h"
#include "win32/message_box.h"
#include "win32/path_box.h"

namespace vantri::win32 {

class WindowLook;

class FormWindow final : public FormView {
  public:
    // `endsProgram`: the window's end ends the thread's message loop
    // (PostQuitMessage); off for a test that makes many windows.
    explicit FormWindow(bool endsProgram = true);
    ~FormWindow() override;
    FormWindow(const FormWindow&) = delete;
    FormWindow& operator=(const FormWindow&) = delete;

    // Creates the window and its controls, hidden, with the boxes' start
    // texts, and starts the logic (Form_Load).  False when the system
    // refused.
    bool Create();
    Form1& Logic() { return *form_; }
    // Shows the window with the focus in the Comport box.
    void Show(int showCommand);
    // Sets a settings box's edit text (the start value of --comport).
    void SetSettingText(FormSetting setting, const std::string& text);

    // The window, null once destroyed, and a control by its id (layout.h).
    HWND Handle() const { return window_; }
    HWND Control(int id) const { return GetDlgItem(window_, id); }
    // The tooltip with the Comport box's whole text.
    HWND ComportTooltip() const { return comportBox_.Tooltip(); }

    // Hands one message of the thread's loop to the window (dialog keys
    // first).  RunMessageLoop is the program's loop until WM_QUIT.
    void Dispatch(MSG& message);
    int RunMessageLoop();

    VANTRI_FORM_VIEW_CALLS

  private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void Clicked(void (Form1::*handler)());
    void OnClose();
    // True when `message` would start one of DefWindowProc's modal loops
    // while an operation runs; it is then handled here instead.
    bool HeldOff(UINT message, WPARAM wParam);
    // Places the window's client area and the controls for `dpi`, with
    // fonts of that size.
    void Layout(UINT dpi);
    HWND SettingBox(FormSetting setting) const { return Control(IdOf(ControlName(setting))); }

    bool endsProgram_;
    HWND window_ = nullptr;
    std::unique_ptr<WindowLook> look_;
    std::unique_ptr<Form1> form_;
    PathBox comportBox_;  // device paths are longer than the box
    NoticeBox notice_;
    HWND lastFocus_ = nullptr;  // restored when the window is activated again
    int clickDepth_ = 0;        // click handlers on the stack
    bool closing_ = false;
};

}  // namespace vantri::win32
