// Library-wide caches of material textures and skins, shared by all instances
// and looked up by exact stored name or by id (core side; textures are GL).
//
// [X] entries in loading order; growth 10, then count + 10 at every multiple of 10
// [X] lookup by name (exact, case significant) and by id
// [X] power-of-two rounding of material sizes; grey-level heights of skins
// [X] texture creation and deletion at unload
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "scene/block.h"

namespace plexa::image {

struct CacheEntry {
    char name[scene::kNameCapacity] = {};  // stored form of the image's name
    int32_t width = 0;
    int32_t height = 0;
    std::unique_ptr<float[]> heights;       // a skin's width x height samples, row 0 first
    uint32_t id = 0;                        // texture name, or a skin's 1-based position
};

class Cache {
public:
    // `ownsTextures`: entries' ids are GL texture names to delete with the cache.
    explicit Cache(bool ownsTextures);
    ~Cache();
    Cache(const Cache&) = delete;
    Cache& operator=(const Cache&) = delete;

    const CacheEntry* findByName(const char* name) const;
    const CacheEntry* findById(uint32_t id) const;
    const CacheEntry& append(std::unique_ptr<CacheEntry> entry);
    int32_t count() const { return static_cast<int32_t>(entries_.size()); }
    size_t capacity() const { return entries_.capacity(); }

private:
    std::vector<std::unique_ptr<CacheEntry>> entries_;
    bool ownsTextures_;
};

Cache& textureCache();
Cache& skinCache();

// An entry with `name` (cut to 259 characters) and the given size.
std::unique_ptr<CacheEntry> makeEntry(const char* name, int32_t width, int32_t height);

// A texture side for an image side: the nearer power of two, leaning down
// (3 -> 4, 5 -> 4, 6 -> 8, 80 -> 64, 81 -> 128).
int32_t roundToPowerOfTwo(int32_t size);

// Heights from 24-bit top-down rows of `stride` bytes: the mean of each
// pixel's three bytes, 0 for black and 1 for white.
std::unique_ptr<float[]> heightsFromPixels(const uint8_t* rows, int32_t width, int32_t height, size_t stride);

// A new texture entry holding the uploaded pixels (rows padded to four bytes),
// `pixelOrder` GL_BGR_EXT or GL_RGB; not yet appended.
std::unique_ptr<CacheEntry> createTexture(const char* name, int32_t width, int32_t height, const uint8_t* pixels,
                                          uint32_t pixelOrder);

// The id of the material or skin under `name` (full or stored form), loading
// it on first use; 0 when the image cannot be loaded. `owner` is the window
// whose device context the load uses and that owns its messages. A name that
// cannot be loaded is reported (for the kinds that report) once per library
// load; later loads of it try again without a word.
uint32_t loadMaterial(const char* name, void* owner);
uint32_t loadSkin(const char* name, void* owner);

// The file choosers: -1 when cancelled, else the load's result. A chosen
// picture that cannot be loaded is always reported.
int64_t chooseMaterial(void* owner);
int64_t chooseSkin(void* owner);

// The cache key of a name: the stored form of a drive path, else the name.
// False when the stored form would not fit a name.
bool cacheKey(const char* name, char (&key)[scene::kNameCapacity]);

}  // namespace plexa::image
