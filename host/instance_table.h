// The table of bound objects and the scene side of binding (core side).
//
// [X] add with growth 10, then count + 50 at every multiple of 10
// [X] findByKey (lowest position wins), findScene, removeAt closing the gap
// [X] `current` designates an instance across growth and removal
// [X] scene file naming with the parent-directory probe; instance start-up
// [X] a tagged object keeps the scene file its data block names, whatever
//     was unbound before it
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/host_records.h"
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
    // The scene file that held bytes that were not a scene: kept aside before
    // a save would replace that very file.
    // Its full path name, empty for none.
    std::string unreadableFile;
    // Stands in for the host's data block when the host passed none, so that a
    // faulty record cannot make the plug-in write through a null pointer.
    std::unique_ptr<uint8_t[]> ownData;

    void attachData(uint8_t* data);
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
// A tagged object keeps the file its data block names. With `table`, the
// name is never one another bound instance saves to.
void startInstance(PluginInstance& instance, const InstanceTable* table = nullptr);

// Saves the instance's scene to its file in the current directory. When that
// file is the very one found unreadable at binding, it is first renamed to
// NAME.bad; when that fails, or the file is read-only, nothing is written.
// False when the scene was not saved (the log says why).
bool saveInstance(PluginInstance& instance);

// The log record of a scene that was not saved.
void logCannotSave(const char* name);

}  // namespace plexa::host
