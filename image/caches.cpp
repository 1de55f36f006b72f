#include "image/caches.h"

#include <cstring>

#include "geometry/numeric.h"
#include "host/library_state.h"
#include "host/paths.h"
#include "render/gl.h"
#include "render/transform.h"

namespace plexa::image {

namespace {
constexpr size_t kInitialCapacity = 10;
constexpr size_t kGrowthStep = 10;
}  // namespace

Cache::Cache(bool ownsTextures) : ownsTextures_(ownsTextures) { entries_.reserve(kInitialCapacity); }

Cache::~Cache() {
    for (auto& entry : entries_) {
        if (ownsTextures_ && render::glAvailable()) {
            const GLuint texture = entry->id;
            glDeleteTextures(1, &texture);
        }
        entry.reset();
    }
}

const CacheEntry* Cache::findByName(const char* name) const {
    for (const auto& entry : entries_)
        if (std::strcmp(entry->name, name) == 0) return entry.get();
    return nullptr;
}

const CacheEntry* Cache::findById(uint32_t id) const {
    if (id == 0) return nullptr;
    for (const auto& entry : entries_)
        if (entry->id == id) return entry.get();
    return nullptr;
}

const CacheEntry& Cache::append(std::unique_ptr<CacheEntry> entry) {
    entries_.push_back(std::move(entry));
    if (entries_.size() % kGrowthStep == 0) entries_.reserve(entries_.size() + kGrowthStep);
    return *entries_.back();
}

std::unique_ptr<CacheEntry> makeEntry(const char* name, int32_t width, int32_t height) {
    auto entry = std::make_unique<CacheEntry>();
    std::strncpy(entry->name, name, sizeof entry->name - 1);
    entry->width = width;
    entry->height = height;
    return entry;
}

int32_t roundToPowerOfTwo(int32_t size) {
    if (size <= 1) return 1;
    int64_t above = 1;   // the smallest power of two above the size
    while (above <= size) above <<= 1;
    const int64_t rounded = (size - above / 4 > above - size) ? above : above / 2;
    return static_cast<int32_t>(rounded);
}

std::unique_ptr<float[]> heightsFromPixels(const uint8_t* rows, int32_t width, int32_t height, size_t stride) {
    const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
    geometry::checkAllocation(count * sizeof(float));
    std::unique_ptr<float[]> heights(new float[count]);
    for (int32_t r = 0; r < height; ++r) {
        const uint8_t* pixel = rows + static_cast<size_t>(r) * stride;
        float* out = heights.get() + static_cast<size_t>(r) * static_cast<size_t>(width);
        for (int32_t c = 0; c < width; ++c, pixel += 3)
            out[c] = static_cast<float>((pixel[0] + pixel[1] + pixel[2]) / 765.0);
    }
    return heights;
}

std::unique_ptr<CacheEntry> createTexture(const char* name, int32_t width, int32_t height, const uint8_t* pixels,
                                          uint32_t pixelOrder) {
    auto entry = makeEntry(name, width, height);
    GLuint texture = 0;
    glGenTextures(1, &texture);
    entry->id = texture;
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, width, height, 0, pixelOrder, GL_UNSIGNED_BYTE, pixels);
    glBindTexture(GL_TEXTURE_2D, 0);
    return entry;
}

bool cacheKey(const char* name, char (&key)[scene::kNameCapacity]) {
    key[0] = '\0';
    if (!name || std::strlen(name) >= sizeof key) return false;
    if (name[0] != '\0' && name[1] == ':')
        return host::makeRelative(name, host::library().pluginDirectory, key, sizeof key);
    std::memcpy(key, name, std::strlen(name) + 1);
    return true;
}

}  // namespace plexa::image
