#include "render/transform.h"

#include <cmath>
#include <cstring>

#include "geometry/mesh.h"
#include "render/gl.h"
#include "render/lists.h"
#include "scene/block.h"
#include "scene/scene.h"

namespace plexa::render {

using geometry::MeshEntry;

namespace {

bool g_glAvailable = true;

// Mesh counts reach transformPoints as signed 32-bit counts.
static_assert((int64_t{geometry::kFinenessCeiling} + 1) * (geometry::kFinenessCeiling + 1) + 4 <= INT32_MAX,
              "the largest mesh must be countable in 32 signed bits");

constexpr float kIdentity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

void loadOperand(const float (&values)[16]) { std::memcpy(matrices().operand, values, sizeof values); }

}  // namespace

Matrices& matrices() {
    static Matrices state{};
    return state;
}

void composeStep() { composeStep(matrices()); }

void loadScale(const scene::Block& block) {
    std::memcpy(matrices().current, kIdentity, sizeof kIdentity);
    loadOperand({block.size[0], 0, 0, 0, 0, block.size[1], 0, 0, 0, 0, block.size[2], 0, 0, 0, 0, 1});
    composeStep();
}

void rotateAboutX(float angle) {
    const float c = std::cos(angle), s = std::sin(angle);
    loadOperand({1, 0, 0, 0, 0, c, s, 0, 0, -s, c, 0, 0, 0, 0, 1});
    composeStep();
}

void rotateAboutY(float angle) {
    const float c = std::cos(angle), s = std::sin(angle);
    loadOperand({c, 0, -s, 0, 0, 1, 0, 0, s, 0, c, 0, 0, 0, 0, 1});
    composeStep();
}

void rotateAboutZ(float angle) {
    const float c = std::cos(angle), s = std::sin(angle);
    loadOperand({c, s, 0, 0, -s, c, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1});
    composeStep();
}

void loadTranslation(float x, float y, float z) { loadTranslation(matrices(), x, y, z); }

void loadBlockTransform(const scene::Block& block) {
    // Y before X before Z: with row vectors the first factor composed acts first.
    loadScale(block);
    rotateAboutY(block.rotation[1]);
    rotateAboutX(block.rotation[0]);
    rotateAboutZ(block.rotation[2]);
}

void transformPoints(MeshEntry* out, const MeshEntry* in, int32_t count) {
    if (!out || !in || count <= 0) return;
    // A local copy: the compiler need not reload the matrix after every store
    // through `out`, and the loop stays one streaming pass.
    float m[16];
    std::memcpy(m, matrices().current, sizeof m);
    for (int32_t k = 0; k < count; ++k) out[k] = transformPoint(m, in[k]);
}

void transformMesh(const scene::Block& block, MeshEntry* drawingVertices, MeshEntry* drawingNormals) {
    // Normals take the same matrix as points, not its inverse transpose: under
    // an uneven size they lean towards the stretched axis, which is how these
    // blocks have always been shaded. Transform and renormalisation share one
    // pass, so the normals are read and written once.
    if (block.normals && drawingNormals) {
        float m[16];
        std::memcpy(m, matrices().current, sizeof m);
        const MeshEntry* in = block.normals.get();
        for (uint32_t k = 0; k < block.normalCount; ++k) {
            const MeshEntry p = in[k];
            const float x = m[0] * p.x + m[4] * p.y + m[8] * p.z + m[12] * p.w;
            const float y = m[1] * p.x + m[5] * p.y + m[9] * p.z + m[13] * p.w;
            const float z = m[2] * p.x + m[6] * p.y + m[10] * p.z + m[14] * p.w;
            const float length = std::sqrt(x * x + y * y + z * z);
            // A size of 0 flattens faces to zero-length normals; they stay zero.
            drawingNormals[k] = length == 0.0f ? MeshEntry{0.0f, 0.0f, 0.0f, 1.0f}
                                               : MeshEntry{x / length, y / length, z / length, 1.0f};
        }
    }
    loadTranslation(block.origin[0], block.origin[1], block.origin[2]);
    composeStep();
    transformPoints(drawingVertices, block.vertices.get(), static_cast<int32_t>(block.vertexCount));
}

void setGlAvailable(bool available) { g_glAvailable = available; }

bool glAvailable() { return g_glAvailable; }

uint32_t allocateLists() { return glGenLists(2); }

void deleteLists(uint32_t listBase) {
    if (g_glAvailable && listBase != 0) glDeleteLists(listBase, 2);
}

void refresh(scene::Block& block) {
    loadBlockTransform(block);
    compileLists(block);
}

void refreshAll(scene::Scene& scene) {
    for (int32_t i = 0; i < scene.count(); ++i) refresh(*scene.block(i));
}

}  // namespace plexa::render
