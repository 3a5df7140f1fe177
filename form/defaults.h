// What every start begins with, the same in the window and in vantri-key:
// the settings (Comport 1, Blocksize 16 bytes, Delay 10 ms) and the name a
// Read proposes for its file.  Nothing is stored between runs.
#pragma once

#include <array>
#include <string>

#include "form/form_view.h"

namespace vantri {

inline constexpr char DefaultComport[] = "1";
inline constexpr char DefaultBlocksize[] = "16";
inline constexpr char DefaultDelay[] = "10";
inline constexpr char DefaultKeyFileName[] = "Ram.Bin";

// What a settings box holds when the window opens.
inline std::string DefaultSettingText(FormSetting setting) {
    return std::array{DefaultComport, DefaultBlocksize, DefaultDelay}[static_cast<int>(setting)];
}

}  // namespace vantri
