// What the device sends in answer to a read request, with the fault modes
// that bend a response (short, stall, garbage, extra, double) applied.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sim/devsim.h"

namespace vantri::sim {

inline constexpr std::size_t KeyBufferSize = 4096;
inline constexpr std::size_t ResponseLength = 2 * KeyBufferSize;
// Upper bound on the characters extra:N may add, so a typo cannot make the
// device build a response of gigabytes.
inline constexpr std::uint32_t MaxExtra = 1u << 20;

// Two upper-case hex digits per byte, high digit first.
std::string HexText(std::string_view bytes);

struct Stall {
    std::size_t after;  // characters sent before the pause
    std::uint32_t ms;
};

struct Answer {
    std::string text;                 // every character that will be sent
    std::vector<Stall> stalls;        // in order of `after`
    std::vector<std::string> events;  // one line per fault applied, for the log
};

Answer PlanAnswer(std::string_view buffer, const std::vector<Fault>& faults);

}  // namespace vantri::sim
