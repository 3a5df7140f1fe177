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
namespace {

namespace fs = std::filesystem;
using Log = std::vector<std::string>;
using enum FormButton;
using enum FormSetting;

// Whether `text` matches `pattern`, in which "*" stands for any characters.
bool Like(const char* pattern, const char* text) {
    return *pattern == '*' ? Like(pattern + 1, text) || (*text && Like(pattern, text + 1))
                           : *pattern == *text && (!*text || Like(pattern + 1, text + 1));
}

// Whether the end of `seen` (all of it when `whole`) matches `patterns`.
testing::AssertionResult Matches(const Log& seen, const Log& patterns, bool whole = true) {
    const bool ok = (whole ? seen.size() == patterns.size() : seen.size() >= patterns.size()) &&
                    std::equal(patterns.begin(), patterns.end(), seen.end() - patterns.size(),
                               [](auto& p, auto& s) { return Like(p.c_str(), s.c_str()); });
    return testing::AssertionResult(ok) << testing::PrintToString(seen);
}

// `items` and after them the numbers from `from` to `to`, each followed by `after`.
Log Numbers(int from, int to, int step = 1, const std::string& after = "", Log items = {}) {
    for (int i = from; i <= to; i += step) {
        items.push_back((after.empty() ? "" : " ") + std::to_string(i) + after);
    }
    return items;
}

// The test is the window: it records what the logic shows and answers its
// dialogs as scripted.  Behind the port, a simulated device, healthy unless
// a test restarts it with a fault; beside it a folder holding key.bin, a
// key file unlike the device's own buffer.
class FormTest : public testing::Test, public FormView {
  protected:
    void SetUp() override {
        test::WriteFile(Path("key.bin"), key_);
        StartDevice();
    }
    void TearDown() override { CloseComPort(); }
    // Starts a device (`fault` as vantri-devsim takes it) on the Comport box;
    // the log starts afresh.
    void StartDevice(std::string_view fault = {}, std::uint32_t lineRate = 0) {
        std::string error;
        device_ = StartSimDevice(fault, {}, lineRate, error);
        ASSERT_NE(device_, nullptr) << error;
        settings[Comport] = device_->PortPath();
        log.clear();
        dismissals = 0;
    }
    fs::path Path(const std::string& name) const { return folder_ / name; }
    std::set<std::string> Files() const { return test::NamesIn(folder_.path); }
    bool Saved(const char* name) const { return test::ReadFile(Path(name)) == device_->Buffer(); }
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
    // Port closed, not busy, both buttons usable, every dialog answered as
    // scripted; the boxes shown since the last look match `shown`, and the
    // caption is `endCaption` (unless none).
    void ExpectIdle(const Log& shown = {}, const char* endCaption = nullptr) {
        EXPECT_TRUE(form.comopened == False16 && ComHandle == port::InvalidHandle);
        EXPECT_TRUE(enabled[0] && enabled[1] && form.KeyFileName.empty() && answers.empty());
        EXPECT_TRUE(Matches(std::exchange(boxes, {}), shown));
        EXPECT_TRUE(!endCaption || caption == endCaption) << caption;
    }

