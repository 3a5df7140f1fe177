// Saving a key buffer file: temporary file, flush, rename over the target.
#include "image/save_file.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <new>
#include <random>
#include <system_error>

#include "image/os_error.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace vantri {

namespace {

namespace fs = std::filesystem;

SaveOutcome Failure(std::string reason) {
    return SaveOutcome{false, std::move(reason)};
}

// A name no other save picks: random, with a counter and the clock mixed in
// for platforms whose random_device is weak.  Short and fixed in form, so it
// fits in any folder whatever the length of the target's own name, and a
// leftover from a crash says what it is.
std::string TemporaryName() {
    static std::atomic<std::uint64_t> counter{0};
    std::random_device device;
    std::uint64_t bits = (std::uint64_t{device()} << 32) ^ device();
    bits ^= static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    bits += 0x9E3779B97F4A7C15ull * ++counter;
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string name = ".vantri-save-";
    for (int shift = 60; shift >= 0; shift -= 4) {
        name.push_back(kDigits[(bits >> shift) & 0xF]);
    }
    name += ".tmp";
    return name;
}

fs::path FolderOf(const fs::path& file) {
    fs::path folder = file.parent_path();
    return folder.empty() ? fs::path(".") : folder;
}

// Attempts at a fresh temporary name before giving up; a clash is already
// next to impossible.
constexpr int kNameAttempts = 16;

#ifndef _WIN32

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
            reason = detail::ErrnoReason(ec.value());
            return false;
        }
        file = next.is_absolute() ? next : file.parent_path() / next;
    }
    reason = detail::ErrnoReason(ELOOP);
    return false;
}

// The temporary file while it is being filled: closed and removed unless
// the save went through.
class TemporaryFile {
  public:
    TemporaryFile() = default;
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        CloseQuietly();
        if (!path_.empty()) {
            ::unlink(path_.c_str());
        }
    }

    // Creates a new file in `folder`, owner-only.  Returns 0 or an errno.
    int Create(const fs::path& folder) {
        for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
            fs::path candidate = folder / TemporaryName();
            fd_ =
                ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0600);
            if (fd_ >= 0) {
                path_ = std::move(candidate);
                return 0;
            }
            if (errno != EEXIST) {
                return errno;
            }
        }
        return EEXIST;
    }

    int fd() const { return fd_; }
    const fs::path& path() const { return path_; }

    // Closes the file, reporting what close reports (a network file system
    // may only tell of a failed write here).  Returns 0 or an errno.
    int Close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0 ? 0 : errno;
    }

    // After the rename: the name now belongs to the target.
    void Keep() { path_.clear(); }

  private:
    void CloseQuietly() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }

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

SaveOutcome Save(const fs::path& requested, std::string_view bytes) {
    fs::path target = requested;
    std::string reason;
    if (!ResolveLinks(target, reason)) {
        return Failure(reason);
    }

    struct stat old {};
    bool replacing = false;
    if (::stat(target.c_str(), &old) == 0) {
        if (S_ISDIR(old.st_mode)) {
            return Failure(detail::ErrnoReason(EISDIR));
        }
        if (!S_ISREG(old.st_mode)) {
            return Failure("not a regular file");  // never swap out a device or FIFO
        }
        // A file its owner made read-only is not replaced behind their back,
        // even though the folder would allow the rename.
        if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
            return Failure(detail::ErrnoReason(errno));
        }
        replacing = true;
    } else if (errno != ENOENT) {
        return Failure(detail::ErrnoReason(errno));
    }

    const fs::path folder = FolderOf(target);
    TemporaryFile temp;
    if (const int err = temp.Create(folder); err != 0) {
        return Failure(detail::ErrnoReason(err));
    }
    if (replacing) {
        // Owner first: a change of owner may clear mode bits that fchmod then
        // restores.  Only a privileged process may give a file away, so a
        // refusal leaves the file ours.
        if (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) {
            if (::fchown(temp.fd(), old.st_uid, old.st_gid) != 0) {
                // keep our own owner
            }
        }
        if (::fchmod(temp.fd(), old.st_mode & 07777) != 0) {
            return Failure(detail::ErrnoReason(errno));
        }
    }
    if (const int err = WriteAll(temp.fd(), bytes); err != 0) {
        return Failure(detail::ErrnoReason(err));
    }
    if (::fsync(temp.fd()) != 0) {
        return Failure(detail::ErrnoReason(errno));
    }
    if (const int err = temp.Close(); err != 0) {
        return Failure(detail::ErrnoReason(err));
    }
    if (::rename(temp.path().c_str(), target.c_str()) != 0) {
        return Failure(detail::ErrnoReason(errno));
    }
    temp.Keep();
    SyncFolder(folder);
    return SaveOutcome{true, {}};
}

