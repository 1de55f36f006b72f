// Replacing a file only once its successor is complete (platform seam).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace plexa::scene {

// Pushes the file's buffered bytes to the disk; false when the system refuses.
bool flushToDisk(std::FILE* file);

// How a step that moves a file ended. `Held`: another program has the file
// open without letting it be replaced, which may pass if tried again a
// moment later. `Refused`: anything else (read-only, denied, no such file).
enum class Move { Done, Held, Refused };

// Moves `newFile` over `target`, replacing it in one step. On failure the target
// is left as it was.
Move replaceFile(const char* newFile, const char* target);

// Renames `from` to `to` only while no file has the name `to`: nothing that
// is already there is ever replaced.
Move moveToUnusedName(const char* from, const char* to);

// Opens or removes a file by a UTF-8 name, relative to the current
// directory or full, of any length.
std::FILE* openFile(const char* name, const char* mode);
bool removeFile(const char* name);

// What the file system says of a file, to tell later whether it was changed.
struct FileMark {
    bool exists = false;
    uint64_t size = 0;
    int64_t modified = 0;   // the system's own units
    bool operator==(const FileMark& other) const {
        return exists == other.exists && size == other.size && modified == other.modified;
    }
    bool operator!=(const FileMark& other) const { return !(*this == other); }
};
FileMark markOf(const char* name);

// Gives `target` the modification time `mark` recorded.
bool setModified(const char* target, const FileMark& mark);

// Opens a file for reading; false when it is not there. When it is there but
// another program refuses to share it, `held` is set and the open is tried
// again a few times before giving up.
std::FILE* openForReading(const char* name, const char* mode, bool* held = nullptr);

// Waits a moment before a step that another program refused is tried again.
void pauseBeforeRetry();

// How often a step refused because a file is held is tried in all, at
// most: with the pause between tries, about a second.
constexpr int kTriesWhileHeld = 20;

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
