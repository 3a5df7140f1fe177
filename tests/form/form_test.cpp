// The window's logic against a scripted view that records what the logic
// shows and answers its dialogs, with the real serial backend, real files
// and a simulated device on a real pseudo-terminal behind it.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <thread>

#include "form/Form1.h"
#include "form/captions.h"
#include "serial/exchange.h"
#include "serial/zrkCommModule.h"
#include "tests/common/files.h"
#include "tests/common/sim_device.h"

namespace vantri {

bool operator==(const FormMessage& a, const FormMessage& b) {
    return a.text == b.text && a.title == b.title && a.icon == b.icon && a.detail == b.detail;
}

namespace {

namespace fs = std::filesystem;
using Log = std::vector<std::string>;

class ScriptedView : public FormView {
  public:
    // What the user does in a dialog: the name chosen, "" for Cancel.
    using Answer = std::function<fs::path()>;

    std::map<FormSetting, std::string> settings;  // the boxes' texts
    std::map<FormSetting, Log> choices;
    bool enabled[2] = {true, true};  // Read, Write
    std::string caption = WindowCaption;
    // What the user saw, in order: "Write off", "Write on" (changes only),
    // "box: <text>", "notice: <text>", "save dialog", "open dialog", every
    // caption, and "closed" or "close put off" for each close.
    Log log;
    std::vector<FormMessage> boxes;
    std::vector<FormMessage> notices;
    std::function<void()> whileNoticeShows;  // what a notice does to its caller
    Log dialogs;                             // "title|flags" (open), "title|proposed name" (save)
    std::string filter;                      // of the last dialog
    std::vector<Answer> answers;             // one per dialog to come
    int unanswered = 0;                      // dialogs that came with no answer left
    int dismissals = 0;
    std::function<void()> atNextEvents;                 // run once, at the next events
    std::function<void(const std::string&)> onCaption;  // at every caption
    Form1 form{*this};

    ScriptedView() {
        for (FormSetting s : {FormSetting::Comport, FormSetting::Blocksize, FormSetting::Delay}) {
            settings[s] = DefaultSettingText(s);
        }
    }
    // A click on an enabled button reaches the logic, as in a real window.
    void Click(FormButton button) {
        if (enabled[static_cast<int>(button)]) {
            button == FormButton::Read ? form.Command4_Click() : form.Command3_Click();
        }
    }
    // The close box; the logic may put the close off (Cancel), and a view
    // then keeps the window.
    void Close() {
        std::int16_t cancel = False16;
        form.Form_Unload(cancel);
        log.push_back(cancel == False16 ? "closed" : "close put off");
    }
    void SetCaption(const std::string& text) override {
        log.push_back(caption = text);
        if (const auto call = onCaption) {  // it may replace itself
            call(text);
        }
    }
    void SetButtonEnabled(FormButton button, bool on) override {
        if (std::exchange(enabled[static_cast<int>(button)], on) != on) {
            log.push_back(std::string(button == FormButton::Read ? "Read" : "Write") +
                          (on ? " on" : " off"));
        }
    }
    std::string SettingText(FormSetting setting) override {
        if (setting == FormSetting::Delay && delaysAsked) {
            delaysAsked->push_back(settings[setting]);
        }
        return settings[setting];
    }
    std::optional<std::vector<std::string>> delaysAsked;  // when set, each Delay text asked
    void SetSettingChoices(FormSetting setting, const Log& items) override {
        choices[setting] = items;
    }
    void ShowMessage(const FormMessage& message) override {
        boxes.push_back(message);
        log.push_back("box: " + message.text);
    }
    void ShowNotice(const FormMessage& message) override {
        notices.push_back(message);
        log.push_back("notice: " + message.text);
        if (whileNoticeShows) {
            whileNoticeShows();
        }
    }
    fs::path ShowOpenDialog(const std::string& filter, std::uint32_t flags,
                            const std::string& title) override {
        return Dialog("open", filter, title + "|" + std::to_string(flags));
    }
    fs::path ShowSaveDialog(const std::string& filter, const fs::path& defaultName,
                            const std::string& title) override {
        return Dialog("save", filter, title + "|" + defaultName.string());
    }
    void ProcessEvents() override {
        if (auto act = std::exchange(atNextEvents, nullptr)) {
            act();
        }
    }
    void DismissModals() override { ++dismissals; }
    void CloseWindow() override { Close(); }

