// The window's logic at rest, what it refuses before an operation begins,
// the caption texts and the extension rule.
#include "form/captions.h"
#include "scripted_view.h"

namespace vantri {
namespace {

std::vector<std::string> Numbers(int count) {
    std::vector<std::string> items;
    for (int i = 1; i <= count; ++i) {
        items.push_back(std::to_string(i));
    }
    return items;
}

TEST_F(FormTest, StartsIdleAndGivesTheListItems) {
    view_.form.Form_Load();
    // Comport: 1 to 9, then this machine's ports by name.
    std::vector<std::string> comports = Numbers(9);
    for (const port::PortInfo& info : port::ListPorts()) {
        comports.push_back(info.name);
    }
    EXPECT_EQ(view_.choices, (std::map<FormSetting, std::vector<std::string>>{
                                 {FormSetting::Comport, comports},
                                 {FormSetting::Blocksize, Numbers(32)},
                                 {FormSetting::Delay, Numbers(25)}}));
    EXPECT_TRUE(view_.form.KeyImage.empty());
    EXPECT_TRUE(view_.log.empty());
    ExpectIdle();
    // A close with no operation running shows nothing and takes nothing down.
    view_.Close();
    EXPECT_TRUE(view_.log.empty());
    EXPECT_EQ(view_.dismissals, 0);
}

// A setting that cannot be used is refused before the port is opened; a
// port that cannot be opened is reported, and the other button is turned
// off and on again.  Either way the window stays idle, the caption as it was.
TEST_F(FormTest, UnusableSettingsAndAPortThatCannotBeOpenedLeaveItIdle) {
    StartDevice();
    struct Case {
        FormSetting setting;
        const char* text;
        FormButton button;
        const char* says;  // the start of the box's text
    };
    const char* const noPort = "Not able to Open selected Comport";
    const Case cases[] = {
        {FormSetting::Comport, "   ", FormButton::Read, "Give a serial port"},
        {FormSetting::Blocksize, "0", FormButton::Write, "Blocksize must be"},
        {FormSetting::Blocksize, "12x", FormButton::Write, "Blocksize must be"},
        {FormSetting::Delay, "-1", FormButton::Write, "Delay must be"},
        {FormSetting::Comport, "/nonexistent/port", FormButton::Read, noPort},
        {FormSetting::Comport, "/nonexistent/port", FormButton::Write, noPort},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const std::string kept = view_.settings[c.setting];
        view_.settings[c.setting] = c.text;
        view_.log.clear();
        view_.boxes.clear();
        view_.Run(c.button);  // no dialog may follow
        ASSERT_EQ(view_.boxes.size(), 1u);
        const FormMessage& box = view_.boxes[0];
        EXPECT_EQ(box.text.rfind(c.says, 0), 0u) << box.text;
        // The port and the reason go under the box's own text.
        EXPECT_EQ(box.detail, c.says == noPort ? "/nonexistent/port: no such port." : "");
        EXPECT_EQ(box.title, "Error");
        EXPECT_EQ(box.icon, MessageIcon::Warning);
        std::vector<std::string> log{"box: " + box.text};
        if (c.says == noPort) {  // the other button goes off and on again
            const std::string other = c.button == FormButton::Read ? "Write" : "Read";
            log.insert(log.end(), {other + " off", other + " on"});
        }
        EXPECT_EQ(view_.log, log);
        ExpectIdle();
        view_.settings[c.setting] = kept;
    }
    EXPECT_TRUE(SameBytes(Received(), ""));
    EXPECT_TRUE(view_.captions.empty());
}

// The read progress texts are seen whole in the Read's captions.
TEST(CaptionRules, WriteProgressAndTheExtensionRule) {
    const std::pair<int, const char*> writes[] = {
        {1, "  0 % Done"}, {33, "  1 % Done"}, {4065, " 99 % Done"}, {4081, "100 % Done"}};
    for (const auto& [p, caption] : writes) {
        EXPECT_EQ(WriteProgressCaption(p), caption) << p;
    }
    const std::pair<const char*, const char*> names[] = {
        {"C:\\keys\\a", "C:\\keys\\a.Bin"},
        {"C:\\keys\\a.bin", "C:\\keys\\a.bin"},
        {"a.c", "a.c.Bin"},
        {"abc", "abc.Bin"},
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
