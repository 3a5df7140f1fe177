// What to tell a user refused a key file on POSIX: whose file it is and its
// mode.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "image/access_advice.h"

namespace vantri {

std::string FileAccessAdvice(const std::filesystem::path& file, const std::string& shown) {
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0) {
        return "a folder on its way does not let you in; ask that folder's owner";
    }
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
    if (info.st_uid == ::geteuid()) {
        return "it is your file, but its mode " + std::string(mode) +
               " does not let you read it: chmod u+r " + shown;
    }
    const passwd* user = ::getpwuid(info.st_uid);
    const std::string owner =
        user != nullptr ? user->pw_name : "user " + std::to_string(info.st_uid);
    return "it belongs to " + owner + " (mode " + mode + "); ask " + owner +
           " for a copy, or run as " + owner;
}

}  // namespace vantri