  private:
    fs::path Dialog(const std::string& kind, const std::string& filterList,
                    const std::string& seen) {
        dialogs.push_back(seen);
        filter = filterList;
        log.push_back(kind + " dialog");
        if (answers.empty()) {
            ++unanswered;
            return {};
        }
        const Answer answer = answers.front();
        answers.erase(answers.begin());
        return answer();
    }
};

// One kind of device for every test: a simulated one, healthy unless a test
// restarts it with a fault; and a folder holding key.bin, a key file unlike
// the device's own buffer.
class FormTest : public ::testing::Test {
  protected:
    void SetUp() override {
        WriteFile("key.bin", key_);
        StartDevice();
    }
    void TearDown() override { CloseComPort(); }
    // Starts a device (`fault` as vantri-devsim takes it) on the Comport box.
    void StartDevice(std::string_view fault = {}, std::uint32_t lineRate = 0) {
        std::string error;
        device_ = StartSimDevice(fault, {}, lineRate, error);
        ASSERT_NE(device_, nullptr) << error;
        view_.settings[FormSetting::Comport] = device_->PortPath();
    }
    fs::path Path(const std::string& name) const { return folder_ / name; }
    void WriteFile(const std::string& name, const std::string& bytes) const {
        test::WriteFile(Path(name), bytes);
    }
    std::string Contents(const std::string& name) const { return test::ReadFile(Path(name)); }
    // A dialog answer: the user chooses `name` in the folder.
    ScriptedView::Answer Choosing(const std::string& name) const {
        return [path = Path(name)] { return path; };
    }
    std::set<std::string> FilesInFolder() const { return test::NamesIn(folder_.path); }
    // What the device received, once it has `atLeast` bytes (the simulator
    // reads the line on its own thread) or 20 s have passed.
    std::string Received(std::size_t atLeast = 0) const {
        test::Eventually([&] { return device_->ReceivedBytes().size() >= atLeast; });
        std::string bytes;
        for (const sim::Received& r : device_->ReceivedBytes()) {
            bytes += static_cast<char>(r.byte);
        }
        return bytes;
    }
    // Port closed, not busy, both buttons usable, every dialog as scripted.
    void ExpectIdle() const {
        EXPECT_EQ(view_.form.comopened, False16);
        EXPECT_EQ(ComHandle, port::InvalidHandle);
        EXPECT_TRUE(view_.enabled[0] && view_.enabled[1]);
        EXPECT_TRUE(view_.form.KeyFileName.empty());
        EXPECT_TRUE(view_.answers.empty() && view_.unanswered == 0);
    }

