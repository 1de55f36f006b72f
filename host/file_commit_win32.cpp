// Replacing a scene file in one step on Windows (platform side of the seam).
#include "scene/file_commit.h"

#include <io.h>
#include <windows.h>

namespace plexa::scene {

bool flushToDisk(std::FILE* file) {
    return std::fflush(file) == 0 && _commit(_fileno(file)) == 0;
}

bool replaceFile(const char* newFile, const char* target) {
    // The user marked the file as not to be changed. Windows refuses to
    // replace it anyway; some compatible systems do not, so it is asked here.
    if (isReadOnly(target)) return false;
    // rename() refuses an existing target on Windows; MoveFileEx replaces it
    // within one directory without a moment where neither file exists.
    return MoveFileExA(newFile, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

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

}  // namespace plexa::scene
