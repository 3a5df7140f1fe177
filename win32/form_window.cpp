#include "win32/form_window.h"

#include <windowsx.h>

#include <cwchar>

#include "form/captions.h"
#include "win32/Module1.h"
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

// Each kind of control's window class and style, in ControlKind's order.
constexpr struct {
    const wchar_t* windowClass;
    DWORD style;
} Kinds[] = {
    {L"BUTTON", WS_TABSTOP | BS_PUSHBUTTON},
    {L"COMBOBOX", WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN | CBS_AUTOHSCROLL},
    {L"STATIC", SS_LEFT | SS_NOPREFIX},
};

constexpr COLORREF ColourRef(const Rgb& rgb) {
    return RGB(rgb.red, rgb.green, rgb.blue);
}

// Windows 10 1607 has the per-window DPI calls; older systems get the
// screen's DPI and the DPI-less calls, so the program still starts there.
template <typename Function>
Function User32(const char* name) {
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), name)));
}

// 8.25 pt, as a character height in pixels at `dpi`, in the look's face
// where the system has it, else in the face of its message font.
HFONT MakeFont(UINT dpi, LONG weight) {
    LOGFONTW font{};
    font.lfHeight = -MulDiv(FontHundredthsOfPoint, static_cast<int>(dpi), 7200);
    font.lfWeight = weight;
    font.lfCharSet = DEFAULT_CHARSET;
    wcsncpy(font.lfFaceName, Widen(FontFace).c_str(), LF_FACESIZE - 1);
    bool found = false;
    const HDC screen = GetDC(nullptr);
    EnumFontFamiliesExW(
        screen, &font,
        [](const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
            *reinterpret_cast<bool*>(found) = true;
            return 0;
        },
        reinterpret_cast<LPARAM>(&found), 0);
    ReleaseDC(nullptr, screen);
    if (!found) {
        NONCLIENTMETRICSW metrics{};
        metrics.cbSize = sizeof metrics;
        SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
        wcscpy(font.lfFaceName, metrics.lfMessageFont.lfFaceName);
    }
    return CreateFontIndirectW(&font);
}

}  // namespace

// The window's look (form/window_look.h) at one DPI: the fonts, the bold
// cut for the buttons, and the brushes of the coloured controls.
struct WindowLook {
    explicit WindowLook(UINT dpi) : font(MakeFont(dpi, FW_NORMAL)), bold(MakeFont(dpi, FW_BOLD)) {}
    ~WindowLook() {
        for (const HGDIOBJ object : {HGDIOBJ(font), HGDIOBJ(bold), HGDIOBJ(back), HGDIOBJ(box)}) {
            DeleteObject(object);
        }
    }
    WindowLook(const WindowLook&) = delete;
    WindowLook& operator=(const WindowLook&) = delete;

