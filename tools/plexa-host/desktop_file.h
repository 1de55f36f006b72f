// Desktop file of the reference host (core side: no Win32, builds natively).
//
// The desktop is what the host keeps from one run to the next: its objects in
// binding order, each with its key, its position and its data block. The data
// block is where the plug-in leaves its tag and scene file name, so keeping it
// is what lets a tagged object find its scene again.
//
// Text format, one statement per line, '#' starts a comment line:
//
//     plexa-desktop 1
//     object <key> <x> <y> <z>
//     data <offset> <hex bytes>
//
// "object" starts an object (key: signed 32-bit decimal; x y z: finite floats).
// The "data" lines that follow it set bytes of its 512-byte data block,
// starting at <offset>; every byte no line sets is zero. The writer emits the
// non-zero stretches of each block and a comment that decodes the tag, the
// scene file name and the colour.
//
// [X] header check: a file without "plexa-desktop 1" is not read at all (and
//     so is never overwritten by mistake)
// [X] bad lines refused one by one with "line N: reason", the rest still read
// [X] duplicate keys refused (the plug-in would only ever find the first)
// [X] atomic save: temporary file, then replace
// [ ] orientation and size of objects
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace plexa::refhost {

// Larger than the 339 bytes the plug-in needs, so that host-side fields can be
// added later without changing the format.
constexpr size_t kObjectDataSize = 512;
// Refuses absurd files before they cost memory or binding time.
constexpr size_t kMaxObjects = 1000;
constexpr size_t kMaxDesktopFileBytes = 16 * 1024 * 1024;

using ObjectData = std::array<uint8_t, kObjectDataSize>;

struct DesktopObject {
    int32_t key = 0;
    float position[3] = {0.0f, 0.0f, 0.0f};
    ObjectData data{};
};

struct DesktopReadResult {
    // False when the text is not a desktop file at all (no or wrong header).
    // The caller must then leave the file alone. Text with nothing but blank
    // and comment lines counts as an empty desktop.
    bool recognised = false;
    std::vector<DesktopObject> objects;
    // "line N: reason" for every refused line, in file order.
    std::vector<std::string> problems;
};

DesktopReadResult parseDesktop(const std::string& text);
std::string formatDesktop(const std::vector<DesktopObject>& objects);

// What the plug-in wrote into a data block: the scene file name when the tag
// is "PLX", else empty. A name that fills its 76 bytes without a terminator is
// cut there and reported through *terminated.
bool hasPlexaTag(const ObjectData& data);
std::string sceneFileNameOf(const ObjectData& data, bool* terminated = nullptr);

// File names are UTF-8 text: on Windows they reach the system through its
// wide-character calls, so that a folder of any name works.
std::FILE* openFile(const std::string& path, const char* mode);
#ifdef _WIN32
std::wstring wideOf(const std::string& utf8);
std::string utf8Of(const std::wstring& wide);
#endif

enum class FileReadStatus { Ok, Missing, Unreadable, TooLarge };
FileReadStatus readWholeFile(const std::string& path, std::string& text);

// Writes path + ".tmp", flushes it to the disk, then puts it in place of path
// in one step, so that a crash or a full disk never leaves a half-written
// desktop. On failure the old file is untouched and *error says why.
bool writeFileAtomically(const std::string& path, const std::string& text, std::string* error);

}  // namespace plexa::refhost
