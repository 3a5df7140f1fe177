// Write, driven as the user drives it, against the simulated device.
#include <sys/stat.h>

#include <QFileDialog>
#include <random>

#include "app/captions.h"
#include "window_fixture.h"

namespace vantri {
namespace {

using testing::BoxSeen;
using testing::ModalScript;

// 4096 bytes unlike the device's own.
std::string NewBuffer() {
    std::mt19937 random(7);
    std::string bytes(4096, '\0');
    for (char& b : bytes) {
        b = static_cast<char>(random() & 0xFF);
    }
    return bytes;
}

class WriteTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        key_ = NewBuffer();
        WriteFile(Path("key.bin"), key_);
    }
    std::string key_;
};

TEST_F(WriteTest, SendsTheFileInPacedBlocksWithProgress) {
    StartDevice();
    form_.mylen->setEditText(QStringLiteral("100"));
    form_.mydelay->setEditText(QStringLiteral("25"));
    // Halfway, the user edits both boxes: the Delay box is read at every
    // pause, the Blocksize once.
    QObject::connect(&form_, &QWidget::windowTitleChanged, [this](const QString& caption) {
        if (caption == WriteProgressCaption(2001)) {
            form_.mydelay->setEditText(QStringLiteral("70"));
            form_.mylen->setEditText(QStringLiteral("7"));
        }
    });
    QString title;
    QStringList filters;
    bool readEnabled = true;
    AfterFirstProgress([&] { readEnabled = form_.Command4->isEnabled(); });
    ModalScript script;
    script.Dialog([&](QFileDialog& d) {
        title = d.windowTitle();
        filters = d.nameFilters();
        ModalScript::Choose(d, Path("key.bin"));
    });
    script.Start();
    Click(form_.Command3);
    ExpectAllDone(script);

    EXPECT_EQ(title, "Select Keybuffer Bin file to write");
    EXPECT_EQ(filters, QStringList{"Bin Files(*.bin )"});
    EXPECT_FALSE(readEnabled);
    EXPECT_TRUE(SameBytes(Received(), "\x06" + key_));
    EXPECT_TRUE(SameBytes(device_->Buffer(), key_));
    EXPECT_EQ(device_->WritesCompleted(), 1);

    QStringList expected;
    for (int p = 1; p <= 4096; p += 100) {
        expected << WriteProgressCaption(p);
    }
    EXPECT_EQ(captions_, expected << "   File Written !");

    // The pauses, as the device saw them: after 0x06 and after each block
    // of 100 bytes, 25 ms up to the block at 2001, 70 ms from there on.
    const std::vector<sim::Received> bytes = device_->ReceivedBytes();
    ASSERT_EQ(bytes.size(), 4097u);
    int strayGaps = 0;
    for (std::size_t i = 1; i < bytes.size(); ++i) {
        const double gapMs = (bytes[i].at - bytes[i - 1].at).count() / 1000.0;
        const int position = static_cast<int>(i);  // of bytes[i] in the key, from 1
        if ((position - 1) % 100 == 0) {
            const double delay = position > 2001 ? 70.0 : 25.0;
            EXPECT_GE(gapMs, delay * 0.6) << "before byte " << position;
        } else if (gapMs >= 12.0) {
            ++strayGaps;  // the machine was busy; the pause is not here
        }
    }
    EXPECT_LE(strayGaps, 3);
    EXPECT_EQ(form_.windowTitle(), "   File Written !");
    EXPECT_EQ(form_.KeyFileName, "");
    EXPECT_EQ(form_.KeyImage.size(), 4096u);
    ExpectIdle();
}

