// FormView: what the window's logic asks of a window toolkit.
//
// The form logic (Form1 in this folder) decides everything a click on Read
// or Write does: the busy rule, the order of enabling, the captions, the
// message boxes and their texts, the dialogs and what follows them.  A view
// only shows and asks: it draws the controls, reports clicks and the close
// box to the logic, and carries out the calls below.  The Qt window and the
// native Win32 window are two views of the same logic.
//
// Contract, for every view:
// - All calls come on the window's one thread, from inside a click handler
//   or the close handler; the modal ones (messages, dialogs) block until the
//   user answers, processing events meanwhile, so a nested click can reach
//   the logic while one is up.  Nothing but those modals may hold the
//   caller: a Write runs inside its click, and a device waits for the rest
//   of its key buffer only so long (serial/exchange.h, HoldLimitMs).
// - Texts are UTF-8.  Paths are std::filesystem::path, as the file system
//   wants them; an empty path means nothing was chosen.
// - No call throws.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace vantri {

// Read is Command4 ("&Read"), Write is Command3 ("&Write").
enum class FormButton { Read, Write };

// The boxes comport, mylen and mydelay.
enum class FormSetting { Comport, Blocksize, Delay };

// Flag bits of the open dialog, with their classic values (6148 = all three).
inline constexpr std::uint32_t OfnHideReadOnly = 0x4;
inline constexpr std::uint32_t OfnPathMustExist = 0x800;
inline constexpr std::uint32_t OfnFileMustExist = 0x1000;

// The icon of a message box, with the classic style values.
enum class MessageIcon : std::uint32_t { None = 0, Warning = 48, Error = 16 };

// The title of a box that gives none of its own.
inline constexpr char ApplicationTitle[] = "Vantri";

struct FormMessage {
    std::string text;
    std::string title;  // "" shows ApplicationTitle
    MessageIcon icon = MessageIcon::None;
    std::string detail;  // a second, smaller text under `text`; "" for none
};

class FormView {
  public:
    virtual ~FormView() = default;

    virtual void SetCaption(const std::string& caption) = 0;
    virtual void SetButtonEnabled(FormButton button, bool enabled) = 0;
    // The text of a settings box as it stands now (the edit field, not the list).
    virtual std::string SettingText(FormSetting setting) = 0;
    // The list items of a settings box, set once at start; the edit field
    // keeps its text.
    virtual void SetSettingChoices(FormSetting setting, const std::vector<std::string>& items) = 0;

    // A modal box with one OK button.
    virtual void ShowMessage(const FormMessage& message) = 0;
    // A box with one OK button that holds nothing: it returns at once, and
    // the box stays up, not modal, until the user presses OK or the window
    // closes.  One at a time: while a notice is up, another is not shown.
    virtual void ShowNotice(const FormMessage& message) = 0;

    // The file dialogs, modal to the window.  `filter` is the classic list:
    // pairs of display text and pattern, each ended by a character 0, the
    // list ended by one more.  `flags` are the classic OFN_* bits (above).
    // The save dialog proposes `defaultName`, accepts new names, and an
    // existing one once the user has said yes to replacing it, only in a
    // folder that exists, and adds no extension.
    virtual std::filesystem::path ShowOpenDialog(const std::string& filter, std::uint32_t flags,
                                                 const std::string& title) = 0;
    virtual std::filesystem::path ShowSaveDialog(const std::string& filter,
                                                 const std::filesystem::path& defaultName,
                                                 const std::string& title) = 0;

    // Processes the window's pending events and returns.
    virtual void ProcessEvents() = 0;

    // The window is closing while an operation runs: take down any box or
    // dialog that is up, so the operation gets back to the logic and ends.
    // (The notice holds nothing; it goes with the window.)
    virtual void DismissModals() = 0;

    // Closes the window as its close box does.  The logic asks for this once
    // a close that it put off (Form_Unload's Cancel) may go ahead; the call
    // comes at the end of the click that ran the operation.
    virtual void CloseWindow() = 0;
};

}  // namespace vantri

// The declarations of FormView's calls, for a view's class: each view
// carries out all of them, and only its definitions differ.
// clang-format off
#define VANTRI_FORM_VIEW_CALLS                                                                  \
    void SetCaption(const std::string& caption) override;                                       \
    void SetButtonEnabled(vantri::FormButton button, bool enabled) override;                    \
    std::string SettingText(vantri::FormSetting setting) override;                              \
    void SetSettingChoices(vantri::FormSetting setting,                                         \
                           const std::vector<std::string>& items) override;                     \
    void ShowMessage(const vantri::FormMessage& message) override;                              \
    void ShowNotice(const vantri::FormMessage& message) override;                               \
    std::filesystem::path ShowOpenDialog(const std::string& filter, std::uint32_t flags,        \
                                         const std::string& title) override;                    \
    std::filesystem::path ShowSaveDialog(const std::string& filter,                             \
                                         const std::filesystem::path& defaultName,              \
                                         const std::string& title) override;                    \
    void ProcessEvents() override;                                                              \
    void DismissModals() override;                                                              \
    void CloseWindow() override;
// clang-format on
