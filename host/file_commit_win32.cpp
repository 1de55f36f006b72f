// Replacing a scene file in one step on Windows (platform side of the seam).
#include "scene/file_commit.h"

#include <io.h>
#include <cstdio>
#include <windows.h>

namespace plexa::scene {

namespace {

// Another program has the file open and does not share it the way we ask:
// sync, backup and indexing programs let go again after a moment. Replacing
// a file open without delete sharing is answered with "access denied", the
// same as a lack of rights, so that is tried again too.
bool heldByAnotherProgram(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_ACCESS_DENIED;
}

Move moved(BOOL done) {
    if (done) return Move::Done;
    return heldByAnotherProgram(GetLastError()) ? Move::Held : Move::Refused;
}

int64_t fileTimeValue(const FILETIME& time) {
    return static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
}

}  // namespace

bool flushToDisk(std::FILE* file) {
    return std::fflush(file) == 0 && _commit(_fileno(file)) == 0;
}

Move replaceFile(const char* newFile, const char* target) {
    // The user marked the file as not to be changed. Windows refuses to
    // replace it anyway; some compatible systems do not, so it is asked here.
    if (isReadOnly(target)) return Move::Refused;
    // rename() refuses an existing target on Windows; MoveFileEx replaces it
    // within one directory without a moment where neither file exists.
    return moved(MoveFileExA(newFile, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
}

Move moveToUnusedName(const char* from, const char* to) {
    // Without MOVEFILE_REPLACE_EXISTING a file already at `to` makes it fail.
    return moved(MoveFileExA(from, to, MOVEFILE_WRITE_THROUGH));
}

FileMark markOf(const char* name) {
    FileMark mark;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(name, GetFileExInfoStandard, &data)) return mark;
    mark.exists = true;
    // A directory's mark never equals a file's.
    mark.size = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    ? UINT64_MAX
                    : (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    mark.modified = fileTimeValue(data.ftLastWriteTime);
    return mark;
}

bool setModified(const char* target, const FileMark& mark) {
    HANDLE file = CreateFileA(target, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(mark.modified));
    time.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(mark.modified) >> 32);
    const BOOL done = SetFileTime(file, nullptr, nullptr, &time);
    CloseHandle(file);
    return done != 0;
}

std::FILE* openForReading(const char* name, const char* mode, bool* held) {
    if (held) *held = false;
    for (int attempt = 1; attempt <= kTriesWhileHeld; ++attempt) {
        if (std::FILE* file = std::fopen(name, mode)) return file;
        // The C library does not say why; the system does.
        HANDLE probe = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        const DWORD error = GetLastError();
        if (probe != INVALID_HANDLE_VALUE) {
            CloseHandle(probe);   // it let go between the two opens
        } else if (!heldByAnotherProgram(error)) {
            return nullptr;
        } else if (held) {
            *held = true;
        }
        if (attempt == kTriesWhileHeld || !pauseWithinBudget()) break;
    }
    return nullptr;
}

void pauseBeforeRetry() { Sleep(50); }

bool fullPathName(const char* name, std::string& out) {
    char full[MAX_PATH];
    const DWORD length = GetFullPathNameA(name, sizeof full, full, nullptr);
    if (length == 0 || length >= sizeof full) return false;
    out.assign(full, length);
    return true;
}

bool samePathName(const std::string& a, const std::string& b) {
    return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()), b.data(),
                          static_cast<int>(b.size())) == CSTR_EQUAL;
}

bool isReadOnly(const char* name) {
    const DWORD attributes = GetFileAttributesA(name);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}

// One mutex per scene file, named after a hash of its full name as this
// process reaches it: plug-ins in other hosts of this session share it.
SaveLock::SaveLock(const char* name) {
    std::string full;
    if (!fullPathName(name, full)) return;
    uint64_t hash = 14695981039346656037ull;
    for (char c : full) {
        // Letter case does not tell names apart here.
        hash ^= static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        hash *= 1099511628211ull;
    }
    char mutexName[64];
    std::snprintf(mutexName, sizeof mutexName, "Local\\Plexa-save-%016llx", static_cast<unsigned long long>(hash));
    HANDLE mutex = CreateMutexA(nullptr, FALSE, mutexName);
    if (!mutex) return;
    // A save holds it for milliseconds; one whose process died leaves it
    // abandoned, which is as good as free.
    const DWORD waited = WaitForSingleObject(mutex, 250);
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED)
        handle_ = mutex;
    else
        CloseHandle(mutex);
}

SaveLock::~SaveLock() {
    if (!handle_) return;
    ReleaseMutex(static_cast<HANDLE>(handle_));
    CloseHandle(static_cast<HANDLE>(handle_));
}

}  // namespace plexa::scene
