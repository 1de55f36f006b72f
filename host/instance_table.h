// The table of bound objects and the scene side of binding (core side).
//
// [X] add with growth 10, then count + 50 at every multiple of 10
// [X] findByKey (lowest position wins), findScene, removeAt closing the gap
// [X] `current` designates an instance across growth and removal
// [X] scene file naming with the parent-directory probe; instance start-up
// [X] a tagged object keeps the scene file its data block names, whatever
//     was unbound before it; a copy of a bound object gets a number of its own
// [X] a save replaces only the file this object read or wrote; anything else
//     in the way is kept aside; a held file leaves the new scene beside it
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/edit_history.h"
#include "host/host_records.h"
#include "scene/file_commit.h"
#include "scene/scene.h"

namespace plexa::host {

struct PluginInstance {
    int32_t number = 0;
    std::unique_ptr<scene::Scene> scene;
    int32_t key = 0;
    char* sceneFileName = nullptr;   // the text at offset 260 of hostData
    int32_t colorCheck = 0;
    uint8_t* hostData = nullptr;
    // The number in the scene file's name; -1: `number`. A tagged object
    // keeps the number its data block names; a new one takes `number` unless
    // a bound instance already writes to that name.
    int32_t fileNumber = -1;
    // The scene file name the instance saves to, its own copy: the host may
    // free a data block once it has handed over its successor.
    char fileName[object_data::kNameCapacity] = {};
    // The scene file as this instance last read or wrote it: a save replaces
    // only that, or no file at all. Its full path name, empty for none.
    std::string ownedPath;
    scene::FileMark ownedMark;
    // The last problem with saving that went to the log, so that a file that
    // stays held is logged once, not at every edit.
    std::string lastLogged;
    // Stands in for the host's data block when the host passed none, so that a
    // faulty record cannot make the plug-in write through a null pointer.
    std::unique_ptr<uint8_t[]> ownData;
    // The edits of this binding, for Undo and Redo; gone with the binding.
    EditHistory history;

    void attachData(uint8_t* data);
    // Continues with a copy of the data block it has: for an object bound a
    // second time with a block that its first binding still uses.
    void attachCopyOfData();
};

class InstanceTable {
public:
    InstanceTable();
    ~InstanceTable();

    int32_t count() const { return static_cast<int32_t>(entries_.size()); }
    size_t capacity() const { return entries_.capacity(); }
    PluginInstance* at(int32_t position);
    const PluginInstance* at(int32_t position) const;

    PluginInstance& add(const HostInstanceInfo& info);
    PluginInstance* findByKey(int32_t key);
    scene::Scene* findScene(int32_t key);
    void removeAt(int32_t position);

    PluginInstance* current();
    void setCurrent(const PluginInstance* instance);

private:
    std::vector<PluginInstance> entries_;
    int32_t currentPosition_ = -1;
};

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
// A complete scene left beside the file by a save that could not replace it
// (NAME.pending) is the newest and is read in its place.
void startInstance(PluginInstance& instance, const InstanceTable* table = nullptr);

// When a save is made: an edit tries a held file only briefly, so that the
// menu stays quick; unbinding waits for it longer.
enum class SaveMoment { Edit, Unbinding };

// Saves the instance's scene to its file in the current directory, through
// NAME.new. The file is replaced only if this instance read it or wrote it,
// or it does not exist; any other file in the way is kept aside first (as
// NAME.bad when it is not a scene, else NAME.kept; later ones numbered).
// A replace refused because another program holds the file leaves the
// complete new scene as NAME.pending. False when the scene did not reach its
// file (the log says why, once for each file and cause).
bool saveInstance(PluginInstance& instance, SaveMoment moment = SaveMoment::Unbinding);

// Logs a problem with saving the instance's scene unless it was the last one
// logged for it.
void logSaveProblem(PluginInstance& instance, const std::string& message);

// Message 1087: the instance continues with a new data block. A block that
// names no file of the plug-in's form is given the instance's name and tag.
void adoptDataBlock(PluginInstance& instance, uint8_t* data);

}  // namespace plexa::host
