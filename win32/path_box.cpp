#include "win32/path_box.h"

#include <commctrl.h>

#include <algorithm>

#include "win32/utf16.h"

namespace vantri::win32 {
namespace {

// The text of an item that exists.
std::wstring ItemText(HWND box, WPARAM index) {
    std::wstring text(static_cast<std::size_t>(SendMessageW(box, CB_GETLBTEXTLEN, index, 0)) + 1,
                      L'\0');
    text.resize(static_cast<std::size_t>(
        SendMessageW(box, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text.data()))));
    return text;
}

}  // namespace

void PathBox::Attach(HWND box) {
    box_ = box;
    COMBOBOXINFO parts{};
    parts.cbSize = sizeof parts;
    edit_ = GetComboBoxInfo(box, &parts) ? parts.hwndItem : nullptr;
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    tip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                           WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT, CW_USEDEFAULT,
                           CW_USEDEFAULT, CW_USEDEFAULT, GetAncestor(box, GA_ROOT), nullptr,
                           GetModuleHandleW(nullptr), nullptr);
    SetTip(L"", TTM_ADDTOOLW);
    TextSet();
}

void PathBox::FitList() {
    const HDC dc = GetDC(box_);
    const HGDIOBJ oldFont =
        SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(box_, WM_GETFONT, 0, 0)));
    int widest = 0;
    const LRESULT count = SendMessageW(box_, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        const std::wstring text = ItemText(box_, static_cast<WPARAM>(i));
        SIZE size{};
        GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
        widest = std::max(widest, static_cast<int>(size.cx));
    }
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, oldFont);
    ReleaseDC(box_, dc);
    // The text with a character's room on each side, the list's scroll bar
    // and its frame; the list is never narrower than the box.
    const int width = widest + 2 * metrics.tmAveCharWidth + GetSystemMetrics(SM_CXVSCROLL) +
                      2 * GetSystemMetrics(SM_CXEDGE);
    SendMessageW(box_, CB_SETDROPPEDWIDTH, static_cast<WPARAM>(width), 0);
}

void PathBox::TextSet() {
    SetTip(WindowText(box_));
    if (GetFocus() != edit_) {
        ShowStart();
    }
}

void PathBox::OnNotify(WORD code) {
    if (code == CBN_EDITCHANGE) {
        SetTip(WindowText(box_));
    } else if (code == CBN_SELCHANGE) {
        // The edit field gets the chosen item's text after this.
        const LRESULT chosen = SendMessageW(box_, CB_GETCURSEL, 0, 0);
        if (chosen != CB_ERR) {
            SetTip(ItemText(box_, static_cast<WPARAM>(chosen)));
        }
    } else if (code == CBN_KILLFOCUS) {
        ShowStart();
    }
}

void PathBox::ShowStart() {
    // The caret at the first character, scrolled into view.
    if (edit_) {
        SendMessageW(edit_, EM_SETSEL, 0, 0);
        SendMessageW(edit_, EM_SCROLLCARET, 0, 0);
    }
}

void PathBox::SetTip(const std::wstring& text, UINT message) {
    // The edit field takes the mouse over most of the box, the box itself
    // over its button: both are tools of the tooltip, with the version 5
    // size of the record, which every version of the controls takes.
    for (HWND window : {box_, edit_}) {
        if (tip_ && window) {
            TTTOOLINFOW tool{};
            tool.cbSize = TTTOOLINFOW_V2_SIZE;
            tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
            tool.hwnd = GetAncestor(box_, GA_ROOT);
            tool.uId = reinterpret_cast<UINT_PTR>(window);
            tool.lpszText = const_cast<wchar_t*>(text.c_str());
            SendMessageW(tip_, message, 0, reinterpret_cast<LPARAM>(&tool));
        }
    }
}

}  // namespace vantri::win32
