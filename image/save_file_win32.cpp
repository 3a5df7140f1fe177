// Saving a key buffer file on Windows: an owner-only temporary file, marked
// for deletion from its creation and held open unshared while it is filled
// and flushed, then unmarked and moved over the target; leftovers of killed
// saves removed once their writer is gone.
#include <windows.h>

#include <algorithm>
#include <string>
#include <system_error>
#include <vector>

#include "image/os_error.h"
#include "image/save_file_os.h"

namespace vantri::detail {

namespace {

namespace fs = std::filesystem;

// Security attributes for a new file whose DACL, protected from the
// folder's inheritable entries, grants everything to the user this process
// runs as and nothing to anyone else: the twin of mode 0600.  The user's own
// SID, not OWNER RIGHTS: wine turns an OWNER RIGHTS entry into mode 0000.
class OwnerOnly {
  public:
    OwnerOnly() = default;
    OwnerOnly(const OwnerOnly&) = delete;
    OwnerOnly& operator=(const OwnerOnly&) = delete;

    // Returns 0 or a Win32 error code.
    DWORD Make() {
        HANDLE token = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
            return GetLastError();
        }
        DWORD size = 0;
        GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        user_.resize(size);
        const bool known =
            size > 0 && GetTokenInformation(token, TokenUser, user_.data(), size, &size);
        const DWORD err = GetLastError();
        CloseHandle(token);
        if (!known) {
            return err;
        }
        const PSID sid = reinterpret_cast<const TOKEN_USER*>(user_.data())->User.Sid;
        acl_.resize(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(sid));
        auto* acl = reinterpret_cast<ACL*>(acl_.data());
        if (!InitializeAcl(acl, static_cast<DWORD>(acl_.size()), ACL_REVISION) ||
            !AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, sid) ||
            !InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
            !SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) ||
            !SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
            return GetLastError();
        }
        attributes_ = {sizeof attributes_, &descriptor_, FALSE};
        return 0;
    }

    SECURITY_ATTRIBUTES* attributes() { return &attributes_; }

  private:
    std::vector<unsigned char> user_;  // the TOKEN_USER with the SID
    std::vector<unsigned char> acl_;
    SECURITY_DESCRIPTOR descriptor_{};
    SECURITY_ATTRIBUTES attributes_{};
};

// The temporary file while it is being filled.  Marked for deletion from
// its creation until just before the rename, so whatever ends the process
// meanwhile, a kill included, the system removes the file with its handle.
class TemporaryFile : NotCopied {
  public:
    ~TemporaryFile() {
        if (handle_ == INVALID_HANDLE_VALUE) {
            return;
        }
        // Marked again after a rename that failed.
        const bool goes = kept_ || MarkForDeletion(true);
        CloseHandle(handle_);
        if (!goes) {
            DeleteFileW(path_.c_str());
        }
    }

    // Creates a new file in `folder` with `security`.  Returns 0 or a Win32
    // error code.
    DWORD Create(const fs::path& folder, SECURITY_ATTRIBUTES* security) {
        for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
            fs::path candidate = folder / TemporaryName();
            // Shared for deletion only, so the rename can go ahead while the
            // handle stays open; any other open is refused until it closes.
            handle_ = CreateFileW(candidate.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_DELETE,
                                  security, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (handle_ != INVALID_HANDLE_VALUE) {
                path_ = std::move(candidate);
                if (!MarkForDeletion(true)) {
                    const DWORD err = GetLastError();
                    CloseHandle(handle_);
                    handle_ = INVALID_HANDLE_VALUE;
                    DeleteFileW(path_.c_str());
                    return err;
                }
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

    // Just before the rename: the file is to outlive its handle.
    bool Unmark() { return MarkForDeletion(false); }
    // After the rename: the file under the target's name stays.
    void Keep() { kept_ = true; }

  private:
    bool MarkForDeletion(bool marked) {
        FILE_DISPOSITION_INFO disposition{static_cast<BOOLEAN>(marked ? TRUE : FALSE)};
        return SetFileInformationByHandle(handle_, FileDispositionInfo, &disposition,
                                          sizeof disposition) != 0;
    }

    HANDLE handle_ = INVALID_HANDLE_VALUE;
    fs::path path_;
    bool kept_ = false;
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

}  // namespace

// Left behind only where the system could not remove it itself: killed
// between the unmarking and the rename, or by an older version that did not
// mark it.  A writer keeps its temporary file open until it is renamed, and
// an exclusive open fails while it does (a marked one cannot be opened at
// all), so a file that opens here has no writer any more.
void RemoveIfAbandoned(const fs::path& file) {
    const HANDLE h = CreateFileW(file.c_str(), DELETE, 0, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        CloseHandle(h);  // and so removes it
    }
}

// The new file is owner-only whether or not it replaces another: an
// existing file's permissions are not carried over, as they may include
// what the folder grants everyone.  A read-only target is refused rather
// than replaced.
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
    OwnerOnly owner;
    if (const DWORD err = owner.Make(); err != 0) {
        return Failure(WindowsErrorReason(err));
    }
    RemoveAbandoned(FolderOf(target));
    TemporaryFile temp;
    if (const DWORD err = temp.Create(FolderOf(target), owner.attributes()); err != 0) {
        return Failure(WindowsErrorReason(err));
    }
    if (const DWORD err = WriteAll(temp.handle(), bytes); err != 0) {
        return Failure(WindowsErrorReason(err));
    }
    if (!FlushFileBuffers(temp.handle())) {
        return Failure(WindowsErrorReason(GetLastError()));
    }
    Notify(probe, SaveStep::Written);
    // A process that ends from here to the rename leaves the file for the
    // next save's sweep; still marked, the file would go with its handle.
    if (!temp.Unmark()) {
        return Failure(WindowsErrorReason(GetLastError()));
    }
    Notify(probe, SaveStep::Named);  // it has had its name from the start
    if (!MoveFileExW(temp.path().c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return Failure(WindowsErrorReason(GetLastError()));
    }
    temp.Keep();  // closed on the way out; the bytes are flushed and in place
    return SaveOutcome{true, {}};
}

}  // namespace vantri::detail
