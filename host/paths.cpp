#include "host/paths.h"

#include <cstring>

namespace plexa::host {

namespace {

// Appends `text` to `out` (holding `length` characters); false when it would not fit.
bool append(char* out, size_t outSize, size_t& length, const char* text, size_t textLength) {
    if (length + textLength + 1 > outSize) return false;
    std::memcpy(out + length, text, textLength);
    length += textLength;
    out[length] = '\0';
    return true;
}

bool refuse(char* out, size_t outSize) {
    if (outSize) out[0] = '\0';
    return false;
}

bool sameIgnoringCase(char a, char b) {
    return (static_cast<unsigned char>(a) | 0x20) == (static_cast<unsigned char>(b) | 0x20);
}

}  // namespace

bool makeRelative(const char* fullName, const char* pluginDirectory, char* out, size_t outSize) {
    if (!out || outSize == 0) return false;
    out[0] = '\0';
    size_t length = 0;
    size_t common = 0;
    while (pluginDirectory[common] && fullName[common] &&
           sameIgnoringCase(pluginDirectory[common], fullName[common]))
        ++common;

    if (pluginDirectory[common] == '\0') {
        const char* rest = fullName + common;
        return append(out, outSize, length, rest, std::strlen(rest)) || refuse(out, outSize);
    }

    // Only whole directory names count as shared.
    size_t cut = 0;
    for (size_t i = 0; i < common; ++i)
        if (fullName[i] == '\\') cut = i + 1;
    common = cut;

    if (common == 0)
        return append(out, outSize, length, fullName, std::strlen(fullName)) || refuse(out, outSize);

    const char* rest = fullName + common;
    if (common == 3) {
        return (append(out, outSize, length, "\\", 1) &&
                append(out, outSize, length, rest, std::strlen(rest))) ||
               refuse(out, outSize);
    }

    for (const char* p = pluginDirectory + common; *p; ++p)
        if (*p == '\\' && !append(out, outSize, length, "..\\", 3)) return refuse(out, outSize);
    return append(out, outSize, length, rest, std::strlen(rest)) || refuse(out, outSize);
}

bool resolvePath(const char* storedName, const char* pluginDirectory, char* out, size_t outSize) {
    if (!out || outSize == 0) return false;
    out[0] = '\0';
    size_t length = 0;
    const size_t nameLength = std::strlen(storedName);

    if (nameLength >= 2 && storedName[1] == ':')
        return append(out, outSize, length, storedName, nameLength) || refuse(out, outSize);

    if (storedName[0] == '.') {
        size_t run = std::strspn(storedName, ".\\");
        size_t levels = 0;
        for (size_t i = 0; i < run; ++i)
            if (storedName[i] == '\\') ++levels;
        size_t keep = std::strlen(pluginDirectory);
        for (size_t i = 0; i < levels; ++i) {
            if (keep > 0 && pluginDirectory[keep - 1] == '\\') --keep;
            while (keep > 0 && pluginDirectory[keep - 1] != '\\') --keep;
            if (keep == 0) return refuse(out, outSize);  // above the drive root
        }
        return (append(out, outSize, length, pluginDirectory, keep) &&
                append(out, outSize, length, storedName + run, nameLength - run)) ||
               refuse(out, outSize);
    }

    if (storedName[0] == '\\' && storedName[1] == '\\')
        return append(out, outSize, length, storedName, nameLength) || refuse(out, outSize);

    if (storedName[0] == '\\') {
        const size_t drive = std::strlen(pluginDirectory) >= 2 ? 2 : std::strlen(pluginDirectory);
        return (append(out, outSize, length, pluginDirectory, drive) &&
                append(out, outSize, length, storedName, nameLength)) ||
               refuse(out, outSize);
    }

    return (append(out, outSize, length, pluginDirectory, std::strlen(pluginDirectory)) &&
            append(out, outSize, length, storedName, nameLength)) ||
           refuse(out, outSize);
}

}  // namespace plexa::host
