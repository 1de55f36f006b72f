// Which scene file an instance reads and which it may replace (core side).
//
// [X] scene file naming with the parent-directory probe; instance start-up
// [X] a tagged object keeps the scene file its data block names, whatever
//     was unbound before it; a copy of a bound object gets a number of its own
// [X] a save replaces only a file holding the bytes this object last read or
//     wrote; anything else in the way is kept aside
// [X] a held file: one side file of the object's own, which says what it
//     replaces and is shown next time only while that still holds
// [X] waits for held files stay within the library's wait budget
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace plexa::host {

struct PluginInstance;
class InstanceTable;

constexpr const char* kTag = "PLX";
constexpr const char* kBaseName = "defplx";
constexpr const char* kExtension = "880";

// Names the instance's scene file in its host data block: the plain name, or
// the parent directory's when only that exists. An untagged block is tagged
// and keeps the plain name without any probe.
void formSceneFileName(PluginInstance& instance, const char* tag, const char* baseName,
                       const char* extension);

// The number of a scene file name of the plug-in's own form (defplxNN.880,
// plain or in the parent directory) within `capacity` bytes; -1 for any other
// text.
int32_t ownFileNumber(const char* text, size_t capacity);

// Loads the instance's scene, reduces it to its first sphere or plane (or the
// default sphere), selects it, and leaves the current-directory name and tag.
// Runs in the directory the scene will be saved to. A tagged object keeps the
// file its data block names; with `table`, the name is never one another
// bound instance saves to: a copy of a bound object shows the scene of the
// file its block names and saves to a number whose file does not exist yet.
// A scene left in NAME.pending by a save that could not replace the file is
// shown in its place while NAME still holds what it was made to replace (or
// is gone); otherwise it is another version, kept aside as NAME.keptN.
void startInstance(PluginInstance& instance, const InstanceTable* table = nullptr);

// When a save is made: an edit and an unbinding both wait for a held file
// only within the library's wait budget.
enum class SaveMoment { Edit, Unbinding };

// Saves the instance's scene to its file in the current directory, through a
// temporary file of this process. The file is replaced only if it holds the
// bytes this instance last read or wrote, or does not exist; any other file
// in the way is kept aside first (as NAME.bad when it is not a scene, else
// NAME.kept; later ones numbered). When the file cannot be replaced (held by
// another program), the scene goes to one side file of the instance's own
// (NAME.pending when the file is this instance's, else NAME.keptN), which
// later saves update and a save that reaches the file removes. False when the
// scene did not reach its file (the log says why, once for each file and
// cause).
bool saveInstance(PluginInstance& instance, SaveMoment moment = SaveMoment::Unbinding);

// Logs a problem with saving the instance's scene unless it was the last one
// logged for it.
void logSaveProblem(PluginInstance& instance, const std::string& message);

// Message 1087: the instance continues with a new data block. A block that
// names no file of the plug-in's form is given the instance's name and tag.
void adoptDataBlock(PluginInstance& instance, uint8_t* data);

}  // namespace plexa::host
