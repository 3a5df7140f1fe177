#include "serial/settings.h"

#include <gtest/gtest.h>

#include <string>

namespace vantri {
namespace {

// What a setting's text means ("port COM3", "device /dev/ttyUSB0", a
// number), or "" when it is refused; a refusal is one sentence for the user.
TEST(Settings, TextsAndWhatTheyMean) {
    const auto port = [](const char* text, std::string& error) -> std::string {
        const auto port = ParsePortSetting(text, error);
        return port ? (port->numbered ? "port " : "device ") + port->Name() : "";
    };
    const auto blocksize = [](const char* text, std::string& error) {
        const auto value = ParseBlocksize(text, error);
        return value ? std::to_string(*value) : "";
    };
    const auto delay = [](const char* text, std::string& error) {
        const auto value = ParseDelay(text, error);
        return value ? std::to_string(*value) : "";
    };
    const struct {
        std::string (*box)(const char*, std::string&);
        const char* text;
        const char* meaning;
    } cases[] = {
        // clang-format off
        {port, "3", "port COM3"}, {port, "com7", "port COM7"}, {port, " cOm10 ", "port COM10"},
        {port, "-1", "port COM-1"}, {port, "+5", "port COM5"}, {port, "32767", "port COM32767"},
        {port, "-32768", "port COM-32768"}, {port, "  /dev/pts/4  ", "device /dev/pts/4"},
        {port, "COM", "device COM"}, {port, "3.5", "device 3.5"}, {port, "32768", ""},
        {port, "COM99999", ""}, {port, "   \t", ""}, {blocksize, "16", "16"},
        {blocksize, "\t32767\n", "32767"}, {blocksize, "+3", "3"}, {blocksize, "0", ""},
        {blocksize, "32768", ""}, {blocksize, "1.5", ""}, {blocksize, "1 6", ""},
        {blocksize, "99999999999999999999", ""}, {delay, "0", "0"},
        {delay, "2147483647", "2147483647"}, {delay, "2147483648", ""}, {delay, "4294967295", ""},
        {delay, "ten", ""}, {delay, "1e3", ""},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << '"' << c.text << '"');
        std::string error = "stale";
        EXPECT_EQ(c.box(c.text, error), c.meaning);
        EXPECT_EQ(error.empty() ? "" : error.substr(error.size() - 1), *c.meaning ? "" : ".");
    }
}

}  // namespace
}  // namespace vantri
