#include "host/instance_table.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "geometry/numeric.h"
#include "scene/file_commit.h"

namespace plexa::host {

namespace {
constexpr size_t kInitialCapacity = 10;
constexpr size_t kGrowthStep = 10;
constexpr size_t kGrowthAmount = 50;

bool canOpen(const char* name) {
    std::FILE* file = std::fopen(name, "r");
    if (!file) return false;
    std::fclose(file);
    return true;
}

bool holdsBytes(const char* name) {
    std::FILE* file = std::fopen(name, "rb");
    if (!file) return false;
    const bool any = std::fgetc(file) != EOF;
    std::fclose(file);
    return any;
}

// Whether a bound instance other than `instance` saves to the plain or the
// parent-directory name with `number`.
bool nameTaken(const InstanceTable& table, const PluginInstance& instance, int32_t number) {
    char plain[object_data::kNameCapacity], parent[object_data::kNameCapacity];
    std::snprintf(plain, sizeof plain, "%s%02d.%s", kBaseName, number, kExtension);
    std::snprintf(parent, sizeof parent, "..\\%s%02d.%s", kBaseName, number, kExtension);
    for (int32_t i = 0; i < table.count(); ++i) {
        const PluginInstance* other = table.at(i);
        if (other == &instance || !other->sceneFileName) continue;
        if (std::strcmp(other->sceneFileName, plain) == 0 || std::strcmp(other->sceneFileName, parent) == 0)
            return true;
    }
    return false;
}
}  // namespace

void PluginInstance::attachData(uint8_t* data) {
    if (!data) {
        if (!ownData) ownData = std::make_unique<uint8_t[]>(object_data::kMinimumSize);
        data = ownData.get();
    }
    hostData = data;
    sceneFileName = reinterpret_cast<char*>(data + object_data::kNameOffset);
}

InstanceTable::InstanceTable() { entries_.reserve(kInitialCapacity); }

InstanceTable::~InstanceTable() {
    // Scenes still present at unload go without being saved.
    for (PluginInstance& entry : entries_) entry.scene.reset();
}

PluginInstance* InstanceTable::at(int32_t position) {
    if (position < 0 || position >= count()) return nullptr;
    return &entries_[static_cast<size_t>(position)];
}

const PluginInstance* InstanceTable::at(int32_t position) const {
    return const_cast<InstanceTable*>(this)->at(position);
}

PluginInstance& InstanceTable::add(const HostInstanceInfo& info) {
    PluginInstance entry;
    entry.number = count();
    entry.scene = std::make_unique<scene::Scene>();
    entry.key = info.key;
    entry.attachData(info.objectData);
    entry.colorCheck = 0;
    entries_.push_back(std::move(entry));
    if (entries_.size() % kGrowthStep == 0) entries_.reserve(entries_.size() + kGrowthAmount);
    return entries_.back();
}

PluginInstance* InstanceTable::findByKey(int32_t key) {
    for (PluginInstance& entry : entries_)
        if (entry.key == key) return &entry;
    return nullptr;
}

scene::Scene* InstanceTable::findScene(int32_t key) {
    PluginInstance* entry = findByKey(key);
    return entry ? entry->scene.get() : nullptr;
}

void InstanceTable::removeAt(int32_t position) {
    if (position < 0 || position >= count()) return;
    entries_[static_cast<size_t>(position)].scene.reset();
    entries_.erase(entries_.begin() + position);
    for (int32_t i = position; i < count(); ++i) entries_[static_cast<size_t>(i)].number = i;
    if (currentPosition_ == position)
        currentPosition_ = -1;
    else if (currentPosition_ > position)
        --currentPosition_;
}

PluginInstance* InstanceTable::current() { return at(currentPosition_); }

void InstanceTable::setCurrent(const PluginInstance* instance) {
    currentPosition_ = -1;
    for (size_t i = 0; i < entries_.size(); ++i)
        if (&entries_[i] == instance) currentPosition_ = static_cast<int32_t>(i);
}

void formSceneFileName(PluginInstance& instance, const char* tag, const char* baseName,
                       const char* extension) {
    char* name = instance.sceneFileName;
    const int32_t number = instance.fileNumber >= 0 ? instance.fileNumber : instance.number;
    std::snprintf(name, object_data::kNameCapacity, "%s%02d.%s", baseName, number, extension);
    char* hostTag = reinterpret_cast<char*>(instance.hostData + object_data::kTagOffset);
    if (std::strncmp(hostTag, tag, 3) != 0) {
        std::memcpy(hostTag, tag, 3);
        hostTag[3] = '\0';
        return;
    }
    if (canOpen(name)) return;
    char parent[object_data::kNameCapacity];
    const int formed = std::snprintf(parent, sizeof parent, "..\\%s%02d.%s", baseName, number, extension);
    if (formed > 0 && static_cast<size_t>(formed) < sizeof parent && canOpen(parent))
        std::memcpy(name, parent, static_cast<size_t>(formed) + 1);
}

void startInstance(PluginInstance& instance, const InstanceTable* table) {
    // Names are formed from positions, so after an unbinding a new instance
    // can be given the name a bound one saves to; one of the two scenes would
    // then overwrite the other. The next number nobody uses is taken instead.
    if (table) {
        instance.fileNumber = instance.number;
        while (instance.fileNumber < INT32_MAX && nameTaken(*table, instance, instance.fileNumber))
            ++instance.fileNumber;
    }
    formSceneFileName(instance, kTag, kBaseName, kExtension);
    scene::Scene& scene = *instance.scene;
    {
        // Binding costs time linear in the file's lines: lists are compiled
        // once, for the block that survives, when the reduction is done.
        scene::DeferredRefresh deferred(scene);
        // Only the first block can survive the reduction; the others are
        // removed as they are read, so no file's length can exhaust memory.
        const bool loaded = scene.load(instance.sceneFileName, 1);
        instance.unreadableFile = !loaded && holdsBytes(instance.sceneFileName);
        if (loaded && scene.count() > 0) {
            // Removing the block at index 1 until one is left, in one pass.
            scene.removeFrom(1);
            scene.selected = scene.block(0);
            if (scene.selected->kind != scene::PLANE && scene.selected->kind != scene::SPHERE)
                scene.removeSelected();
        }
        if (scene.count() == 0) {
            scene.addDefault(scene::SPHERE);
            scene.selected = scene.block(0);
        }
    }
    instance.hostData[object_data::kTagOffset] = 0;
    formSceneFileName(instance, kTag, kBaseName, kExtension);
}

bool saveInstance(PluginInstance& instance) {
    const char* name = instance.sceneFileName;
    if (instance.unreadableFile) {
        char kept[object_data::kNameCapacity + 8];
        char message[2 * sizeof kept + 64];
        std::snprintf(kept, sizeof kept, "%s.bad", name);
        if (!scene::replaceFile(name, kept)) {
            std::snprintf(message, sizeof message, "cannot save scene file %s", name);
            geometry::logError(message);
            return false;
        }
        std::snprintf(message, sizeof message, "scene file %s unreadable, kept as %s", name, kept);
        geometry::logError(message);
        instance.unreadableFile = false;
    }
    return instance.scene->save(name);
}

}  // namespace plexa::host
