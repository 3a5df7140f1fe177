// File names between Qt's dialogs and the file system.  Qt speaks UTF-8 of
// file names on Linux; std::filesystem takes UTF-8 as char8_t on every
// system, so the same two lines serve wherever the window is built.
#pragma once

#include <QString>
#include <filesystem>
#include <string>

namespace vantri {

inline std::filesystem::path LocalPath(const QString& name) {
    const QByteArray utf8 = name.toUtf8();
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

inline QString QtPath(const std::filesystem::path& path) {
    const std::u8string utf8 = path.u8string();
    return QString::fromUtf8(reinterpret_cast<const char*>(utf8.data()),
                             static_cast<qsizetype>(utf8.size()));
}

}  // namespace vantri
