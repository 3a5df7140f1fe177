// The window's logic against a scripted view that records what the logic
// shows and answers its dialogs, with the real serial backend, real files
// and a simulated device on a real pseudo-terminal behind it.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
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
using Boxes = std::vector<FormMessage>;

class ScriptedView : public FormView {
  public:
    std::map<FormSetting, std::string> settings{{FormSetting::Comport, DefaultComport},
                                                {FormSetting::Blocksize, DefaultBlocksize},
                                                {FormSetting::Delay, DefaultDelay}};
    std::map<FormSetting, Log> choices;
    bool enabled[2] = {true, true};  // Read, Write
    std::string caption = WindowCaption;
    // What the user saw, in order: "Write off", "Write on" (changes only),
    // "box: <text>", "notice: <text>", "save dialog", "open dialog", every
    // caption, and "closed" or "close put off" for each close.
    Log log;
    Boxes boxes;
    std::function<void()> whileNoticeShows = [] {};  // what a notice does to its caller
    Log dialogs;         // "title|flags" (open), "title|proposed name" (save)
    std::string filter;  // of the last dialog
    std::vector<std::function<fs::path()>> answers;  // one per dialog to come: "" is Cancel
    int unanswered = 0, dismissals = 0;
    std::function<void()> atNextEvents;                 // run once, at the next events
    std::function<void(const std::string&)> onCaption;  // at every caption
    Log delaysAsked;                                    // each Delay text asked
    Form1 form{*this};

