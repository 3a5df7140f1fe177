// One-line JSON objects for vantri-key's --json output.
//
// A production log takes one object per run (or one array for `ports`), so
// the writer is small: string, number and true/false members, added in
// order, with the strings escaped as JSON requires.  Well-formed UTF-8 is
// passed through as it is; a byte that is part of no UTF-8 sequence (a file
// name in Latin-1, say) is written as the \u00XX escape of that byte, the
// character it is in Latin-1, so that every line parses.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vantri::cli {

class JsonObject {
  public:
    JsonObject& Add(std::string_view key, std::string_view text);
    JsonObject& Add(std::string_view key, const char* text) {
        return Add(key, std::string_view(text));
    }
    JsonObject& Add(std::string_view key, long long number);
    JsonObject& Add(std::string_view key, double number);
    JsonObject& Add(std::string_view key, bool flag);
    std::string Text() const;  // "{...}"

  private:
    JsonObject& Member(std::string_view key, const std::string& value);
    std::string members_;
};

std::string JsonArray(const std::vector<JsonObject>& items);

}  // namespace vantri::cli
