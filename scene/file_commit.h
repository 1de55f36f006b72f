// Replacing a file only once its successor is complete (platform seam).
#pragma once

#include <cstdio>

namespace plexa::scene {

// Pushes the file's buffered bytes to the disk; false when the system refuses.
bool flushToDisk(std::FILE* file);

// Moves `newFile` over `target`, replacing it in one step. On failure the target
// is left as it was.
bool replaceFile(const char* newFile, const char* target);

}  // namespace plexa::scene
