#include "geometry/skin.h"

#include <cmath>

#include "geometry/mesh.h"
#include "image/caches.h"
#include "render/transform.h"
#include "scene/block.h"

namespace plexa::geometry {

namespace {

// A sample index from a single-precision product truncated toward zero. The
// products stay below the skin's size by construction; the bound only guards
// against rounding at the last row or column.
int32_t sampleIndex(uint32_t step, float spacing, int32_t size) {
    const int32_t index = static_cast<int32_t>(static_cast<float>(step) * spacing);
    if (index < 0) return 0;
    return index >= size ? size - 1 : index;
}

float sample(const image::CacheEntry& skin, int32_t row, int32_t column) {
    return skin.heights[static_cast<size_t>(row) * static_cast<size_t>(skin.width) + static_cast<size_t>(column)];
}

MeshEntry unitSum(const MeshEntry& a, const MeshEntry& b) {
    const float x = a.x + b.x, y = a.y + b.y, z = a.z + b.z;
    const float length = std::sqrt(x * x + y * y + z * z);
    if (length == 0.0f) return MeshEntry{0.0f, 0.0f, 0.0f, 1.0f};
    return MeshEntry{x / length, y / length, z / length, 1.0f};
}

void displaceSphere(scene::Block& block, const image::CacheEntry& skin) {
    const uint32_t n = meshFineness(block.fineness);
    const uint32_t rings = n / 2 + 1;
    const float columnSpacing = static_cast<float>(static_cast<double>(skin.width) / n);
    const float rowSpacing = static_cast<float>(static_cast<double>(skin.height) / rings);
    // The move goes through the matrices like every other placement. Each
    // vertex's pair is a local one, whose constant parts the compiler folds,
    // and the shared pair is left as the last vertex leaves it: composing
    // through the shared matrices' memory for each of up to half a million
    // vertices cost several times the rest of the refresh. Same arithmetic,
    // same results.
    render::Matrices last = render::matrices();
    for (uint32_t r = 0; r < rings; ++r) {
        const int32_t row = sampleIndex(r, rowSpacing, skin.height);
        for (uint32_t c = 0; c < n; ++c) {
            const size_t k = static_cast<size_t>(r) * n + c;
            const float h = sample(skin, row, sampleIndex(c, columnSpacing, skin.width)) * block.skinScale;
            const MeshEntry& normal = block.normals[k];
            render::Matrices m;
#pragma GCC unroll 16
            for (int i = 0; i < 16; ++i) m.current[i] = (i % 5 == 0) ? 1.0f : 0.0f;
            render::loadTranslation(m, h * normal.x, h * normal.y, h * normal.z);
            render::composeStep(m);
            block.vertices[k] = render::transformPoint(m.current, block.vertices[k]);
            if (k + 1 == static_cast<size_t>(rings) * n) last = m;
        }
    }
    render::matrices() = last;
}

void displacePlane(scene::Block& block, const image::CacheEntry& skin) {
    const uint32_t n = meshFineness(block.fineness);
    if (n <= 1) return;
    const float columnSpacing = static_cast<float>(static_cast<double>(skin.width) / (n - 1));
    const float rowSpacing = static_cast<float>(static_cast<double>(skin.height) / (n - 1));
    for (uint32_t u = 0; u + 1 < n; ++u) {
        const int32_t row = sampleIndex(u, rowSpacing, skin.height);
        for (uint32_t i = 0; i + 1 < n; ++i) {
            const size_t k = static_cast<size_t>(u + 1) * (n + 1) + i + 1;
            block.vertices[k].y = sample(skin, row, sampleIndex(i, columnSpacing, skin.width)) * block.skinScale;
        }
    }
}

// The normals are formed from each vertex's two faces, computed where they
// are needed: a table of every face first would take and fill 16 or 32 MiB at
// the ceiling for values that are read once.
void planeNormals(scene::Block& block) {
    const uint32_t n = meshFineness(block.fineness);
    const uint32_t c = n + 1;
    const MeshEntry* v = block.vertices.get();
    auto faceA = [&](uint32_t r, uint32_t k) {
        const size_t l = static_cast<size_t>(r) * c + k;
        return faceNormal(v[l + c], v[l + 1], v[l]);
    };
    auto faceB = [&](uint32_t r, uint32_t k) {
        const size_t l = static_cast<size_t>(r) * c + k;
        return faceNormal(v[l + c + 1], v[l + 1], v[l + c]);
    };
    for (uint32_t r = 0; r <= n; ++r) {
        for (uint32_t k = 0; k <= n; ++k) {
            const bool hasA = r < n && k < n;
            const bool hasB = r >= 1 && k >= 1;
            MeshEntry& out = block.normals[static_cast<size_t>(r) * c + k];
            if (hasA && hasB)
                out = unitSum(faceA(r, k), faceB(r - 1, k - 1));
            else if (hasA)
                out = faceA(r, k);
            else if (hasB)
                out = faceB(r - 1, k - 1);
            else if (r == 0)
                out = faceB(0, n - 1);   // the corner of row 0, column n
            else
                out = faceA(n - 1, 0);   // the corner of row n, column 0
        }
    }
}

void sphereNormals(scene::Block& block) {
    const uint32_t n = meshFineness(block.fineness);
    // One segment has no cell ring to take faces from; the plain normals stay.
    if (n < 2) return;
    const uint32_t cellRings = n / 2;
    const MeshEntry* v = block.vertices.get();
    // Cell (i, j) spans columns j and j + 1 (mod n) of rings i and i + 1.
    auto faceA = [&](uint32_t i, uint32_t j) {
        const size_t a = static_cast<size_t>(i) * n + j;
        const size_t b = static_cast<size_t>(i) * n + (j + 1) % n;
        return faceNormal(v[a], v[a + n], v[b]);
    };
    auto faceB = [&](uint32_t i, uint32_t j) {
        const size_t a = static_cast<size_t>(i) * n + j;
        const size_t b = static_cast<size_t>(i) * n + (j + 1) % n;
        return faceNormal(v[a + n], v[b + n], v[b]);
    };
    for (uint32_t r = 0; r <= cellRings; ++r) {
        for (uint32_t j = 0; j < n; ++j) {
            const uint32_t previous = (j + n - 1) % n;
            MeshEntry& out = block.normals[static_cast<size_t>(r) * n + j];
            if (r < cellRings && r >= 1)
                out = unitSum(faceA(r, j), faceB(r - 1, previous));
            else if (r < cellRings)
                out = faceA(r, j);
            else
                out = faceB(r - 1, previous);
        }
    }
}

}  // namespace

void applySkin(scene::Block& block, int64_t id) {
    if (id >= 0) block.skinId = static_cast<uint32_t>(id);
    const image::CacheEntry* skin = image::skinCache().findById(block.skinId);
    if (!skin || !skin->heights || skin->width <= 0 || skin->height <= 0) {
        rebuildMesh(block);
        return;
    }
    switch (block.kind) {
        case scene::SPHERE:
            rebuildMesh(block);
            displaceSphere(block, *skin);
            break;
        case scene::PLANE:
            displacePlane(block, *skin);
            break;
        default:
            break;
    }
    recomputeNormals(block);
}

void recomputeNormals(scene::Block& block) {
    if (block.kind == scene::PLANE)
        planeNormals(block);
    else if (block.kind == scene::SPHERE)
        sphereNormals(block);
}

}  // namespace plexa::geometry
