#include "win32/form_window.h"

#include <windowsx.h>

#include "form/captions.h"
#include "win32/Module1.h"
#include "win32/layout.h"
#include "win32/look.h"
#include "win32/utf16.h"

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

namespace vantri::win32 {
namespace {

constexpr wchar_t WindowClass[] = L"VantriKeyWriterForm";
// A fixed single border with a close box, no minimize or maximize box.
constexpr DWORD WindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD WindowExStyle = WS_EX_CONTROLPARENT;
// Rows of a combo box's drop-down list.
constexpr int ListRows = 10;

// Windows 10 1607 has the per-window DPI calls; older systems get the
// screen's DPI and the DPI-less calls, so the program still starts there.
UINT WindowDpi(HWND window) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpi = reinterpret_cast<GetDpiForWindowFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (getDpi) {
        return getDpi(window);
    }
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return static_cast<UINT>(dpi);
}

RECT FrameForClient(int width, int height, UINT dpi) {
    using AdjustForDpiFn = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
    static const auto adjustForDpi = reinterpret_cast<AdjustForDpiFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"user32.dll"), "AdjustWindowRectExForDpi")));
    RECT frame{0, 0, width, height};
    if (adjustForDpi) {
        adjustForDpi(&frame, WindowStyle, FALSE, WindowExStyle, dpi);
    } else {
        AdjustWindowRectEx(&frame, WindowStyle, FALSE, WindowExStyle);
    }
    return frame;
}

std::wstring WindowText(HWND window) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

bool IsFileOrMessageDialog(HWND window) {
    wchar_t name[16] = {};
    GetClassNameW(window, name, 16);
    return lstrcmpW(name, L"#32770") == 0;
}

}  // namespace

FormWindow::FormWindow(bool endsProgram) : endsProgram_(endsProgram) {}

FormWindow::~FormWindow() {
    if (window_) {
        DestroyWindow(window_);
    }
}

bool FormWindow::Create() {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass{};
    if (!GetClassInfoExW(instance, WindowClass, &windowClass)) {
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = WindowProc;
        windowClass.hInstance = instance;
        // The icon resource 1 with its 16, 32 and 48 pixel images.
        windowClass.hIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                                          GetSystemMetrics(SM_CXICON),
                                                          GetSystemMetrics(SM_CYICON), 0));
        windowClass.hIconSm = static_cast<HICON>(
            LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                       GetSystemMetrics(SM_CYSMICON), 0));
        windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
        windowClass.lpszClassName = WindowClass;
        if (!RegisterClassExW(&windowClass)) {
            return false;
        }
    }
    window_ = CreateWindowExW(WindowExStyle, WindowClass, Widen(WindowCaption).c_str(), WindowStyle,
                              CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr,
                              nullptr, instance, this);
    if (!window_) {
        return false;
    }
    // Created in focus order: the dialog manager tabs in creation order, and
    // a screen reader names a box by the label created just before it.
    for (std::size_t i = 0; i < Controls.size(); ++i) {
        const ControlLook& look = Controls[i];
        DWORD style = WS_CHILD | WS_VISIBLE;
        const wchar_t* controlClass = L"BUTTON";
        switch (look.kind) {
            case ControlKind::Button:
                style |= WS_TABSTOP | BS_PUSHBUTTON;
                break;
            case ControlKind::Combo:
                controlClass = L"COMBOBOX";
                style |= WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN | CBS_AUTOHSCROLL;
                break;
            case ControlKind::Label:
                controlClass = L"STATIC";
                style |= SS_LEFT | SS_NOPREFIX;
                break;
        }
        const HMENU id = reinterpret_cast<HMENU>(static_cast<INT_PTR>(IdOf(look.name)));
        if (!CreateWindowExW(0, controlClass, Widen(look.text).c_str(), style, 0, 0, 0, 0, window_,
                             id, instance, nullptr)) {
            return false;
        }
    }
    comportBox_.Attach(Control(IdComport));
    Layout(WindowDpi(window_));
    // The boxes' texts go in once the boxes have their width, so their edit
    // fields show them from the first character.
    for (const FormSetting setting :
         {FormSetting::Comport, FormSetting::Blocksize, FormSetting::Delay}) {
        SetSettingText(setting, DefaultSettingText(setting));
    }
    form_ = std::make_unique<Form1>(*this);
    form_->Form_Load();
    return true;
}

