// Read, driven as the user drives it, against the simulated device.
#include <QFileDialog>

#include "app/captions.h"
#include "serial/exchange.h"
#include "window_fixture.h"

namespace vantri {
namespace {

using testing::BoxSeen;
using testing::ModalScript;

QStringList ReadProgress() {
    QStringList captions;
    for (int k = 410; k <= 3690; k += 410) {
        captions << *ReadProgressCaption(k);
    }
    return captions;
}

TEST_F(WindowTest, ReadSavesTheDeviceBufferUnderTheNameWithItsExtension) {
    StartDevice();
    // An older, longer file of that name is replaced, not overwritten in part.
    WriteFile(Path("a.Bin"), std::string(5000, '\xEE'));

    QString title;
    QString proposed;
    QStringList filters;
    bool busy = false;
    bool writeEnabled = true;
    DuringOperation([&] {
        busy = form_.comopened == True16;
        writeEnabled = form_.Command3->isEnabled();
    });
    ModalScript script;
    script.Dialog([&](QFileDialog& d) {
        title = d.windowTitle();
        proposed = ModalScript::NameBoxText(d);
        filters = d.nameFilters();
        ModalScript::Choose(d, Path("a"));
    });
    script.Start();
    Click(form_.Command4);

    ExpectAllDone(script);
    EXPECT_TRUE(busy);
    EXPECT_FALSE(writeEnabled);
    EXPECT_EQ(title, "Save Keybuffer To Bin file");
    EXPECT_EQ(proposed, "Ram.Bin");
    EXPECT_EQ(filters, QStringList{"Bin File (*.bin)"});
    EXPECT_TRUE(SameBytes(Contents(Path("a.Bin")), device_->Buffer()));
    EXPECT_EQ(FilesInFolder(), QStringList{"a.Bin"});
    EXPECT_EQ(captions_, ReadProgress() << "   File read!");
    EXPECT_TRUE(SameBytes(Received(), "\x05"));
    EXPECT_EQ(form_.KeyFileName, "");
    ExpectIdle();

    // A name with a three-letter extension keeps it.
    ModalScript again;
    again.Dialog([&](QFileDialog& d) { ModalScript::Choose(d, Path("b.txt")); });
    again.Start();
    Click(form_.Command4);
    ExpectAllDone(again);
    EXPECT_TRUE(SameBytes(Contents(Path("b.txt")), device_->Buffer()));
    EXPECT_EQ(form_.windowTitle(), "   File read!");
}

TEST_F(WindowTest, ASecondClickOnReadMeetsTheBusyRuleAndTheReadGoesOn) {
    StartDevice();
    BoxSeen busyBox;
    bool writeEnabledUnderTheBox = true;
    DuringOperation([&] {
        Click(form_.Command3);  // disabled: nothing happens
        Click(form_.Command4);  // nested: "Allready open"
    });
    ModalScript script;
    script
        .Box([&](QMessageBox& box) {
            writeEnabledUnderTheBox = form_.Command3->isEnabled();
            busyBox = BoxSeen{box.text(), box.windowTitle(), box.icon()};
            box.button(QMessageBox::Ok)->click();
        })
        .Dialog([&](QFileDialog& d) { ModalScript::Choose(d, Path("k.bin")); });
    script.Start();
    Click(form_.Command4);

    ExpectAllDone(script);
    EXPECT_EQ(busyBox.text, "Allready open");
    EXPECT_EQ(busyBox.title, "Vantri");
    EXPECT_EQ(busyBox.icon, QMessageBox::NoIcon);
    EXPECT_FALSE(writeEnabledUnderTheBox);
    EXPECT_TRUE(SameBytes(Contents(Path("k.bin")), device_->Buffer()));
    EXPECT_TRUE(SameBytes(Received(), "\x05"));  // one read request, from the first click
    EXPECT_EQ(form_.windowTitle(), "   File read!");
    ExpectIdle();
}

TEST_F(WindowTest, CancelInTheSaveDialogKeepsTheProgressCaption) {
    StartDevice();
    ModalScript script;
    script.Dialog(&ModalScript::Cancel);
    script.Start();
    Click(form_.Command4);
    ExpectAllDone(script);
    EXPECT_EQ(form_.windowTitle(), " 90 % Done ....");
    EXPECT_EQ(captions_, ReadProgress());
    EXPECT_TRUE(FilesInFolder().isEmpty());
    EXPECT_EQ(form_.KeyFileName, "");
    ExpectIdle();
}

TEST_F(WindowTest, AFailedSaveIsOfferedAgain) {
    StartDevice();
    BoxSeen failure;
    QString proposedAgain;
    QString folderAgain;
    ModalScript script;
    script.Dialog([&](QFileDialog& d) { ModalScript::Choose(d, Path("gone/k")); })
        .Box(&failure)
        .Dialog([&](QFileDialog& d) {
            proposedAgain = ModalScript::NameBoxText(d);
            folderAgain = d.directory().absolutePath();
            ModalScript::Choose(d, Path("k2"));
        });
    script.Start();
    Click(form_.Command4);

    ExpectAllDone(script);
    EXPECT_TRUE(failure.text.contains(Path("gone/k.Bin"))) << failure.text.toStdString();
    EXPECT_TRUE(failure.text.contains("no such file or directory")) << failure.text.toStdString();
    EXPECT_EQ(failure.icon, QMessageBox::Critical);
    EXPECT_EQ(proposedAgain, "k.Bin");
    EXPECT_EQ(folderAgain, QDir(folder_.path()).absolutePath());
    EXPECT_TRUE(SameBytes(Contents(Path("k2.Bin")), device_->Buffer()));
    EXPECT_EQ(form_.windowTitle(), "   File read!");
    ExpectIdle();
}

TEST_F(WindowTest, GivingUpAfterAFailedSaveClaimsNothing) {
    StartDevice();
    ModalScript script;
    script.Dialog([&](QFileDialog& d) { ModalScript::Choose(d, Path("gone/k")); })
        .Box()
        .Dialog(&ModalScript::Cancel);
    script.Start();
    Click(form_.Command4);
    ExpectAllDone(script);
    EXPECT_TRUE(FilesInFolder().isEmpty());
    EXPECT_EQ(form_.windowTitle(), "  Vantri Key Writer");
    ExpectIdle();
}

// A response cut short ends the Read with its count, within the device's
// answer bound, and saves nothing.
void ExpectIncompleteRead(const BoxSeen& seen, const QString& title) {
    EXPECT_EQ(seen.text, "Error in reading Keybuffer!");
    EXPECT_EQ(seen.title, title);
    EXPECT_EQ(seen.icon, QMessageBox::Critical);
}

TEST_F(WindowTest, AShortResponseIsReportedWithItsCount) {
    StartDevice("short:101");
    BoxSeen seen;
    ModalScript script;  // no save dialog
    script.Box(&seen);
    script.Start();
    const auto start = Clock::now();
    Click(form_.Command4);
    EXPECT_LT(SecondsSince(start), DeviceAnswerTimeoutMs / 1000.0 + 1.5);
    ExpectAllDone(script);
    ExpectIncompleteRead(seen, "101 Bytes read");
    EXPECT_TRUE(FilesInFolder().isEmpty());
    EXPECT_EQ(form_.windowTitle(), "  Vantri Key Writer");
    ExpectIdle();
}

TEST_F(WindowTest, ASilentDeviceEndsTheReadWithinTheBound) {
    StartDevice("silent");
    BoxSeen seen;
    ModalScript script;
    script.Box(&seen);
    script.Start();
    const auto start = Clock::now();
    Click(form_.Command4);
    EXPECT_LT(SecondsSince(start), DeviceAnswerTimeoutMs / 1000.0 + 1.5);
    ExpectAllDone(script);
    ExpectIncompleteRead(seen, "0 Bytes read");
    EXPECT_EQ(form_.windowTitle(), "  Vantri Key Writer");
    ExpectIdle();
}

TEST_F(WindowTest, AResponseWithANonHexCharacterIsNotSaved) {
    StartDevice("garbage:10");
    BoxSeen seen;
    ModalScript script;  // no save dialog
    script.Box(&seen);
    script.Start();
    Click(form_.Command4);
    ExpectAllDone(script);
    EXPECT_TRUE(seen.text.startsWith(
        "Invalid Keybuffer received: character 11 is not a hexadecimal digit."))
        << seen.text.toStdString();
    EXPECT_EQ(seen.icon, QMessageBox::Critical);
    EXPECT_TRUE(FilesInFolder().isEmpty());
    EXPECT_EQ(form_.windowTitle(), "  Vantri Key Writer");
    ExpectIdle();
}

TEST_F(WindowTest, ADeviceLostDuringAReadShowsItsErrorOnceThenTheCount) {
    StartDevice("hangup:1001");
    BoxSeen error;
    BoxSeen incomplete;
    ModalScript script;
    script.Box(&error).Box(&incomplete);
    script.Start();
    Click(form_.Command4);
    ExpectAllDone(script);
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

}  // namespace
}  // namespace vantri