    // A click on an enabled button reaches the logic, as in a real window.
    void Click(FormButton button) {
        if (enabled[static_cast<int>(button)]) {
            button == Read ? form.Command4_Click() : form.Command3_Click();
        }
    }
    // The close box; the logic may put the close off (Cancel).
    void CloseWindow() override {
        std::int16_t cancel = False16;
        form.Form_Unload(cancel);
        log.push_back(cancel == False16 ? "closed" : "close put off");
    }
    void SetCaption(const std::string& text) override {
        log.push_back(caption = text);
        onCaption();
        if (afterFirstCaption) {
            atNextEvents = std::exchange(afterFirstCaption, nullptr);
        }
    }
    void SetButtonEnabled(FormButton button, bool on) override {
        if (std::exchange(enabled[static_cast<int>(button)], on) != on) {
            log.push_back(std::string(button == Read ? "Read" : "Write") + (on ? " on" : " off"));
        }
    }
    std::string SettingText(FormSetting setting) override {
        if (setting == Delay) {
            delaysAsked.push_back(settings[setting]);
        }
        return settings[setting];
    }
    void SetSettingChoices(FormSetting s, const Log& items) override { choices[s] = items; }
    void ShowMessage(const FormMessage& m) override {
        log.push_back("box");
        boxes.push_back(m.text + "|" + m.title + "|" + std::to_string(static_cast<int>(m.icon)) +
                        "|" + m.detail);
    }
    void ShowNotice(const FormMessage& m) override {
        boxes.push_back("notice: " + m.text + "|" + m.title + "|" + m.detail);
    }
    fs::path ShowOpenDialog(const std::string& filter, std::uint32_t flags,
                            const std::string& title) override {
        return Dialog("open", filter, title + "|" + std::to_string(flags));
    }
    fs::path ShowSaveDialog(const std::string& filter, const fs::path& defaultName,
                            const std::string& title) override {
        return Dialog("save", filter, title + "|" + defaultName.string());
    }
    void ProcessEvents() override { RunOnce(atNextEvents); }
    void DismissModals() override { ++dismissals; }
    fs::path Dialog(const std::string& kind, const std::string& shownFilter,
                    const std::string& seen) {
        log.push_back(kind + " dialog");
        dialogs.push_back(seen);
        filter = shownFilter;
        RunOnce(inDialog);
        EXPECT_FALSE(answers.empty()) << "a dialog not scripted: " << seen;
        answers.resize(std::max(answers.size(), std::size_t{1}));  // unscripted: Cancel
        const std::string name = answers.front();
        answers.erase(answers.begin());
        return name.empty() ? fs::path() : Path(name);
    }
    static void RunOnce(std::function<void()>& act) {
        if (const auto run = std::exchange(act, nullptr)) {
            run();
        }
    }

