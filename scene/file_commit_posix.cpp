#include "scene/file_commit.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plexa::scene {

bool flushToDisk(std::FILE* file) {
    return std::fflush(file) == 0 && fsync(fileno(file)) == 0;
}

// No program holds a file against renaming here: every refusal is final.
Move replaceFile(const char* newFile, const char* target) {
    return std::rename(newFile, target) == 0 ? Move::Done : Move::Refused;
}

Move moveToUnusedName(const char* from, const char* to) {
    // link() refuses an existing name, where rename() would replace it.
    if (link(from, to) != 0) return Move::Refused;
    if (unlink(from) != 0) {
        unlink(to);
        return Move::Refused;
    }
    return Move::Done;
}

FileMark markOf(const char* name) {
    FileMark mark;
    struct stat info;
    if (stat(name, &info) != 0) return mark;
    mark.exists = true;
    mark.size = static_cast<uint64_t>(info.st_size);
    mark.modified = static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    return mark;
}

bool setModified(const char* target, const FileMark& mark) {
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(mark.modified / 1000000000);
    times[1].tv_nsec = static_cast<long>(mark.modified % 1000000000);
    return utimensat(AT_FDCWD, target, times, 0) == 0;
}

std::FILE* openForReading(const char* name, const char* mode, bool* held) {
    if (held) *held = false;
    return std::fopen(name, mode);
}

void pauseBeforeRetry() {
    const struct timespec pause = {0, 50 * 1000 * 1000};
    nanosleep(&pause, nullptr);
}

bool fullPathName(const char* name, std::string& out) {
    if (name[0] == '/') {
        out = name;
        return true;
    }
    char directory[4096];
    if (!getcwd(directory, sizeof directory)) return false;
    out = std::string(directory) + "/" + name;
    return true;
}

bool samePathName(const std::string& a, const std::string& b) { return a == b; }

bool isReadOnly(const char* name) {
    struct stat info;
    return stat(name, &info) == 0 && (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

// Natively the plug-in runs in tests of one process: nothing to keep out.
SaveLock::SaveLock(const char*) : handle_(this) {}
SaveLock::~SaveLock() = default;

}  // namespace plexa::scene
