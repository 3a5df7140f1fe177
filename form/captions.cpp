#include "form/captions.h"

#include "image/hexfileHandle.h"

namespace vantri {
namespace {

// The right-most `count` characters of `text` (all of it when shorter).
std::string RightMost(const std::string& text, std::size_t count) {
    return count >= text.size() ? text : text.substr(text.size() - count);
}

}  // namespace

std::optional<std::string> ReadProgressCaption(int k) {
    if (k <= 409 || k % 410 != 0) {
        return std::nullopt;
    }
    return RightMost("   " + std::to_string(k * 100 / KeyBufferSize) + " % Done ....", 15);
}

std::string WriteProgressCaption(int p) {
    return RightMost("   " + std::to_string((p + 16) * 100 / KeyBufferSize) + " % Done", 10);
}

std::filesystem::path WithBinExtension(const std::filesystem::path& name) {
    // The name as the system spells it, counted in characters: UTF-16 units
    // on Windows, UTF-8 sequences elsewhere, where a continuation byte
    // belongs to the character before it.
    const std::filesystem::path::string_type& text = name.native();
    int characters = 0;
    for (std::size_t i = text.size(); i-- > 0;) {
        if (sizeof(text[i]) == 1 && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) {
            continue;
        }
        if (++characters == 4) {
            if (text[i] == '.') {
                return name;
            }
            break;
        }
    }
    return std::filesystem::path(name) += ".Bin";
}

}  // namespace vantri
