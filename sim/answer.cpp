#include "sim/answer.h"

#include <algorithm>

namespace vantri::sim {

std::string HexText(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        text.push_back(kDigits[b >> 4]);
        text.push_back(kDigits[b & 0x0F]);
    }
    return text;
}

Answer PlanAnswer(std::string_view buffer, const std::vector<Fault>& faults) {
    Answer answer;
    const std::string hex = HexText(buffer);
    answer.text = hex;
    // Extra characters continue the buffer's hex text from its start, so they
    // look like more of a valid answer: only the count tells them apart.
    for (const Fault& f : faults) {
        if (f.kind == Fault::Kind::Extra && f.n > 0) {
            for (std::uint32_t i = 0; i < f.n; ++i) {
                answer.text.push_back(hex[i % hex.size()]);
            }
            answer.events.push_back("fault " + FaultText(f) + ": " + std::to_string(f.n) +
                                    " characters after the answer");
        }
    }
    for (const Fault& f : faults) {
        if (f.kind == Fault::Kind::Garbage && f.n < answer.text.size()) {
            answer.text[f.n] = 'G';
            answer.events.push_back("fault " + FaultText(f) + ": character " + std::to_string(f.n) +
                                    " sent as G");
        }
    }
    for (const Fault& f : faults) {
        if (f.kind == Fault::Kind::Short && f.n < answer.text.size()) {
            answer.text.resize(f.n);
            answer.events.push_back("fault " + FaultText(f) + ": answer cut to " +
                                    std::to_string(f.n) + " characters");
        }
    }
    for (const Fault& f : faults) {
        if (f.kind == Fault::Kind::Stall && f.n < answer.text.size()) {
            answer.stalls.push_back({f.n, f.ms});
        }
    }
    std::stable_sort(answer.stalls.begin(), answer.stalls.end(),
                     [](const Stall& a, const Stall& b) { return a.after < b.after; });
    for (const Fault& f : faults) {
        if (f.kind == Fault::Kind::Double && !answer.text.empty()) {
            const std::size_t once = answer.text.size();
            answer.text += answer.text.substr(0, once);
            const std::size_t stalls = answer.stalls.size();
            for (std::size_t i = 0; i < stalls; ++i) {
                answer.stalls.push_back({answer.stalls[i].after + once, answer.stalls[i].ms});
            }
            answer.events.push_back("fault double: the answer sent twice");
            break;
        }
    }
    return answer;
}

}  // namespace vantri::sim
