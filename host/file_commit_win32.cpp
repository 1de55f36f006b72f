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
    const DWORD attributes = GetFileAttributesA(target);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) return false;
    // rename() refuses an existing target on Windows; MoveFileEx replaces it
    // within one directory without a moment where neither file exists.
    return MoveFileExA(newFile, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

}  // namespace plexa::scene
