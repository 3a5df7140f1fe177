// FormWindow: the native Win32 window, one view of the form logic.
//
// It draws Form1's eight controls at their places (twips scaled by the
// window's DPI), colours and fonts, and passes the Read and Write clicks and
// the close box on to the logic through FormHandlers; everything a click
// does is the logic's.  The FormView calls (form/form_view.h) are carried
// out with the system's own means: MessageBoxW, the common file dialogs
// (Module1), a PeekMessage pump.
//
// Keyboard: messages go through IsDialogMessage, so Tab follows the focus
// order and Alt+R / Alt+W press the buttons, also while an operation
// processes events.  A close during an operation hides the window at once
// and destroys it when the operation has got back out of its click.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "form/form_view.h"

namespace vantri::win32 {

class WindowLook;

struct FormHandlers {
    std::function<void()> readClicked;   // Command4
    std::function<void()> writeClicked;  // Command3
    std::function<void()> closing;       // the close box, before the window goes
};

class FormWindow final : public FormView {
  public:
    // `endsProgram`: the window's end ends the thread's message loop
    // (PostQuitMessage); off for a test that makes many windows.
    explicit FormWindow(bool endsProgram = true);
    ~FormWindow() override;
    FormWindow(const FormWindow&) = delete;
    FormWindow& operator=(const FormWindow&) = delete;

    // Creates the window and its controls, hidden.  False when the system
    // refused.
    bool Create();
    void SetHandlers(FormHandlers handlers) { handlers_ = std::move(handlers); }
    // Shows the window with the focus in the Comport box.
    void Show(int showCommand);
    // Sets a settings box's edit text (the start value of --comport).
    void SetSettingText(FormSetting setting, const std::string& text);

    // The window, null once destroyed, and a control by its id (layout.h).
    HWND Handle() const { return window_; }
    HWND Control(int id) const;

    // Hands one message of the thread's loop to the window (dialog keys
    // first).  RunMessageLoop is the program's loop until WM_QUIT.
    void Dispatch(MSG& message);
    int RunMessageLoop();

    // FormView
    void SetCaption(const std::string& caption) override;
    void SetButtonEnabled(FormButton button, bool enabled) override;
    std::string SettingText(FormSetting setting) override;
    void SetSettingChoices(FormSetting setting, const std::vector<std::string>& items) override;
    void ShowMessage(const FormMessage& message) override;
    std::filesystem::path ShowOpenDialog(const std::string& filter, std::uint32_t flags,
                                         const std::string& title) override;
    std::filesystem::path ShowSaveDialog(const std::string& filter,
                                         const std::filesystem::path& defaultName,
                                         const std::string& title) override;
    void ProcessEvents() override;
    void DismissModals() override;

  private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void Clicked(const std::function<void()>& handler);
    void OnClose();
    // Places the window's client area and the controls for `dpi`, with
    // fonts of that size.
    void Layout(UINT dpi);
    HWND SettingBox(FormSetting setting) const;

    bool endsProgram_;
    HWND window_ = nullptr;
    std::unique_ptr<WindowLook> look_;
    FormHandlers handlers_;
    HWND lastFocus_ = nullptr;  // restored when the window is activated again
    int clickDepth_ = 0;        // click handlers on the stack
    bool closing_ = false;
};

}  // namespace vantri::win32
