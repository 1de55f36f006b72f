// Image loading without a window system, for the native build: the caches are
// real, but no file is decoded, so a name not already cached loads as none.
#include "image/caches.h"

namespace plexa::image {

namespace {
uint32_t find(const Cache& cache, const char* name) {
    char key[scene::kNameCapacity];
    if (!cacheKey(name, key)) return 0;
    const CacheEntry* known = cache.findByName(key);
    return known ? known->id : 0;
}
}  // namespace

uint32_t loadMaterial(const char* name, void*) { return find(textureCache(), name); }
uint32_t loadSkin(const char* name, void*) { return find(skinCache(), name); }
int64_t chooseMaterial(void*) { return -1; }
int64_t chooseSkin(void*) { return -1; }

}  // namespace plexa::image
