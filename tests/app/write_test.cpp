// Write, driven as the user drives it, against the simulated device.
#include <sys/stat.h>

#include <random>

#include "app/captions.h"
#include "window_fixture.h"

namespace vantri {
namespace {

class WriteTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        std::mt19937 random(7);  // unlike the device's own buffer
        for (char& b : key_) {
            b = static_cast<char>(random() & 0xFF);
        }
        WriteFile(Path("key.bin"), key_);
    }
    std::string key_ = std::string(4096, '\0');
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
    Run(form_.Command3, ModalScript().Dialog([&](QFileDialog& d) {
        title = d.windowTitle();
        filters = d.nameFilters();
        ModalScript::Choose(d, Path("key.bin"));
    }));
    EXPECT_EQ(title, "Select Keybuffer Bin file to write");
    EXPECT_EQ(filters, QStringList{"Bin Files(*.bin )"});
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
    EXPECT_EQ(form_.KeyImage.size(), 4096u);
    ExpectIdle();
}

TEST_F(WriteTest, ASecondClickOnWriteMeetsTheBusyRuleAndTheWriteGoesOn) {
    StartDevice();
    form_.mydelay->setEditText(QStringLiteral("1"));
    AfterFirstProgress([&] {
        QTest::mouseClick(form_.Command4, Qt::LeftButton);  // disabled: nothing happens
        QTest::mouseClick(form_.Command3, Qt::LeftButton);  // nested: "Allready open"
    });
    BoxSeen busy;
    Run(form_.Command3, ModalScript().Dialog(Choosing("key.bin")).Box(&busy));
    EXPECT_EQ(busy, (BoxSeen{"Allready open", "Vantri", QMessageBox::NoIcon}));
    EXPECT_TRUE(SameBytes(Received(), "\x06" + key_));
    EXPECT_EQ(form_.windowTitle(), "   File Written !");
    ExpectIdle();
}

TEST_F(WriteTest, CancelInTheOpenDialogSendsNothing) {
    StartDevice();
    Run(form_.Command3, ModalScript().Dialog(&ModalScript::Cancel));
    EXPECT_TRUE(SameBytes(Received(), ""));
    EXPECT_TRUE(captions_.isEmpty());
    ExpectIdle();
}

TEST_F(WriteTest, AFileNotOf4096BytesIsRefusedAtOnce) {
    StartDevice();
    WriteFile(Path("short.bin"), std::string(4095, 'x'));
    WriteFile(Path("long.bin"), std::string(4097, 'x'));
    WriteFile(Path("empty.bin"), "");
    QFile huge(Path("huge.bin"));  // 8 GiB, sparse: refused by its size
    ASSERT_TRUE(huge.open(QIODevice::WriteOnly) && huge.resize(qint64{8} << 30));
    huge.close();
    // A reader that never comes must not hang the window.
    ASSERT_EQ(::mkfifo(QFile::encodeName(Path("fifo.bin")).constData(), 0600), 0);

    for (const char* name : {"short.bin", "long.bin", "empty.bin", "huge.bin", "fifo.bin"}) {
        SCOPED_TRACE(name);
        BoxSeen seen;
        EXPECT_LT(Run(form_.Command3, ModalScript().Dialog(Choosing(name)).Box(&seen)), 3.0);
        EXPECT_EQ(seen, (BoxSeen{"Wrong File size !", "Error in filesize", QMessageBox::Critical}));
        ExpectIdle();
    }
    EXPECT_TRUE(SameBytes(Received(), ""));
    EXPECT_TRUE(captions_.isEmpty());
}

TEST_F(WriteTest, ADeviceLostDuringAWriteStopsItAtOnce) {
    StartDevice("hangup:1000");
    form_.mydelay->setEditText(QStringLiteral("2"));
    BoxSeen seen;
    Run(form_.Command3, ModalScript().Dialog(Choosing("key.bin")).Box(&seen));
    EXPECT_TRUE(seen.text.startsWith("The device was lost at byte ")) << seen.text.toStdString();
    EXPECT_EQ(seen.title, "Error");
    EXPECT_EQ(seen.icon, QMessageBox::Critical);
    EXPECT_EQ(device_->WritesCompleted(), 0);
    EXPECT_EQ(form_.windowTitle(), "  Vantri Key Writer");
    ExpectIdle();
}

// Closing the window stops the Write after the block on the line: the close
// comes with the first event processing, after the first block of 16 and
// its pause, and not one byte more goes out.
TEST_F(WriteTest, ClosingDuringAWriteStopsItAfterTheBlockOnTheLine) {
    StartDevice();
    AfterFirstProgress([this] { form_.close(); });
    Run(form_.Command3, ModalScript().Dialog(Choosing("key.bin")));
    EXPECT_FALSE(form_.isVisible());
    EXPECT_TRUE(SameBytes(Received(), "\x06" + key_.substr(0, 16)));
    EXPECT_EQ(device_->WritesCompleted(), 0);
    // Idle but for the file name, which the closed window no longer shows.
    EXPECT_EQ(form_.comopened, False16);
    EXPECT_EQ(ComHandle, port::InvalidHandle);
    EXPECT_TRUE(form_.Command4->isEnabled() && form_.Command3->isEnabled());
}

}  // namespace
}  // namespace vantri
