// vantri-keywriter.exe: the window on Windows.
//
//   vantri-keywriter [--comport TEXT]
//
// --comport presets the Comport box (a port number or a device name);
// otherwise every start shows the defaults.  Nothing is stored between runs.
// --help and --version answer in a box.  Anything else on the command line
// (a file dropped on the program's icon, an option it does not know) is
// ignored and the window starts.  The arguments are read from the wide
// command line, so any text reaches the box whole.
#include <windows.h>

#include <commctrl.h>
#include <stdlib.h>

#include <cwchar>
#include <optional>
#include <string>

#include "image/process_hardening.h"
#include "win32/form_window.h"
#include "win32/message_box.h"
#include "win32/utf16.h"

namespace {

constexpr char Usage[] =
    "vantri-keywriter [--comport TEXT]\n\n"
    "Reads a device's 4096-byte key buffer into a file, and writes one back.\n\n"
    "--comport TEXT    Preset the Comport box: a port number (3 for COM3) or a device name.";

void Tell(const std::string& text, vantri::MessageIcon icon) {
    vantri::win32::ShowMessageBox(nullptr, {text, "", icon, ""});
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int showCommand) {
    vantri::HardenProcess();  // before any key buffer is read
    std::optional<std::wstring> comport;
    for (int i = 1; i < __argc; ++i) {
        const std::wstring argument = __wargv[i];
        if (argument == L"--comport" && i + 1 < __argc) {
            comport = __wargv[++i];
        } else if (argument.rfind(L"--comport=", 0) == 0) {
            comport = argument.substr(10);
        } else if (argument == L"--help" || argument == L"-h" || argument == L"--version") {
            Tell(argument == L"--version" ? "vantri-keywriter " VANTRI_VERSION : Usage,
                 vantri::MessageIcon::None);
            return 0;
        }
        // Anything else is not for us: Explorer hands over a file dropped on
        // the icon, and a box about it would only stand in the user's way.
    }

    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    vantri::win32::FormWindow view;
    if (!view.Create()) {
        Tell("The window could not be created.", vantri::MessageIcon::Error);
        return 1;
    }
    if (comport) {
        view.SetSettingText(vantri::FormSetting::Comport, vantri::win32::Narrow(*comport));
    }
    view.Show(showCommand);
    return view.RunMessageLoop();
}
