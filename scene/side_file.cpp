#include "scene/side_file.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "scene/file_commit.h"

namespace plexa::scene {

namespace {

// FNV-1a: equal bytes are told by size and bytes; the hash only has to make
// a different version of a small text file look different.
uint64_t hashOf(const std::string& bytes) {
    uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : bytes) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return hash;
}

constexpr const char* kReplacesWord = "//replaces ";

}  // namespace

Content readContent(const char* name, std::string& bytes) {
    bytes.clear();
    if (!markOf(name).exists) return Content::Missing;
    bool held = false;
    std::FILE* file = openForReading(name, "rb", &held);
    if (!file) return held ? Content::Held : (markOf(name).exists ? Content::Other : Content::Missing);
    char buffer[4096];
    size_t read;
    while ((read = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        if (bytes.size() + read > kMostComparedBytes) {
            std::fclose(file);
            bytes.clear();
            return Content::Other;
        }
        bytes.append(buffer, read);
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) bytes.clear();
    return failed ? Content::Other : Content::Read;
}

Replaced replacedBy(const std::string* bytes) {
    Replaced replaced;
    if (!bytes || bytes->empty()) return replaced;
    replaced.existed = true;
    replaced.size = bytes->size();
    replaced.hash = hashOf(*bytes);
    return replaced;
}

std::string replacesLine(const Replaced& replaced) {
    char line[64];
    if (replaced.existed)
        std::snprintf(line, sizeof line, "%s%" PRIu64 " %016" PRIx64 "\n", kReplacesWord, replaced.size,
                      replaced.hash);
    else
        std::snprintf(line, sizeof line, "%snone\n", kReplacesWord);
    return line;
}

bool findReplaced(const std::string& bytes, Replaced& out) {
    // Only the head of the file: the id line, then comment and empty lines.
    size_t start = 0;
    for (int line = 0; line < 8 && start < bytes.size(); ++line) {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos) end = bytes.size();
        std::string text = bytes.substr(start, end - start);
        if (!text.empty() && text.back() == '\r') text.pop_back();
        start = end + 1;
        if (line == 0) continue;
        if (text.rfind(kReplacesWord, 0) != 0) continue;
        const char* value = text.c_str() + std::strlen(kReplacesWord);
        if (std::strcmp(value, "none") == 0) {
            out = Replaced{};
            return true;
        }
        Replaced replaced;
        char rest = 0;
        if (std::sscanf(value, "%" SCNu64 " %16" SCNx64 "%c", &replaced.size, &replaced.hash, &rest) != 2 ||
            replaced.size == 0)
            return false;
        replaced.existed = true;
        out = replaced;
        return true;
    }
    return false;
}

Standing standingOf(const Replaced& recorded, const char* target) {
    std::string bytes;
    switch (readContent(target, bytes)) {
        case Content::Missing: return Standing::Stands;
        case Content::Held: return Standing::Unknown;
        case Content::Other: return Standing::Foreign;
        case Content::Read: break;
    }
    const Replaced there = replacedBy(&bytes);
    if (!there.existed) return Standing::Stands;
    return there == recorded ? Standing::Stands : Standing::Foreign;
}

}  // namespace plexa::scene
