// A view of the window's logic for tests: it records what the logic shows
// (captions, enabling, boxes, dialogs) and answers the dialogs from a
// script, with the real serial backend, files and a simulated device on a
// real pseudo-terminal behind the logic.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "form/Form1.h"
#include "serial/zrkCommModule.h"
#include "tests/common/sim_device.h"

namespace vantri {

namespace fs = std::filesystem;

inline bool operator==(const FormMessage& a, const FormMessage& b) {
    return a.text == b.text && a.title == b.title && a.icon == b.icon && a.detail == b.detail;
}

// A file dialog as the logic asked for it.
struct DialogSeen {
    std::string kind;  // "open" or "save"
    std::string filter;
    std::uint32_t flags = 0;
    std::string title;
    fs::path proposed;
};

class ScriptedView : public FormView {
  public:
    // What the user does in a dialog: the name chosen, "" for Cancel.
    using Answer = std::function<fs::path(const DialogSeen&)>;

    // The boxes' texts, from the defaults every window starts with.
    std::map<FormSetting, std::string> settings{
        {FormSetting::Comport, DefaultSettingText(FormSetting::Comport)},
        {FormSetting::Blocksize, DefaultSettingText(FormSetting::Blocksize)},
        {FormSetting::Delay, DefaultSettingText(FormSetting::Delay)}};
    std::map<FormSetting, std::vector<std::string>> choices;
    bool enabled[2] = {true, true};  // Read, Write
    std::string caption = "  Vantri Key Writer";
    // What the user saw, in order: "Write off", "Write on" (changes only),
    // "box: <text>", "save dialog", "open dialog", and every caption.
    std::vector<std::string> log;
    std::vector<std::string> captions;
    std::vector<FormMessage> boxes;
    std::vector<DialogSeen> dialogs;
    std::deque<Answer> answers;  // one per dialog to come
    int unanswered = 0;          // dialogs that came with no answer left
    int dismissals = 0;
    std::function<void()> atNextEvents;                 // run once, at the next events
    std::function<void(const std::string&)> onCaption;  // at every caption

    Form1 form{*this};

    // A click on an enabled button reaches the logic, as in a real window.
    void Click(FormButton button) {
        if (!enabled[static_cast<int>(button)]) {
            return;
        }
        button == FormButton::Read ? form.Command4_Click() : form.Command3_Click();
    }
    // Seconds until the click came back.
    double Run(FormButton button) {
        const auto start = std::chrono::steady_clock::now();
        Click(button);
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    void Close() {
        std::int16_t cancel = False16;
        form.Form_Unload(cancel);
    }

    void SetCaption(const std::string& text) override {
        caption = text;
        captions.push_back(text);
        log.push_back(text);
        if (onCaption) {
            const auto call = onCaption;  // it may replace itself
            call(text);
        }
    }
    void SetButtonEnabled(FormButton button, bool on) override {
        bool& state = enabled[static_cast<int>(button)];
        if (state != on) {
            log.push_back(std::string(button == FormButton::Read ? "Read" : "Write") +
                          (on ? " on" : " off"));
        }
        state = on;
    }
    std::string SettingText(FormSetting setting) override { return settings[setting]; }
    void SetSettingChoices(FormSetting setting, const std::vector<std::string>& items) override {
        choices[setting] = items;
    }
    void ShowMessage(const FormMessage& message) override {
        boxes.push_back(message);
        log.push_back("box: " + message.text);
    }
    fs::path ShowOpenDialog(const std::string& filter, std::uint32_t flags,
                            const std::string& title) override {
        return Dialog({"open", filter, flags, title, {}});
    }
    fs::path ShowSaveDialog(const std::string& filter, const fs::path& defaultName,
                            const std::string& title) override {
        return Dialog({"save", filter, 0, title, defaultName});
    }
    void ProcessEvents() override {
        if (auto act = std::exchange(atNextEvents, nullptr)) {
            act();
        }
    }
    void DismissModals() override { ++dismissals; }

  private:
    fs::path Dialog(const DialogSeen& seen) {
        dialogs.push_back(seen);
        log.push_back(seen.kind + " dialog");
        if (answers.empty()) {
            ++unanswered;
            return {};
        }
        const Answer answer = std::move(answers.front());
        answers.pop_front();
        return answer(seen);
    }
};

// The logic with its scripted view, a temporary folder for key files and
// the simulated device on a pty.
class FormTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string name = (fs::temp_directory_path() / "vantri-form-XXXXXX").string();
        ASSERT_NE(::mkdtemp(name.data()), nullptr);
        folder_ = name;
    }
    void TearDown() override {
        CloseComPort();
        device_.reset();
        fs::remove_all(folder_);
    }

    // Starts the device and points the Comport box at it.
    void StartDevice(std::string_view fault = {}, std::uint32_t lineRate = 0) {
        std::string error;
        device_ = StartSimDevice(fault, {}, lineRate, error);
        ASSERT_NE(device_, nullptr) << error;
        view_.settings[FormSetting::Comport] = device_->PortPath();
    }

    fs::path Path(const std::string& name) const { return folder_ / name; }
    // A dialog answer: the user chooses `name` in the folder.
    ScriptedView::Answer Choosing(const std::string& name) const {
        return [path = Path(name)](const DialogSeen&) { return path; };
    }
    static fs::path Cancel(const DialogSeen&) { return {}; }

    std::vector<std::string> FilesInFolder() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder_)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    static std::string Contents(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static void WriteFile(const fs::path& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
        ASSERT_EQ(fs::file_size(path), bytes.size());
    }

    // Sizes and the first difference, not thousands of escaped bytes.
    static ::testing::AssertionResult SameBytes(const std::string& got, const std::string& want) {
        if (got == want) {
            return ::testing::AssertionSuccess();
        }
        const auto at = std::mismatch(got.begin(), got.end(), want.begin(), want.end()).first;
        return ::testing::AssertionFailure() << got.size() << " bytes, expected " << want.size()
                                             << "; first difference at " << (at - got.begin());
    }

    // What the device received, as bytes, once it has `atLeast` of them (the
    // simulator reads the line on its own thread) or 20 s have passed.
    std::string Received(std::size_t atLeast = 0) const {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        std::vector<sim::Received> received = device_->ReceivedBytes();
        while (received.size() < atLeast && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            received = device_->ReceivedBytes();
        }
        std::string bytes;
        for (const sim::Received& r : received) {
            bytes += static_cast<char>(r.byte);
        }
        return bytes;
    }

    // The logic is idle: port closed, not busy, both buttons usable, every
    // dialog answered as scripted.
    void ExpectIdle() const {
        EXPECT_EQ(view_.form.comopened, False16);
        EXPECT_EQ(ComHandle, port::InvalidHandle);
        EXPECT_TRUE(view_.enabled[0] && view_.enabled[1]);
        EXPECT_TRUE(view_.form.KeyFileName.empty());
        EXPECT_TRUE(view_.answers.empty());
        EXPECT_EQ(view_.unanswered, 0);
    }

    fs::path folder_;
    ScriptedView view_;
    std::unique_ptr<sim::Simulator> device_;
};

}  // namespace vantri
