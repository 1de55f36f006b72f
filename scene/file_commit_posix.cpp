#include "scene/file_commit.h"

#include <cstdio>
#include <unistd.h>

namespace plexa::scene {

bool flushToDisk(std::FILE* file) {
    return std::fflush(file) == 0 && fsync(fileno(file)) == 0;
}

bool replaceFile(const char* newFile, const char* target) {
    return std::rename(newFile, target) == 0;
}

}  // namespace plexa::scene
