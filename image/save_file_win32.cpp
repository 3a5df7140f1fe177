// Saving a key buffer file on Windows: an owner-only temporary file, marked
// for deletion from its creation and held open unshared while it is filled
// and flushed, then unmarked and moved over the target; leftovers of killed
// saves removed once their writer is gone.
#include <windows.h>

#include <algorithm>
#include <string>

#include "image/os_error.h"
#include "image/save_file_os.h"

namespace vantri::detail {

namespace fs = std::filesystem;

namespace {

// Security attributes for a new file whose DACL, protected from the
// folder's inheritable entries, grants everything to the user this process
// runs as and nothing to anyone else: the twin of mode 0600.  The user's own
// SID, not OWNER RIGHTS: wine turns an OWNER RIGHTS entry into mode 0000.
struct OwnerOnly : NotCopied {
    alignas(TOKEN_USER) unsigned char user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    alignas(
        ACL) unsigned char acl[sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE];
    SECURITY_DESCRIPTOR descriptor{};
    SECURITY_ATTRIBUTES attributes{sizeof attributes, &descriptor, FALSE};

    // Returns 0 or a Win32 error code.
    DWORD Make() {
        HANDLE token = nullptr;
        DWORD size = 0;
        auto* list = reinterpret_cast<ACL*>(acl);
        // The SID is read from `user` only once the token has filled it in.
        const bool made =
            OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) &&
            GetTokenInformation(token, TokenUser, user, sizeof user, &size) &&
            InitializeAcl(list, sizeof acl, ACL_REVISION) &&
            AddAccessAllowedAce(list, ACL_REVISION, FILE_ALL_ACCESS,
                                reinterpret_cast<TOKEN_USER*>(user)->User.Sid) &&
            InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
            SetSecurityDescriptorDacl(&descriptor, TRUE, list, FALSE) &&
            SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
        const DWORD err = made ? 0 : GetLastError();
        if (token != nullptr) {
            CloseHandle(token);
        }
        return err;
    }
};

// The temporary file while it is being filled.  Marked for deletion from
// its creation until just before the rename, so whatever ends the process
// meanwhile, a kill included, the system removes the file with its handle.
struct Temporary : NotCopied {
    HANDLE handle = INVALID_HANDLE_VALUE;
    fs::path path;
    bool kept = false;  // after the rename: the file under the target's name stays

    ~Temporary() {
        if (handle == INVALID_HANDLE_VALUE) {
            return;
        }
        const bool goes = kept || Mark(true);  // marked again after a rename that failed
        CloseHandle(handle);
        if (!goes) {
            DeleteFileW(path.c_str());
        }
    }

    bool Mark(bool marked) {
        FILE_DISPOSITION_INFO disposition{static_cast<BOOLEAN>(marked ? TRUE : FALSE)};
        return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                          sizeof disposition) != 0;
    }

    // Creates a new file in `folder` with `security`.  Returns 0 or a Win32
    // error code.
    DWORD Create(const fs::path& folder, SECURITY_ATTRIBUTES* security) {
        return TryFreshNames(folder, DWORD{ERROR_FILE_EXISTS}, [&](const fs::path& candidate) {
            // Shared for deletion only, so the rename can go ahead while the
            // handle stays open; any other open is refused until it closes.
            handle = CreateFileW(candidate.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_DELETE,
                                 security, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (handle == INVALID_HANDLE_VALUE) {
                const DWORD err = GetLastError();
                return err == ERROR_ALREADY_EXISTS ? DWORD{ERROR_FILE_EXISTS} : err;
            }
            path = candidate;
            return Mark(true) ? DWORD{0} : GetLastError();
        });
    }
};

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
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
        return Failure((attributes & FILE_ATTRIBUTE_DIRECTORY) ? "is a directory"
                                                               : "permission denied");
    }
    OwnerOnly owner;
    Temporary temp;
    const DWORD err = [&]() -> DWORD {
        if (const DWORD e = owner.Make(); e != 0) {
            return e;
        }
        RemoveAbandoned(FolderOf(target));
        if (const DWORD e = temp.Create(FolderOf(target), &owner.attributes); e != 0) {
            return e;
        }
        for (std::string_view rest = bytes; !rest.empty();) {
            const DWORD want = static_cast<DWORD>(std::min<std::size_t>(rest.size(), 1u << 30));
            DWORD written = 0;
            if (!WriteFile(temp.handle, rest.data(), want, &written, nullptr)) {
                return GetLastError();
            }
            rest.remove_prefix(written);
        }
        if (!FlushFileBuffers(temp.handle)) {
            return GetLastError();
        }
        probe(SaveStep::Written);
        // A process that ends from here to the rename leaves the file for the
        // next save's sweep; still marked, the file would go with its handle.
        if (!temp.Mark(false)) {
            return GetLastError();
        }
        probe(SaveStep::Named);  // it has had its name from the start
        if (!MoveFileExW(temp.path.c_str(), target.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            return GetLastError();
        }
        temp.kept = true;  // closed on the way out; the bytes are flushed and in place
        return 0;
    }();
    return err == 0 ? SaveOutcome{true, {}} : Failure(WindowsErrorReason(err));
}

}  // namespace vantri::detail
