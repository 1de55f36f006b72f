// The scene file format: reading lines into blocks and writing blocks as lines
// (core side: C stdio only).
//
// Keywords read and written:
// [X] CUBE TRIANGLE CYLINDERn SPHEREn PLANEn (fineness clamped to the kind's
//     minimum and to the system's ceiling)
// [X] ORG SIZE ROT RGB DENS SKINSCALE TRANS (non-finite numbers refused)
// [X] TEXTURE SKIN SHORTCUT names (at most 259 characters)
// [X] identification line "880"; lines of 1023 characters or more skipped whole
// [X] every line written is one the reader takes back (at most 1022 with its
//     line feed); a block that does not fit is cut, with "line to long"
// [X] atomic save: a new file replaces the old one only once it is complete
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "scene/block.h"
#include "scene/side_file.h"

namespace plexa::scene {

class Scene;

constexpr const char* kKeyDelimiters = "(){}[ ],\t";
constexpr const char* kNameDelimiters = "(){}[],\t";
constexpr const char* kFileId = "880";

// The longest line the reader takes, its line feed included; what the writer
// writes must stay within it, or the next binding would refuse the block.
constexpr size_t kLongestLine = kLineCapacity - 2;

// Splits text in place like strtok, but keeps its position in the object.
class Tokenizer {
public:
    explicit Tokenizer(char* text) : cursor_(text) {}
    char* next(const char* delimiters);
    // A name token: name delimiters, leading spaces and tabs skipped.
    char* nextName();
    char* rest() const { return cursor_; }

private:
    char* cursor_;
};

// The kind keyword of a block line and its fineness; false for any other line.
struct KindKeyword {
    BlockKind kind;
    int32_t fineness;
    char* rest;   // the tokens after the keyword
};
bool readKindKeyword(char* line, KindKeyword& out);

// Reads the keyed values that follow the kind keyword into the block.
void readKeys(Block& block, char* rest);

// Formats the block as one line of at most kLongestLine characters. Returns
// false after reporting "line to long", in which case the line holds only the
// pieces that fitted (and no line feed). Without `report` nothing is logged:
// for telling whether an edit changed what a save would write.
bool writeLine(const Block& block, char (&line)[kLineCapacity], bool report = true);

const char* defaultLine(int32_t kind);

// The column header written after the identification line.
extern const char* const kFileHeader;

// A failing device for tests of interrupted saves: when set, the writer's
// output fails once this many bytes have been written. Negative: no fault.
void setWriteFaultAfterBytes(long bytes);

// With `keep`, blocks beyond the first `keep` are removed as soon as they have
// been read (their keys logged and their images loaded as for any block), so
// that a file of any length holds at most `keep` + 1 blocks in memory.
// `held`, when given, tells whether the file is there but another program
// kept it from being read (after a few tries).
bool readSceneFile(const char* fileName, Scene& scene, int32_t keep = INT32_MAX, bool* held = nullptr);

// Why a scene could not be written into a new file.
enum class WriteFault { None, Create, Write };
// Writes the whole scene into `newName`, flushed to the disk. A file that
// could not be completed is removed again, so any file of that name that
// survives holds a whole scene. With `replaces`, the file is a side file and
// says, in a comment line after the file id, what it was made to replace.
WriteFault writeNewSceneFile(const char* newName, const Scene& scene, const Replaced* replaces = nullptr);
// Writes the process's temporary file and moves it over NAME; false (logged)
// when either fails.
bool writeSceneFile(const char* fileName, const Scene& scene);

}  // namespace plexa::scene
