// The texts the operations put into the window caption, and the extension
// rule of a saved key buffer file.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace vantri {

inline constexpr char WindowCaption[] = "  Vantri Key Writer";
inline constexpr char ReadDoneCaption[] = "   File read!";
inline constexpr char WriteDoneCaption[] = "   File Written !";

// After read k (1..4096) of a Read: " 10 % Done ...." at k = 410, 820, ...,
// 3690, nothing at any other k.
std::optional<std::string> ReadProgressCaption(int k);

// After the block starting at byte p (from 1) of a Write: the percentage
// (p + 16) * 100 / 4096 right-aligned in three places, then " % Done".
std::string WriteProgressCaption(int p);

// A name whose fourth character from the end is not "." gets ".Bin" added;
// any other keeps its extension, whatever it is.
std::filesystem::path WithBinExtension(const std::filesystem::path& name);

}  // namespace vantri
