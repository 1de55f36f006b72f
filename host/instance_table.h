// The table of bound objects and the scene side of binding (core side).
//
// [X] add with growth 10, then count + 50 at every multiple of 10
// [X] findByKey (lowest position wins), findScene, removeAt closing the gap
// [X] `current` designates an instance across growth and removal
// [X] scene file naming with the parent-directory probe; instance start-up
#pragma once

#include <cstdint>
#include <memory>
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
    // The number in the scene file's name; -1: `number`. Differs only when a
    // bound instance already writes to the name `number` gives.
    int32_t fileNumber = -1;
    // The scene file held bytes that were not a scene: it is kept aside
    // before the first save replaces it.
    bool unreadableFile = false;
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

// Loads the instance's scene, reduces it to its first sphere or plane (or the
// default sphere), selects it, and leaves the current-directory name and tag.
// With `table`, the name is never one another bound instance saves to.
void startInstance(PluginInstance& instance, const InstanceTable* table = nullptr);

// Saves the instance's scene to its file in the current directory. A file it
// could not read is first renamed to NAME.bad; when that fails, nothing is
// written. False when the scene was not saved (the log says why).
bool saveInstance(PluginInstance& instance);

}  // namespace plexa::host
