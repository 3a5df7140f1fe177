#include "serial/settings.h"

#include <gtest/gtest.h>

#include <string>

namespace vantri {
namespace {

enum class Box { Port, Blocksize, Delay };

// What a setting's text means ("port COM3", "device /dev/ttyUSB0", a
// number), or "" when it is refused.
std::string Meaning(Box box, const char* text, std::string& error) {
    if (box == Box::Port) {
        const auto port = ParsePortSetting(text, error);
        return port ? (port->numbered ? "port " : "device ") + port->Name() : "";
    }
    if (box == Box::Blocksize) {
        const auto blocksize = ParseBlocksize(text, error);
        return blocksize ? std::to_string(*blocksize) : "";
    }
    const auto delay = ParseDelay(text, error);
    return delay ? std::to_string(*delay) : "";
}

TEST(Settings, TextsAndWhatTheyMean) {
    using enum Box;
    const struct {
        Box box;
        const char* text;
        const char* meaning;
    } cases[] = {
        // clang-format off
        {Port, "3", "port COM3"}, {Port, "com7", "port COM7"}, {Port, " cOm10 ", "port COM10"},
        {Port, "-1", "port COM-1"}, {Port, "+5", "port COM5"}, {Port, "32767", "port COM32767"},
        {Port, "-32768", "port COM-32768"}, {Port, "  /dev/pts/4  ", "device /dev/pts/4"},
        {Port, "COM", "device COM"}, {Port, "3.5", "device 3.5"}, {Port, "32768", ""},
        {Port, "COM99999", ""}, {Port, "   \t", ""}, {Blocksize, "16", "16"},
        {Blocksize, "\t32767\n", "32767"}, {Blocksize, "+3", "3"}, {Blocksize, "0", ""},
        {Blocksize, "32768", ""}, {Blocksize, "1.5", ""}, {Blocksize, "1 6", ""},
        {Blocksize, "99999999999999999999", ""}, {Delay, "0", "0"},
        {Delay, "2147483647", "2147483647"}, {Delay, "2147483648", ""}, {Delay, "4294967295", ""},
        {Delay, "ten", ""}, {Delay, "1e3", ""},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "box " << static_cast<int>(c.box) << " \"" << c.text << '"');
        std::string error = "stale";
        EXPECT_EQ(Meaning(c.box, c.text, error), c.meaning);
        if (*c.meaning != '\0') {
            EXPECT_EQ(error, "");
        } else {
            // One sentence for the user.
            ASSERT_FALSE(error.empty());
            EXPECT_EQ(error.back(), '.');
        }
    }
}

}  // namespace
}  // namespace vantri
