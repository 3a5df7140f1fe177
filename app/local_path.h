// A file name from a dialog as the file system wants it.
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

}  // namespace vantri