    test::TempDir folder_;
    std::string key_ = test::RandomBytes(4096, 7);
    ScriptedView view_;
    std::unique_ptr<sim::Simulator> device_;
};

Log Numbers(int count) {
    Log items;
    for (int i = 1; i <= count; ++i) {
        items.push_back(std::to_string(i));
    }
    return items;
}

Log ReadProgress() {
    Log captions;
    for (int percent = 10; percent <= 90; percent += 10) {
        captions.push_back(" " + std::to_string(percent) + " % Done ....");
    }
    return captions;
}

TEST_F(FormTest, StartsIdleGivesTheListItemsAndClosesQuietly) {
    view_.form.Form_Load();
    Log comports = Numbers(9);  // then this machine's ports by name
    for (const port::PortInfo& info : port::ListPorts()) {
        comports.push_back(info.name);
    }
    EXPECT_EQ(view_.choices, (std::map<FormSetting, Log>{{FormSetting::Comport, comports},
                                                         {FormSetting::Blocksize, Numbers(32)},
                                                         {FormSetting::Delay, Numbers(25)}}));
    ExpectIdle();
    view_.Close();  // no operation runs: nothing shown, nothing taken down
    EXPECT_EQ(view_.log, Log{"closed"});
    EXPECT_EQ(view_.dismissals, 0);
}

// A setting that cannot be used is refused before the port is opened; a
// port that cannot be opened is reported, the other button turned off and
// on again; a file not of 4096 bytes is refused before anything is sent.
// Either way the window stays idle, the caption as it was.
TEST_F(FormTest, RefusesWhatItCannotUseAndStaysIdle) {
    WriteFile("short.bin", std::string(4095, 'x'));
    const auto refused = [](const char* says) {
        return FormMessage{says, "Error", MessageIcon::Warning, ""};
    };
    const FormMessage noPort{"Not able to Open selected Comport", "Error", MessageIcon::Warning,
                             "/nonexistent/port: no such port."};
    const FormMessage size{"Wrong File size !", "Error in filesize", MessageIcon::Error, ""};
    struct Case {
        FormSetting setting;
        const char* text;  // in the box; for a file, the name chosen
        FormButton button;
        FormMessage box;  // only the start of a refused setting's text
        Log log;          // none: the box alone
    };
    const Case cases[] = {
        {FormSetting::Comport, "   ", FormButton::Read, refused("Give a serial port"), {}},
        {FormSetting::Blocksize, "0", FormButton::Write, refused("Blocksize must be"), {}},
        {FormSetting::Delay, "-1", FormButton::Write, refused("Delay must be"), {}},
        {FormSetting::Comport,
         "/nonexistent/port",
         FormButton::Read,
         noPort,
         {"box: " + noPort.text, "Write off", "Write on"}},
        {FormSetting::Comport,
         "/nonexistent/port",
         FormButton::Write,
         noPort,
         {"box: " + noPort.text, "Read off", "Read on"}},
        {FormSetting::Delay,
         "short.bin",
         FormButton::Write,
         size,
         {"Read off", "open dialog", "box: " + size.text, "Read on"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const std::string kept = view_.settings[c.setting];
        if (c.box == size) {
            view_.answers = {Choosing(c.text)};
        } else {
            view_.settings[c.setting] = c.text;
        }
        view_.log.clear();
        view_.boxes.clear();
        view_.Click(c.button);
        ASSERT_EQ(view_.boxes.size(), 1u);
        FormMessage box = view_.boxes[0];
        box.text.resize(std::min(box.text.size(), c.box.text.size()));
        EXPECT_EQ(box, c.box);
        EXPECT_EQ(view_.log, c.log.empty() ? Log{"box: " + view_.boxes[0].text} : c.log);
        ExpectIdle();
        view_.settings[c.setting] = kept;
    }
    EXPECT_EQ(Received(), "");
}

// A click on the running operation's button, at its first event processing,
// meets "Allready open" as a notice, which holds nothing; the other button
// is off meanwhile; the operation goes on to its end.
TEST_F(FormTest, ASecondClickMeetsTheBusyRuleAndTheOperationGoesOn) {
    view_.settings[FormSetting::Delay] = "1";
    for (const FormButton button : {FormButton::Read, FormButton::Write}) {
        const bool read = button == FormButton::Read;
        SCOPED_TRACE(read ? "Read" : "Write");
        StartDevice();
        view_.notices.clear();
        bool otherWasOff = false;
        view_.atNextEvents = [&] {
            otherWasOff = !view_.enabled[read ? 1 : 0];
            view_.Click(read ? FormButton::Write : FormButton::Read);  // disabled: nothing
            view_.Click(button);                                       // nested
        };
        view_.answers = {Choosing(read ? "k.bin" : "key.bin")};
        view_.Click(button);
        EXPECT_TRUE(otherWasOff);
        EXPECT_EQ(view_.notices,
                  (std::vector<FormMessage>{{"Allready open", "", MessageIcon::None, ""}}));
        EXPECT_TRUE(view_.boxes.empty());
        // One request, from the first click; the operation's end.
        EXPECT_TRUE(read ? Received() == "\x05" : Received(4097) == "\x06" + key_);
        EXPECT_TRUE(read ? Contents("k.bin") == device_->Buffer() : true);
        EXPECT_EQ(view_.caption, read ? ReadDoneCaption : WriteDoneCaption);
        ExpectIdle();
    }
}

// A view that holds the Write between two blocks for longer than the
// device waits (here its notice, as a modal box would) gets the Write given
// up, never "File Written !": the rest is not sent, and the box says that
// the device must be restarted first.
TEST_F(FormTest, AWriteHeldBetweenBlocksPastTheDevicesWaitIsGivenUp) {
    view_.settings[FormSetting::Delay] = "1";
    view_.onCaption = [&](const std::string&) {  // the first block is out
        view_.onCaption = nullptr;
        view_.atNextEvents = [&] { view_.Click(FormButton::Write); };
    };
    view_.whileNoticeShows = [] {
        std::this_thread::sleep_for(std::chrono::milliseconds(HoldLimitMs + 200));
    };
    view_.answers = {Choosing("key.bin")};
    view_.Click(FormButton::Write);
    ASSERT_EQ(view_.boxes.size(), 1u);
    FormMessage box = view_.boxes[0];
    const std::string held = "The Write was held for ";
    const std::string rest = " s between two blocks, longer than the device may wait.";
    EXPECT_TRUE(box.text.starts_with(held) && box.text.ends_with(rest)) << box.text;
    EXPECT_EQ(box.title + "|" + box.detail,
              "Error|The device may hold a partly written Keybuffer. Switch it off and on (or "
              "reconnect it) before anything else, then write the file again.");
    EXPECT_TRUE(Received(17) == "\x06" + key_.substr(0, 16));
    EXPECT_EQ(device_->WritesCompleted(), 0);
    EXPECT_EQ(view_.caption, WindowCaption);
    ExpectIdle();
}

// A close while a Read's answer is on its way is put off: the Read stops
// collecting, lets the rest of the answer come and go, then the window
// closes, having saved nothing.  A Read right after it gets the buffer.
TEST_F(FormTest, ClosingDuringAReadsAnswerLetsItEndFirst) {
    StartDevice({}, 115200);  // paced, so the answer is still on its way
    view_.onCaption = [&](const std::string&) {
        view_.onCaption = nullptr;
        view_.atNextEvents = [&] { view_.Close(); };
    };
    view_.Click(FormButton::Read);
    EXPECT_EQ(view_.dismissals, 1);
    ASSERT_GE(view_.log.size(), 3u);
    EXPECT_EQ(Log(view_.log.end() - 2, view_.log.end()), (Log{"Write on", "closed"}));
    EXPECT_NE(std::find(view_.log.begin(), view_.log.end(), "close put off"), view_.log.end());
    EXPECT_TRUE(view_.boxes.empty());
    EXPECT_EQ(FilesInFolder(), std::set<std::string>{"key.bin"});
    ExpectIdle();

    view_.answers = {Choosing("again.bin")};
    view_.Click(FormButton::Read);
    EXPECT_TRUE(Contents("again.bin") == device_->Buffer());
}

// Closing the window during a Read, in the Read's save dialog, or before a
// Write's request (its open dialog) stops the operation at once: the view
// takes its boxes down, nothing more is shown, sent or saved, the port is
// closed.
TEST_F(FormTest, ClosingDuringAReadOrBeforeAWriteRequestStopsAtOnce) {
    const auto closeInTheDialog = [this] {
        view_.Close();
        return fs::path();  // what a dialog taken down gives
    };
    struct Case {
        const char* when;
        FormButton button;
        std::function<void()> arm;
        std::string sent;  // all the device ever receives
        Log endLog;        // the log's end
    };
    const Case cases[] = {
        {"waiting for a quiet line, before the request",
         FormButton::Read,
         [&] { view_.atNextEvents = [&] { view_.Close(); }; },
         "",
         {"Write off", "closed", "Write on"}},
        {"in the save dialog",
         FormButton::Read,
         [&] { view_.answers = {closeInTheDialog}; },
         "\x05",
         {" 90 % Done ....", "save dialog", "closed", "Write on"}},
        {"in the open dialog",
         FormButton::Write,
         [&] { view_.answers = {closeInTheDialog}; },
         "",
         {"Read off", "open dialog", "closed", "Read on"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.when);
        // Paced, so that a Read not stopped would still be on the line.
        StartDevice({}, 115200);
        view_.log.clear();
        view_.dismissals = 0;
        c.arm();
        view_.Click(c.button);
        EXPECT_EQ(view_.dismissals, 1);
        EXPECT_TRUE(Received(c.sent.size()) == c.sent);
        ASSERT_GE(view_.log.size(), c.endLog.size());
        EXPECT_EQ(Log(view_.log.end() - c.endLog.size(), view_.log.end()), c.endLog);
        EXPECT_TRUE(view_.boxes.empty());
        EXPECT_EQ(device_->WritesCompleted(), 0);
        EXPECT_EQ(FilesInFolder(), std::set<std::string>{"key.bin"});
        view_.form.KeyFileName.clear();  // the closed window no longer shows it
        ExpectIdle();
    }
}

// Once a Write's request has gone out, a close is put off: the Write goes
// on to its end, a failure box included, and the logic then closes the
// window.  The device holds the file, or has said why not.
TEST_F(FormTest, ClosingDuringAWriteFinishesItFirst) {
    view_.settings[FormSetting::Delay] = "1";
    struct Case {
        const char* fault;
        int completed;    // buffers the device took
        Log beforeClose;  // the log before the close that goes ahead (a box's start)
    };
    const Case cases[] = {
        {"", 1, {"100 % Done", WriteDoneCaption, "Read on"}},
        {"hangup:1000", 0, {"box: The device was lost ", WindowCaption, "Read on"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        StartDevice(c.fault);
        view_.log.clear();
        view_.boxes.clear();
        view_.onCaption = [&](const std::string&) {  // the first block is out
            view_.onCaption = nullptr;
            view_.atNextEvents = [&] { view_.Close(); };
        };
        view_.answers = {Choosing("key.bin")};
        view_.Click(FormButton::Write);
        EXPECT_EQ(view_.dismissals, 0);
        const auto putOff = std::find(view_.log.begin(), view_.log.end(), "close put off");
        ASSERT_NE(putOff, view_.log.end());
        EXPECT_EQ(*(putOff - 1), "  0 % Done");
        Log end = c.beforeClose;
        end.push_back("closed");
        ASSERT_GE(view_.log.size(), end.size());
        Log seen(view_.log.end() - end.size(), view_.log.end());
        for (std::size_t i = 0; i < end.size(); ++i) {
            seen[i].resize(std::min(seen[i].size(), end[i].size()));
        }
        EXPECT_EQ(seen, end);
        EXPECT_EQ(std::count(view_.log.begin(), view_.log.end(), "closed"), 1);
        EXPECT_TRUE(test::Eventually([&] { return device_->WritesCompleted() >= c.completed; }));
        EXPECT_EQ(device_->WritesCompleted(), c.completed);
        EXPECT_TRUE(c.completed == 0 || device_->Buffer() == key_);
        ExpectIdle();
    }
}

TEST_F(FormTest, ReadSavesTheDeviceBufferUnderTheNameWithItsExtensionOrNothing) {
    bool held = false;  // the port stays held while the save dialog is up
    view_.answers = {[&] {
        held =
            view_.form.comopened == True16 && ComHandle != port::InvalidHandle && !view_.enabled[1];
        return Path("a");
    }};
    view_.Click(FormButton::Read);
    EXPECT_TRUE(held);
    EXPECT_EQ(view_.dialogs, Log{"Save Keybuffer To Bin file|Ram.Bin"});
    EXPECT_EQ(view_.filter, std::string("Bin File (*.bin)\0*.bin\0\0", 24));
    EXPECT_TRUE(Contents("a.Bin") == device_->Buffer());
    // Write is off from the open to the end; the caption comes first.
    Log log = ReadProgress();
    log.insert(log.begin(), "Write off");
    log.insert(log.end(), {"save dialog", ReadDoneCaption, "Write on"});
    EXPECT_EQ(view_.log, log);
    EXPECT_EQ(Received(), "\x05");
    EXPECT_TRUE(view_.boxes.empty());
    ExpectIdle();

    // Cancel in the save dialog saves nothing and keeps the last progress.
    view_.answers = {[] { return fs::path(); }};
    view_.Click(FormButton::Read);
    EXPECT_EQ(view_.caption, ReadProgress().back());
    EXPECT_EQ(FilesInFolder(), (std::set<std::string>{"a.Bin", "key.bin"}));
    ExpectIdle();
}

TEST_F(FormTest, AFailedSaveIsOfferedAgainUntilSavedOrGivenUp) {
    // The dialog took "k"; the save to k.Bin fails, a folder is in the way.
    fs::create_directory(Path("k.Bin"));
    view_.answers = {Choosing("k"), Choosing("k2")};
    view_.Click(FormButton::Read);
    EXPECT_EQ(
        view_.boxes,
        (std::vector<FormMessage>{
            {"Could not save the Keybuffer to " + Path("k.Bin").string() + ": is a directory.",
             "Error", MessageIcon::Error,
             "Choose another name or folder. Cancel discards the Keybuffer."}}));
    // Offered again under the name that failed, extension and folder included.
    ASSERT_EQ(view_.dialogs.size(), 2u);
    EXPECT_EQ(view_.dialogs[1], "Save Keybuffer To Bin file|" + Path("k.Bin").string());
    EXPECT_TRUE(Contents("k2.Bin") == device_->Buffer());
    EXPECT_EQ(view_.caption, ReadDoneCaption);

    // A folder that goes away after it was chosen: the save fails, and the
    // name is offered again in the nearest folder that still exists.
    view_.answers = {[&] {
                         fs::create_directories(Path("gone/deeper"));
                         fs::remove_all(Path("gone"));
                         return Path("gone/deeper/k");
                     },
                     [] { return fs::path(); }};
    view_.Click(FormButton::Read);
    ASSERT_EQ(view_.dialogs.size(), 4u);
    EXPECT_EQ(view_.dialogs[3], "Save Keybuffer To Bin file|" + Path("k.Bin").string());

    view_.answers = {Choosing("k"), [] { return fs::path(); }};
    view_.Click(FormButton::Read);  // given up: nothing claimed
    EXPECT_EQ(view_.boxes.size(), 3u);
    EXPECT_EQ(FilesInFolder(), (std::set<std::string>{"k.Bin", "k2.Bin", "key.bin"}));
    EXPECT_EQ(view_.caption, WindowCaption);
    ExpectIdle();
}

// A response cut short, not hex or overlong, no answer at all, or a device
// lost during a Read or a Write: reported with what to do next, nothing
// saved or claimed, the plain title back.  A lost Read shows the system's
// error number, the port and the reason under it, then the count.
TEST_F(FormTest, AFaultyDeviceIsReportedAndNothingClaimed) {
    const FormMessage lost{"The device was lost ", "Error", MessageIcon::Error,
                           "Switch it off and on (or reconnect it) before anything else, then "
                           "write the file again."};
    const FormMessage incomplete{"Error in reading Keybuffer!", "", MessageIcon::Error, ""};
    struct Case {
        const char* fault;
        FormButton button;
        // "#": any error number, whose port and reason read PORT and REASON;
        // the start of "lost" texts, the end of their details
        std::vector<FormMessage> boxes;
    };
    const Case cases[] = {
        {"short:101",
         FormButton::Read,
         {{incomplete.text, "101 Bytes read", MessageIcon::Error, ""}}},
        {"silent",
         FormButton::Read,
         {{incomplete.text, "0 Bytes read", MessageIcon::Error,
           "The device did not answer. Check the cable and its power. A device whose write was "
           "interrupted may still be waiting for the rest of it: switch it off and on, then read "
           "again."}}},
        {"garbage:10",
         FormButton::Read,
         {{"Invalid Keybuffer received: character 11 is not a hexadecimal digit.", "Error",
           MessageIcon::Error, "Nothing was saved."}}},
        {"extra:2",
         FormButton::Read,
         {{"The device's answer went on past the 8192 characters of a Keybuffer.", "Error",
           MessageIcon::Error,
           "It was still sending an earlier answer, or answered twice. Nothing was saved; wait a "
           "moment and read again."}}},
        {"hangup:1001",
         FormButton::Read,
         {{"#", "", MessageIcon::None,
           "Reading from PORT failed: REASON; the device is gone: reconnect it, then read again."},
          incomplete}},
        {"hangup:1000", FormButton::Write, {lost}},
        {"hangup:4096", FormButton::Write, {lost}},  // at the very last byte
    };
    const auto replace = [](std::string& text, const std::string& what, const char* with) {
        if (const std::size_t at = text.find(what); at != std::string::npos) {
            text.replace(at, what.size(), with);
        }
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        StartDevice(c.fault);
        view_.boxes.clear();
        view_.settings[FormSetting::Delay] = "1";
        if (c.button == FormButton::Write) {
            view_.answers = {Choosing("key.bin")};
        }
        view_.Click(c.button);
        std::vector<FormMessage> boxes = view_.boxes;
        for (FormMessage& box : boxes) {
            if (box.text.starts_with(lost.text) && box.detail.ends_with(lost.detail)) {
                box = lost;
            } else if (!box.text.empty() &&
                       box.text.find_first_not_of("0123456789") == std::string::npos) {
                replace(box.detail, device_->PortPath(), "PORT");
                replace(box.detail, port::ErrorText(std::stoul(box.text)), "REASON");
                box.text = "#";
            } else if (box.text == incomplete.text && c.boxes.size() == 2) {
                box.title.clear();  // the count of a lost Read varies
            }
        }
        EXPECT_EQ(boxes, c.boxes);
        EXPECT_EQ(FilesInFolder(), std::set<std::string>{"key.bin"});
        EXPECT_EQ(device_->WritesCompleted(), 0);
        EXPECT_EQ(view_.caption, WindowCaption);
        ExpectIdle();
    }
}

TEST_F(FormTest, WriteSendsTheFileInPacedBlocksWithProgress) {
    view_.settings[FormSetting::Blocksize] = "100";
    view_.settings[FormSetting::Delay] = "25";
    // At the block at 2001 the user edits both boxes: the Delay box is read
    // at every pause, the Blocksize once.
    view_.onCaption = [this](const std::string& caption) {
        if (caption == " 49 % Done") {
            view_.settings[FormSetting::Delay] = "70";
            view_.settings[FormSetting::Blocksize] = "7";
        }
    };
    view_.delaysAsked.emplace();
    view_.answers = {Choosing("key.bin")};
    view_.Click(FormButton::Write);
    EXPECT_EQ(view_.dialogs, Log{"Select Keybuffer Bin file to write|6148"});
    EXPECT_EQ(view_.filter, std::string("Bin Files(*.bin )\0*.bin\0\0", 25));
    EXPECT_TRUE(Received(4097) == "\x06" + key_);
    // Read is off from the open to the end; a caption after each of the 41
    // blocks, then the end's.
    ASSERT_EQ(view_.log.size(), 2u + 41u + 2u);
    EXPECT_EQ(Log(view_.log.begin(), view_.log.begin() + 3),
              (Log{"Read off", "open dialog", "  0 % Done"}));
    EXPECT_EQ(Log(view_.log.end() - 3, view_.log.end()),
              (Log{" 98 % Done", WriteDoneCaption, "Read on"}));
    // The Delay box asked at the start and at every pause: after 0x06 and
    // after each block of 100 bytes, 25 ms up to the block at 2001, 70 ms
    // from there on.
    std::vector<std::string> expectedDelays(1 + 21, "25");
    expectedDelays.resize(1 + 42, "70");
    EXPECT_EQ(*view_.delaysAsked, expectedDelays);
    EXPECT_TRUE(view_.boxes.empty());
    ExpectIdle();
    test::Eventually([&] { return device_->WritesCompleted() >= 1; });
    EXPECT_TRUE(device_->Buffer() == key_);  // taken once the last byte is in

    StartDevice();  // Cancel in the open dialog sends nothing
    view_.log.clear();
    view_.answers = {[] { return fs::path(); }};
    view_.Click(FormButton::Write);
    EXPECT_EQ(Received(), "");
    EXPECT_EQ(view_.log, (Log{"Read off", "open dialog", "Read on"}));
    ExpectIdle();
}

TEST(CaptionRules, TheExtensionRule) {
    const std::pair<const char*, const char*> names[] = {
        {"C:\\keys\\a", "C:\\keys\\a.Bin"},
        {"C:\\keys\\a.bin", "C:\\keys\\a.bin"},
        {"a.c", "a.c.Bin"},
        {".key", ".key"},
        {"keys/\xC3\xA4.b\xC3\xA9", "keys/\xC3\xA4.b\xC3\xA9.Bin"},  // characters, not bytes
        {"keys/\xC3\xA4.\xC3\xA9xy", "keys/\xC3\xA4.\xC3\xA9xy"},
    };
    for (const auto& [typed, saved] : names) {
        EXPECT_EQ(WithBinExtension(typed), saved) << typed;
    }
}

}  // namespace
}  // namespace vantri