void FormWindow::Layout(UINT dpi) {
    // The old fonts stay alive until every control has its new one.
    auto look = std::make_unique<WindowLook>(dpi);
    const int dots = static_cast<int>(dpi);
    const RECT frame = FrameForClient(TwipsToPixels(ClientArea.width, dots),
                                      TwipsToPixels(ClientArea.height, dots), dpi);
    SetWindowPos(window_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    for (std::size_t i = 0; i < Controls.size(); ++i) {
        const ControlKind kind = Controls[i].kind;
        HWND control = Control(IdOf(Controls[i].name));
        const HFONT font = kind == ControlKind::Button ? look->BoldFont() : look->Font();
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
        const Twips place = ShownPlace(i);
        const int left = TwipsToPixels(place.left, dots);
        const int top = TwipsToPixels(place.top, dots);
        const int width = TwipsToPixels(place.width, dots);
        const int height = TwipsToPixels(place.height, dots);
        if (kind != ControlKind::Combo) {
            MoveWindow(control, left, top, width, height, TRUE);
            continue;
        }
        // A drop-down combo box's window height includes its list; the
        // closed box's height follows its selection field, set to match.
        const int itemHeight = static_cast<int>(SendMessageW(control, CB_GETITEMHEIGHT, 0, 0));
        MoveWindow(control, left, top, width, height + ListRows * itemHeight, TRUE);
        RECT closed{};
        GetWindowRect(control, &closed);
        const int field = static_cast<int>(SendMessageW(control, CB_GETITEMHEIGHT, WPARAM(-1), 0));
        const int wanted = field + height - (closed.bottom - closed.top);
        if (wanted > 0 && wanted != field) {
            SendMessageW(control, CB_SETITEMHEIGHT, WPARAM(-1), wanted);
        }
    }
    look_ = std::move(look);
    comportBox_.FitList();  // for the new font
}

void FormWindow::Show(int showCommand) {
    ShowWindow(window_, showCommand);
    UpdateWindow(window_);
    SetFocus(Control(IdComport));
}

HWND FormWindow::Control(int id) const {
    return window_ ? GetDlgItem(window_, id) : nullptr;
}

HWND FormWindow::SettingBox(FormSetting setting) const {
    return Control(IdOf(ControlName(setting)));
}

void FormWindow::SetSettingText(FormSetting setting, const std::string& text) {
    SetWindowTextW(SettingBox(setting), Widen(text).c_str());
    if (setting == FormSetting::Comport) {
        comportBox_.TextSet();
    }
}

void FormWindow::Dispatch(MSG& message) {
    if (window_ && IsDialogMessageW(window_, &message)) {
        return;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
}

int FormWindow::RunMessageLoop() {
    MSG message;
    BOOL got;
    while ((got = GetMessageW(&message, nullptr, 0, 0)) != 0 && got != -1) {
        Dispatch(message);
    }
    return got == 0 ? static_cast<int>(message.wParam) : 1;
}

LRESULT CALLBACK FormWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<FormWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    if (message == WM_NCDESTROY) {
        self->window_ = nullptr;
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        return DefWindowProcW(window, message, wParam, lParam);
    }
    if (!self->window_) {
        self->window_ = window;
    }
    return self->OnMessage(message, wParam, lParam);
}

LRESULT FormWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (clickDepth_ > 0 && HeldOff(message, wParam)) {
        return 0;
    }
    switch (message) {
        case WM_COMMAND:
            if (LOWORD(wParam) == IdComport) {
                comportBox_.OnNotify(HIWORD(wParam));
            } else if (HIWORD(wParam) == BN_CLICKED) {
                if (LOWORD(wParam) == IdCommand4) {
                    Clicked(&Form1::Command4_Click);
                } else if (LOWORD(wParam) == IdCommand3) {
                    Clicked(&Form1::Command3_Click);
                }
            }
            return 0;
        case WM_CTLCOLORSTATIC: {
            // The labels; a combo box asks for its own parts too.
            const auto id = GetDlgCtrlID(reinterpret_cast<HWND>(lParam));
            if (!look_ || !IsLabel(id)) {
                break;
            }
            const auto dc = reinterpret_cast<HDC>(wParam);
            SetTextColor(dc, ColourRef(LabelColour));
            SetBkColor(dc, ColourRef(BackColour));
            return reinterpret_cast<LRESULT>(look_->BackBrush());
        }
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX: {
            // Only the combo boxes' edit fields and lists come here.
            if (!look_) {
                break;
            }
            const auto dc = reinterpret_cast<HDC>(wParam);
            SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
            SetBkColor(dc, ColourRef(BoxColour));
            return reinterpret_cast<LRESULT>(look_->BoxBrush());
        }
        case WM_ACTIVATE:
            if (LOWORD(wParam) == WA_INACTIVE) {
                lastFocus_ = GetFocus();
            } else if (lastFocus_ && IsChild(window_, lastFocus_)) {
                SetFocus(lastFocus_);
                return 0;
            }
            break;
        case WM_DPICHANGED: {
            const auto* suggested = reinterpret_cast<const RECT*>(lParam);
            Layout(HIWORD(wParam));
            SetWindowPos(window_, nullptr, suggested->left, suggested->top,
                         suggested->right - suggested->left, suggested->bottom - suggested->top,
                         SWP_NOZORDER | SWP_NOACTIVATE);
            return 0;
        }
        case WM_CLOSE:
            OnClose();
            return 0;
        case WM_DESTROY:
            if (endsProgram_) {
                PostQuitMessage(0);
            }
            return 0;
        default:
            break;
    }
    return DefWindowProcW(window_, message, wParam, lParam);
}

