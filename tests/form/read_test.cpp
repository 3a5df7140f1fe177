// Read, against the simulated device.
#include "scripted_view.h"
#include "serial/exchange.h"

namespace vantri {
namespace {

std::vector<std::string> ReadProgress() {
    std::vector<std::string> captions;
    for (int percent = 10; percent <= 90; percent += 10) {
        captions.push_back(" " + std::to_string(percent) + " % Done ....");
    }
    return captions;
}

template <typename T>
std::vector<T> operator+(std::vector<T> a, const std::vector<T>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST_F(FormTest, ReadSavesTheDeviceBufferUnderTheNameWithItsExtensionOrNothing) {
    StartDevice();
    // An older, longer file of that name is replaced, not overwritten in part.
    WriteFile(Path("a.Bin"), std::string(5000, '\xEE'));
    view_.answers = {Choosing("a")};
    view_.Run(FormButton::Read);
    ASSERT_EQ(view_.dialogs.size(), 1u);
    const DialogSeen& d = view_.dialogs[0];
    EXPECT_EQ(d.kind, "save");
    EXPECT_EQ(d.title, "Save Keybuffer To Bin file");
    EXPECT_EQ(d.proposed, "Ram.Bin");
    EXPECT_EQ(d.filter, std::string("Bin File (*.bin)\0*.bin\0\0", 24));
    EXPECT_TRUE(SameBytes(Contents(Path("a.Bin")), device_->Buffer()));
    EXPECT_EQ(FilesInFolder(), std::vector<std::string>{"a.Bin"});
    // Write is off from the open to the end; the caption comes first.
    const std::vector<std::string> log =
        std::vector<std::string>{"Write off"} + ReadProgress() +
        std::vector<std::string>{"save dialog", "   File read!", "Write on"};
    EXPECT_EQ(view_.log, log);
    EXPECT_TRUE(SameBytes(Received(), "\x05"));
    EXPECT_TRUE(view_.boxes.empty());
    ExpectIdle();

    // A name with a three-letter extension keeps it.
    view_.answers = {Choosing("b.txt")};
    view_.Run(FormButton::Read);
    EXPECT_TRUE(SameBytes(Contents(Path("b.txt")), device_->Buffer()));
    EXPECT_EQ(view_.caption, "   File read!");

    // Cancel in the save dialog saves nothing and keeps the last progress.
    view_.captions.clear();
    view_.answers = {Cancel};
    view_.Run(FormButton::Read);
    EXPECT_EQ(view_.captions, ReadProgress());
    EXPECT_EQ(FilesInFolder(), (std::vector<std::string>{"a.Bin", "b.txt"}));
    ExpectIdle();
}

TEST_F(FormTest, ASecondClickOnReadMeetsTheBusyRuleAndTheReadGoesOn) {
    StartDevice();
    bool writeWasOff = false;
    view_.atNextEvents = [&] {
        writeWasOff = !view_.enabled[1];
        view_.Click(FormButton::Write);  // disabled: nothing happens
        view_.Click(FormButton::Read);   // nested: "Allready open"
    };
    view_.answers = {Choosing("k.bin")};
    view_.Run(FormButton::Read);
    EXPECT_TRUE(writeWasOff);
    ASSERT_EQ(view_.boxes.size(), 1u);
    EXPECT_EQ(view_.boxes[0], (FormMessage{"Allready open", "", MessageIcon::None, ""}));
    EXPECT_TRUE(SameBytes(Contents(Path("k.bin")), device_->Buffer()));
    EXPECT_TRUE(SameBytes(Received(), "\x05"));  // one read request, from the first click
    EXPECT_EQ(view_.caption, "   File read!");
    ExpectIdle();
}

TEST_F(FormTest, AFailedSaveIsOfferedAgainUntilSavedOrGivenUp) {
    StartDevice();
    // The dialog took "k" in a folder that exists; the save to k.Bin fails,
    // as a folder of that name is in the way.
    fs::create_directory(Path("k.Bin"));
    view_.answers = {Choosing("k"), Choosing("k2")};
    view_.Run(FormButton::Read);
    ASSERT_EQ(view_.boxes.size(), 1u);
    EXPECT_EQ(view_.boxes[0],
              (FormMessage{
                  "Could not save the Keybuffer to " + Path("k.Bin").string() + ": is a directory.",
                  "Error", MessageIcon::Error,
                  "Choose another name or folder. Cancel discards the Keybuffer."}));
    // Offered again under the name that failed, extension and folder included.
    ASSERT_EQ(view_.dialogs.size(), 2u);
    EXPECT_EQ(view_.dialogs[1].proposed, Path("k.Bin"));
    EXPECT_EQ(view_.dialogs[1].title, "Save Keybuffer To Bin file");
    EXPECT_TRUE(SameBytes(Contents(Path("k2.Bin")), device_->Buffer()));
    EXPECT_EQ(view_.caption, "   File read!");
    ExpectIdle();

    // Giving up claims nothing.
    view_.answers = {Choosing("k"), Cancel};
    view_.Run(FormButton::Read);
    EXPECT_EQ(view_.boxes.size(), 2u);
    EXPECT_EQ(FilesInFolder(), (std::vector<std::string>{"k.Bin", "k2.Bin"}));
    EXPECT_EQ(view_.caption, "  Vantri Key Writer");
    ExpectIdle();
}

// A response cut short or not hex ends the Read within the device's answer
// bound, with no save dialog and nothing saved.
TEST_F(FormTest, AnIncompleteOrInvalidResponseIsReportedAndNotSaved) {
    struct Case {
        const char* fault;
        FormMessage box;
    };
    const Case cases[] = {
        {"short:101", {"Error in reading Keybuffer!", "101 Bytes read", MessageIcon::Error, ""}},
        {"silent", {"Error in reading Keybuffer!", "0 Bytes read", MessageIcon::Error, ""}},
        {"garbage:10",
         {"Invalid Keybuffer received: character 11 is not a hexadecimal digit.", "Error",
          MessageIcon::Error, "Nothing was saved."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        StartDevice(c.fault);
        view_.boxes.clear();
        EXPECT_LT(view_.Run(FormButton::Read), DeviceAnswerTimeoutMs / 1000.0 + 1.5);
        EXPECT_EQ(view_.boxes, std::vector<FormMessage>{c.box});
        EXPECT_TRUE(view_.dialogs.empty());
        EXPECT_TRUE(FilesInFolder().empty());
        EXPECT_EQ(view_.caption, "  Vantri Key Writer");
        ExpectIdle();
    }
}

TEST_F(FormTest, ADeviceLostDuringAReadShowsItsErrorOnceThenTheCount) {
    StartDevice("hangup:1001");
    view_.Run(FormButton::Read);
    ASSERT_EQ(view_.boxes.size(), 2u);
    const FormMessage& error = view_.boxes[0];
    EXPECT_GT(std::stoul(error.text), 0u);
    EXPECT_EQ(error.text.find_first_not_of("0123456789"), std::string::npos) << error.text;
    EXPECT_EQ(error.title, "");  // the application title
    EXPECT_EQ(error.icon, MessageIcon::None);
    const FormMessage& incomplete = view_.boxes[1];
    EXPECT_EQ(incomplete.text, "Error in reading Keybuffer!");
    EXPECT_TRUE(incomplete.title.ends_with(" Bytes read")) << incomplete.title;
    EXPECT_TRUE(FilesInFolder().empty());
    ExpectIdle();
}

// Closing the window stops the Read at once, shows nothing more, saves
// nothing and leaves the port closed; so does a close while the save
// dialog is up, which the view is told to take down.
TEST_F(FormTest, ClosingDuringAReadStopsItQuietly) {
    StartDevice({}, 115200);
    view_.atNextEvents = [this] { view_.Close(); };
    EXPECT_LT(view_.Run(FormButton::Read), 0.5);
    EXPECT_EQ(view_.dismissals, 1);
    EXPECT_TRUE(SameBytes(Received(), "\x05"));
    EXPECT_EQ(view_.log, (std::vector<std::string>{"Write off", "Write on"}));

    StartDevice();
    view_.log.clear();
    view_.answers = {[this](const DialogSeen&) {
        view_.Close();
        return fs::path();  // what a dialog taken down gives
    }};
    view_.Run(FormButton::Read);
    EXPECT_EQ(view_.dismissals, 2);
    EXPECT_EQ(view_.log.back(), "Write on");
    EXPECT_TRUE(view_.boxes.empty());
    EXPECT_TRUE(FilesInFolder().empty());
    EXPECT_EQ(view_.caption, " 90 % Done ....");
    ExpectIdle();
}

}  // namespace
}  // namespace vantri
