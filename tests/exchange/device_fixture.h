// A simulated device on a real pseudo-terminal, with the exchange port open
// on it, for the exchange tests.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <random>
#include <string>
#include <string_view>

#include "serial/exchange.h"
#include "serial/zrkCommModule.h"
#include "sim/devsim.h"

namespace vantri {

class DeviceTest : public ::testing::Test {
  protected:
    using Clock = std::chrono::steady_clock;

    // Starts the device (with `fault`, when given) and opens the port on it.
    void StartDevice(std::string_view fault = {}, std::string buffer = {}) {
        sim::Options options;
        options.buffer = std::move(buffer);
        if (!fault.empty()) {
            std::string error;
            const auto parsed = sim::ParseFault(fault, error);
            ASSERT_TRUE(parsed.has_value()) << error;
            options.faults.push_back(*parsed);
        }
        std::string error;
        device_ = sim::Simulator::Start(options, error);
        ASSERT_NE(device_, nullptr) << error;
        PortSetting port;
        port.numbered = false;
        port.device = device_->PortPath();
        ASSERT_EQ(OpenExchangePort(port), 0);
    }

    void TearDown() override {
        CloseComPort();
        device_.reset();
    }

    // 4096 bytes unlike the device's own, every byte value present.
    static std::string NewBuffer(unsigned variant) {
        std::mt19937 random(variant);
        std::string bytes(4096, '\0');
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            bytes[i] = static_cast<char>(i < 256 ? i : random() & 0xFF);
        }
        std::shuffle(bytes.begin(), bytes.end(), random);
        return bytes;
    }

    static double SecondsSince(Clock::time_point start) {
        return std::chrono::duration<double>(Clock::now() - start).count();
    }

    std::unique_ptr<sim::Simulator> device_;
};

}  // namespace vantri
