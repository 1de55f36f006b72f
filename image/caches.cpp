#include "image/caches.h"

#include <cstring>

namespace plexa::image {

namespace {
constexpr size_t kInitialCapacity = 10;
constexpr size_t kGrowthStep = 10;
}  // namespace

Cache::Cache() { entries_.reserve(kInitialCapacity); }

const CacheEntry* Cache::findByName(const char* name) const {
    for (const CacheEntry& entry : entries_)
        if (std::strcmp(entry.name, name) == 0) return &entry;
    return nullptr;
}

const CacheEntry* Cache::findById(uint32_t id) const {
    if (id == 0) return nullptr;
    for (const CacheEntry& entry : entries_)
        if (entry.id == id) return &entry;
    return nullptr;
}

const CacheEntry& Cache::add(const char* name, uint32_t id) {
    CacheEntry entry;
    std::strncpy(entry.name, name, sizeof entry.name - 1);
    entry.id = id;
    entries_.push_back(entry);
    if (entries_.size() % kGrowthStep == 0) entries_.reserve(entries_.size() + kGrowthStep);
    return entries_.back();
}

uint32_t loadMaterial(const char* name, void* /*owner*/) {
    if (!name || std::strlen(name) >= scene::kNameCapacity) return 0;
    if (const CacheEntry* known = textureCache().findByName(name)) return known->id;
    return 0;  // no decoder is linked yet: every new image counts as unloadable
}

uint32_t loadSkin(const char* name, void* /*owner*/) {
    if (!name || std::strlen(name) >= scene::kNameCapacity) return 0;
    if (const CacheEntry* known = skinCache().findByName(name)) return known->id;
    return 0;
}

}  // namespace plexa::image