#else  // _WIN32

class TemporaryFile {
  public:
    TemporaryFile() = default;
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        CloseQuietly();
        if (!path_.empty()) {
            DeleteFileW(path_.c_str());
        }
    }

    // Creates a new file in `folder`.  Returns 0 or a Win32 error code.
    DWORD Create(const fs::path& folder) {
        for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
            fs::path candidate = folder / TemporaryName();
            handle_ = CreateFileW(candidate.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
            if (handle_ != INVALID_HANDLE_VALUE) {
                path_ = std::move(candidate);
                return 0;
            }
            const DWORD err = GetLastError();
            if (err != ERROR_FILE_EXISTS && err != ERROR_ALREADY_EXISTS) {
                return err;
            }
        }
        return ERROR_FILE_EXISTS;
    }

    HANDLE handle() const { return handle_; }
    const fs::path& path() const { return path_; }

    DWORD Close() {
        const HANDLE h = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return CloseHandle(h) ? 0 : GetLastError();
    }

    void Keep() { path_.clear(); }

  private:
    void CloseQuietly() {
        if (handle_ != INVALID_HANDLE_VALUE) {
            CloseHandle(handle_);
            handle_ = INVALID_HANDLE_VALUE;
        }
    }

    HANDLE handle_ = INVALID_HANDLE_VALUE;
    fs::path path_;
};

DWORD WriteAll(HANDLE h, std::string_view bytes) {
    while (!bytes.empty()) {
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        DWORD written = 0;
        if (!WriteFile(h, bytes.data(), want, &written, nullptr)) {
            return GetLastError();
        }
        bytes.remove_prefix(written);
    }
    return 0;
}

// The new file takes the folder's inherited permissions, as any file saved
// on Windows does; a read-only target is refused rather than replaced.
SaveOutcome Save(const fs::path& target, std::string_view bytes) {
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            return Failure("is a directory");
        }
        if (attributes & FILE_ATTRIBUTE_READONLY) {
            return Failure("permission denied");
        }
    }
    TemporaryFile temp;
    if (const DWORD err = temp.Create(FolderOf(target)); err != 0) {
        return Failure(detail::WindowsErrorReason(err));
    }
    if (const DWORD err = WriteAll(temp.handle(), bytes); err != 0) {
        return Failure(detail::WindowsErrorReason(err));
    }
    if (!FlushFileBuffers(temp.handle())) {
        return Failure(detail::WindowsErrorReason(GetLastError()));
    }
    if (const DWORD err = temp.Close(); err != 0) {
        return Failure(detail::WindowsErrorReason(err));
    }
    if (!MoveFileExW(temp.path().c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return Failure(detail::WindowsErrorReason(GetLastError()));
    }
    temp.Keep();
    return SaveOutcome{true, {}};
}

#endif

}  // namespace

SaveOutcome SaveBinFile(const std::filesystem::path& target, std::string_view bytes) {
    if (target.empty() || !target.has_filename()) {
        return Failure("no file name");
    }
    try {
        return Save(target, bytes);
    } catch (const std::bad_alloc&) {
        return Failure("out of memory");
    }
}

}  // namespace vantri
