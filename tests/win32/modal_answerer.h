// Answers the message boxes and file dialogs that the window under test
// opens, from a second thread, as a user would, in the order the test
// expects them.
//
// The window runs its operation inside a click on the test's thread, so the
// modals block that thread; this thread finds them (top-level "#32770"
// windows of the window's thread), records what a box shows and presses OK,
// or types a name into a file dialog's name box and presses OK (an empty
// name cancels); a dialog that refused a name with a box of its own is
// answered again by the next step once the box is OKed.  A modal that is
// not the expected kind, or comes after the last step, is recorded,
// cancelled, and reported by Finish: a test never hangs on a box it did not
// foresee.
#pragma once

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "win32/utf16.h"

namespace vantri::wintest {

struct BoxSeen {
    std::string text;
    std::string title;
    UINT icon = 0;            // MB_ICONWARNING, MB_ICONERROR or 0, from the box's icon
    bool overDialog = false;  // shown by a file dialog, not by the window
    bool operator==(const BoxSeen&) const = default;
};
inline void PrintTo(const BoxSeen& box, std::ostream* out) {
    *out << "{\"" << box.text << "\", \"" << box.title << "\", icon " << box.icon
         << (box.overDialog ? ", over a file dialog}" : "}");
}

// The text of a window, as UTF-8.
inline std::string WindowTextOf(HWND window) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return win32::Narrow(text);
}

class ModalAnswerer {
  public:
    explicit ModalAnswerer(DWORD uiThread) : uiThread_(uiThread) {}
    ~ModalAnswerer() { Finish(); }

    // Steps, in order.  A box is recorded in `seen` (if given) and OKed,
    // or left up and `instead` called.
    ModalAnswerer& Box(BoxSeen* seen = nullptr, std::function<void()> instead = nullptr) {
        steps_.push_back({false, {}, seen, std::move(instead), nullptr});
        return *this;
    }
    // A file dialog: `name` typed into its name box and accepted; an empty
    // name cancels.  `seen` (if given) gets the dialog's title and the name
    // it proposed.
    struct DialogSeen {
        std::string title;
        std::string proposed;
    };
    ModalAnswerer& Dialog(const std::filesystem::path& name, DialogSeen* seen = nullptr) {
        steps_.push_back({true, name, nullptr, nullptr, seen});
        return *this;
    }

    // Starts answering; returns at once.
    void Start() {
        thread_ = std::thread([this] { Run(); });
    }
    // Stops; returns what went wrong (steps that never came, modals not
    // foreseen), "" when nothing did.
    std::string Finish() {
        if (thread_.joinable()) {
            stop_ = true;
            thread_.join();
            for (std::size_t i = next_; i < steps_.size(); ++i) {
                problems_ += steps_[i].isDialog ? "no file dialog came; " : "no box came; ";
            }
        }
        return problems_;
    }

  private:
    // Control ids of the system's dialogs: the message box's text and icon,
    // the file dialog's name box.
    static constexpr int BoxTextId = 0xFFFF;
    static constexpr int BoxIconId = 0x0440;
    static constexpr int NameBoxId = 0x047C;

    struct Step {
        bool isDialog;
        std::filesystem::path name;
        BoxSeen* box;
        std::function<void()> instead;
        DialogSeen* dialog;
    };

    void Run() {
        while (!stop_) {
            std::vector<HWND> modals;
            EnumThreadWindows(uiThread_, &AddModal, reinterpret_cast<LPARAM>(&modals));
            for (HWND modal : modals) {
                if (std::find(answered_.begin(), answered_.end(), modal) == answered_.end()) {
                    answered_.push_back(modal);
                    Answer(modal);
                }
            }
            std::erase_if(answered_, [](HWND modal) { return !IsWindow(modal); });
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    // A dialog under a box of its own is disabled until the box goes.
    static BOOL CALLBACK AddModal(HWND window, LPARAM modals) {
        wchar_t name[16] = {};
        GetClassNameW(window, name, 16);
        if (lstrcmpW(name, L"#32770") == 0 && IsWindowVisible(window) && IsWindowEnabled(window)) {
            reinterpret_cast<std::vector<HWND>*>(modals)->push_back(window);
        }
        return TRUE;
    }

    // The icon a box shows, told by the system icon it carries.
    static UINT BoxIcon(HWND box) {
        const HWND control = GetDlgItem(box, BoxIconId);
        if (!control || !IsWindowVisible(control)) {
            return 0;
        }
        const auto shown = reinterpret_cast<HICON>(SendMessageW(control, STM_GETICON, 0, 0));
        return shown == LoadIconW(nullptr, IDI_WARNING) ? MB_ICONWARNING
               : shown == LoadIconW(nullptr, IDI_ERROR) ? MB_ICONERROR
               : shown                                  ? MB_ICONINFORMATION
                                                        : 0;
    }

    void Answer(HWND modal) {
        const HWND nameBox = GetDlgItem(modal, NameBoxId);
        const bool isDialog = nameBox != nullptr;
        const HWND owner = GetWindow(modal, GW_OWNER);
        BoxSeen seen{WindowTextOf(GetDlgItem(modal, BoxTextId)), WindowTextOf(modal),
                     BoxIcon(modal), GetDlgItem(owner, NameBoxId) != nullptr};
        if (next_ >= steps_.size() || steps_[next_].isDialog != isDialog) {
            problems_ += std::string("unexpected ") + (isDialog ? "file dialog \"" : "box \"") +
                         seen.title + "\": \"" + seen.text + "\"; ";
            PostMessageW(modal, WM_COMMAND, IDCANCEL, 0);
            return;
        }
        const Step& step = steps_[next_++];
        if (!isDialog) {
            // A dialog that showed this box is answered again once it is over.
            std::erase(answered_, owner);
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
        if (!step.name.empty()) {
            SendMessageW(nameBox, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(step.name.c_str()));
        }
        PostMessageW(modal, WM_COMMAND, step.name.empty() ? IDCANCEL : IDOK, 0);
    }

    DWORD uiThread_;
    std::vector<Step> steps_;
    std::size_t next_ = 0;
    std::vector<HWND> answered_;
    std::string problems_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace vantri::wintest