    test::TempDir folder_;
    std::string key_ = test::RandomBytes(4096, 7);
    std::unique_ptr<sim::Simulator> device_;
    std::map<FormSetting, std::string> settings{{Blocksize, "16"}, {Delay, "1"}};  // fast Writes
    std::map<FormSetting, Log> choices;
    bool enabled[2] = {true, true};  // Read, Write
    std::string caption;
    // What the user saw, in order: "Write off", "Write on" (changes only),
    // "box", "save dialog", "open dialog", every caption, and "closed" or
    // "close put off" for each close.
    Log log;
    Log boxes;           // "text|title|icon value|detail", "notice: text|title|detail"
    Log dialogs;         // "title|flags" (open), "title|proposed name" (save)
    Log delaysAsked;     // each Delay text asked
    std::string filter;  // of the last dialog
    Log answers;         // the name chosen in the folder in each dialog to come; "" is Cancel
    int dismissals = 0;
    // Run once: at the next event processing, while the next dialog is up,
    // at the event processing after the next caption (the first block out,
    // the first progress).
    // onCaption: at each caption, once it is shown.
    std::function<void()> atNextEvents, inDialog, afterFirstCaption, onCaption = [] {};
    Form1 form{*this};
};

TEST_F(FormTest, StartsIdleGivesTheListItemsAndClosesQuietly) {
    form.Form_Load();
    Log comports = Numbers(1, 9);  // then this machine's ports by name
    for (const port::PortInfo& info : port::ListPorts()) {
        comports.push_back(info.name);
    }
    EXPECT_EQ(choices,
              (std::map<FormSetting, Log>{
                  {Comport, comports}, {Blocksize, Numbers(1, 32)}, {Delay, Numbers(1, 25)}}));
    ExpectIdle();
    CloseWindow();  // no operation runs: nothing shown, nothing taken down
    EXPECT_TRUE(log == Log{"closed"} && dismissals == 0);
}

// A setting that cannot be used is refused before the port is opened; a
// port that cannot be opened is reported, the other button turned off and
// on again; a file not of 4096 bytes is refused, and Cancel in the open
// dialog leaves it, before anything is sent.  Either way the window stays
// idle.
TEST_F(FormTest, RefusesWhatItCannotUseAndStaysIdle) {
    test::WriteFile(Path("short.bin"), std::string(4095, 'x'));
    const std::string noPort =
        "Not able to Open selected Comport|Error|48|/nonexistent/port: no such port.";
    const Log fileLog{"Read off", "open dialog", "box", "Read on"};
    // The setting given, the button, the dialog's answers, the boxes, the log.
    const std::tuple<FormSetting, const char*, FormButton, Log, Log, Log> cases[] = {
        {Comport, "   ", Read, {}, {"Give a serial port*|Error|48|"}, {"box"}},
        {Blocksize, "0", Write, {}, {"Blocksize must be*|Error|48|"}, {"box"}},
        {Delay, "-1", Write, {}, {"Delay must be*|Error|48|"}, {"box"}},
        {Comport, "/nonexistent/port", Read, {}, {noPort}, {"box", "Write off", "Write on"}},
        {Comport, "/nonexistent/port", Write, {}, {noPort}, {"box", "Read off", "Read on"}},
        {Delay, "1", Write, {"short.bin"}, {"Wrong File size !|Error in filesize|16|"}, fileLog},
        {Delay, "1", Write, {""}, {}, {"Read off", "open dialog", "Read on"}},
    };
    for (const auto& [setting, text, button, chosen, shown, seen] : cases) {
        SCOPED_TRACE(testing::PrintToString(seen));
        const std::string kept = std::exchange(settings[setting], text);
        answers = chosen;
        Click(button);
        EXPECT_TRUE(Matches(std::exchange(log, {}), seen));
        ExpectIdle(shown);
        settings[setting] = kept;
    }
    EXPECT_EQ(Received(), "");
}

// A click on the running operation's button, at its first event processing,
// meets "Allready open" as a notice, which holds nothing; the other button
// is off meanwhile (a click on it would meet the notice too); the operation
// goes on to its end.
TEST_F(FormTest, ASecondClickMeetsTheBusyRuleAndTheOperationGoesOn) {
    for (const FormButton button : {Read, Write}) {
        const bool read = button == Read;
        SCOPED_TRACE(read ? "Read" : "Write");
        StartDevice();
        atNextEvents = [&] { Click(read ? Write : Read), Click(button); };  // off: nothing; nested
        answers = {read ? "k.bin" : "key.bin"};
        Click(button);
        // One request, from the first click; the operation's end.
        EXPECT_TRUE(read ? Received() == "\x05" && Saved("k.bin")
                         : Received(4097) == "\x06" + key_);
        ExpectIdle({"notice: Allready open||"}, read ? ReadDoneCaption : WriteDoneCaption);
    }
}

// A close during an operation.  While a Read's answer is on its way it is
// put off: the Read stops collecting, lets the rest of the answer come and
// go, then the window closes, and a Read right after it gets the buffer.
// Before the Read's request, in its save dialog, or before a Write's
// request (its open dialog) the operation stops at once.  Either way the
// view takes its boxes down and nothing is shown, sent or saved.
TEST_F(FormTest, ClosingDuringAReadOrBeforeAWriteRequestShowsAndSavesNothing) {
    enum When { AtFirstEvents, InTheDialog, AtFirstProgress };
    // The button, when the close comes, all the device ever receives, the log's end.
    const std::tuple<FormButton, When, std::string, Log> cases[] = {
        {Read, AtFirstEvents, "", {"Write off", "closed", "Write on"}},  // before the request
        {Read, InTheDialog, "\x05", {" 90 % Done ....", "save dialog", "closed", "Write on"}},
        {Write, InTheDialog, "", {"Read off", "open dialog", "closed", "Read on"}},
        {Read, AtFirstProgress, "\x05", {"close put off", "Write on", "closed"}},  // the answer
    };
    for (const auto& [button, when, sent, endLog] : cases) {
        SCOPED_TRACE(endLog[1]);
        StartDevice({}, 115200);  // paced, so that the answer is still on its way
        *std::array{&atNextEvents, &inDialog, &afterFirstCaption}[when] = [this] { CloseWindow(); };
        answers.assign(when == InTheDialog ? 1 : 0, "");  // what a dialog taken down gives
        Click(button);
        EXPECT_TRUE(dismissals == 1 && Received(sent.size()) == sent);
        EXPECT_TRUE(Matches(log, endLog, false));
        EXPECT_EQ(Files(), std::set<std::string>{"key.bin"});
        ExpectIdle();
    }
    answers = {"again.bin"};
    Click(Read);
    EXPECT_TRUE(Saved("again.bin"));
}

// Once a Write's request has gone out, a close is put off: the Write goes
// on to its end, a failure box included, and the logic then closes the
// window.  The device holds the file, or has said why not.
TEST_F(FormTest, ClosingDuringAWriteFinishesItFirst) {
    for (const bool lost : {false, true}) {
        SCOPED_TRACE(lost ? "lost" : "healthy");
        StartDevice(lost ? "hangup:1000" : "");
        afterFirstCaption = [this] { CloseWindow(); };
        answers = {"key.bin"};
        Click(Write);
        EXPECT_EQ(dismissals, 0);
        EXPECT_TRUE(log.size() > 3 && log[2] + "|" + log[3] == "  0 % Done|close put off");
        const Log end{lost ? "box" : "100 % Done", lost ? WindowCaption : WriteDoneCaption};
        EXPECT_TRUE(Matches(log, {end[0], end[1], "Read on", "closed"}, false));
        EXPECT_EQ(std::count(log.begin(), log.end(), "closed"), 1);
        EXPECT_TRUE(test::Eventually([&] { return device_->WritesCompleted() == (lost ? 0 : 1); }));
        EXPECT_TRUE(lost || device_->Buffer() == key_);
        ExpectIdle(lost ? Log{"The device was lost *"} : Log{});
    }
}

TEST_F(FormTest, ReadSavesTheBufferUnderTheNameWithItsExtensionOfferingAgainAfterAFailure) {
    bool held = false;  // the port stays held while the save dialog is up
    inDialog = [&] {
        held = form.comopened == True16 && ComHandle != port::InvalidHandle && !enabled[1];
    };
    answers = {"a"};
    Click(Read);
    EXPECT_TRUE(held && Saved("a.Bin"));
    EXPECT_EQ(filter, std::string("Bin File (*.bin)\0*.bin\0\0", 24));
    // Write is off from the open to the end; the caption comes first.
    Log expected = Numbers(10, 90, 10, " % Done ....", {"Write off"});
    expected.insert(expected.end(), {"save dialog", ReadDoneCaption, "Write on"});
    EXPECT_EQ(log, expected);
    EXPECT_EQ(Received(), "\x05");
    ExpectIdle();

    // Cancel in the save dialog saves nothing and keeps the last progress.
    answers = {""};
    Click(Read);
    EXPECT_EQ(Files(), (std::set<std::string>{"a.Bin", "key.bin"}));
    ExpectIdle({}, " 90 % Done ....");

    // A failed save is offered again until saved or given up.  The dialog
    // took "k"; the save to k.Bin fails, a folder is in the way.
    fs::create_directory(Path("k.Bin"));
    answers = {"k", "k2"};
    Click(Read);
    EXPECT_TRUE(Saved("k2.Bin"));
    ExpectIdle({"Could not save the Keybuffer to " + Path("k.Bin").string() +
                ": is a directory.|Error|16|Choose another name or folder. Cancel discards the "
                "Keybuffer."},
               ReadDoneCaption);
    // Offered again under the name that failed, extension and folder
    // included; the second time in the nearest folder that still exists,
    // as the one chosen went away before the save.
    answers = {"gone/deeper/k", ""};
    Click(Read);  // given up: nothing claimed
    const std::string ram = "Save Keybuffer To Bin file|Ram.Bin";
    const std::string again = "Save Keybuffer To Bin file|" + Path("k.Bin").string();
    EXPECT_EQ(dialogs, (Log{ram, ram, ram, again, ram, again}));
    EXPECT_EQ(Files(), (std::set<std::string>{"a.Bin", "k.Bin", "k2.Bin", "key.bin"}));
    ExpectIdle({"Could not save the Keybuffer to *"}, WindowCaption);
}

// A response cut short, not hex or overlong, no answer at all, or a device
// lost during a Read or a Write: reported with what to do next, nothing
// saved or claimed, the plain title back.  A lost Read shows the system's
// error number, the port and the reason under it, then the count.  A view
// that holds a Write between two blocks (at its event processing, no fault)
// longer than the device waits gets it given up, never "File Written !":
// the rest is not sent, and the box says to restart the device first.
TEST_F(FormTest, AFaultyDeviceIsReportedAndNothingClaimed) {
    const std::string lost =
        "The device was lost *|Error|16|*Switch it off and on (or reconnect it) before anything "
        "else, then write the file again.";
    const std::string incomplete = "Error in reading Keybuffer!|";
    const std::pair<const char*, Log> cases[] = {
        {"short:101", {incomplete + "101 Bytes read|16|"}},
        {"silent",
         {incomplete + "0 Bytes read|16|The device did not answer. Check the cable and its power. "
                       "A device whose write was interrupted may still be waiting for the rest of "
                       "it: switch it off and on, then read again."}},
        {"garbage:10",
         {"Invalid Keybuffer received: character 11 is not a hexadecimal digit.|Error|16|Nothing "
          "was saved."}},
        {"extra:2",
         {"The device's answer went on past the 8192 characters of a Keybuffer.|Error|16|It was "
          "still sending an earlier answer, or answered twice. Nothing was saved; wait a moment "
          "and read again."}},
        // "#": an error number, whose port and reason read PORT and REASON;
        // the count of a lost Read varies
        {"hangup:1001",
         {"#||0|Reading from PORT failed: REASON; the device is gone: reconnect it, then read "
          "again.",
          incomplete + "* Bytes read|16|"}},
        {"hangup:1000", {lost}},
        {"",
         {"The Write was held for * s between two blocks, longer than the device may wait.|Error|"
          "16|The device may hold a partly written Keybuffer. Switch it off and on (or reconnect "
          "it) before anything else, then write the file again."}},
    };
    for (const auto& [fault, shown] : cases) {
        SCOPED_TRACE(fault);
        StartDevice(fault);
        if (!*fault) {
            afterFirstCaption = [] {
                std::this_thread::sleep_for(std::chrono::milliseconds(HoldLimitMs + 200));
            };
        }
        const bool write = shown[0] == lost || !*fault;
        answers.assign(write ? 1 : 0, "key.bin");
        Click(write ? Write : Read);
        for (std::string& box : boxes) {  // an error number first: its reason after the port
            const unsigned long number = std::stoul("0" + box);
            const std::string said = std::to_string(number) + "||0|Reading from " +
                                     device_->PortPath() + " failed: " + port::ErrorText(number);
            if (box.starts_with(said)) {
                box = "#||0|Reading from PORT failed: REASON" + box.substr(said.size());
            }
        }
        EXPECT_EQ(Files(), std::set<std::string>{"key.bin"});
        EXPECT_TRUE(*fault || Received(17) == "\x06" + key_.substr(0, 16));
        EXPECT_EQ(device_->WritesCompleted(), 0);
        ExpectIdle(shown, WindowCaption);
    }
}

TEST_F(FormTest, WriteSendsTheFileInPacedBlocksWithProgress) {
    settings[Blocksize] = "100";
    settings[Delay] = "25";
    // At the block at 2001 the user edits both boxes: the Delay box is read
    // at every pause, the Blocksize once.
    onCaption = [this] {
        if (caption == " 49 % Done") {
            settings[Delay] = "70";
            settings[Blocksize] = "7";
        }
    };
    answers = {"key.bin"};
    Click(Write);
    EXPECT_EQ(dialogs, Log{"Select Keybuffer Bin file to write|6148"});
    EXPECT_EQ(filter, std::string("Bin Files(*.bin )\0*.bin\0\0", 25));
    EXPECT_TRUE(Received(4097) == "\x06" + key_);
    // Read is off from the open to the end; a caption after each of the 41
    // blocks, then the end's.
    ASSERT_EQ(log.size(), 2u + 41u + 2u);
    EXPECT_EQ(Log(log.begin(), log.begin() + 3), (Log{"Read off", "open dialog", "  0 % Done"}));
    EXPECT_TRUE(Matches(log, {" 98 % Done", WriteDoneCaption, "Read on"}, false));
    // The Delay box asked at the start and at every pause: after 0x06 and
    // after each block of 100 bytes, 25 ms up to the block at 2001, 70 ms
    // from there on.
    Log expectedDelays(1 + 21, "25");
    expectedDelays.resize(1 + 42, "70");
    EXPECT_EQ(delaysAsked, expectedDelays);
    ExpectIdle();
    EXPECT_TRUE(test::Eventually([&] { return device_->Buffer() == key_; }));  // all of it taken
}

TEST(CaptionRules, TheExtensionRule) {
    const std::pair<const char*, const char*> names[] = {
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