TEST_F(WriteTest, ASecondClickOnWriteMeetsTheBusyRuleAndTheWriteGoesOn) {
    StartDevice();
    form_.mydelay->setEditText(QStringLiteral("1"));
    BoxSeen busyBox;
    bool readEnabledUnderTheBox = true;
    AfterFirstProgress([&] {
        Click(form_.Command4);  // disabled: nothing happens
        Click(form_.Command3);  // nested: "Allready open"
    });
    ModalScript script;
    script.Dialog([&](QFileDialog& d) { ModalScript::Choose(d, Path("key.bin")); })
        .Box([&](QMessageBox& box) {
            readEnabledUnderTheBox = form_.Command4->isEnabled();
            busyBox = BoxSeen{box.text(), box.windowTitle(), box.icon()};
            box.button(QMessageBox::Ok)->click();
        });
    script.Start();
    Click(form_.Command3);

    ExpectAllDone(script);
    EXPECT_EQ(busyBox.text, "Allready open");
    EXPECT_EQ(busyBox.title, "Vantri");
    EXPECT_EQ(busyBox.icon, QMessageBox::NoIcon);
    EXPECT_FALSE(readEnabledUnderTheBox);
    EXPECT_TRUE(SameBytes(Received(), "\x06" + key_));
    EXPECT_EQ(form_.windowTitle(), "   File Written !");
    ExpectIdle();
}

TEST_F(WriteTest, CancelInTheOpenDialogSendsNothing) {
    StartDevice();
    ModalScript script;
    script.Dialog(&ModalScript::Cancel);
    script.Start();
    Click(form_.Command3);
    ExpectAllDone(script);
    EXPECT_TRUE(SameBytes(Received(), ""));
    EXPECT_TRUE(captions_.isEmpty());
    EXPECT_EQ(form_.KeyFileName, "");
    ExpectIdle();
}

TEST_F(WriteTest, AFileNotOf4096BytesIsRefusedAtOnce) {
    StartDevice();
    WriteFile(Path("short.bin"), std::string(4095, 'x'));
    WriteFile(Path("long.bin"), std::string(4097, 'x'));
    WriteFile(Path("empty.bin"), "");
    {
        QFile huge(Path("huge.bin"));  // 8 GiB, sparse: refused by its size
        ASSERT_TRUE(huge.open(QIODevice::WriteOnly));
        ASSERT_TRUE(huge.resize(qint64{8} << 30));
    }
    ASSERT_EQ(::mkfifo(QFile::encodeName(Path("fifo.bin")).constData(), 0600), 0);

    for (const char* name : {"short.bin", "long.bin", "empty.bin", "huge.bin", "fifo.bin"}) {
        BoxSeen seen;
        ModalScript script;
        script.Dialog([&](QFileDialog& d) { ModalScript::Choose(d, Path(name)); }).Box(&seen);
        script.Start();
        const auto start = Clock::now();
        Click(form_.Command3);
        EXPECT_LT(SecondsSince(start), 3.0) << name;
        ExpectAllDone(script);
        EXPECT_EQ(seen.text, "Wrong File size !") << name;
        EXPECT_EQ(seen.title, "Error in filesize") << name;
        EXPECT_EQ(seen.icon, QMessageBox::Critical) << name;
        EXPECT_EQ(form_.KeyFileName, "") << name;
        ExpectIdle();
    }
    EXPECT_TRUE(SameBytes(Received(), ""));
    EXPECT_TRUE(captions_.isEmpty());
}

TEST_F(WriteTest, ADeviceLostDuringAWriteStopsItAtOnce) {
    StartDevice("hangup:1000");
    form_.mydelay->setEditText(QStringLiteral("2"));
    BoxSeen seen;
    ModalScript script;
    script.Dialog([&](QFileDialog& d) { ModalScript::Choose(d, Path("key.bin")); }).Box(&seen);
    script.Start();
    Click(form_.Command3);
    ExpectAllDone(script);
    EXPECT_TRUE(seen.text.startsWith("The device was lost at byte ")) << seen.text.toStdString();
    EXPECT_EQ(seen.title, "Error");
    EXPECT_EQ(seen.icon, QMessageBox::Critical);
    EXPECT_EQ(device_->WritesCompleted(), 0);
    EXPECT_EQ(form_.windowTitle(), "  Vantri Key Writer");
    ExpectIdle();
}

}  // namespace
}  // namespace vantri
