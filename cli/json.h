// One-line JSON for vantri-key's --json output.
//
// A production log takes one object per run (or one array for `ports`), so
// the writer is small: an object is its members in order, each value already
// JSON (a JsonString, a number, true or false).  Strings are escaped as JSON
// requires.  Well-formed UTF-8 is passed through as it is; a byte that is
// part of no UTF-8 sequence (a file name in Latin-1, say) is written as the
// \u00XX escape of that byte, the character it is in Latin-1, so that every
// line parses.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vantri::cli {

// `text` quoted and escaped.
std::string JsonString(std::string_view text);

// {"key": value, ...}
std::string JsonObject(const std::vector<std::pair<const char*, std::string>>& members);

}  // namespace vantri::cli
