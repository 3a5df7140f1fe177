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

#include <atomic>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "win32/utf16.h"

namespace vantri::wintest {

inline std::string WindowTextOf(HWND window) {
    return win32::Narrow(win32::WindowText(window));
}

class ModalAnswerer {
  public:
    ~ModalAnswerer() { Finish(); }

    // Steps, in order.  A box is recorded in `seen` (if given) as "title:
    // text", then " (warning)" or " (error)" for its icon and " over a
    // dialog" when a file dialog showed it; then OKed, or left up and
    // `instead` called.
    ModalAnswerer& Box(std::string* seen = nullptr, std::function<void()> instead = nullptr) {
        steps_.push_back({false, {}, seen, std::move(instead)});
        return *this;
    }
    // A file dialog: `name` typed into its name box and accepted; an empty
    // name cancels.
    ModalAnswerer& Dialog(const std::filesystem::path& name) {
        steps_.push_back({true, name, nullptr, nullptr});
        return *this;
    }

    // Starts answering the modals of the calling thread; returns at once.
    void Start() {
        thread_ = std::thread([this, ui = GetCurrentThreadId()] {
            std::set<HWND> answered;
            while (!stop_) {
                // A dialog under a box of its own is disabled until the box goes.
                for (HWND modal = nullptr;
                     (modal = FindWindowExW(nullptr, modal, L"#32770", nullptr));) {
                    if (GetWindowThreadProcessId(modal, nullptr) == ui && IsWindowVisible(modal) &&
                        IsWindowEnabled(modal) && answered.insert(modal).second) {
                        // A dialog that showed a box is answered again once it is over.
                        answered.erase(Answer(modal));
                    }
                }
                std::erase_if(answered, [](HWND modal) { return !IsWindow(modal); });
                Sleep(10);
            }
        });
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
    struct Step {
        bool isDialog;
        std::filesystem::path name;
        std::string* seen;
        std::function<void()> instead;
    };

    // Answers `modal`; returns the dialog that showed it, if it is a box.
    HWND Answer(HWND modal) {
        // Control ids of the system's dialogs: the file dialog's name box
        // 0x047C, the message box's icon 0x0440 and text 0xFFFF.
        const HWND nameBox = GetDlgItem(modal, 0x047C), owner = GetWindow(modal, GW_OWNER);
        // The icon a box shows, told by the system icon it carries.
        const HWND icon = GetDlgItem(modal, 0x0440);
        const auto shown = icon && IsWindowVisible(icon)
                               ? reinterpret_cast<HICON>(SendMessageW(icon, STM_GETICON, 0, 0))
                               : nullptr;
        std::string seen = WindowTextOf(modal) + ": " +
                           WindowTextOf(nameBox ? nameBox : GetDlgItem(modal, 0xFFFF)) +
                           (shown == LoadIconW(nullptr, IDI_WARNING) ? " (warning)"
                            : shown == LoadIconW(nullptr, IDI_ERROR) ? " (error)"
                                                                     : "") +
                           (!nameBox && GetDlgItem(owner, 0x047C) ? " over a dialog" : "");
        if (next_ >= steps_.size() || steps_[next_].isDialog != (nameBox != nullptr)) {
            problems_ += (nameBox ? "unexpected file dialog " : "unexpected box ") + seen + "; ";
            PostMessageW(modal, WM_COMMAND, IDCANCEL, 0);
            return nullptr;
        }
        const Step& step = steps_[next_++];
        if (step.seen) {
            *step.seen = seen;
        }
        if (step.instead) {
            step.instead();
            return owner;
        }
        if (nameBox && !step.name.empty()) {
            SendMessageW(nameBox, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(step.name.c_str()));
        }
        PostMessageW(modal, WM_COMMAND, nameBox && step.name.empty() ? IDCANCEL : IDOK, 0);
        return nameBox ? nullptr : owner;
    }

    std::vector<Step> steps_;
    std::size_t next_ = 0;
    std::string problems_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace vantri::wintest
