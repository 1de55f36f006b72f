// Replacing a file only once its successor is complete (platform seam).
#pragma once

#include <cstdio>
#include <string>

namespace plexa::scene {

// Pushes the file's buffered bytes to the disk; false when the system refuses.
bool flushToDisk(std::FILE* file);

// Moves `newFile` over `target`, replacing it in one step. On failure the target
// is left as it was.
bool replaceFile(const char* newFile, const char* target);

// The absolute name of `name` as the current directory resolves it, for
// telling whether two names reached from different directories are one
// file's. False when it cannot be formed.
bool fullPathName(const char* name, std::string& out);

// Whether two full path names name the same file by the system's rules for
// names (letter case does not count on Windows).
bool samePathName(const std::string& a, const std::string& b);

// Whether the user marked the file as not to be changed.
bool isReadOnly(const char* name);

}  // namespace plexa::scene
