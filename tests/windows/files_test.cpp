// Key buffer files whose names lie outside the ANSI code page: loading and
// saving go through the wide-character file API on Windows.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <system_error>

#include <windows.h>

#include "image/hexfileHandle.h"
#include "image/save_file.h"
#include "tests/windows/wine_devices.h"

namespace vantri {
namespace {

namespace fs = std::filesystem;

class Win32Files : public ::testing::Test {
  protected:
    void SetUp() override {
        // Cyrillic, Greek and CJK: no single ANSI code page holds them all.
        dir_ = fs::temp_directory_path() /
               fs::path(
                   L"vantri-\u043a\u043b\u044e\u0447-\u03ba\u03bb\u03b5\u03b9\u03b4\u03af-"
                   L"\u9375-" +
                   std::to_wstring(GetCurrentProcessId()));
        std::error_code ec;
        fs::remove_all(dir_, ec);
        ASSERT_TRUE(fs::create_directories(dir_, ec)) << ec.message();
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    fs::path dir_;
};

TEST_F(Win32Files, SaveAndLoadUnderANameOutsideTheCodePage) {
    const fs::path file = dir_ / fs::path(L"\u0420\u0430\u043c-\u9375.Bin");
    const std::string bytes = wintest::DefaultBuffer();

    const SaveOutcome saved = SaveBinFile(file, bytes);
    ASSERT_TRUE(saved.ok) << saved.reason;
    EXPECT_TRUE(fs::exists(file));
    EXPECT_EQ(fs::file_size(file), 4096u);

    ByteImage image;
    const LoadOutcome loaded = LoadBinFile(image, file);
    ASSERT_TRUE(loaded.ok) << loaded.error;
    EXPECT_EQ(BinFileSize, 4096);
    ASSERT_EQ(image.size(), 4096u);
    std::string back;
    for (const ByteRecord& record : image) {
        back.push_back(static_cast<char>(record.Value));
    }
    EXPECT_TRUE(back == bytes);

    // Saving again replaces the file in place, under the same name.
    const std::string other(4096, '\x5A');
    ASSERT_TRUE(SaveBinFile(file, other).ok);
    ASSERT_TRUE(LoadBinFile(image, file).ok);
    EXPECT_EQ(image[4095].Value, 0x5A);
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir_)) {
        ++entries;
    }
    EXPECT_EQ(entries, 1);  // no temporary file left behind
}

}  // namespace
}  // namespace vantri
