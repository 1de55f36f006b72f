// Side files that say which version of a scene file they were made to
// replace (core side: C stdio only).
//
// A scene that could not be written over its file waits beside it. It may
// take the file's place later only while the file still holds exactly the
// bytes it was made to replace, or is gone; anything else in the file is a
// newer version made elsewhere, and the side file is then a foreign version,
// kept but never shown in its place. Times are never asked: sync clients and
// two-second file systems make them lie.
//
// [X] what a file holds, read whole (bounded), told apart from "held"
// [X] the record of the replaced content, a comment line every reader skips
// [X] whether a side file may stand in for its file now
#pragma once

#include <cstdint>
#include <string>

namespace plexa::scene {

// The largest file that is compared byte for byte. The plug-in's own scene
// files are a few kilobytes; a larger file was made by something else.
constexpr size_t kMostComparedBytes = 1 << 20;

// What reading a whole file gave.
enum class Content {
    Read,      // `bytes` holds the whole file
    Missing,   // no such file
    Held,      // there, but another program keeps it from being read
    Other,     // there, but too large to compare or not a file
};
Content readContent(const char* name, std::string& bytes);

// The content a scene was made to replace: a file's size and a hash of its
// bytes, or no file at all. An empty file counts as none: it holds nothing.
struct Replaced {
    bool existed = false;
    uint64_t size = 0;
    uint64_t hash = 0;
    bool operator==(const Replaced& other) const {
        return existed == other.existed && size == other.size && hash == other.hash;
    }
};
Replaced replacedBy(const std::string* bytes);

// The line written right after the file id line of a side file:
// "//replaces none" or "//replaces SIZE HASH" (decimal size, 16 hex digits).
// The scene reader skips it like every line whose first word is no block kind.
std::string replacesLine(const Replaced& replaced);
// Finds that line among the comment lines at the head of `bytes`; false when
// the file carries none (a side file of an older version, or no side file).
bool findReplaced(const std::string& bytes, Replaced& out);

// Whether a side file made to replace `recorded` may take the place of the
// file `target` now.
enum class Standing {
    Stands,    // the file holds exactly the recorded bytes, or is gone
    Foreign,   // it holds another version
    Unknown,   // it cannot be read now
};
Standing standingOf(const Replaced& recorded, const char* target);

}  // namespace plexa::scene
