// The table of bound objects (core side).
//
// [X] add with growth 10, then count + 50 at every multiple of 10
// [X] findByKey (lowest position wins), findScene, removeAt closing the gap
// [X] `current` designates an instance across growth and removal
// [X] scene file naming with the parent-directory probe; instance start-up
// [X] a tagged object keeps the scene file its data block names, whatever
//     was unbound before it; a copy of a bound object gets a number of its own
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/edit_history.h"
#include "host/host_records.h"
#include "scene/file_commit.h"
#include "scene/scene.h"
#include "scene/side_file.h"

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
    // only a file holding exactly these bytes, or no file at all. Its full
    // path name, empty for none.
    std::string ownedPath;
    std::string ownedBytes;
    // The one side file this instance writes its scene to while it cannot
    // save to its file, and the bytes it last wrote there; empty for none.
    std::string sideName;
    std::string sideBytes;
    // The last problem with saving that went to the log, so that a file that
    // stays held is logged once, not at every edit.
    std::string lastLogged;
    // What the next save's file says it replaces: set while the file is a
    // scene kept per user for the host folder's file; none otherwise.
    std::optional<scene::Replaced> replaces;
    // Whether the last save could not make its new file.
    bool newFileFailed = false;
    // The scene as kept in the per-user folder while the host folder cannot
    // be written: whether it is there, the file this object read or wrote
    // there, and what it replaces (the host folder's file as this object read
    // or wrote it).
    struct {
        bool active = false;
        std::string ownedPath;
        std::string ownedBytes;
        std::optional<scene::Replaced> replaces;
    } perUser;
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

}  // namespace plexa::host

// Binding and saving an instance's scene file.
#include "host/scene_keeping.h"
