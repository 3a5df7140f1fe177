// File names between Qt's dialogs and the file system.
#pragma once

#include <QFile>
#include <QString>
#include <filesystem>

namespace vantri {

inline std::filesystem::path LocalPath(const QString& name) {
#ifdef _WIN32
    return std::filesystem::path(name.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(name).toStdString());
#endif
}

inline QString QtPath(const std::filesystem::path& path) {
#ifdef _WIN32
    return QString::fromStdWString(path.native());
#else
    return QFile::decodeName(QByteArray::fromStdString(path.native()));
#endif
}

}  // namespace vantri
