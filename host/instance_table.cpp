#include "host/instance_table.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "geometry/numeric.h"
#include "scene/file_commit.h"
#include "scene/scene_file.h"

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

// A file that holds bytes, but no identification line: what the reader
// refused, and what a save would destroy.
bool holdsOtherThanAScene(const char* name) {
    std::FILE* file = std::fopen(name, "rb");
    if (!file) return false;
    char start[3] = {};
    const size_t read = std::fread(start, 1, sizeof start, file);
    std::fclose(file);
    return read > 0 && !(read == sizeof start && std::memcmp(start, scene::kFileId, sizeof start) == 0);
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

void logCannotSave(const char* name) {
    char message[object_data::kNameCapacity + 64];
    std::snprintf(message, sizeof message, "cannot save scene file %s", name);
    geometry::logError(message);
}

int32_t ownFileNumber(const char* text, size_t capacity) {
    if (!text || !std::memchr(text, '\0', capacity)) return -1;
    const char* p = text;
    if (std::strncmp(p, "..\\", 3) == 0) p += 3;
    const size_t baseLength = std::strlen(kBaseName);
    if (std::strncmp(p, kBaseName, baseLength) != 0) return -1;
    p += baseLength;
    const char* digits = p;
    int64_t number = 0;
    while (*p >= '0' && *p <= '9') {
        number = number * 10 + (*p++ - '0');
        if (number > INT32_MAX) return -1;
    }
    if (p - digits < 2 || *p++ != '.' || std::strcmp(p, kExtension) != 0) return -1;
    // Only the name the plug-in itself forms for that number opens that
    // file: defplx007.880 would be read as one file and saved as another.
    char formed[16];
    std::snprintf(formed, sizeof formed, "%02d", static_cast<int32_t>(number));
    const size_t digitCount = static_cast<size_t>(p - 1 - digits);
    if (std::strlen(formed) != digitCount || std::strncmp(formed, digits, digitCount) != 0) return -1;
    return static_cast<int32_t>(number);
}

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
    // Positions shift when an object is unbound, so a tagged object finds its
    // scene by the name its data block keeps, not by where it was bound.
    const bool tagged =
        std::strncmp(reinterpret_cast<const char*>(instance.hostData + object_data::kTagOffset), kTag, 3) == 0;
    const int32_t kept = tagged ? ownFileNumber(instance.sceneFileName, object_data::kNameCapacity) : -1;
    if (kept >= 0 && !(table && nameTaken(*table, instance, kept))) {
        instance.fileNumber = kept;
    } else if (table) {
        // A name a bound instance saves to would let one of the two scenes
        // overwrite the other: the next number nobody uses is taken instead.
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
        instance.unreadableFile.clear();
        if (!loaded && holdsOtherThanAScene(instance.sceneFileName))
            scene::fullPathName(instance.sceneFileName, instance.unreadableFile);
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
    // Only the file found unreadable is kept aside, and only while it is the
    // one about to be replaced: a file read from the parent directory, from
    // another current directory, or deleted since is not in the way.
    std::string inTheWay;
    if (!instance.unreadableFile.empty() && holdsOtherThanAScene(name) && scene::fullPathName(name, inTheWay) &&
        scene::samePathName(inTheWay, instance.unreadableFile)) {
        // The user marked it as not to be changed: it is neither moved nor
        // replaced, as a read-only scene file never is.
        if (scene::isReadOnly(name)) {
            logCannotSave(name);
            return false;
        }
        char kept[object_data::kNameCapacity + 8];
        std::snprintf(kept, sizeof kept, "%s.bad", name);
        if (!scene::replaceFile(name, kept)) {
            logCannotSave(name);
            return false;
        }
        char message[2 * sizeof kept + 64];
        std::snprintf(message, sizeof message, "scene file %s unreadable, kept as %s", name, kept);
        geometry::logError(message);
    }
    instance.unreadableFile.clear();
    return instance.scene->save(name);
}

}  // namespace plexa::host
