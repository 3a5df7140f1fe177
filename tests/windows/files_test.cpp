// Key buffer files on Windows: names outside the ANSI code page (Cyrillic,
// Greek, CJK: no single code page holds them all) through the wide-character
// file API; owner-only DACLs, read back; a saver killed half-way.
//
// Wine keeps no DACL of its own on a Linux file system: it turns a DACL
// into the file's mode and reads the mode back as a DACL.  An owner-only
// file reads back as SYSTEM and the user; a file that took the folder's
// inherited permissions, with Everyone ("WD") allowed to read.
#include <gtest/gtest.h>

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <filesystem>
#include <set>
#include <string>

#include "image/hexfileHandle.h"
#include "image/save_file.h"
#include "tests/common/files.h"
#include "tests/windows/wine_devices.h"

namespace vantri {
namespace {

namespace fs = std::filesystem;
using Names = std::set<std::string>;

// The SID of the user the tests run as, "S-1-5-21-...".
std::string UserSid() {
    HANDLE token = nullptr;
    alignas(TOKEN_USER) unsigned char user[256] = {};
    DWORD size = 0;
    char* text = nullptr;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        if (GetTokenInformation(token, TokenUser, user, sizeof user, &size)) {
            ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, &text);
        }
        CloseHandle(token);
    }
    const std::string sid = text != nullptr ? text : "none";
    LocalFree(text);
    return sid;
}

// Whom the DACL of `file` lets in, as SDDL names them ("SY", "WD", a SID).
Names AllowedIn(const fs::path& file) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(file.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
        return {"unreadable"};
    }
    char* text = nullptr;
    ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1,
                                                         DACL_SECURITY_INFORMATION, &text, nullptr);
    const std::string sddl = text != nullptr ? text : "";
    LocalFree(text);
    LocalFree(descriptor);
    // "D:P(A;;FA;;;SY)(A;;FA;;;S-1-5-21-...)": each entry's type first, its
    // trustee last.
    Names allowed;
    for (std::size_t open = sddl.find('('); open != std::string::npos;
         open = sddl.find('(', open + 1)) {
        const std::string entry = sddl.substr(open + 1, sddl.find(')', open) - open - 1);
        if (entry.rfind("A;", 0) == 0) {
            allowed.insert(entry.substr(entry.rfind(';') + 1));
        }
    }
    return allowed;
}

// The user, and on wine SYSTEM beside them: no one else.
bool OwnerOnly(const fs::path& file) {
    Names others = AllowedIn(file);
    const bool user = others.erase(UserSid()) == 1;
    others.erase("SY");
    return user && others.empty();
}

Names NamesIn(const fs::path& folder) {
    Names names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

// A save and a second one over it: the bytes back whole under the name, the
// file owner-only each time, no temporary file left behind.
TEST(Win32Files, SaveAndLoadUnderANameOutsideTheCodePage) {
    const std::wstring name = L"vantri-\u043a\u043b\u044e\u0447-\u03ba\u03bb\u03b5\u03b9-\u9375-";
    const fs::path dir =
        fs::temp_directory_path() / (name + std::to_wstring(GetCurrentProcessId()));
    fs::remove_all(dir);
    ASSERT_TRUE(fs::create_directories(dir));
    const fs::path file = dir / fs::path(L"\u0420\u0430\u043c-\u9375.Bin");
    for (const std::string& bytes : {wintest::DefaultBuffer(), std::string(4096, '\x5A')}) {
        const SaveOutcome saved = SaveBinFile(file, bytes);
        ASSERT_TRUE(saved.ok) << saved.reason;
        ByteImage image;
        const LoadOutcome loaded = LoadBinFile(image, file);
        ASSERT_TRUE(loaded.ok) << loaded.error;
        std::string back;
        for (const ByteRecord& record : image) {
            back.push_back(static_cast<char>(record.Value));
        }
        EXPECT_TRUE(back == bytes);
        EXPECT_TRUE(OwnerOnly(file));
        EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
    }
    fs::remove_all(dir);
}

// A saver killed at a step of its save (a helper program stopped there,
// then terminated) leaves the target as it was.  Killed once its bytes are
// written, it leaves nothing: the file was marked for deletion from its
// creation and goes with the killed process's handle.  Killed just before
// the rename, once unmarked, it leaves an owner-only file that the next
// save removes.  That save replaces a file everyone could read with an
// owner-only one.
TEST(Win32Files, ASaverKilledMidSaveLeavesNoKeyMaterialBehind) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const fs::path saver = fs::path(self).parent_path() / "vantri_save_stopper.exe";
    for (const char* step : {"written", "named"}) {
        SCOPED_TRACE(step);
        test::TempDir dir;
        const fs::path file = dir / "Ram.Bin";
        test::WriteFile(file, "old");
        ASSERT_TRUE(AllowedIn(file).count("WD"));
        const std::string event = "vantri-save-stopper-" + std::to_string(GetCurrentProcessId());
        const HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, event.c_str());
        std::string line =
            "\"" + saver.string() + "\" \"" + file.string() + "\" " + step + " " + event;
        STARTUPINFOA start{};
        start.cb = sizeof start;
        PROCESS_INFORMATION process{};
        ASSERT_TRUE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                   nullptr, &start, &process));
        const HANDLE either[] = {ready, process.hProcess};
        const DWORD woken = WaitForMultipleObjects(2, either, FALSE, 60000);
        TerminateProcess(process.hProcess, 9);
        WaitForSingleObject(process.hProcess, 60000);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        CloseHandle(ready);
        ASSERT_EQ(woken, WAIT_OBJECT_0) << "the saver did not reach its step";

        const bool named = std::string(step) == "named";
        Names leftovers;
        EXPECT_TRUE(test::Eventually([&] {
            leftovers = NamesIn(dir.path);
            leftovers.erase("Ram.Bin");
            return leftovers.size() == (named ? 1u : 0u);
        })) << leftovers.size()
            << " temporary files";
        for (const std::string& leftover : leftovers) {
            EXPECT_TRUE(OwnerOnly(dir / leftover)) << leftover;
        }
        EXPECT_EQ(test::ReadFile(file), "old");
        ASSERT_TRUE(SaveBinFile(file, "new").ok);
        EXPECT_EQ(NamesIn(dir.path), Names{"Ram.Bin"});
        EXPECT_EQ(test::ReadFile(file), "new");
        EXPECT_TRUE(OwnerOnly(file));
    }
}

}  // namespace
}  // namespace vantri