void FormWindow::Clicked(void (Form1::*handler)()) {
    if (!form_ || closing_) {
        return;
    }
    ++clickDepth_;
    (form_.get()->*handler)();
    --clickDepth_;
    // A close that came while the operation ran waited for it to get out.
    if (clickDepth_ == 0 && closing_ && window_) {
        DestroyWindow(window_);
    }
}

bool FormWindow::HeldOff(UINT message, WPARAM wParam) {
    switch (message) {
        case WM_NCLBUTTONDOWN:
            if (wParam != HTCLOSE) {
                return false;  // a drag or the icon comes back as WM_SYSCOMMAND
            }
            // Instead of tracking the button until it is let go.
            PostMessageW(window_, WM_CLOSE, 0, 0);
            return true;
        case WM_NCRBUTTONDOWN:  // tracked until let go, then the system menu
        case WM_CONTEXTMENU:
            return true;
        case WM_SYSCOMMAND: {
            // Moving (by the caption or the keyboard), and the system menu by
            // its icon, Alt+Space or Alt alone.
            const WPARAM command = wParam & 0xFFF0;
            return command == SC_MOVE || command == SC_SIZE || command == SC_KEYMENU ||
                   command == SC_MOUSEMENU;
        }
        default:
            return false;
    }
}

void FormWindow::OnClose() {
    if (closing_) {
        return;
    }
    if (form_) {
        std::int16_t cancel = False16;
        form_->Form_Unload(cancel);
        if (cancel != False16) {
            return;  // put off: the logic asks for the close when it may go ahead
        }
    }
    closing_ = true;
    notice_.TakeDown();
    if (clickDepth_ > 0) {
        ShowWindow(window_, SW_HIDE);
    } else {
        DestroyWindow(window_);
    }
}

void FormWindow::SetCaption(const std::string& caption) {
    SetWindowTextW(window_, Widen(caption).c_str());
}

void FormWindow::SetButtonEnabled(FormButton button, bool enabled) {
    EnableWindow(Control(IdOf(ControlName(button))), enabled);
}

std::string FormWindow::SettingText(FormSetting setting) {
    return Narrow(WindowText(SettingBox(setting)));
}

void FormWindow::SetSettingChoices(FormSetting setting, const std::vector<std::string>& items) {
    HWND box = SettingBox(setting);
    // Emptying the list empties the edit field too: keep its text.
    const std::wstring text = WindowText(box);
    SendMessageW(box, CB_RESETCONTENT, 0, 0);
    for (const std::string& item : items) {
        SendMessageW(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(item).c_str()));
    }
    SetWindowTextW(box, text.c_str());
    if (setting == FormSetting::Comport) {
        comportBox_.FitList();
        comportBox_.TextSet();
    }
}

void FormWindow::ShowMessage(const FormMessage& message) {
    ShowMessageBox(window_, message);
}

void FormWindow::ShowNotice(const FormMessage& message) {
    notice_.Show(message);
}

std::filesystem::path FormWindow::ShowOpenDialog(const std::string& filter, std::uint32_t flags,
                                                 const std::string& title) {
    return win32::ShowOpenDialog(filter, flags, window_, title);
}

std::filesystem::path FormWindow::ShowSaveDialog(const std::string& filter,
                                                 const std::filesystem::path& defaultName,
                                                 const std::string& title) {
    return win32::ShowSaveDialog(filter, window_, defaultName, title);
}

void FormWindow::ProcessEvents() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            // The program's own loop must still see it.
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        Dispatch(message);
    }
}

void FormWindow::DismissModals() {
    struct Search {
        HWND owner;
    } search{window_};
    // The boxes and dialogs are top-level windows of this thread, owned by
    // the window (a box over a dialog by the dialog).  Each is cancelled as
    // its Escape would; its modal loop then returns to the logic.
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND candidate, LPARAM data) -> BOOL {
            const HWND owner = reinterpret_cast<Search*>(data)->owner;
            if (!IsFileOrMessageDialog(candidate)) {
                return TRUE;
            }
            for (HWND up = GetWindow(candidate, GW_OWNER); up; up = GetWindow(up, GW_OWNER)) {
                if (up == owner) {
                    PostMessageW(candidate, WM_COMMAND, IDCANCEL, 0);
                    break;
                }
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
}

void FormWindow::CloseWindow() {
    SendMessageW(window_, WM_CLOSE, 0, 0);
}

}  // namespace vantri::win32
