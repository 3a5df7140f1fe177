// Saving a key buffer file on POSIX: an owner-only temporary file, unnamed
// where the file system allows (Linux O_TMPFILE), flushed, then renamed over
// the target; leftovers of killed saves removed once their writer is gone.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>

#include "image/os_error.h"
#include "image/save_file_os.h"

namespace vantri::detail {

namespace {

namespace fs = std::filesystem;

// Follows symbolic links at the end of the path, so saving through a link
// writes the file the link names and the link stays a link.  A link to
// nothing leads to the file it names, which the save creates.
bool ResolveLinks(fs::path& file, std::string& reason) {
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code ec;
        if (!fs::is_symlink(fs::symlink_status(file, ec))) {
            return true;
        }
        const fs::path next = fs::read_symlink(file, ec);
        if (ec) {
            reason = ErrnoReason(ec.value());
            return false;
        }
        file = next.is_absolute() ? next : file.parent_path() / next;
    }
    reason = ErrnoReason(ELOOP);
    return false;
}

int LockExclusive(int fd) {
    while (::flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            return errno;
        }
    }
    return 0;
}

}  // namespace

// A writer holds an exclusive lock on its temporary file from before it has
// a name until it is renamed, so a named one whose lock can be taken has no
// writer any more.  What cannot be opened or locked is left alone.
void RemoveIfAbandoned(const fs::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    struct stat held {};
    struct stat named {};
    // Still the same file under that name once locked: not renamed into
    // place by a writer that finished meanwhile.
    if (::fstat(fd, &held) == 0 && S_ISREG(held.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
        ::lstat(file.c_str(), &named) == 0 && named.st_dev == held.st_dev &&
        named.st_ino == held.st_ino) {
        ::unlink(file.c_str());
    }
    ::close(fd);
}

namespace {

// The temporary file while it is being filled: locked for as long as it is
// open, owner-only, and closed and removed unless the save went through.
class TemporaryFile : NotCopied {
  public:
    ~TemporaryFile() {
        if (!path_.empty()) {
            ::unlink(path_.c_str());  // while still locked, so no one else removes it
        }
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }

    // Creates the file in `folder`, without a name where the file system
    // allows and `unnamed` is set.  Returns 0 or an errno.
    int Create(const fs::path& folder, bool unnamed) {
        folder_ = folder;
#ifdef O_TMPFILE
        if (unnamed) {
            fd_ = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
            if (fd_ >= 0) {
                return LockExclusive(fd_);
            }
            // Kernels and file systems without O_TMPFILE answer with these.
            if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
                return errno;
            }
        }
#else
        static_cast<void>(unnamed);
#endif
        for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
            fs::path candidate = folder_ / TemporaryName();
            fd_ =
                ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0600);
            if (fd_ < 0) {
                if (errno != EEXIST) {
                    return errno;
                }
                continue;
            }
            struct stat info {};
            if (const int err = LockExclusive(fd_); err != 0) {
                ::unlink(candidate.c_str());
                return err;
            }
            if (::fstat(fd_, &info) == 0 && info.st_nlink > 0) {
                path_ = std::move(candidate);
                return 0;
            }
            // Another save took it for abandoned before the lock was ours.
            ::close(fd_);
            fd_ = -1;
        }
        return EEXIST;
    }

    // Gives an unnamed file its temporary name.  Returns 0 or an errno.
    int Name() {
        if (!path_.empty()) {
            return 0;
        }
        const std::string self = "/proc/self/fd/" + std::to_string(fd_);
        for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
            fs::path candidate = folder_ / TemporaryName();
            // Through /proc for anyone; without /proc only a privileged
            // process may link a descriptor.
            if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, candidate.c_str(), AT_SYMLINK_FOLLOW) ==
                    0 ||
                (errno == ENOENT &&
                 ::linkat(fd_, "", AT_FDCWD, candidate.c_str(), AT_EMPTY_PATH) == 0)) {
                path_ = std::move(candidate);
                return 0;
            }
            if (errno != EEXIST) {
                return errno;
            }
        }
        return EEXIST;
    }

    int fd() const {
        return fd_;
    }
    bool named() const {
        return !path_.empty();
    }
    const fs::path& path() const {
        return path_;
    }

    // After the rename: the name now belongs to the target.  The file stays
    // open, and so locked, until then.
    void Keep() {
        path_.clear();
    }

  private:
    fs::path folder_;
    int fd_ = -1;
    fs::path path_;
};

int WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return 0;
}

// Makes the rename itself durable.  Best effort: some file systems refuse to
// sync a folder, and the new file is in place either way.
void SyncFolder(const fs::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// A save through an unnamed temporary file (when `unnamed`) or a named one.
// `retry` is set when an unnamed file could not be given a name, so the
// caller may try again with a named one.
SaveOutcome SaveVia(bool unnamed, const fs::path& target, const struct stat* old,
                    std::string_view bytes, const SaveProbe& probe, bool& retry) {
    const fs::path folder = FolderOf(target);
    TemporaryFile temp;
    if (const int err = temp.Create(folder, unnamed); err != 0) {
        return Failure(ErrnoReason(err));
    }
    if (const int err = WriteAll(temp.fd(), bytes); err != 0) {
        return Failure(ErrnoReason(err));
    }
    if (::fsync(temp.fd()) != 0) {
        return Failure(ErrnoReason(errno));
    }
    Notify(probe, SaveStep::Written);
    const bool wasNamed = temp.named();
    if (const int err = temp.Name(); err != 0) {
        retry = !wasNamed;
        return Failure(ErrnoReason(err));
    }
    Notify(probe, SaveStep::Named);
    if (old != nullptr) {
        // Given the old file's owner and mode only now, just before it
        // replaces it.  Owner first: a change of owner may clear mode bits
        // that fchmod then restores.  Only a privileged process may give a
        // file away, so a refusal leaves the file ours.
        if (old->st_uid != ::geteuid() || old->st_gid != ::getegid()) {
            if (::fchown(temp.fd(), old->st_uid, old->st_gid) != 0) {
                // keep our own owner
            }
        }
        if (::fchmod(temp.fd(), old->st_mode & 07777) != 0) {
            return Failure(ErrnoReason(errno));
        }
    }
    if (::rename(temp.path().c_str(), target.c_str()) != 0) {
        return Failure(ErrnoReason(errno));
    }
    temp.Keep();
    SyncFolder(folder);
    return SaveOutcome{true, {}};
}

}  // namespace

SaveOutcome SaveOnThisSystem(const fs::path& requested, std::string_view bytes,
                             const SaveProbe& probe) {
    fs::path target = requested;
    std::string reason;
    if (!ResolveLinks(target, reason)) {
        return Failure(reason);
    }

    struct stat old {};
    bool replacing = false;
    if (::stat(target.c_str(), &old) == 0) {
        if (S_ISDIR(old.st_mode)) {
            return Failure(ErrnoReason(EISDIR));
        }
        if (!S_ISREG(old.st_mode)) {
            return Failure("not a regular file");  // never swap out a device or FIFO
        }
        // A file its owner made read-only is not replaced behind their back,
        // even though the folder would allow the rename.
        if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
            return Failure(ErrnoReason(errno));
        }
        replacing = true;
    } else if (errno != ENOENT) {
        return Failure(ErrnoReason(errno));
    }

    RemoveAbandoned(FolderOf(target));
    bool retry = false;
    SaveOutcome outcome = SaveVia(true, target, replacing ? &old : nullptr, bytes, probe, retry);
    if (retry) {
        outcome = SaveVia(false, target, replacing ? &old : nullptr, bytes, probe, retry);
    }
    return outcome;
}

}  // namespace vantri::detail
