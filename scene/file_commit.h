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

// The host sees nothing of the plug-in's waits but a frozen window, and it
// makes one call per object: all waiting for held files together stays
// within kWaitBudgetMs in any kWaitWindowMs, whatever the number of files.
// Pauses like pauseBeforeRetry() when the budget allows, else returns false
// at once: the file is then handled as held without waiting.
constexpr int64_t kWaitBudgetMs = 1000;
constexpr int64_t kWaitWindowMs = 10000;
bool pauseWithinBudget();
// Milliseconds spent in such pauses since the library was loaded.
int64_t millisecondsWaited();

// The name a scene is written under before it replaces `fileName`: unique to
// this process, so that two hosts saving into one folder never write into
// each other's file. It is never read; each save moves or removes it before
// it returns. False when it does not fit.
bool temporaryName(const char* fileName, std::string& out);

// Keeps other processes of this plug-in from saving to `name` while it is
// held, so that telling whose a file is and replacing it are one step among
// them. Waits briefly; `held()` is false when another save kept it longer.
class SaveLock {
public:
    explicit SaveLock(const char* name);
    ~SaveLock();
    SaveLock(const SaveLock&) = delete;
    SaveLock& operator=(const SaveLock&) = delete;
    bool held() const { return handle_ != nullptr; }

private:
    void* handle_ = nullptr;
};

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
