// Saving a key buffer file on Windows: a temporary file held open and
// unshared while it is filled, flushed, then moved over the target;
// leftovers of killed saves removed once their writer is gone.
#include <windows.h>

#include <algorithm>
#include <string>
#include <system_error>

#include "image/os_error.h"
#include "image/save_file_os.h"

namespace vantri::detail {

namespace {

namespace fs = std::filesystem;

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
            // Shared for deletion only, so the rename can go ahead while the
            // handle stays open; any other open is refused until it closes.
            handle_ = CreateFileW(candidate.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
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

// Removes the temporary files in `folder` whose save was killed.  A writer
// keeps its temporary file open until it is renamed, and an exclusive open
// fails while it does, so a file that opens here has no writer any more.
void RemoveAbandoned(const fs::path& folder) {
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path file = it->path();
        if (!IsTemporaryName(file.filename().string())) {
            continue;
        }
        const HANDLE h =
            CreateFileW(file.c_str(), DELETE, 0, nullptr, OPEN_EXISTING,
                        FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            CloseHandle(h);  // and so removes it
        }
    }
}

}  // namespace

// The new file takes the folder's inherited permissions, as any file saved
// on Windows does; a read-only target is refused rather than replaced.
SaveOutcome SaveOnThisSystem(const fs::path& target, std::string_view bytes,
                             const SaveProbe& probe) {
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            return Failure("is a directory");
        }
        if (attributes & FILE_ATTRIBUTE_READONLY) {
            return Failure("permission denied");
        }
    }
    RemoveAbandoned(FolderOf(target));
    TemporaryFile temp;
    if (const DWORD err = temp.Create(FolderOf(target)); err != 0) {
        return Failure(WindowsErrorReason(err));
    }
    if (const DWORD err = WriteAll(temp.handle(), bytes); err != 0) {
        return Failure(WindowsErrorReason(err));
    }
    if (!FlushFileBuffers(temp.handle())) {
        return Failure(WindowsErrorReason(GetLastError()));
    }
    if (probe) {
        probe(SaveStep::Written);
        probe(SaveStep::Named);  // it has had its name from the start
    }
    if (!MoveFileExW(temp.path().c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return Failure(WindowsErrorReason(GetLastError()));
    }
    temp.Keep();  // closed on the way out; the bytes are flushed and in place
    return SaveOutcome{true, {}};
}

}  // namespace vantri::detail
