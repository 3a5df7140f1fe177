// Reasons for C library error numbers.
#include "image/os_error.h"

#include <cctype>
#include <system_error>

namespace vantri::detail {

std::string ErrnoReason(int err) {
    // The C library's own text ("No space left on device"), lower-cased at
    // the front so it reads as the tail of a sentence.
    std::string text = std::generic_category().message(err);
    if (text.empty()) {
        return "error " + std::to_string(err);
    }
    text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
}

}  // namespace vantri::detail
