// The native Win32 window under wine, driven by messages on the test's
// thread, with its boxes and dialogs answered from a second thread, against
// the simulated devices mapped as COM ports (tests/windows/wine_devices.h).
// What is checked is what the Win32 window adds to the form logic: the
// controls, the real MessageBoxW boxes and common dialogs with their texts,
// the notice on a thread of its own, the event pump during an operation and
// what it keeps from holding a Write, the close during an operation.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include "modal_answerer.h"
#include "tests/common/files.h"
#include "tests/windows/wine_devices.h"
#include "win32/form_window.h"
#include "win32/layout.h"

namespace vantri {
namespace {

using namespace win32;
using wintest::ModalAnswerer;

// The busy notice: a box of this process, up on a thread other than `ui`.
HWND FindNotice(DWORD ui) {
    HWND box = nullptr;
    DWORD process = 0;
    while ((box = FindWindowExW(nullptr, box, L"#32770", L"Vantri")) &&
           (GetWindowThreadProcessId(box, &process) == ui || process != GetCurrentProcessId())) {
    }
    return box;
}

class Win32WindowTest : public ::testing::Test {
  protected:
    // A window set to the good device.
    void SetUp() override { Open(wintest::GoodPort); }
    // A file dialog makes the chosen file's folder the current one, as on
    // Windows; a folder that is current cannot be removed.
    void TearDown() override { std::filesystem::current_path(folder_.path.parent_path()); }

    // A new window with its logic, as the program starts it, set to `port`.
    void Open(int port) {
        view_ = std::make_unique<FormWindow>(false);
        ASSERT_TRUE(view_->Create());
        view_->Show(SW_SHOWNORMAL);
        view_->SetSettingText(FormSetting::Comport, std::to_string(port));
    }
    HWND Control(int id) const { return view_->Control(id); }

    // Clicks a button as the user does, `answerer` answering the modals the
    // operation opens; returns when the operation has ended.
    static void Click(HWND button, ModalAnswerer& answerer) {
        answerer.Start();
        SendMessageW(button, BM_CLICK, 0, 0);
        EXPECT_EQ(answerer.Finish(), "");
    }

