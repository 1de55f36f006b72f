#include "host/instance_table.h"

#include <cstdint>
#include <cstring>

namespace plexa::host {

namespace {
constexpr size_t kInitialCapacity = 10;
constexpr size_t kGrowthStep = 10;
constexpr size_t kGrowthAmount = 50;
}  // namespace

void PluginInstance::attachData(uint8_t* data) {
    if (!data) {
        if (!ownData) ownData = std::make_unique<uint8_t[]>(object_data::kMinimumSize);
        data = ownData.get();
    }
    hostData = data;
    sceneFileName = reinterpret_cast<char*>(data + object_data::kNameOffset);
}

void PluginInstance::attachCopyOfData() {
    auto copy = std::make_unique<uint8_t[]>(object_data::kMinimumSize);
    std::memcpy(copy.get(), hostData, object_data::kMinimumSize);
    ownData = std::move(copy);
    attachData(ownData.get());
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

}  // namespace plexa::host
