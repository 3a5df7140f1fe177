#include "serial/settings.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace vantri {
namespace {

struct PortCase {
    const char* text;
    bool ok;
    bool numbered;
    int number;
    const char* device;
};

TEST(PortSetting, TextsAndWhatTheyMean) {
    const PortCase cases[] = {
        {"3", true, true, 3, ""},
        {"  12\t", true, true, 12, ""},
        {"COM7", true, true, 7, ""},
        {"com7", true, true, 7, ""},
        {" cOm10 ", true, true, 10, ""},
        {"0", true, true, 0, ""},
        {"-1", true, true, -1, ""},
        {"+5", true, true, 5, ""},
        {"32767", true, true, 32767, ""},
        {"-32768", true, true, -32768, ""},
        {"/dev/ttyUSB0", true, false, 0, "/dev/ttyUSB0"},
        {"  /dev/pts/4  ", true, false, 0, "/dev/pts/4"},
        {"COM", true, false, 0, "COM"},
        {"COMx", true, false, 0, "COMx"},
        {"3.5", true, false, 0, "3.5"},
        {"32768", false, false, 0, ""},
        {"COM99999", false, false, 0, ""},
        {"-32769", false, false, 0, ""},
        {"", false, false, 0, ""},
        {"   \t", false, false, 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("text \"") + c.text + "\"");
        std::string error = "stale";
        const auto port = ParsePortSetting(c.text, error);
        ASSERT_EQ(port.has_value(), c.ok);
        if (!c.ok) {
            EXPECT_FALSE(error.empty());
            EXPECT_EQ(error.back(), '.');  // one sentence
            continue;
        }
        EXPECT_TRUE(error.empty());
        EXPECT_EQ(port->numbered, c.numbered);
        if (c.numbered) {
            EXPECT_EQ(port->number, c.number);
            EXPECT_EQ(port->Name(), "COM" + std::to_string(c.number));
        } else {
            EXPECT_EQ(port->device, c.device);
            EXPECT_EQ(port->Name(), c.device);
        }
    }
}

TEST(Blocksize, WholeNumbersFromOneTo32767) {
    const std::pair<const char*, std::optional<int>> cases[] = {
        {"16", 16},
        {" 1 ", 1},
        {"32767", 32767},
        {"\t100\n", 100},
        {"+3", 3},
        {"0", std::nullopt},
        {"-1", std::nullopt},
        {"32768", std::nullopt},
        {"1.5", std::nullopt},
        {"16k", std::nullopt},
        {"", std::nullopt},
        {"1 6", std::nullopt},
        {"99999999999999999999", std::nullopt},
    };
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(std::string("text \"") + text + "\"");
        std::string error;
        EXPECT_EQ(ParseBlocksize(text, error), expected);
        if (expected) {
            EXPECT_TRUE(error.empty());
        } else {
            EXPECT_EQ(error, "Blocksize must be a whole number from 1 to 32767.");
        }
    }
}

TEST(Delay, WholeMillisecondsFromZeroTo2147483647) {
    const std::pair<const char*, std::optional<std::uint32_t>> cases[] = {
        {"10", 10u},
        {"0", 0u},
        {" 25 ", 25u},
        {"2147483647", 2147483647u},
        {"2147483648", std::nullopt},
        {"4294967295", std::nullopt},
        {"-1", std::nullopt},
        {"ten", std::nullopt},
        {"1e3", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(std::string("text \"") + text + "\"");
        std::string error;
        EXPECT_EQ(ParseDelay(text, error), expected);
        EXPECT_EQ(error.empty(), expected.has_value());
    }
}

}  // namespace
}  // namespace vantri
