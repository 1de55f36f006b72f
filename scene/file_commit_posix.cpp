#include "scene/file_commit.h"

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace plexa::scene {

bool flushToDisk(std::FILE* file) {
    return std::fflush(file) == 0 && fsync(fileno(file)) == 0;
}

bool replaceFile(const char* newFile, const char* target) {
    return std::rename(newFile, target) == 0;
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

}  // namespace plexa::scene
