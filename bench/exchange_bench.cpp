// The key buffer exchanges and their pauses, on the real serial link against
// the simulated device on a pseudo-terminal.
//
// The time column is the wall time of one call; the counters say where it
// goes: how far pauses overshoot what was asked, and how far an exchange
// runs past the floor its line rate or its pauses set.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "image/hexfileHandle.h"
#include "serial/exchange.h"
#include "serial/pause.h"
#include "serial/zrkCommModule.h"
#include "sim/devsim.h"

namespace {

using Clock = std::chrono::steady_clock;

double MsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

double Ms(std::chrono::microseconds us) {
    return std::chrono::duration<double, std::milli>(us).count();
}

// A simulated device with the exchange port open on it; the port is closed
// before the device goes.
class Device {
  public:
    explicit Device(std::uint32_t lineRate) {
        vantri::sim::Options options;
        options.lineRate = lineRate;
        sim_ = vantri::sim::Simulator::Start(options, error_);
        if (sim_ == nullptr) {
            error_ = "simulator: " + error_;
            return;
        }
        vantri::PortSetting port;
        port.numbered = false;
        port.device = sim_->PortPath();
        if (const std::int32_t step = vantri::OpenExchangePort(port); step != 0) {
            error_ = "OpenExchangePort failed at step " + std::to_string(step);
            sim_.reset();
        }
    }
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;
    ~Device() {
        vantri::CloseComPort();
        sim_.reset();
    }

    // Empty when the port is open on a running device.
    const std::string& Error() const { return error_; }
    vantri::sim::Simulator& Sim() { return *sim_; }

  private:
    std::unique_ptr<vantri::sim::Simulator> sim_;
    std::string error_;
};

// The device stores a write once all its bytes have arrived, which may be a
// moment after the exchange returned.
bool WaitForWrites(const vantri::sim::Simulator& device, int count) {
    const auto until = Clock::now() + std::chrono::seconds(5);
    while (device.WritesCompleted() < count) {
        if (Clock::now() > until) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// 4096 bytes unlike the device's own, so a write that did not arrive shows.
std::string NewBuffer() {
    std::string bytes(vantri::KeyBufferSize, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>((i * 13 + 101) & 0xFF);
    }
    return bytes;
}

// PauseMs(ms), with the fine timer slack of PrecisePauses when range(1) is 1.
void BM_PauseMs(benchmark::State& state) {
    const auto ms = static_cast<std::uint32_t>(state.range(0));
    std::optional<vantri::PrecisePauses> precise;
    if (state.range(1) != 0) {
        precise.emplace();
    }
    double sum = 0;
    double worst = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        vantri::PauseMs(ms);
        const double overshoot = MsBetween(start, Clock::now()) - ms;
        if (overshoot < 0) {
            state.SkipWithError("PauseMs returned before its time");
            break;
        }
        sum += overshoot;
        worst = std::max(worst, overshoot);
    }
    const auto n = static_cast<double>(std::max<benchmark::IterationCount>(state.iterations(), 1));
    state.counters["overshoot_us"] = sum / n * 1000.0;
    state.counters["overshoot_max_us"] = worst * 1000.0;
}
BENCHMARK(BM_PauseMs)
    ->ArgNames({"ms", "precise"})
    ->Args({1, 0})
    ->Args({1, 1})
    ->Args({10, 0})
    ->Args({10, 1})
    ->Iterations(100)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// ReadKeyBuffer against a device answering at range(0) baud (0: unpaced,
// which leaves the exchange's own cost).  8192 characters at 10 bits each
// take 0.711 s at 115200 baud.
void BM_ReadExchange(benchmark::State& state) {
    const auto lineRate = static_cast<std::uint32_t>(state.range(0));
    Device device(lineRate);
    if (!device.Error().empty()) {
        state.SkipWithError(device.Error().c_str());
        return;
    }
    const std::string expected = device.Sim().Buffer();
    const double floorMs =
        lineRate == 0 ? 0.0
                      : vantri::ResponseLength * 10.0 * 1000.0 / static_cast<double>(lineRate);
    double overFloor = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        const vantri::ReadOutcome outcome = vantri::ReadKeyBuffer({});
        overFloor += MsBetween(start, Clock::now()) - floorMs;
        if (outcome.status != vantri::ExchangeStatus::Done) {
            state.SkipWithError("the read exchange did not end Done");
            break;
        }
        if (outcome.keyBuffer != expected) {
            state.SkipWithError("the read exchange brought another buffer");
            break;
        }
    }
    const auto n = static_cast<double>(std::max<benchmark::IterationCount>(state.iterations(), 1));
    state.counters["over_floor_ms"] = overFloor / n;
}
BENCHMARK(BM_ReadExchange)
    ->ArgName("baud")
    ->Arg(115200)
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadExchange)
    ->ArgName("baud")
    ->Arg(0)
    ->Iterations(10)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// WriteKeyBuffer in blocks of 16 with a pause of range(0) ms: 257 pauses,
// after 0x06 and after each of the 256 blocks.  The device's timestamps give
// each pause as the line saw it: the gap before the first byte of a block
// minus the delay (the pause after the last block shows only in the total).
void BM_WriteExchange(benchmark::State& state) {
    constexpr int blockSize = 16;
    constexpr std::size_t perWrite = vantri::KeyBufferSize + 1;  // 0x06 and the buffer
    const auto delay = static_cast<std::uint32_t>(state.range(0));
    Device device(0);
    if (!device.Error().empty()) {
        state.SkipWithError(device.Error().c_str());
        return;
    }
    const std::string buffer = NewBuffer();
    vantri::sim::Simulator& sim = device.Sim();
    double total = 0;
    int writes = 0;
    double pauseSum = 0;
    double pauseWorst = 0;
    int pauses = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        const vantri::WriteOutcome outcome = vantri::WriteKeyBuffer(buffer, blockSize, delay, {});
        total += MsBetween(start, Clock::now());
        state.PauseTiming();
        if (outcome.status != vantri::ExchangeStatus::Done) {
            state.SkipWithError("the write exchange did not end Done");
            return;
        }
        ++writes;
        if (!WaitForWrites(sim, writes) || sim.Buffer() != buffer) {
            state.SkipWithError("the device did not store the buffer written");
            return;
        }
        // The device keeps the records of its latest write.
        const std::vector<vantri::sim::Received> received = sim.ReceivedBytes();
        bool same = received.size() == perWrite && received[0].byte == vantri::WriteRequest;
        for (std::size_t i = 1; same && i < perWrite; ++i) {
            same = received[i].byte == static_cast<std::uint8_t>(buffer[i - 1]);
        }
        if (!same) {
            state.SkipWithError("the device received other bytes than 0x06 and the buffer");
            return;
        }
        // The device stamps each read of the pty, so only the gaps that
        // follow a pause say something; the bytes of a block arrive together.
        for (std::size_t i = 1; i < perWrite; i += blockSize) {
            const double gap = Ms(received[i].at - received[i - 1].at);
            pauseSum += gap - delay;
            pauseWorst = std::max(pauseWorst, gap - delay);
            ++pauses;
        }
        state.ResumeTiming();
    }
    const double floorMs = 257.0 * delay;
    state.counters["over_floor_ms"] = total / writes - floorMs;
    state.counters["pause_overshoot_ms"] = pauseSum / pauses;
    state.counters["pause_overshoot_max_ms"] = pauseWorst;
}
BENCHMARK(BM_WriteExchange)
    ->ArgName("delay")
    ->Arg(10)
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteExchange)
    ->ArgName("delay")
    ->Arg(0)
    ->Iterations(5)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
