#include "modal_answerer.h"

#include <algorithm>
#include <chrono>

#include "win32/utf16.h"

namespace vantri::wintest {
namespace {

// Control ids of the system's dialogs: the message box's text and icon,
// the file dialog's name box.
constexpr int BoxTextId = 0xFFFF;
constexpr int BoxIconId = 0x0440;
constexpr int NameBoxId = 0x047C;

HWND FindDescendant(HWND parent, int id) {
    struct Search {
        int id;
        HWND found;
    } search{id, nullptr};
    EnumChildWindows(
        parent,
        [](HWND child, LPARAM data) -> BOOL {
            auto* s = reinterpret_cast<Search*>(data);
            if (GetDlgCtrlID(child) == s->id) {
                s->found = child;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::vector<HWND> VisibleModals(DWORD thread) {
    std::vector<HWND> modals;
    EnumThreadWindows(
        thread,
        [](HWND window, LPARAM data) -> BOOL {
            wchar_t name[16] = {};
            GetClassNameW(window, name, 16);
            // A dialog under a box of its own is disabled until the box goes.
            if (lstrcmpW(name, L"#32770") == 0 && IsWindowVisible(window) &&
                IsWindowEnabled(window)) {
                reinterpret_cast<std::vector<HWND>*>(data)->push_back(window);
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&modals));
    return modals;
}

// The icon a box shows, told by the system icon it carries.
UINT BoxIcon(HWND box) {
    HWND iconControl = GetDlgItem(box, BoxIconId);
    if (!iconControl || !IsWindowVisible(iconControl)) {
        return 0;
    }
    const auto shown = reinterpret_cast<HICON>(SendMessageW(iconControl, STM_GETICON, 0, 0));
    if (shown == LoadIconW(nullptr, IDI_WARNING)) {
        return MB_ICONWARNING;
    }
    if (shown == LoadIconW(nullptr, IDI_ERROR)) {
        return MB_ICONERROR;
    }
    return shown ? MB_ICONINFORMATION : 0;
}

}  // namespace

void PrintTo(const BoxSeen& box, std::ostream* out) {
    *out << "{\"" << box.text << "\", \"" << box.title << "\", icon " << box.icon << "}";
}

std::string WindowTextOf(HWND window) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return win32::Narrow(text);
}

ModalAnswerer::ModalAnswerer(DWORD uiThread) : uiThread_(uiThread) {}

ModalAnswerer::~ModalAnswerer() {
    Finish();
}

ModalAnswerer& ModalAnswerer::Box(BoxSeen* seen, std::function<void()> instead) {
    steps_.push_back({false, {}, seen, std::move(instead), nullptr});
    return *this;
}

ModalAnswerer& ModalAnswerer::Dialog(const std::filesystem::path& name, DialogSeen* seen) {
    steps_.push_back({true, name, nullptr, nullptr, seen});
    return *this;
}

void ModalAnswerer::WhenCaptionHas(HWND window, const std::string& text,
                                   std::function<void()> action) {
    captionWindow_ = window;
    captionText_ = text;
    captionAction_ = std::move(action);
}

void ModalAnswerer::Start() {
    thread_ = std::thread([this] { Run(); });
}

std::string ModalAnswerer::Finish() {
    if (thread_.joinable()) {
        stop_ = true;
        thread_.join();
        for (std::size_t i = next_; i < steps_.size(); ++i) {
            problems_ += steps_[i].isDialog ? "a file dialog never came; " : "a box never came; ";
        }
        if (captionAction_) {
            problems_ += "the caption never showed \"" + captionText_ + "\"; ";
        }
    }
    return problems_;
}

void ModalAnswerer::Run() {
    while (!stop_) {
        if (captionAction_ &&
            WindowTextOf(captionWindow_).find(captionText_) != std::string::npos) {
            captionAction_();
            captionAction_ = nullptr;
        }
        for (HWND modal : VisibleModals(uiThread_)) {
            if (std::find(answered_.begin(), answered_.end(), modal) == answered_.end()) {
                answered_.push_back(modal);
                Answer(modal);
            }
        }
        std::erase_if(answered_, [](HWND modal) { return !IsWindow(modal); });
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void ModalAnswerer::Answer(HWND modal) {
    HWND nameBox = FindDescendant(modal, NameBoxId);
    const bool isDialog = nameBox != nullptr;
    BoxSeen seen{WindowTextOf(GetDlgItem(modal, BoxTextId)), WindowTextOf(modal), BoxIcon(modal)};
    if (next_ >= steps_.size() || steps_[next_].isDialog != isDialog) {
        problems_ += std::string("unexpected ") + (isDialog ? "file dialog \"" : "box \"") +
                     seen.title + "\": \"" + seen.text + "\"; ";
        PostMessageW(modal, WM_COMMAND, IDCANCEL, 0);
        return;
    }
    const Step& step = steps_[next_++];
    if (!isDialog) {
        // A dialog that showed this box is answered again once it is over.
        std::erase(answered_, GetWindow(modal, GW_OWNER));
        if (step.box) {
            *step.box = seen;
        }
        if (step.instead) {
            step.instead();
        } else {
            PostMessageW(modal, WM_COMMAND, IDOK, 0);
        }
        return;
    }
    if (step.dialog) {
        *step.dialog = {seen.title, WindowTextOf(nameBox)};
    }
    if (step.name.empty()) {
        PostMessageW(modal, WM_COMMAND, IDCANCEL, 0);
        return;
    }
    SendMessageW(nameBox, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(step.name.c_str()));
    PostMessageW(modal, WM_COMMAND, IDOK, 0);
}

}  // namespace vantri::wintest
