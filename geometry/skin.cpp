#include "geometry/skin.h"

#include <cmath>
#include <memory>

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
    render::Matrices& m = render::matrices();
    for (uint32_t r = 0; r < rings; ++r) {
        const int32_t row = sampleIndex(r, rowSpacing, skin.height);
        for (uint32_t c = 0; c < n; ++c) {
            const size_t k = static_cast<size_t>(r) * n + c;
            const float h = sample(skin, row, sampleIndex(c, columnSpacing, skin.width)) * block.skinScale;
            const MeshEntry& normal = block.normals[k];
            // The move goes through the matrices like every other placement.
            for (int i = 0; i < 16; ++i) m.current[i] = (i % 5 == 0) ? 1.0f : 0.0f;
            render::loadTranslation(h * normal.x, h * normal.y, h * normal.z);
            render::composeStep();
            MeshEntry moved;
            render::transformPoints(&moved, &block.vertices[k], 1);
            block.vertices[k] = moved;
        }
    }
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

void planeNormals(scene::Block& block) {
    const uint32_t n = meshFineness(block.fineness);
    const uint32_t c = n + 1;
    const MeshEntry* v = block.vertices.get();
    std::unique_ptr<MeshEntry[]> faces(s_matrix(static_cast<int32_t>(2 * n * n)));
    for (uint32_t r = 0; r < n; ++r) {
        for (uint32_t k = 0; k < n; ++k) {
            const size_t l = static_cast<size_t>(r) * c + k;
            const size_t cell = 2 * (static_cast<size_t>(r) * n + k);
            faces[cell] = faceNormal(v[l + c], v[l + 1], v[l]);
            faces[cell + 1] = faceNormal(v[l + c + 1], v[l + 1], v[l + c]);
        }
    }
    auto faceA = [&](uint32_t r, uint32_t k) -> const MeshEntry& { return faces[2 * (static_cast<size_t>(r) * n + k)]; };
    auto faceB = [&](uint32_t r, uint32_t k) -> const MeshEntry& {
        return faces[2 * (static_cast<size_t>(r) * n + k) + 1];
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
    std::unique_ptr<MeshEntry[]> faces(s_matrix(static_cast<int32_t>(n * n)));
    for (uint32_t i = 0; i < cellRings; ++i) {
        for (uint32_t j = 0; j < n; ++j) {
            const size_t a = static_cast<size_t>(i) * n + j;
            const size_t b = static_cast<size_t>(i) * n + (j + 1) % n;
            const size_t cell = 2 * (static_cast<size_t>(i) * n + j);
            faces[cell] = faceNormal(v[a], v[a + n], v[b]);
            faces[cell + 1] = faceNormal(v[a + n], v[b + n], v[b]);
        }
    }
    for (uint32_t r = 0; r <= cellRings; ++r) {
        for (uint32_t j = 0; j < n; ++j) {
            const bool hasA = r < cellRings;
            const bool hasB = r >= 1;
            const uint32_t previous = (j + n - 1) % n;
            const MeshEntry* a = hasA ? &faces[2 * (static_cast<size_t>(r) * n + j)] : nullptr;
            const MeshEntry* b = hasB ? &faces[2 * (static_cast<size_t>(r - 1) * n + previous) + 1] : nullptr;
            MeshEntry& out = block.normals[static_cast<size_t>(r) * n + j];
            out = (a && b) ? unitSum(*a, *b) : (a ? *a : *b);
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