    std::unique_ptr<FormWindow> view_;
    test::TempDir folder_;
};

TEST_F(Win32WindowTest, StartsWithTheFocusInComportAndTabsInTheFocusOrder) {
    EXPECT_TRUE(IsChild(Control(IdComport), GetFocus()));
    const int order[] = {IdComport,     IdCommand3,      IdCommand4,
                         IdOf("mylen"), IdOf("mydelay"), IdComport};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i) {
        const HWND next = GetNextDlgTabItem(view_->Handle(), Control(order[i]), FALSE);
        EXPECT_EQ(GetDlgCtrlID(next), order[i + 1]) << "after control " << order[i];
    }
    // A screen reader names a box by the label just before it: "Delay,
    // combo box, 10".
    for (const auto& [box, label] :
         {std::pair{IdComport, "Label1"}, {IdOf("mylen"), "Label2"}, {IdOf("mydelay"), "Label3"}}) {
        EXPECT_EQ(GetDlgCtrlID(GetWindow(Control(box), GW_HWNDPREV)), IdOf(label));
    }
    // At wine's 96 dpi 15 twips make a pixel: 2835 x 1095 twips.
    RECT client{};
    GetClientRect(view_->Handle(), &client);
    EXPECT_EQ(std::pair(client.right, client.bottom), std::pair(189L, 73L));
}

// The Comport box takes device paths, and lists ports by names, longer than
// itself: its list reads them whole, its field shows a path's start while
// the user is not editing it, and its tooltip holds the whole text as it
// changes and shows on hover, also over a window that is not the active one.
TEST_F(Win32WindowTest, ComportBoxReadsLongPathsWhole) {
    const std::string path = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    const HWND box = Control(IdComport);
    COMBOBOXINFO parts{};
    parts.cbSize = sizeof parts;
    ASSERT_TRUE(GetComboBoxInfo(box, &parts));
    const HWND edit = parts.hwndItem;
    const HWND tip = view_->ComportTooltip();
    ASSERT_NE(tip, nullptr);
    // The field's first character shown, and the tooltip's text over the
    // field and over the box.
    const auto shown = [&] {
        std::string texts = std::to_string(SendMessageW(edit, EM_GETFIRSTVISIBLELINE, 0, 0));
        for (HWND tool : {edit, box}) {
            wchar_t text[1024] = {};
            TTTOOLINFOW info{};
            info.cbSize = TTTOOLINFOW_V2_SIZE;
            info.hwnd = view_->Handle();
            info.uId = reinterpret_cast<UINT_PTR>(tool);
            info.lpszText = text;
            SendMessageW(tip, TTM_GETTEXTW, std::size(text), reinterpret_cast<LPARAM>(&info));
            texts += " " + Narrow(text);
        }
        return texts;
    };

    // Without a list of its own width, the list is as narrow as the box.
    view_->SetSettingChoices(FormSetting::Comport, {"1", path});
    RECT closed{};
    GetWindowRect(box, &closed);
    EXPECT_GT(SendMessageW(box, CB_GETDROPPEDWIDTH, 0, 0), 4 * (closed.right - closed.left));
    view_->SetSettingText(FormSetting::Comport, path);
    EXPECT_EQ(shown(), "0 " + path + " " + path);
    // Typed at the end, the field shows the end; left, its start again.
    SetFocus(edit);
    SendMessageW(edit, EM_SETSEL, path.size(), path.size());
    SendMessageW(edit, WM_CHAR, L'x', 0);
    SetFocus(Control(IdCommand3));
    EXPECT_EQ(shown(), "0 " + path + "x " + path + "x");

    // The mouse comes to rest over the field while another window is active.
    const HWND other = CreateWindowExW(0, L"STATIC", L"other", WS_POPUP | WS_VISIBLE, 600, 500, 50,
                                       50, nullptr, nullptr, nullptr, nullptr);
    SetActiveWindow(other);
    RECT field{};
    GetWindowRect(edit, &field);
    SetCursorPos((field.left + field.right) / 2, (field.top + field.bottom) / 2);
    SendMessageW(edit, WM_MOUSEMOVE, 0, MAKELPARAM(10, 5));
    EXPECT_TRUE(test::Eventually([&] {
        view_->ProcessEvents();
        return IsWindowVisible(tip) != FALSE;
    }));
    DestroyWindow(other);
}

// A Read saves the device's buffer under the name typed in the save dialog,
// which takes a name only in a folder that exists: a mistyped folder is
// refused by the dialog itself, which stays up.  Operations that end in one
// box show the real MessageBoxW with its title and icon, a detail after a
// blank line: a file of the wrong size chosen for a Write, a port that does
// not exist.  The window ends idle.
TEST_F(Win32WindowTest, ReadSavesInAFolderThatExistsAndBoxesShowTheirTitleAndIcon) {
    std::string refusal, wrongSize, absent;
    Click(Control(IdCommand4), ModalAnswerer()
                                   .Dialog(folder_ / "missing" / "key.bin")
                                   .Box(&refusal)
                                   .Dialog(folder_ / "key.bin"));
    EXPECT_TRUE(refusal.ends_with(" over a dialog")) << refusal;  // "Path does not exist" on wine
    EXPECT_FALSE(std::filesystem::exists(folder_ / "missing"));
    EXPECT_TRUE(test::ReadFile(folder_ / "key.bin") == wintest::DefaultBuffer());

    test::WriteFile(folder_ / "key.bin", std::string(4095, '\x11'));
    Click(Control(IdCommand3), ModalAnswerer().Dialog(folder_ / "key.bin").Box(&wrongSize));
    view_->SetSettingText(FormSetting::Comport, std::to_string(wintest::AbsentPort));
    Click(Control(IdCommand4), ModalAnswerer().Box(&absent));
    EXPECT_EQ(wrongSize, "Error in filesize: Wrong File size ! (error)");
    EXPECT_EQ(absent,
              "Error: Not able to Open selected Comport\n\nCOM200: no such port. (warning)");
    EXPECT_TRUE(IsWindowEnabled(Control(IdCommand4)) && IsWindowEnabled(Control(IdCommand3)));
}

// During a Write of the file chosen in the open dialog, as a user might: a
// drag on the caption, a right click on it, Alt+Space, the close box, and a
// second click on Write.  None holds the Write (each would, for as long as
// the mouse is held or the menu is open, and the device would give the
// write up): the click meets the busy notice while the window, its close
// put off, stays; once the device has the file the window goes, with the
// notice.
TEST_F(Win32WindowTest, AWriteGoesOnPastTheCaptionsLoopsAndTheCloseWaitsForIt) {
    const char* saved = std::getenv("VANTRI_WINE_SIM_SAVE");
    ASSERT_NE(saved, nullptr) << "run by scripts/test-windows, which names the device's file";
    std::filesystem::remove(saved);
    test::WriteFile(folder_ / "default.bin", wintest::DefaultBuffer());
    view_->SetSettingText(FormSetting::Blocksize, "256");
    const HWND window = view_->Handle();
    HWND notice = nullptr;
    std::string noticeText;
    bool stayed = false, kept = false;
    std::thread user([&, ui = GetCurrentThreadId()] {
        // The caption, read without a message to the busy thread.
        wchar_t caption[64] = {};
        test::Eventually([&] {
            InternalGetWindowText(window, caption, 64);
            return std::wstring_view(caption).ends_with(L"% Done");
        });
        RECT frame{};
        GetWindowRect(window, &frame);
        const LPARAM onCaption = MAKELPARAM(frame.left + 40, frame.top + 8);
        PostMessageW(window, WM_NCLBUTTONDOWN, HTCAPTION, onCaption);
        PostMessageW(window, WM_NCRBUTTONDOWN, HTCAPTION, onCaption);
        PostMessageW(window, WM_SYSCOMMAND, SC_KEYMENU, L' ');
        SendMessageTimeoutW(window, WM_NCLBUTTONDOWN, HTCLOSE, onCaption, SMTO_NORMAL, 20000,
                            nullptr);
        PostMessageW(view_->Control(IdCommand3), BM_CLICK, 0, 0);
        test::Eventually([&] { return (notice = FindNotice(ui)) != nullptr; });
        noticeText = wintest::WindowTextOf(GetDlgItem(notice, 0xFFFF));
        stayed = IsWindowVisible(window);
        // The device has the file before anything is let go.
        kept = wintest::GoodPortSaved(wintest::DefaultBuffer());
        // Lets go of whatever would still hold the window.
        PostMessageW(window, WM_LBUTTONUP, 0, 0);
        PostMessageW(window, WM_RBUTTONUP, 0, 0);
        PostMessageW(window, WM_KEYDOWN, VK_ESCAPE, 0);
    });
    Click(Control(IdCommand3), ModalAnswerer().Dialog(folder_ / "default.bin"));
    user.join();
    EXPECT_EQ(noticeText, "Allready open");
    EXPECT_TRUE(stayed && kept);
    EXPECT_FALSE(IsWindow(window) || IsWindow(notice));
}

// Closing during a Read: the Read stops without a further box or dialog
// (on this device it would otherwise end in "Error in reading Keybuffer!"),
// and the window goes once the click is over.  The close comes at the
// Read's first event processing, or while its first failure box is up,
// which it takes down with the busy notice of a second click.
TEST_F(Win32WindowTest, ClosingDuringAReadEndsItWithoutAnotherBox) {
    for (const bool overBoxes : {false, true}) {
        SCOPED_TRACE(overBoxes ? "close over the box and the notice" : "close at once");
        // Each run meets a device of its own: one that hung up is gone.
        Open(overBoxes ? wintest::ReadLostPortAgain : wintest::ReadLostPort);
        const HWND window = view_->Handle();
        HWND notice = nullptr;
        ModalAnswerer answerer;
        if (overBoxes) {
            PostMessageW(Control(IdCommand4), BM_CLICK, 0, 0);
            answerer.Box(nullptr, [&notice, window, ui = GetCurrentThreadId()] {
                notice = FindNotice(ui);
                PostMessageW(window, WM_CLOSE, 0, 0);
            });
        } else {
            PostMessageW(window, WM_CLOSE, 0, 0);
        }
        Click(Control(IdCommand4), answerer);
        EXPECT_EQ(notice != nullptr, overBoxes);
        EXPECT_FALSE(IsWindow(notice) || IsWindow(window) || view_->Handle());
    }
}

}  // namespace
}  // namespace vantri
