// Library-wide caches of material textures and skins, shared by all instances
// and looked up by exact stored name or by id (core side).
//
// [X] entries with stored names; growth 10, then +10 at every multiple of 10
// [X] lookup by name and by id; the writer names a block's material and skin
// [ ] image decoding into textures and height maps (arrives with the image loaders)
#pragma once

#include <cstdint>
#include <vector>

#include "scene/block.h"

namespace plexa::image {

struct CacheEntry {
    char name[scene::kNameCapacity] = {};  // stored form of the file name
    uint32_t id = 0;                        // texture name, or 1-based skin position
};

class Cache {
public:
    Cache();
    const CacheEntry* findByName(const char* name) const;
    const CacheEntry* findById(uint32_t id) const;
    const CacheEntry& add(const char* name, uint32_t id);
    int32_t count() const { return static_cast<int32_t>(entries_.size()); }
    size_t capacity() const { return entries_.capacity(); }

private:
    std::vector<CacheEntry> entries_;
};

Cache& textureCache();
Cache& skinCache();

// The id of the material or skin stored under `name`, loading it on first use;
// 0 when the image cannot be loaded. `owner` owns any message box shown.
uint32_t loadMaterial(const char* name, void* owner);
uint32_t loadSkin(const char* name, void* owner);

}  // namespace plexa::image
