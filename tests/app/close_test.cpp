// Closing the window while an operation runs: the operation stops without
// touching the port again, shows nothing more, and the window is gone.
#include <QFileDialog>

#include "window_fixture.h"

namespace vantri {
namespace {

using testing::ModalScript;

TEST_F(WindowTest, ClosingDuringAReadStopsItQuietly) {
    StartDevice({}, {}, 115200);
    DuringOperation([this] { form_.close(); });
    ModalScript script;  // no box, no dialog
    script.Start();
    const auto start = Clock::now();
    Click(form_.Command4);
    EXPECT_LT(SecondsSince(start), 0.5);
    ExpectAllDone(script);
    EXPECT_FALSE(form_.isVisible());
    EXPECT_TRUE(SameBytes(Received(), "\x05"));
    EXPECT_TRUE(FilesInFolder().isEmpty());
    EXPECT_EQ(form_.windowTitle(), "  Vantri Key Writer");
    ExpectIdle();
}

TEST_F(WindowTest, ClosingDuringAWriteStopsItAfterTheBlockOnTheLine) {
    StartDevice();
    WriteFile(Path("key.bin"), std::string(4096, '\x5A'));
    AfterFirstProgress([this] { form_.close(); });
    ModalScript script;
    script.Dialog([&](QFileDialog& d) { ModalScript::Choose(d, Path("key.bin")); });
    script.Start();
    Click(form_.Command3);
    ExpectAllDone(script);
    EXPECT_FALSE(form_.isVisible());
    // The close came with the first event processing, after the first block
    // of 16 and its pause: not one byte more.
    EXPECT_TRUE(SameBytes(Received(), "\x06" + std::string(16, '\x5A')));
    EXPECT_EQ(device_->WritesCompleted(), 0);
    ExpectIdle();
}

TEST_F(WindowTest, ClosingWhileTheSaveDialogIsUpDiscardsTheReadQuietly) {
    StartDevice();
    ModalScript script;
    script.Dialog([this](QFileDialog&) { form_.close(); });
    script.Start();
    Click(form_.Command4);
    ExpectAllDone(script);
    EXPECT_FALSE(form_.isVisible());
    EXPECT_TRUE(FilesInFolder().isEmpty());
    ExpectIdle();
}

}  // namespace
}  // namespace vantri
