// Key buffer files named outside the ANSI code page (Cyrillic, Greek, CJK:
// no single code page holds them all): saving and loading go through the
// wide-character file API, and a second save replaces the first in place.
#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <string>

#include <windows.h>

#include "image/hexfileHandle.h"
#include "image/save_file.h"
#include "tests/windows/wine_devices.h"

namespace vantri {
namespace {

namespace fs = std::filesystem;

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
        // The one file under its name, no temporary file left behind.
        EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
    }
    fs::remove_all(dir);
}

}  // namespace
}  // namespace vantri