    // A click on an enabled button reaches the logic, as in a real window.
    void Click(FormButton button) {
        if (enabled[static_cast<int>(button)]) {
            button == FormButton::Read ? form.Command4_Click() : form.Command3_Click();
        }
    }
    // The close box; the logic may put the close off (Cancel).
    void CloseWindow() override {
        std::int16_t cancel = False16;
        form.Form_Unload(cancel);
        log.push_back(cancel == False16 ? "closed" : "close put off");
    }
    // After the first caption (the first block out, the first progress),
    // `act` runs at the next event processing.
    void AfterFirstCaption(std::function<void()> act) {
        onCaption = [this, act](const std::string&) {
            onCaption = nullptr;
            atNextEvents = act;
        };
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
        if (setting == FormSetting::Delay) {
            delaysAsked.push_back(settings[setting]);
        }
        return settings[setting];
    }
    void SetSettingChoices(FormSetting s, const Log& items) override { choices[s] = items; }
    void ShowMessage(const FormMessage& message) override {
        boxes.push_back(message);
        log.push_back("box: " + message.text);
    }
    void ShowNotice(const FormMessage& message) override {
        log.push_back("notice: " + message.text + "|" + message.title + "|" + message.detail);
        whileNoticeShows();
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
    fs::path Dialog(const std::string& kind, const std::string& filterList,
                    const std::string& seen) {
        dialogs.push_back(seen);
        filter = filterList;
        log.push_back(kind + " dialog");
        if (answers.empty()) {
            ++unanswered;
            return {};
        }
        const auto answer = answers.front();
        answers.erase(answers.begin());
        return answer();
    }
};

// A simulated device, healthy unless a test restarts it with a fault, and
// a folder holding key.bin, a key file unlike the device's own buffer.
class FormTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::WriteFile(Path("key.bin"), key_);
        StartDevice();
    }
    void TearDown() override { CloseComPort(); }
    // Starts a device (`fault` as vantri-devsim takes it) on the Comport box;
    // the view's record starts afresh.
    void StartDevice(std::string_view fault = {}, std::uint32_t lineRate = 0) {
        std::string error;
        device_ = StartSimDevice(fault, {}, lineRate, error);
        ASSERT_NE(device_, nullptr) << error;
        view_.settings[FormSetting::Comport] = device_->PortPath();
        view_.log.clear();
        view_.boxes.clear();
        view_.dismissals = 0;
    }
    fs::path Path(const std::string& name) const { return folder_ / name; }
    // A dialog answer: the user chooses `name` in the folder.
    std::function<fs::path()> Choosing(const std::string& name) const {
        return [path = Path(name)] { return path; };
    }
    std::set<std::string> Files() const { return test::NamesIn(folder_.path); }
    bool Saved(const std::string& name) const {
        return test::ReadFile(Path(name)) == device_->Buffer();
    }
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
    // The last entries of the log, each cut to the length of `end`'s.
    Log LogEnd(const Log& end) const {
        const std::size_t n = std::min(end.size(), view_.log.size());
        Log seen(view_.log.end() - static_cast<std::ptrdiff_t>(n), view_.log.end());
        for (std::size_t i = 0; i < n; ++i) {
            seen[i].resize(std::min(seen[i].size(), end[i].size()));
        }
        return seen;
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

Log Numbers(int from, int to, int step, const std::string& after = "") {
    Log items;
    for (int i = from; i <= to; i += step) {
        items.push_back((after.empty() ? "" : " ") + std::to_string(i) + after);
    }
    return items;
}

TEST_F(FormTest, StartsIdleGivesTheListItemsAndClosesQuietly) {
    view_.form.Form_Load();
    Log comports = Numbers(1, 9, 1);  // then this machine's ports by name
    for (const port::PortInfo& info : port::ListPorts()) {
        comports.push_back(info.name);
    }
    EXPECT_EQ(view_.choices,
              (std::map<FormSetting, Log>{{FormSetting::Comport, comports},
                                          {FormSetting::Blocksize, Numbers(1, 32, 1)},
                                          {FormSetting::Delay, Numbers(1, 25, 1)}}));
    ExpectIdle();
    view_.CloseWindow();  // no operation runs: nothing shown, nothing taken down
    EXPECT_EQ(view_.log, Log{"closed"});
    EXPECT_EQ(view_.dismissals, 0);
}

// A setting that cannot be used is refused before the port is opened; a
// port that cannot be opened is reported, the other button turned off and
// on again; a file not of 4096 bytes is refused before anything is sent.
// Either way the window stays idle, the caption as it was.
TEST_F(FormTest, RefusesWhatItCannotUseAndStaysIdle) {
    test::WriteFile(Path("short.bin"), std::string(4095, 'x'));
    const auto refused = [](const char* says) {
        return FormMessage{says, "Error", MessageIcon::Warning, ""};
    };
    const FormMessage noPort{"Not able to Open selected Comport", "Error", MessageIcon::Warning,
                             "/nonexistent/port: no such port."};
    const FormMessage size{"Wrong File size !", "Error in filesize", MessageIcon::Error, ""};
    const std::string noPortBox = "box: " + noPort.text, sizeBox = "box: " + size.text;
    const FormButton read = FormButton::Read, write = FormButton::Write;
    struct Case {
        FormSetting setting;
        const char* text;  // in the box; for a file, the name chosen
        FormButton button;
        FormMessage box;  // a refused setting: only the start of its text
        Log log;          // none: the box alone
    };
    using enum FormSetting;
    const Case cases[] = {
        {Comport, "   ", read, refused("Give a serial port"), {}},
        {Blocksize, "0", write, refused("Blocksize must be"), {}},
        {Delay, "-1", write, refused("Delay must be"), {}},
        {Comport, "/nonexistent/port", read, noPort, {noPortBox, "Write off", "Write on"}},
        {Comport, "/nonexistent/port", write, noPort, {noPortBox, "Read off", "Read on"}},
        {Delay, "short.bin", write, size, {"Read off", "open dialog", sizeBox, "Read on"}},
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
        bool otherWasOff = false;
        view_.atNextEvents = [&] {
            otherWasOff = !view_.enabled[read ? 1 : 0];
            view_.Click(read ? FormButton::Write : FormButton::Read);  // disabled: nothing
            view_.Click(button);                                       // nested
        };
        view_.answers = {Choosing(read ? "k.bin" : "key.bin")};
        view_.Click(button);
        EXPECT_TRUE(otherWasOff);
        EXPECT_EQ(std::count(view_.log.begin(), view_.log.end(), "notice: Allready open||"), 1);
        EXPECT_TRUE(view_.boxes.empty());
        // One request, from the first click; the operation's end.
        EXPECT_TRUE(read ? Received() == "\x05" && Saved("k.bin")
                         : Received(4097) == "\x06" + key_);
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
    view_.AfterFirstCaption([&] { view_.Click(FormButton::Write); });
    view_.whileNoticeShows = [] {
        std::this_thread::sleep_for(std::chrono::milliseconds(HoldLimitMs + 200));
    };
    view_.answers = {Choosing("key.bin")};
    view_.Click(FormButton::Write);
    ASSERT_EQ(view_.boxes.size(), 1u);
    const FormMessage& box = view_.boxes[0];
    EXPECT_TRUE(box.text.starts_with("The Write was held for ") &&
                box.text.ends_with(" s between two blocks, longer than the device may wait."))
        << box.text;
    EXPECT_EQ(box.title + "|" + box.detail,
              "Error|The device may hold a partly written Keybuffer. Switch it off and on (or "
              "reconnect it) before anything else, then write the file again.");
    EXPECT_TRUE(Received(17) == "\x06" + key_.substr(0, 16));
    EXPECT_EQ(device_->WritesCompleted(), 0);
    EXPECT_EQ(view_.caption, WindowCaption);
    ExpectIdle();
}

// A close during an operation.  While a Read's answer is on its way it is
// put off: the Read stops collecting, lets the rest of the answer come and
// go, then the window closes, and a Read right after it gets the buffer.
// Before the Read's request, in its save dialog, or before a Write's
// request (its open dialog) the operation stops at once.  Either way the
// view takes its boxes down and nothing is shown, sent or saved.
TEST_F(FormTest, ClosingDuringAReadOrBeforeAWriteRequestShowsAndSavesNothing) {
    enum When { AtFirstEvents, InTheDialog, AfterFirstCaption };
    const FormButton read = FormButton::Read, write = FormButton::Write;
    struct Case {
        FormButton button;
        When when;
        std::string sent;  // all the device ever receives
        Log endLog;        // the log's end
    };
    const Case cases[] = {
        {read, AtFirstEvents, "", {"Write off", "closed", "Write on"}},  // before the request
        {read, InTheDialog, "\x05", {" 90 % Done ....", "save dialog", "closed", "Write on"}},
        {write, InTheDialog, "", {"Read off", "open dialog", "closed", "Read on"}},
        {read, AfterFirstCaption, "\x05", {"close put off", "Write on", "closed"}},  // the answer
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.endLog[1]);
        StartDevice({}, 115200);  // paced, so that the answer is still on its way
        const auto close = [this] { view_.CloseWindow(); };
        if (c.when == InTheDialog) {
            view_.answers = {[close] {
                close();
                return fs::path();  // what a dialog taken down gives
            }};
        } else if (c.when == AtFirstEvents) {
            view_.atNextEvents = close;
        } else {
            view_.AfterFirstCaption(close);
        }
        view_.Click(c.button);
        EXPECT_EQ(view_.dismissals, 1);
        EXPECT_TRUE(Received(c.sent.size()) == c.sent);
        EXPECT_EQ(LogEnd(c.endLog), c.endLog);
        EXPECT_TRUE(view_.boxes.empty());
        EXPECT_EQ(device_->WritesCompleted(), 0);
        EXPECT_EQ(Files(), std::set<std::string>{"key.bin"});
        ExpectIdle();
    }
    view_.answers = {Choosing("again.bin")};
    view_.Click(FormButton::Read);
    EXPECT_TRUE(Saved("again.bin"));
}

// Once a Write's request has gone out, a close is put off: the Write goes
// on to its end, a failure box included, and the logic then closes the
// window.  The device holds the file, or has said why not.
TEST_F(FormTest, ClosingDuringAWriteFinishesItFirst) {
    view_.settings[FormSetting::Delay] = "1";
    for (const bool lost : {false, true}) {
        SCOPED_TRACE(lost ? "lost" : "healthy");
        StartDevice(lost ? "hangup:1000" : "");
        view_.AfterFirstCaption([&] { view_.CloseWindow(); });
        view_.answers = {Choosing("key.bin")};
        view_.Click(FormButton::Write);
        EXPECT_EQ(view_.dismissals, 0);
        const auto putOff = std::find(view_.log.begin(), view_.log.end(), "close put off");
        ASSERT_NE(putOff, view_.log.end());
        EXPECT_EQ(*(putOff - 1), "  0 % Done");
        const Log end = lost ? Log{"box: The device was lost ", WindowCaption, "Read on", "closed"}
                             : Log{"100 % Done", WriteDoneCaption, "Read on", "closed"};
        EXPECT_EQ(LogEnd(end), end);
        EXPECT_EQ(std::count(view_.log.begin(), view_.log.end(), "closed"), 1);
        EXPECT_TRUE(lost || test::Eventually([&] { return device_->WritesCompleted() == 1; }));
        EXPECT_EQ(device_->WritesCompleted(), lost ? 0 : 1);
        EXPECT_TRUE(lost || device_->Buffer() == key_);
        ExpectIdle();
    }
}

TEST_F(FormTest, ReadSavesTheBufferUnderTheNameWithItsExtensionOfferingAgainAfterAFailure) {
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
    EXPECT_TRUE(Saved("a.Bin"));
    // Write is off from the open to the end; the caption comes first.
    Log log = Numbers(10, 90, 10, " % Done ....");
    log.insert(log.begin(), "Write off");
    log.insert(log.end(), {"save dialog", ReadDoneCaption, "Write on"});
    EXPECT_EQ(view_.log, log);
    EXPECT_EQ(Received(), "\x05");
    EXPECT_TRUE(view_.boxes.empty());
    ExpectIdle();

    // Cancel in the save dialog saves nothing and keeps the last progress.
    view_.answers = {[] { return fs::path(); }};
    view_.Click(FormButton::Read);
    EXPECT_EQ(view_.caption, " 90 % Done ....");
    EXPECT_EQ(Files(), (std::set<std::string>{"a.Bin", "key.bin"}));
    ExpectIdle();

    // A failed save is offered again until saved or given up.  The dialog
    // took "k"; the save to k.Bin fails, a folder is in the way.
    fs::create_directory(Path("k.Bin"));
    view_.dialogs.clear();
    view_.answers = {Choosing("k"), Choosing("k2")};
    view_.Click(FormButton::Read);
    EXPECT_EQ(
        view_.boxes,
        (Boxes{{"Could not save the Keybuffer to " + Path("k.Bin").string() + ": is a directory.",
                "Error", MessageIcon::Error,
                "Choose another name or folder. Cancel discards the Keybuffer."}}));
    // Offered again under the name that failed, extension and folder
    // included; the second time in the nearest folder that still exists,
    // as the one chosen went away.
    view_.answers = {[&] {
                         fs::create_directories(Path("gone/deeper"));
                         fs::remove_all(Path("gone"));
                         return Path("gone/deeper/k");
                     },
                     [] { return fs::path(); }};
    EXPECT_TRUE(Saved("k2.Bin"));
    EXPECT_EQ(view_.caption, ReadDoneCaption);
    view_.Click(FormButton::Read);  // given up: nothing claimed
    const std::string again = "Save Keybuffer To Bin file|" + Path("k.Bin").string();
    EXPECT_EQ(view_.dialogs, (Log{"Save Keybuffer To Bin file|Ram.Bin", again,
                                  "Save Keybuffer To Bin file|Ram.Bin", again}));
    EXPECT_EQ(view_.boxes.size(), 2u);
    EXPECT_EQ(Files(), (std::set<std::string>{"a.Bin", "k.Bin", "k2.Bin", "key.bin"}));
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
    const std::string incomplete = "Error in reading Keybuffer!";
    struct Case {
        const char* fault;
        FormButton button;
        // "#": any error number, whose port and reason read PORT and REASON;
        // the start of "lost" texts, the end of their details
        Boxes boxes;
    };
    const Case cases[] = {
        {"short:101", FormButton::Read, {{incomplete, "101 Bytes read", MessageIcon::Error, ""}}},
        {"silent",
         FormButton::Read,
         {{incomplete, "0 Bytes read", MessageIcon::Error,
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
          {incomplete, "", MessageIcon::Error, ""}}},  // the count of a lost Read varies
        {"hangup:1000", FormButton::Write, {lost}},
        {"hangup:4096", FormButton::Write, {lost}},  // at the very last byte
    };
    view_.settings[FormSetting::Delay] = "1";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        StartDevice(c.fault);
        if (c.button == FormButton::Write) {
            view_.answers = {Choosing("key.bin")};
        }
        view_.Click(c.button);
        Boxes boxes = view_.boxes;
        for (FormMessage& box : boxes) {
            if (box.text.starts_with(lost.text) && box.detail.ends_with(lost.detail)) {
                box = lost;
            } else if (box.icon == MessageIcon::None) {  // an error number
                const std::string said = "Reading from " + device_->PortPath() +
                                         " failed: " + port::ErrorText(std::stoul(box.text));
                if (box.detail.starts_with(said)) {
                    box = {"#", "", box.icon,
                           "Reading from PORT failed: REASON" + box.detail.substr(said.size())};
                }
            } else if (box.text == incomplete && c.boxes.size() == 2) {
                box.title.clear();
            }
        }
        EXPECT_EQ(boxes, c.boxes);
        EXPECT_EQ(Files(), std::set<std::string>{"key.bin"});
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
    const Log end{" 98 % Done", WriteDoneCaption, "Read on"};
    EXPECT_EQ(LogEnd(end), end);
    // The Delay box asked at the start and at every pause: after 0x06 and
    // after each block of 100 bytes, 25 ms up to the block at 2001, 70 ms
    // from there on.
    Log expectedDelays(1 + 21, "25");
    expectedDelays.resize(1 + 42, "70");
    EXPECT_EQ(view_.delaysAsked, expectedDelays);
    EXPECT_TRUE(view_.boxes.empty());
    ExpectIdle();
    test::Eventually([&] { return device_->WritesCompleted() >= 1; });
    EXPECT_TRUE(device_->Buffer() == key_);  // taken once the last byte is in

    StartDevice();  // Cancel in the open dialog sends nothing
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
