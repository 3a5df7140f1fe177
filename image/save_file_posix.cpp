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

namespace fs = std::filesystem;

namespace {

int LockExclusive(int fd) {
    while (::flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            return errno;
        }
    }
    return 0;
}

// The temporary file while it is being filled: locked for as long as it is
// open, owner-only, and closed and removed unless the save went through
// (after the rename `path` is cleared: the name belongs to the target).
struct Temporary : NotCopied {
    int fd = -1;
    fs::path path;  // empty while the file has no name
    ~Temporary() {
        if (!path.empty()) {
            ::unlink(path.c_str());  // while still locked, so no one else removes it
        }
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

// Creates `temp` in `folder`, without a name where the file system allows
// and `unnamed` is set.  Returns 0 or an errno.
int Create(Temporary& temp, const fs::path& folder, bool unnamed) {
#ifdef O_TMPFILE
    if (unnamed) {
        temp.fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
        if (temp.fd >= 0) {
            return LockExclusive(temp.fd);
        }
        // Kernels and file systems without O_TMPFILE answer with these.
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
            return errno;
        }
    }
#else
    static_cast<void>(unnamed);
#endif
    return TryFreshNames(folder, EEXIST, [&](const fs::path& candidate) {
        temp.fd =
            ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0600);
        if (temp.fd < 0) {
            return errno;
        }
        temp.path = candidate;
        const int err = LockExclusive(temp.fd);
        struct stat info {};
        if (err != 0 || (::fstat(temp.fd, &info) == 0 && info.st_nlink > 0)) {
            return err;
        }
        // Another save took it for abandoned before the lock was ours.
        temp.path.clear();
        ::close(temp.fd);
        temp.fd = -1;
        return EEXIST;
    });
}

// Gives an unnamed file its temporary name: through /proc for anyone;
// without /proc only a privileged process may link a descriptor.
int Name(Temporary& temp, const fs::path& folder) {
    const std::string self = "/proc/self/fd/" + std::to_string(temp.fd);
    return TryFreshNames(folder, EEXIST, [&](const fs::path& candidate) {
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, candidate.c_str(), AT_SYMLINK_FOLLOW) != 0 &&
            (errno != ENOENT ||
             ::linkat(temp.fd, "", AT_FDCWD, candidate.c_str(), AT_EMPTY_PATH) != 0)) {
            return errno;
        }
        temp.path = candidate;
        return 0;
    });
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

SaveOutcome SaveOnThisSystem(const fs::path& requested, std::string_view bytes,
                             const SaveProbe& probe) {
    // Symbolic links at the end of the path are followed, so saving through
    // a link writes the file the link names and the link stays a link.  A
    // link to nothing leads to the file it names, which the save creates.
    fs::path target = requested;
    for (int hops = 0;; ++hops) {
        std::error_code ec;
        if (!fs::is_symlink(fs::symlink_status(target, ec))) {
            break;
        }
        const fs::path next = fs::read_symlink(target, ec);
        if (ec || hops == 40) {
            return Failure(ErrnoReason(ec ? ec.value() : ELOOP));
        }
        target = next.is_absolute() ? next : target.parent_path() / next;
    }

    struct stat old {};
    const bool replacing = ::stat(target.c_str(), &old) == 0;
    if (!replacing && errno != ENOENT) {
        return Failure(ErrnoReason(errno));
    }
    if (replacing && !S_ISREG(old.st_mode)) {  // never swap out a device or FIFO
        return Failure(S_ISDIR(old.st_mode) ? ErrnoReason(EISDIR) : "not a regular file");
    }
    // A file its owner made read-only is not replaced behind their back,
    // even though the folder would allow the rename.
    if (replacing && ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
        return Failure(ErrnoReason(errno));
    }

    const fs::path folder = FolderOf(target);
    RemoveAbandoned(folder);
    // Through an unnamed temporary file first; one that cannot be given a
    // name sends the save round again with a named one.
    int err = 0;
    for (const bool unnamed : {true, false}) {
        Temporary temp;
        bool naming = false;
        err = [&] {
            if (const int e = Create(temp, folder, unnamed); e != 0) {
                return e;
            }
            for (std::string_view rest = bytes; !rest.empty();) {
                const ssize_t n = ::write(temp.fd, rest.data(), rest.size());
                if (n < 0 && errno != EINTR) {
                    return errno;
                }
                rest.remove_prefix(n < 0 ? 0 : static_cast<std::size_t>(n));
            }
            if (::fsync(temp.fd) != 0) {
                return errno;
            }
            probe(SaveStep::Written);
            naming = temp.path.empty();
            if (const int e = naming ? Name(temp, folder) : 0; e != 0) {
                return e;
            }
            naming = false;
            probe(SaveStep::Named);
            // Given the old file's owner and mode only now, just before it
            // replaces it.  Owner first: a change of owner may clear mode
            // bits that fchmod then restores.  Only a privileged process may
            // give a file away, so a refusal leaves the file ours.
            if (replacing && (old.st_uid != ::geteuid() || old.st_gid != ::getegid())) {
                static_cast<void>(::fchown(temp.fd, old.st_uid, old.st_gid) == 0);
            }
            if (replacing && ::fchmod(temp.fd, old.st_mode & 07777) != 0) {
                return errno;
            }
            if (::rename(temp.path.c_str(), target.c_str()) != 0) {
                return errno;
            }
            temp.path.clear();
            // Makes the rename itself durable.  Best effort: some file
            // systems refuse to sync a folder, and the new file is in place.
            if (const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
                dir >= 0) {
                ::fsync(dir);
                ::close(dir);
            }
            return 0;
        }();
        if (!naming) {
            break;
        }
    }
    return err == 0 ? SaveOutcome{true, {}} : Failure(ErrnoReason(err));
}

}  // namespace vantri::detail
