// Write, against the simulated device.
#include <sys/stat.h>

#include <random>

#include "form/captions.h"
#include "scripted_view.h"
#include "serial/call_trace.h"

namespace vantri {
namespace {

class WriteTest : public FormTest {
  protected:
    void SetUp() override {
        FormTest::SetUp();
        std::mt19937 random(7);  // unlike the device's own buffer
        for (char& b : key_) {
            b = static_cast<char>(random() & 0xFF);
        }
        WriteFile(Path("key.bin"), key_);
    }
    // After the first progress caption, at the event processing that
    // follows the first block's pause.
    void AfterFirstProgress(std::function<void()> act) {
        view_.onCaption = [this, act](const std::string&) {
            view_.onCaption = nullptr;
            view_.atNextEvents = act;
        };
    }
    std::string key_ = std::string(4096, '\0');
};

TEST_F(WriteTest, SendsTheFileInPacedBlocksWithProgress) {
    StartDevice();
    view_.settings[FormSetting::Blocksize] = "100";
    view_.settings[FormSetting::Delay] = "25";
    // Halfway, the user edits both boxes: the Delay box is read at every
    // pause, the Blocksize once.
    view_.onCaption = [this](const std::string& caption) {
        if (caption == WriteProgressCaption(2001)) {
            view_.settings[FormSetting::Delay] = "70";
            view_.settings[FormSetting::Blocksize] = "7";
        }
    };
    std::vector<std::uint32_t> pauses;
    const PortCallTrace before = SetPortCallTrace([&pauses](PortCall call, std::uint32_t amount) {
        if (call == PortCall::Pause) {
            pauses.push_back(amount);
        }
    });
    view_.answers = {Choosing("key.bin")};
    view_.Run(FormButton::Write);
    SetPortCallTrace(before);
    ASSERT_EQ(view_.dialogs.size(), 1u);
    const DialogSeen& d = view_.dialogs[0];
    EXPECT_EQ(d.kind, "open");
    EXPECT_EQ(d.title, "Select Keybuffer Bin file to write");
    EXPECT_EQ(d.filter, std::string("Bin Files(*.bin )\0*.bin\0\0", 25));
    EXPECT_EQ(d.flags, 6148u);
    EXPECT_TRUE(SameBytes(Received(4097), "\x06" + key_));

    // Read is off from the open to the end; the caption comes first.
    std::vector<std::string> expected{"Read off", "open dialog"};
    for (int p = 1; p <= 4096; p += 100) {
        expected.push_back(WriteProgressCaption(p));
    }
    expected.insert(expected.end(), {"   File Written !", "Read on"});
    EXPECT_EQ(view_.log, expected);

    // The pauses as the link made them: after 0x06 and after each block of
    // 100 bytes, 25 ms up to the block at 2001, 70 ms from there on.
    const std::vector<std::uint32_t> expectedPauses = [] {
        std::vector<std::uint32_t> pauses(21, 25);
        pauses.resize(42, 70);
        return pauses;
    }();
    EXPECT_EQ(pauses, expectedPauses);
    EXPECT_EQ(view_.form.KeyImage.size(), 4096u);
    EXPECT_TRUE(view_.boxes.empty());
    ExpectIdle();
    // The device takes the buffer once the last byte is in.
    for (int wait = 0; wait < 2000 && device_->WritesCompleted() < 1; ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(device_->WritesCompleted(), 1);
    EXPECT_TRUE(SameBytes(device_->Buffer(), key_));
}

TEST_F(WriteTest, ASecondClickOnWriteMeetsTheBusyRuleAndTheWriteGoesOn) {
    StartDevice();
    view_.settings[FormSetting::Delay] = "1";
    bool readWasOff = false;
    AfterFirstProgress([&] {
        readWasOff = !view_.enabled[0];
        view_.Click(FormButton::Read);   // disabled: nothing happens
        view_.Click(FormButton::Write);  // nested: "Allready open"
    });
    view_.answers = {Choosing("key.bin")};
    view_.Run(FormButton::Write);
    EXPECT_TRUE(readWasOff);
    EXPECT_EQ(view_.boxes,
              (std::vector<FormMessage>{{"Allready open", "", MessageIcon::None, ""}}));
    EXPECT_EQ(view_.dialogs.size(), 1u);
    EXPECT_TRUE(SameBytes(Received(4097), "\x06" + key_));
    EXPECT_EQ(view_.caption, "   File Written !");
    ExpectIdle();
}

TEST_F(WriteTest, CancelInTheOpenDialogSendsNothing) {
    StartDevice();
    view_.answers = {Cancel};
    view_.Run(FormButton::Write);
    EXPECT_TRUE(SameBytes(Received(), ""));
    EXPECT_EQ(view_.log, (std::vector<std::string>{"Read off", "open dialog", "Read on"}));
    ExpectIdle();
}

TEST_F(WriteTest, AFileNotOf4096BytesIsRefusedAtOnce) {
    StartDevice();
    WriteFile(Path("short.bin"), std::string(4095, 'x'));
    WriteFile(Path("long.bin"), std::string(4097, 'x'));
    WriteFile(Path("empty.bin"), "");
    std::ofstream{Path("huge.bin")}.close();
    fs::resize_file(Path("huge.bin"), std::uintmax_t{8} << 30);  // sparse: refused by its size
    // A reader that never comes must not hang the window.
    ASSERT_EQ(::mkfifo(Path("fifo.bin").c_str(), 0600), 0);

    for (const char* name : {"short.bin", "long.bin", "empty.bin", "huge.bin", "fifo.bin"}) {
        SCOPED_TRACE(name);
        view_.log.clear();
        view_.answers = {Choosing(name)};
        EXPECT_LT(view_.Run(FormButton::Write), 3.0);
        EXPECT_EQ(view_.log, (std::vector<std::string>{"Read off", "open dialog",
                                                       "box: Wrong File size !", "Read on"}));
        EXPECT_EQ(view_.boxes.back(),
                  (FormMessage{"Wrong File size !", "Error in filesize", MessageIcon::Error, ""}));
        ExpectIdle();
    }
    EXPECT_TRUE(SameBytes(Received(), ""));
}

// Lost in the middle, or at the very last byte: never "   File Written !".
TEST_F(WriteTest, ADeviceLostDuringAWriteStopsItAtOnce) {
    for (const char* fault : {"hangup:1000", "hangup:4096"}) {
        SCOPED_TRACE(fault);
        StartDevice(fault);
        view_.settings[FormSetting::Delay] = "0";
        view_.boxes.clear();
        view_.answers = {Choosing("key.bin")};
        view_.Run(FormButton::Write);
        ASSERT_EQ(view_.boxes.size(), 1u);
        const FormMessage& box = view_.boxes[0];
        EXPECT_TRUE(box.text.starts_with("The device was lost ")) << box.text;
        EXPECT_EQ(box.title, "Error");
        EXPECT_EQ(box.icon, MessageIcon::Error);
        EXPECT_TRUE(box.detail.ends_with("Write it again.")) << box.detail;
        EXPECT_EQ(device_->WritesCompleted(), 0);
        EXPECT_EQ(view_.caption, "  Vantri Key Writer");
        ExpectIdle();
    }
}

// Closing the window stops the Write after the block on the line: the close
// comes with the first event processing, after the first block of 16 and
// its pause, and not one byte more goes out.
TEST_F(WriteTest, ClosingDuringAWriteStopsItAfterTheBlockOnTheLine) {
    StartDevice();
    AfterFirstProgress([this] { view_.Close(); });
    view_.answers = {Choosing("key.bin")};
    view_.Run(FormButton::Write);
    EXPECT_EQ(view_.dismissals, 1);
    EXPECT_TRUE(SameBytes(Received(17), "\x06" + key_.substr(0, 16)));
    EXPECT_EQ(device_->WritesCompleted(), 0);
    EXPECT_TRUE(view_.boxes.empty());
    EXPECT_EQ(view_.captions, std::vector<std::string>{WriteProgressCaption(1)});
    // Idle but for the file name, which the closed window no longer shows.
    EXPECT_EQ(view_.form.comopened, False16);
    EXPECT_EQ(ComHandle, port::InvalidHandle);
    EXPECT_TRUE(view_.enabled[0] && view_.enabled[1]);
}

}  // namespace
}  // namespace vantri
