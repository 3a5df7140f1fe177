#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "image/access_advice.h"

namespace vantri {

namespace {

std::string UserName(uid_t uid) {
    const passwd* user = ::getpwuid(uid);
    return user != nullptr ? user->pw_name : "user " + std::to_string(uid);
}

std::string Mode(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

}  // namespace

std::string FileAccessAdvice(const std::filesystem::path& file, const std::string& shown) {
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0) {
        return "a folder on its way does not let you in; ask that folder's owner";
    }
    const std::string owner = UserName(info.st_uid);
    if (info.st_uid == ::geteuid()) {
        return "it is your file, but its mode " + Mode(info.st_mode) +
               " does not let you read it: chmod u+r " + shown;
    }
    return "it belongs to " + owner + " (mode " + Mode(info.st_mode) + "); ask " + owner +
           " for a copy, or run as " + owner;
}

}  // namespace vantri
