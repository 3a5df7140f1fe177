// Key buffer files on Windows: owner-only DACLs, read back, and a saver
// killed half-way.  (Names outside the ANSI code page are tried through
// vantri-key.exe by scripts/test-windows.)
//
// Wine keeps no DACL of its own on a Linux file system: it turns a DACL
// into the file's mode and reads the mode back as a DACL.  An owner-only
// file reads back as SYSTEM and the user; a file that took the folder's
// inherited permissions, with Everyone ("WD") allowed to read.
#include <gtest/gtest.h>

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <regex>

#include "image/save_file.h"
#include "tests/common/files.h"

namespace vantri {
namespace {

namespace fs = std::filesystem;
using Names = std::set<std::string>;

// Whether the DACL of `file` lets in the user the test runs as and, on
// wine, SYSTEM ("SY"), and no one else.
bool OwnerOnly(const fs::path& file) {
    HANDLE token = nullptr;
    alignas(TOKEN_USER) unsigned char user[256] = {};
    DWORD size = 0;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    char *sid = nullptr, *sddl = nullptr;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) &&
        GetTokenInformation(token, TokenUser, user, sizeof user, &size) &&
        ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, &sid) &&
        GetNamedSecurityInfoW(file.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, nullptr, nullptr, &descriptor) == ERROR_SUCCESS) {
        ConvertSecurityDescriptorToStringSecurityDescriptorA(
            descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &sddl, nullptr);
    }
    // "D:P(A;;FA;;;SY)(A;;FA;;;S-1-5-21-...)": each entry's type first, the
    // one it lets in last.
    const std::string text = sddl != nullptr ? sddl : "";
    const std::regex entry(R"(\(A;[^)]*;([^;)]*)\))");
    Names allowed(std::sregex_token_iterator(text.begin(), text.end(), entry, 1), {});
    const bool ownerOnly =
        sid != nullptr && allowed.erase(sid) == 1 && allowed.size() == allowed.count("SY");
    CloseHandle(token);
    LocalFree(sid);
    LocalFree(sddl);
    LocalFree(descriptor);
    return ownerOnly;
}

// A saver killed at a step of its save (a helper program that terminates
// itself there, as abruptly as any kill) leaves the target as it was.  Killed once its bytes are
// written, it leaves nothing: the file was marked for deletion from its
// creation and goes with the killed process's handle.  Killed just before
// the rename, once unmarked, it leaves an owner-only file that the next
// save removes.  That save replaces a file everyone could read with an
// owner-only one; a new file is owner-only too.
TEST(Win32Files, ASaverKilledMidSaveLeavesNoKeyMaterialBehind) {
    for (const char* step : {"written", "named"}) {
        SCOPED_TRACE(step);
        test::TempDir dir;
        const fs::path file = dir / "Ram.Bin";
        test::WriteFile(file, "old");
        ASSERT_FALSE(OwnerOnly(file));  // Everyone may read it
        // Found next to this program: a command line is looked up there first.
        std::string line = "vantri_save_stopper.exe \"" + file.string() + "\" " + step;
        STARTUPINFOA start{};
        start.cb = sizeof start;
        PROCESS_INFORMATION process{};
        ASSERT_TRUE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                   nullptr, &start, &process));
        DWORD code = 0;
        WaitForSingleObject(process.hProcess, 60000);
        GetExitCodeProcess(process.hProcess, &code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        ASSERT_EQ(code, 9u) << "the saver did not reach its step";

        Names leftovers;
        EXPECT_TRUE(test::Eventually([&] {
            leftovers = test::NamesIn(dir.path);
            leftovers.erase("Ram.Bin");
            return leftovers.size() == (std::string(step) == "named" ? 1u : 0u);
        })) << leftovers.size()
            << " temporary files";
        for (const std::string& leftover : leftovers) {
            EXPECT_TRUE(OwnerOnly(dir / leftover)) << leftover;
        }
        EXPECT_EQ(test::ReadFile(file), "old");
        ASSERT_TRUE(SaveBinFile(file, "new").ok);
        EXPECT_EQ(test::NamesIn(dir.path), Names{"Ram.Bin"});
        EXPECT_EQ(test::ReadFile(file), "new");
        EXPECT_TRUE(OwnerOnly(file));
        ASSERT_TRUE(SaveBinFile(dir / "fresh.bin", "new").ok);
        EXPECT_TRUE(OwnerOnly(dir / "fresh.bin"));
    }
}

}  // namespace
}  // namespace vantri
