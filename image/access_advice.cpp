#include "image/access_advice.h"

#ifndef _WIN32
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#endif

namespace vantri {

#ifdef _WIN32

std::string PortAccessAdvice(const std::string&) {
    return "another program may hold the port, close it and try again";
}

std::string FileAccessAdvice(const std::filesystem::path&, const std::string&) {
    return "the file's owner or an administrator can give you read access";
}

#else

namespace {

std::string UserName(uid_t uid) {
    const passwd* user = ::getpwuid(uid);
    return user != nullptr ? user->pw_name : "user " + std::to_string(uid);
}

std::string GroupName(gid_t gid) {
    const group* g = ::getgrgid(gid);
    return g != nullptr ? g->gr_name : "group " + std::to_string(gid);
}

std::string Mode(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// Linux gives pseudo-terminal ends the character-device majors 136 to 143.
bool IsPseudoTerminal(const struct stat& info) {
    return S_ISCHR(info.st_mode) && ::major(info.st_rdev) >= 136 && ::major(info.st_rdev) <= 143;
}

}  // namespace

std::string PortAccessAdvice(const std::string& device) {
    struct stat info {};
    if (device.empty() || ::stat(device.c_str(), &info) != 0) {
        return "check who may open it (ls -l " + device + ")";
    }
    if (IsPseudoTerminal(info)) {
        return "it is a pseudo-terminal of " + UserName(info.st_uid) +
               ", which only they can open; run as that user";
    }
    const std::string groupName = GroupName(info.st_gid);
    if ((info.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP) && info.st_gid != 0) {
        return "add your user to the " + groupName + " group (sudo usermod -aG " + groupName +
               " $USER), log in again and retry";
    }
    return "only " + UserName(info.st_uid) + " may open it (mode " + Mode(info.st_mode) +
           "); run as " + UserName(info.st_uid) + " or ask an administrator for access";
}

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

#endif

}  // namespace vantri
