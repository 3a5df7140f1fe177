// The Win32 save dialog under wine, its modals answered from a second
// thread: an existing file's name is taken only once the user says yes to
// the system's question.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "modal_answerer.h"
#include "tests/common/files.h"
#include "win32/Module1.h"

namespace vantri {
namespace {

using namespace std::string_literals;

// No leaves the dialog up; Yes takes the name; a new name is taken without
// a question.
TEST(Win32SaveDialog, AsksBeforeTakingAnExistingFile) {
    test::TempDir dir;
    test::WriteFile(dir / "old.bin", "old");
    const std::string filter = "Bin File (*.bin)\0*.bin\0\0"s;
    wintest::BoxSeen question;
    wintest::ModalAnswerer answerer(GetCurrentThreadId());
    answerer.Dialog(dir / "old.bin")
        .Question(&question, IDNO)
        .Dialog(dir / "old.bin")
        .Question(nullptr, IDYES)
        .Dialog(dir / "new.bin");
    answerer.Start();
    const auto existing = win32::ShowSaveDialog(filter, nullptr, "Ram.Bin", "Save");
    const auto fresh = win32::ShowSaveDialog(filter, nullptr, "Ram.Bin", "Save");
    EXPECT_EQ(answerer.Finish(), "");
    EXPECT_EQ(existing, dir / "old.bin");
    EXPECT_EQ(fresh, dir / "new.bin");
    // "File already exists." on wine, the file's name on Windows.
    EXPECT_TRUE(question.overDialog && question.text.find("replace") != std::string::npos)
        << question.text;
}

}  // namespace
}  // namespace vantri
