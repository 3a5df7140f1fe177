// vantri-keywriter.exe started as a process under wine, with a command line
// that holds more than its options.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <string>

#include "modal_answerer.h"
#include "tests/common/files.h"
#include "win32/layout.h"

namespace vantri {
namespace {

// The top-level windows of process `id` of the class "#32770" (the system's
// boxes) and of the window's own caption.
struct WindowsOf {
    DWORD id;
    HWND form = nullptr;
    int boxes = 0;
};

BOOL CALLBACK Sort(HWND window, LPARAM found) {
    auto& of = *reinterpret_cast<WindowsOf*>(found);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    wchar_t name[16] = {};
    GetClassNameW(window, name, 16);
    if (process != of.id || !IsWindowVisible(window)) {
        return TRUE;
    }
    if (lstrcmpW(name, L"#32770") == 0) {
        ++of.boxes;
    } else if (wintest::WindowTextOf(window) == "  Vantri Key Writer") {
        of.form = window;
    }
    return TRUE;
}

// A file dropped on the icon and an option it does not know are ignored:
// the window comes up with no box, --comport among them still presets the
// box, and the close ends the program with exit code 0.
TEST(Win32CommandLine, StartsWhateverElseItsCommandLineHolds) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::filesystem::path program =
        std::filesystem::path(self).parent_path() / "vantri-keywriter.exe";
    const struct {
        std::wstring arguments;
        std::string comport;
    } cases[] = {
        {L"\"C:\\keys\\dropped key.bin\"", "1"},
        {L"--unknown --comport 7 extra", "7"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(win32::Narrow(c.arguments));
        std::wstring line = L"\"" + program.wstring() + L"\" " + c.arguments;
        STARTUPINFOW start{};
        start.cb = sizeof start;
        PROCESS_INFORMATION process{};
        ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                   nullptr, &start, &process));
        WindowsOf seen{process.dwProcessId};
        const bool up = test::Eventually([&] {
            seen = WindowsOf{process.dwProcessId};
            EnumWindows(&Sort, reinterpret_cast<LPARAM>(&seen));
            return seen.form != nullptr || seen.boxes > 0;
        });
        EXPECT_TRUE(up && seen.form != nullptr && seen.boxes == 0) << seen.boxes << " boxes";
        DWORD code = STILL_ACTIVE;
        if (seen.form != nullptr) {
            // Sent, not read: another process's control keeps its text itself.
            wchar_t comport[64] = {};
            SendMessageTimeoutW(GetDlgItem(seen.form, win32::IdComport), WM_GETTEXT,
                                std::size(comport), reinterpret_cast<LPARAM>(comport),
                                SMTO_ABORTIFHUNG, 20000, nullptr);
            EXPECT_EQ(win32::Narrow(comport), c.comport);
            PostMessageW(seen.form, WM_CLOSE, 0, 0);
            WaitForSingleObject(process.hProcess, 60000);
            GetExitCodeProcess(process.hProcess, &code);
        }
        EXPECT_EQ(code, 0u);
        if (code == STILL_ACTIVE) {
            TerminateProcess(process.hProcess, 1);
        }
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
}

}  // namespace
}  // namespace vantri
