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

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "modal_answerer.h"
#include "tests/common/files.h"
#include "tests/windows/wine_devices.h"
#include "win32/form_window.h"
#include "win32/layout.h"
#include "win32/utf16.h"

namespace vantri {
namespace {

using win32::IdCommand3;
using win32::IdCommand4;
using wintest::BoxSeen;
using wintest::ModalAnswerer;

// A window's caption, read without a message to its thread, which is busy
// in a click.
std::string CaptionNow(HWND window) {
    wchar_t text[256] = {};
    InternalGetWindowText(window, text, static_cast<int>(std::size(text)));
    return win32::Narrow(text);
}

// The notice: a box of this process, up on a thread other than `uiThread`.
HWND FindNotice(DWORD uiThread) {
    struct Search {
        DWORD uiThread;
        HWND found;
    } search{uiThread, nullptr};
    EnumWindows(
        [](HWND window, LPARAM data) -> BOOL {
            auto* search = reinterpret_cast<Search*>(data);
            DWORD process = 0;
            const DWORD thread = GetWindowThreadProcessId(window, &process);
            wchar_t name[16] = {};
            GetClassNameW(window, name, 16);
            if (process == GetCurrentProcessId() && thread != search->uiThread &&
                lstrcmpW(name, L"#32770") == 0 && IsWindowVisible(window)) {
                search->found = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

class Win32WindowTest : public ::testing::Test {
  protected:
    // A window set to the good device.
    void SetUp() override {
        Open();
        Set(FormSetting::Comport, std::to_string(wintest::GoodPort));
        folder_ = std::filesystem::temp_directory_path() /
                  ("vantri-win32-" + std::to_string(GetCurrentProcessId()));
        std::filesystem::create_directories(folder_);
    }

    void TearDown() override {
        // A file dialog makes the chosen file's folder the current one, as
        // on Windows; a folder that is current cannot be removed.
        std::filesystem::current_path(folder_.parent_path());
        std::filesystem::remove_all(folder_);
    }

    // A new window with its logic, as the program starts it.
    void Open() {
        view_ = std::make_unique<win32::FormWindow>(false);
        ASSERT_TRUE(view_->Create());
        view_->Show(SW_SHOWNORMAL);
    }

    HWND Control(int id) const { return view_->Control(id); }
    std::string Caption() const { return wintest::WindowTextOf(view_->Handle()); }
    void Set(FormSetting setting, const std::string& text) { view_->SetSettingText(setting, text); }

    // Clicks a button as the user does, `answerer` answering the modals the
    // operation opens; returns when the operation has ended.
    void Click(int id, ModalAnswerer& answerer) {
        answerer.Start();
        SendMessageW(Control(id), BM_CLICK, 0, 0);
        EXPECT_EQ(answerer.Finish(), "");
    }

    ModalAnswerer Answerer() const { return ModalAnswerer(GetCurrentThreadId()); }

    // A Write of the default buffer in 16 blocks to the good device, whose
    // file of the last buffer it kept is removed first; `user` runs on a
    // thread of its own meanwhile, from the Write's first progress on.
    void WriteWhile(const std::function<void(HWND window)>& user) {
        const char* saved = std::getenv("VANTRI_WINE_SIM_SAVE");
        ASSERT_NE(saved, nullptr) << "run by scripts/test-windows, which names the device's file";
        std::filesystem::remove(saved);
        test::WriteFile(folder_ / "default.bin", wintest::DefaultBuffer());
        Set(FormSetting::Blocksize, "256");
        const HWND window = view_->Handle();
        std::thread beside([&] {
            if (test::Eventually([&] { return CaptionNow(window).ends_with("% Done"); })) {
                user(window);
            }
        });
        auto answerer = Answerer();
        answerer.Dialog(folder_ / "default.bin");
        Click(IdCommand3, answerer);
        beside.join();
    }
    // A point on the window's caption, in screen coordinates.
    static LPARAM OnCaption(HWND window) {
        RECT frame{};
        GetWindowRect(window, &frame);
        return MAKELPARAM(frame.left + 40, frame.top + GetSystemMetrics(SM_CYFRAME) + 4);
    }

    std::unique_ptr<win32::FormWindow> view_;
    std::filesystem::path folder_;
};

TEST_F(Win32WindowTest, StartsWithTheFocusInComportAndTabsInTheFocusOrder) {
    EXPECT_EQ(Caption(), "  Vantri Key Writer");
    EXPECT_TRUE(IsChild(Control(win32::IdComport), GetFocus()) ||
                GetFocus() == Control(win32::IdComport));
    const int order[] = {win32::IdComport, IdCommand3,       IdCommand4,
                         win32::IdMylen,   win32::IdMydelay, win32::IdComport};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i) {
        const HWND next = GetNextDlgTabItem(view_->Handle(), Control(order[i]), FALSE);
        EXPECT_EQ(GetDlgCtrlID(next), order[i + 1]) << "after control " << order[i];
    }
    // A screen reader names a box by the label just before it: "Delay,
    // combo box, 10".
    for (const auto& [box, label] : {std::pair{win32::IdComport, "Comport"},
                                     {win32::IdMylen, "Blocksize"},
                                     {win32::IdMydelay, "Delay"}}) {
        const HWND before = GetWindow(Control(box), GW_HWNDPREV);
        wchar_t name[16] = {};
        GetClassNameW(before, name, 16);
        EXPECT_EQ(win32::Narrow(name) + " " + wintest::WindowTextOf(before),
                  std::string("Static ") + label);
    }
    RECT client{};
    GetClientRect(view_->Handle(), &client);
    // At wine's 96 dpi 15 twips make a pixel: 2835 x 1095 twips.
    EXPECT_EQ(client.right, 189);
    EXPECT_EQ(client.bottom, 73);
}

// The device saves each buffer it receives: its file is removed first, so
// the default buffer written here shows that the write went through.
TEST_F(Win32WindowTest, WriteSendsTheFileChosenInTheOpenDialog) {
    const char* saved = std::getenv("VANTRI_WINE_SIM_SAVE");
    ASSERT_NE(saved, nullptr) << "run by scripts/test-windows, which names the device's file";
    std::filesystem::remove(saved);
    test::WriteFile(folder_ / "default.bin", wintest::DefaultBuffer());
    Set(FormSetting::Delay, "0");
    ModalAnswerer::DialogSeen dialog;
    auto answerer = Answerer();
    answerer.Dialog(folder_ / "default.bin", &dialog);
    Click(IdCommand3, answerer);
    EXPECT_EQ(dialog.title, "Select Keybuffer Bin file to write");
    EXPECT_EQ(Caption(), "   File Written !");
    EXPECT_TRUE(wintest::GoodPortSaved(wintest::DefaultBuffer()));
}

// The Comport box takes device paths, and lists ports by names, longer than
// itself: its list reads them whole, its field shows a path's start while
// the user is not editing it, and its tooltip holds the whole text as it
// changes and shows on hover, also over a window that is not the active one.
TEST_F(Win32WindowTest, ComportBoxReadsLongPathsWhole) {
    const std::string path = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    const HWND box = Control(win32::IdComport);
    COMBOBOXINFO parts{};
    parts.cbSize = sizeof parts;
    ASSERT_TRUE(GetComboBoxInfo(box, &parts));
    const HWND edit = parts.hwndItem;
    const HWND tip = view_->ComportTooltip();
    ASSERT_NE(tip, nullptr);
    const auto tipText = [&](HWND tool) {
        wchar_t text[1024] = {};
        TTTOOLINFOW info{};
        info.cbSize = TTTOOLINFOW_V2_SIZE;
        info.hwnd = view_->Handle();
        info.uId = reinterpret_cast<UINT_PTR>(tool);
        info.lpszText = text;
        SendMessageW(tip, TTM_GETTEXTW, std::size(text), reinterpret_cast<LPARAM>(&info));
        return win32::Narrow(text);
    };
    const auto firstShown = [edit] { return SendMessageW(edit, EM_GETFIRSTVISIBLELINE, 0, 0); };

    view_->SetSettingChoices(FormSetting::Comport, {"1", path});
    const HDC dc = GetDC(box);
    SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(box, WM_GETFONT, 0, 0)));
    SIZE extent{};
    GetTextExtentPoint32W(dc, win32::Widen(path).c_str(), static_cast<int>(path.size()), &extent);
    ReleaseDC(box, dc);
    SendMessageW(box, CB_SHOWDROPDOWN, TRUE, 0);
    RECT list{};
    GetClientRect(parts.hwndList, &list);
    SendMessageW(box, CB_SHOWDROPDOWN, FALSE, 0);
    EXPECT_GT(list.right, extent.cx);

    Set(FormSetting::Comport, path);
    EXPECT_EQ(firstShown(), 0);
    EXPECT_EQ(tipText(edit), path);
    EXPECT_EQ(tipText(box), path);
    // Typed at the end, the field shows the end; left, its start again.
    SetFocus(edit);
    SendMessageW(edit, EM_SETSEL, path.size(), path.size());
    SendMessageW(edit, WM_CHAR, L'x', 0);
    EXPECT_GT(firstShown(), 0);
    EXPECT_EQ(tipText(edit), path + "x");
    SetFocus(Control(IdCommand3));
    EXPECT_EQ(firstShown(), 0);

    // The mouse comes to rest over the field while another window is active.
    const HWND other = CreateWindowExW(0, L"STATIC", L"other", WS_POPUP | WS_VISIBLE, 600, 500, 50,
                                       50, nullptr, nullptr, nullptr, nullptr);
    SetActiveWindow(other);
    RECT field{};
    GetWindowRect(edit, &field);
    SetCursorPos((field.left + field.right) / 2, (field.top + field.bottom) / 2);
    POINT at{(field.right - field.left) / 2, (field.bottom - field.top) / 2};
    SendMessageW(edit, WM_MOUSEMOVE, 0, MAKELPARAM(at.x, at.y));
    const auto start = std::chrono::steady_clock::now();
    while (!IsWindowVisible(tip) && wintest::ElapsedMs(start) < 10000) {
        view_->ProcessEvents();
        Sleep(20);
    }
    EXPECT_TRUE(IsWindowVisible(tip));
    DestroyWindow(other);
}

// The save dialog takes a name only in a folder that exists: a mistyped
// folder is refused by the dialog itself, which stays up, and nothing is
// saved.
TEST_F(Win32WindowTest, SaveDialogRefusesANameInAFolderThatDoesNotExist) {
    BoxSeen refusal;
    auto answerer = Answerer();
    answerer.Dialog(folder_ / "missing" / "key.bin").Box(&refusal).Dialog({});
    Click(IdCommand4, answerer);
    EXPECT_TRUE(refusal.overDialog) << refusal.text;  // "Path does not exist" on wine
    EXPECT_FALSE(std::filesystem::exists(folder_ / "missing"));
    EXPECT_FALSE(std::filesystem::exists(folder_ / "missing.Bin"));
}

// Operations that end in one box, the real MessageBoxW with its title and
// icon, a detail after a blank line: the port, whether a file (of the
// wrong size) is chosen, the box.  The window ends idle.
TEST_F(Win32WindowTest, BoxesShowTheirTextTitleAndIcon) {
    const BoxSeen wrongSize{"Wrong File size !", "Error in filesize", MB_ICONERROR};
    const BoxSeen noPort{"Not able to Open selected Comport\n\nCOM200: no such port.", "Error",
                         MB_ICONWARNING};
    const struct {
        int button;
        std::int16_t port;
        bool chooseFile;
        BoxSeen expected;
    } cases[] = {{IdCommand3, wintest::GoodPort, true, wrongSize},
                 {IdCommand4, wintest::AbsentPort, false, noPort}};
    test::WriteFile(folder_ / "chosen.bin", std::string(4095, '\x11'));
    for (const auto& c : cases) {
        Set(FormSetting::Comport, std::to_string(c.port));
        auto answerer = Answerer();
        if (c.chooseFile) {
            answerer.Dialog(folder_ / "chosen.bin");
        }
        BoxSeen seen;
        answerer.Box(&seen);
        Click(c.button, answerer);
        EXPECT_EQ(seen, c.expected);
        EXPECT_TRUE(IsWindowEnabled(Control(IdCommand4)));
        EXPECT_TRUE(IsWindowEnabled(Control(IdCommand3)));
    }
}

// A Read saves the device's buffer under the name typed in the save dialog.
TEST_F(Win32WindowTest, ReadSavesUnderTheNameTyped) {
    ModalAnswerer::DialogSeen dialog;
    auto answerer = Answerer();
    answerer.Dialog(folder_ / "key.bin", &dialog);
    Click(IdCommand4, answerer);
    EXPECT_EQ(dialog.title, "Save Keybuffer To Bin file");
    EXPECT_EQ(dialog.proposed, "Ram.Bin");
    EXPECT_EQ(Caption(), "   File read!");
    EXPECT_TRUE(test::ReadFile(folder_ / "key.bin") == wintest::DefaultBuffer());
}

// During a Write, as a user might: a drag on the caption, a right click on
// it, Alt+Space, and a second click on Write.  None holds the Write (each
// would, for as long as the mouse is held or the menu is open, and the
// device would give the write up): the click meets the busy notice, and the
// device holds the file while the notice is still up.  Closing the window
// takes the notice down.
TEST_F(Win32WindowTest, AWriteGoesOnPastTheBusyNoticeAndTheCaptionsLoops) {
    HWND notice = nullptr;
    bool savedWhileUp = false;
    WriteWhile([&](HWND window) {
        PostMessageW(window, WM_NCLBUTTONDOWN, HTCAPTION, OnCaption(window));
        PostMessageW(window, WM_NCRBUTTONDOWN, HTCAPTION, OnCaption(window));
        PostMessageW(window, WM_SYSCOMMAND, SC_KEYMENU, L' ');
        PostMessageW(view_->Control(IdCommand3), BM_CLICK, 0, 0);
        const DWORD ui = GetWindowThreadProcessId(window, nullptr);
        test::Eventually([&] { return (notice = FindNotice(ui)) != nullptr; });
        savedWhileUp = wintest::GoodPortSaved(wintest::DefaultBuffer()) && IsWindow(notice);
        // Lets go of whatever would still hold the window.
        PostMessageW(window, WM_LBUTTONUP, 0, 0);
        PostMessageW(window, WM_RBUTTONUP, 0, 0);
        PostMessageW(window, WM_KEYDOWN, VK_ESCAPE, 0);
    });
    EXPECT_TRUE(savedWhileUp);
    EXPECT_EQ(Caption(), "   File Written !");
    ASSERT_NE(notice, nullptr);
    EXPECT_EQ(wintest::WindowTextOf(notice), "Vantri");
    EXPECT_EQ(wintest::WindowTextOf(GetDlgItem(notice, 0xFFFF)), "Allready open");
    SendMessageW(view_->Handle(), WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(notice));
}

// The close box pressed during a Write, after its request, closes without
// tracking the mouse, but only once the Write has ended: the window is still
// there when the busy notice of a click that came after the close is up,
// and goes, with the notice, once the device has the file.
TEST_F(Win32WindowTest, TheCloseBoxDuringAWriteClosesOnceTheWriteHasEnded) {
    const HWND window = view_->Handle();
    HWND notice = nullptr;
    bool stayed = false;
    WriteWhile([&](HWND window) {
        SendMessageTimeoutW(window, WM_NCLBUTTONDOWN, HTCLOSE, OnCaption(window), SMTO_NORMAL,
                            20000, nullptr);
        PostMessageW(view_->Control(IdCommand3), BM_CLICK, 0, 0);
        const DWORD ui = GetWindowThreadProcessId(window, nullptr);
        test::Eventually([&] { return (notice = FindNotice(ui)) != nullptr; });
        stayed = notice != nullptr && IsWindowVisible(window);
        PostMessageW(window, WM_LBUTTONUP, 0, 0);  // were the close box tracked
    });
    EXPECT_TRUE(stayed);
    EXPECT_TRUE(wintest::GoodPortSaved(wintest::DefaultBuffer()));
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(IsWindow(notice));
}

// Closing during a Read: the Read stops without a further box or dialog
// (on this device it would otherwise end in "Error in reading Keybuffer!"),
// and the window goes once the click is over.  The close comes at the
// Read's first event processing, or while its first failure box is up,
// which it takes down with the busy notice of a second click.
TEST_F(Win32WindowTest, ClosingDuringAReadEndsItWithoutAnotherBox) {
    for (const bool overBoxes : {false, true}) {
        SCOPED_TRACE(overBoxes ? "close over the box and the notice" : "close at once");
        Open();
        // Each run meets a device of its own: one that hung up is gone.
        Set(FormSetting::Comport,
            std::to_string(overBoxes ? wintest::ReadLostPortAgain : wintest::ReadLostPort));
        const HWND window = view_->Handle();
        HWND notice = nullptr;
        auto answerer = Answerer();
        if (overBoxes) {
            PostMessageW(Control(IdCommand4), BM_CLICK, 0, 0);
            answerer.Box(nullptr, [&notice, window, ui = GetCurrentThreadId()] {
                notice = FindNotice(ui);
                PostMessageW(window, WM_CLOSE, 0, 0);
            });
        } else {
            PostMessageW(window, WM_CLOSE, 0, 0);
        }
        Click(IdCommand4, answerer);
        EXPECT_EQ(notice != nullptr, overBoxes);
        EXPECT_FALSE(IsWindow(notice));
        EXPECT_FALSE(IsWindow(window));
        EXPECT_EQ(view_->Handle(), nullptr);
    }
}

}  // namespace
}  // namespace vantri
