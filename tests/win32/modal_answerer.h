// Answers the message boxes and file dialogs that the window under test
// opens, from a second thread, as a user would, in the order the test
// expects them.
//
// The window runs its operation inside a click on the test's thread, so the
// modals block that thread; this thread finds them (top-level "#32770"
// windows of the window's thread), records what a box shows and presses OK,
// or types a name into a file dialog's name box and presses OK (an empty
// name cancels); a dialog that refused a name with a box of its own is
// answered again by the next step once the box is OKed.  A modal that is not the expected kind, or
// comes after the last step, is recorded, cancelled, and reported by Finish: a test never hangs on
// a box it did not foresee.
#pragma once

#include <windows.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace vantri::wintest {

struct BoxSeen {
    std::string text;
    std::string title;
    UINT icon = 0;  // MB_ICONWARNING, MB_ICONERROR or 0, from the box's icon
    bool operator==(const BoxSeen&) const = default;
};
void PrintTo(const BoxSeen& box, std::ostream* out);

class ModalAnswerer {
  public:
    explicit ModalAnswerer(DWORD uiThread);
    ~ModalAnswerer();
    ModalAnswerer(const ModalAnswerer&) = delete;
    ModalAnswerer& operator=(const ModalAnswerer&) = delete;

    // Steps, in order.  A box is recorded in `seen` (if given) and OKed,
    // or left up and `instead` called.
    ModalAnswerer& Box(BoxSeen* seen = nullptr, std::function<void()> instead = nullptr);
    // A file dialog: `name` typed into its name box and accepted; an empty
    // name cancels.  `seen` (if given) gets the dialog's title and the name
    // it proposed.
    struct DialogSeen {
        std::string title;
        std::string proposed;
    };
    ModalAnswerer& Dialog(const std::filesystem::path& name, DialogSeen* seen = nullptr);

    // Calls `action` once on this thread as soon as `window`'s caption
    // holds `text` (a nested click, a close during an operation).
    void WhenCaptionHas(HWND window, const std::string& text, std::function<void()> action);

    // Starts answering; returns at once.
    void Start();
    // Stops; returns what went wrong (steps that never came, modals not
    // foreseen, a caption that never came), "" when nothing did.
    std::string Finish();

  private:
    struct Step {
        bool isDialog;
        std::filesystem::path name;
        BoxSeen* box;
        std::function<void()> instead;
        DialogSeen* dialog;
    };
    void Run();
    void Answer(HWND modal);

    DWORD uiThread_;
    std::vector<Step> steps_;
    std::size_t next_ = 0;
    std::vector<HWND> answered_;
    std::string problems_;
    HWND captionWindow_ = nullptr;
    std::string captionText_;
    std::function<void()> captionAction_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// The text of a window, as UTF-8.
std::string WindowTextOf(HWND window);

}  // namespace vantri::wintest
