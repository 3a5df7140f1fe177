// Read, driven as the user drives it, against the simulated device.
#include "serial/exchange.h"
#include "window_fixture.h"

namespace vantri {
namespace {

QStringList ReadProgress() {
    QStringList captions;
    for (int percent = 10; percent <= 90; percent += 10) {
        captions << QStringLiteral(" %1 % Done ....").arg(percent);
    }
    return captions;
}

TEST_F(WindowTest, ReadSavesTheDeviceBufferUnderTheNameWithItsExtensionOrNothing) {
    StartDevice();
    // An older, longer file of that name is replaced, not overwritten in part.
    WriteFile(Path("a.Bin"), std::string(5000, '\xEE'));
    QString title;
    QString proposed;
    QStringList filters;
    Run(form_.Command4, ModalScript().Dialog([&](QFileDialog& d) {
        title = d.windowTitle();
        proposed = ModalScript::NameBoxText(d);
        filters = d.nameFilters();
        ModalScript::Choose(d, Path("a"));
    }));
    EXPECT_EQ(title, "Save Keybuffer To Bin file");
    EXPECT_EQ(proposed, "Ram.Bin");
    EXPECT_EQ(filters, QStringList{"Bin File (*.bin)"});
    EXPECT_TRUE(SameBytes(Contents(Path("a.Bin")), device_->Buffer()));
    EXPECT_EQ(FilesInFolder(), QStringList{"a.Bin"});
    EXPECT_EQ(captions_, ReadProgress() << "   File read!");
    EXPECT_TRUE(SameBytes(Received(), "\x05"));
    ExpectIdle();

    // A name with a three-letter extension keeps it.
    Run(form_.Command4, ModalScript().Dialog(Choosing("b.txt")));
    EXPECT_TRUE(SameBytes(Contents(Path("b.txt")), device_->Buffer()));
    EXPECT_EQ(form_.windowTitle(), "   File read!");

    // Cancel in the save dialog saves nothing and keeps the last progress.
    captions_.clear();
    Run(form_.Command4, ModalScript().Dialog(&ModalScript::Cancel));
    EXPECT_EQ(captions_, ReadProgress());
    EXPECT_EQ(FilesInFolder(), (QStringList{"a.Bin", "b.txt"}));
    ExpectIdle();
}

TEST_F(WindowTest, ASecondClickOnReadMeetsTheBusyRuleAndTheReadGoesOn) {
    StartDevice();
    DuringOperation([&] {
        QTest::mouseClick(form_.Command3, Qt::LeftButton);  // disabled: nothing happens
        QTest::mouseClick(form_.Command4, Qt::LeftButton);  // nested: "Allready open"
    });
    BoxSeen busy;
    Run(form_.Command4, ModalScript().Box(&busy).Dialog(Choosing("k.bin")));
    EXPECT_EQ(busy, (BoxSeen{"Allready open", "Vantri", QMessageBox::NoIcon}));
    EXPECT_TRUE(SameBytes(Contents(Path("k.bin")), device_->Buffer()));
    EXPECT_TRUE(SameBytes(Received(), "\x05"));  // one read request, from the first click
    EXPECT_EQ(form_.windowTitle(), "   File read!");
    ExpectIdle();
}

TEST_F(WindowTest, AFailedSaveIsOfferedAgainUntilSavedOrGivenUp) {
    StartDevice();
    BoxSeen failure;
    QString proposedAgain;
    QString folderAgain;
    Run(form_.Command4,
        ModalScript().Dialog(Choosing("gone/deeper/k")).Box(&failure).Dialog([&](QFileDialog& d) {
            proposedAgain = ModalScript::NameBoxText(d);
            folderAgain = d.directory().absolutePath();
            ModalScript::Choose(d, Path("k2"));
        }));
    EXPECT_TRUE(failure.text.contains(Path("gone/deeper/k.Bin"))) << failure.text.toStdString();
    EXPECT_TRUE(failure.text.contains("no such file or directory")) << failure.text.toStdString();
    EXPECT_EQ(failure.icon, QMessageBox::Critical);
    // Offered again in the nearest folder that exists.
    EXPECT_EQ(proposedAgain, "k.Bin");
    EXPECT_EQ(folderAgain, QDir(folder_.path()).absolutePath());
    EXPECT_TRUE(SameBytes(Contents(Path("k2.Bin")), device_->Buffer()));
    EXPECT_EQ(form_.windowTitle(), "   File read!");
    ExpectIdle();

    // Giving up claims nothing.
    Run(form_.Command4,
        ModalScript().Dialog(Choosing("gone/k")).Box().Dialog(&ModalScript::Cancel));
    EXPECT_EQ(FilesInFolder(), QStringList{"k2.Bin"});
    EXPECT_EQ(form_.windowTitle(), "  Vantri Key Writer");
    ExpectIdle();
}

// A response cut short or not hex ends the Read within the device's answer
// bound, with no save dialog and nothing saved.
TEST_F(WindowTest, AnIncompleteOrInvalidResponseIsReportedAndNotSaved) {
    struct Case {
        const char* fault;
        BoxSeen box;  // the text up to its first line
    };
    const Case cases[] = {
        {"short:101", {"Error in reading Keybuffer!", "101 Bytes read", QMessageBox::Critical}},
        {"silent", {"Error in reading Keybuffer!", "0 Bytes read", QMessageBox::Critical}},
        {"garbage:10",
         {"Invalid Keybuffer received: character 11 is not a hexadecimal digit.", "Error",
          QMessageBox::Critical}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        StartDevice(c.fault);
        BoxSeen seen;
        const double seconds = Run(form_.Command4, ModalScript().Box(&seen));
        EXPECT_LT(seconds, DeviceAnswerTimeoutMs / 1000.0 + 1.5);
        seen.text = seen.text.section(QLatin1Char('\n'), 0, 0);
        EXPECT_EQ(seen, c.box);
        EXPECT_TRUE(FilesInFolder().isEmpty());
        EXPECT_EQ(form_.windowTitle(), "  Vantri Key Writer");
        ExpectIdle();
    }
}

TEST_F(WindowTest, ADeviceLostDuringAReadShowsItsErrorOnceThenTheCount) {
    StartDevice("hangup:1001");
    BoxSeen error;
    BoxSeen incomplete;
    Run(form_.Command4, ModalScript().Box(&error).Box(&incomplete));
    bool number = false;
    EXPECT_GT(error.text.toUInt(&number), 0u);
    EXPECT_TRUE(number) << error.text.toStdString();
    EXPECT_EQ(error.title, "Vantri");
    EXPECT_EQ(error.icon, QMessageBox::NoIcon);
    EXPECT_EQ(incomplete.text, "Error in reading Keybuffer!");
    EXPECT_TRUE(incomplete.title.endsWith(" Bytes read")) << incomplete.title.toStdString();
    EXPECT_TRUE(FilesInFolder().isEmpty());
    ExpectIdle();
}

// Closing the window stops the Read at once, shows nothing more, saves
// nothing and leaves the port closed.
TEST_F(WindowTest, ClosingDuringAReadStopsItQuietly) {
    StartDevice({}, 115200);
    DuringOperation([this] { form_.close(); });
    EXPECT_LT(Run(form_.Command4, ModalScript()), 0.5);
    EXPECT_FALSE(form_.isVisible());
    EXPECT_TRUE(SameBytes(Received(), "\x05"));
    EXPECT_TRUE(FilesInFolder().isEmpty());
    EXPECT_EQ(form_.windowTitle(), "  Vantri Key Writer");
    ExpectIdle();
}

TEST_F(WindowTest, ClosingWhileTheSaveDialogIsUpDiscardsTheReadQuietly) {
    StartDevice();
    Run(form_.Command4, ModalScript().Dialog([this](QFileDialog&) { form_.close(); }));
    EXPECT_FALSE(form_.isVisible());
    EXPECT_TRUE(FilesInFolder().isEmpty());
    ExpectIdle();
}

}  // namespace
}  // namespace vantri
