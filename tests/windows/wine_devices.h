// What the Windows tests share: the simulated devices that scripts/test-windows
// maps to COM ports, and whether wine runs the tests.
//
// Each COM port below is a vantri-devsim of its own on a Linux pty; the
// script maps the ports through wine's registry before the tests run.  The
// device on COM1 holds the default buffer between tests: a test that writes
// another buffer writes the default one back before it ends.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>

namespace vantri::wintest {

inline constexpr std::int16_t GoodPort = 1;            // answers reads, takes writes
inline constexpr std::int16_t GoodPortHigh = 12;       // the COM1 device once more, as COM12
inline constexpr std::int16_t WriteHangupPort = 2;     // hangs up after 100 bytes
inline constexpr std::int16_t SilentPort = 3;          // never answers a read request
inline constexpr std::int16_t ReadHangupPort = 5;      // hangs up after 0x05 and 1000 characters
inline constexpr std::int16_t ReadLostPort = 6;        // the same, for a first window
inline constexpr std::int16_t LastByteHangupPort = 7;  // hangs up at a write's last byte
inline constexpr std::int16_t ReadLostPortAgain = 8;   // as ReadLostPort, for a second window
inline constexpr std::int16_t AbsentPort = 200;        // mapped to nothing

inline constexpr int ReadHangupBytes = 1001;

// Byte i = (i * 7 + 3) mod 256: what the devices start with.
std::string DefaultBuffer();

// True once the COM1 device has saved `buffer` as the last one it received,
// waiting up to 20 s; the script names its file (VANTRI_WINE_SIM_SAVE).
bool GoodPortSaved(const std::string& buffer);

// Milliseconds since `start`.
inline long long ElapsedMs(std::chrono::steady_clock::time_point start) {
    return (std::chrono::steady_clock::now() - start) / std::chrono::milliseconds(1);
}

}  // namespace vantri::wintest