    HFONT font, bold;
    HBRUSH back = CreateSolidBrush(ColourRef(BackColour));
    HBRUSH box = CreateSolidBrush(ColourRef(BoxColour));
};

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
        // The icon resource 1 with its 16, 32 and 48 pixel images.
        const auto icon = [instance](int width, int height) {
            return static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                                 GetSystemMetrics(width), GetSystemMetrics(height),
                                                 0));
        };
        windowClass = {sizeof windowClass,
                       0,
                       WindowProc,
                       0,
                       0,
                       instance,
                       icon(SM_CXICON, SM_CYICON),
                       LoadCursorW(nullptr, IDC_ARROW),
                       static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)),
                       nullptr,
                       WindowClass,
                       icon(SM_CXSMICON, SM_CYSMICON)};
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
    for (const ControlLook& look : Controls) {
        const auto& kind = Kinds[static_cast<int>(look.kind)];
        const HMENU id = reinterpret_cast<HMENU>(static_cast<INT_PTR>(IdOf(look.name)));
        if (!CreateWindowExW(0, kind.windowClass, Widen(look.text).c_str(),
                             WS_CHILD | WS_VISIBLE | kind.style, 0, 0, 0, 0, window_, id, instance,
                             nullptr)) {
            return false;
        }
    }
    comportBox_.Attach(Control(IdComport));
    static const auto getDpi = User32<UINT(WINAPI*)(HWND)>("GetDpiForWindow");
    if (getDpi) {
        Layout(getDpi(window_));
    } else {
        const HDC screen = GetDC(nullptr);
        Layout(static_cast<UINT>(GetDeviceCaps(screen, LOGPIXELSY)));
        ReleaseDC(nullptr, screen);
    }
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
    const auto px = [dots = static_cast<int>(dpi)](int twips) {
        return TwipsToPixels(twips, dots);
    };
    static const auto adjustForDpi =
        User32<BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT)>("AdjustWindowRectExForDpi");
    RECT frame{0, 0, px(ClientArea.width), px(ClientArea.height)};
    if (adjustForDpi) {
        adjustForDpi(&frame, WindowStyle, FALSE, WindowExStyle, dpi);
    } else {
        AdjustWindowRectEx(&frame, WindowStyle, FALSE, WindowExStyle);
    }
    SetWindowPos(window_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    for (std::size_t i = 0; i < Controls.size(); ++i) {
        const ControlKind kind = Controls[i].kind;
        const HWND control = Control(IdOf(Controls[i].name));
        const HFONT font = kind == ControlKind::Button ? look->bold : look->font;
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
        const Twips place = ShownPlace(i);
        const int height = px(place.height);
        // A drop-down combo box's window height includes its list; the
        // closed box's height follows its selection field, set to match.
        const int list =
            kind == ControlKind::Combo
                ? ListRows * static_cast<int>(SendMessageW(control, CB_GETITEMHEIGHT, 0, 0))
                : 0;
        MoveWindow(control, px(place.left), px(place.top), px(place.width), height + list, TRUE);
        if (kind == ControlKind::Combo) {
            RECT closed{};
            GetWindowRect(control, &closed);
            const int field =
                static_cast<int>(SendMessageW(control, CB_GETITEMHEIGHT, WPARAM(-1), 0));
            const int wanted = field + height - (closed.bottom - closed.top);
            if (wanted > 0 && wanted != field) {
                SendMessageW(control, CB_SETITEMHEIGHT, WPARAM(-1), wanted);
            }
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
            } else if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == IdCommand4) {
                Clicked(&Form1::Command4_Click);
            } else if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == IdCommand3) {
                Clicked(&Form1::Command3_Click);
            }
            return 0;
        case WM_CTLCOLORSTATIC:     // the labels; a combo box asks for its own parts too
        case WM_CTLCOLOREDIT:       // only the combo boxes' edit fields
        case WM_CTLCOLORLISTBOX: {  // and lists come here
            const bool label = message == WM_CTLCOLORSTATIC;
            if (!look_ || (label && !IsLabel(GetDlgCtrlID(reinterpret_cast<HWND>(lParam))))) {
                break;
            }
            const auto dc = reinterpret_cast<HDC>(wParam);
            SetTextColor(dc, label ? ColourRef(LabelColour) : GetSysColor(COLOR_WINDOWTEXT));
            SetBkColor(dc, ColourRef(label ? BackColour : BoxColour));
            return reinterpret_cast<LRESULT>(label ? look_->back : look_->box);
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
    // The boxes and dialogs ("#32770") are top-level windows of this thread,
    // owned by the window (a box over a dialog by the dialog).  Each is
    // cancelled as its Escape would; its modal loop then returns to the logic.
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND candidate, LPARAM owner) -> BOOL {
            wchar_t name[16] = {};
            GetClassNameW(candidate, name, 16);
            for (HWND up = GetWindow(candidate, GW_OWNER); up && lstrcmpW(name, L"#32770") == 0;
                 up = GetWindow(up, GW_OWNER)) {
                if (up == reinterpret_cast<HWND>(owner)) {
                    PostMessageW(candidate, WM_COMMAND, IDCANCEL, 0);
                    break;
                }
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(window_));
}

void FormWindow::CloseWindow() {
    SendMessageW(window_, WM_CLOSE, 0, 0);
}

}  // namespace vantri::win32
