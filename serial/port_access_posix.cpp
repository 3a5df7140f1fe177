#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cstdio>

#include "serial/port_access.h"

namespace vantri {
namespace {

std::string UserName(uid_t uid) {
    const passwd* user = ::getpwuid(uid);
    return user != nullptr ? user->pw_name : "user " + std::to_string(uid);
}

}  // namespace

const char* PortAccessDeniedText() {
    return "permission denied";
}

std::string PortAccessAdvice(const std::string& device) {
    struct stat info {};
    if (device.empty() || ::stat(device.c_str(), &info) != 0) {
        return "check who may open it (ls -l " + device + ")";
    }
    const std::string owner = UserName(info.st_uid);
    // Linux gives pseudo-terminal ends the character-device majors 136 to 143.
    if (S_ISCHR(info.st_mode) && ::major(info.st_rdev) >= 136 && ::major(info.st_rdev) <= 143) {
        return "it is a pseudo-terminal of " + owner +
               ", which only they can open; run as that user";
    }
    const group* g = ::getgrgid(info.st_gid);
    const std::string groupName =
        g != nullptr ? g->gr_name : "group " + std::to_string(info.st_gid);
    if ((info.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP) && info.st_gid != 0) {
        return "add your user to the " + groupName + " group (sudo usermod -aG " + groupName +
               " $USER), log in again and retry";
    }
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
    return "only " + owner + " may open it (mode " + mode + "); run as " + owner +
           " or ask an administrator for access";
}

}  // namespace vantri
