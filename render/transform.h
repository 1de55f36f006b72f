// Block transform: size, rotations and origin applied to a block's mesh on the
// CPU, once per refresh, so that drawing a block is a single list call and the
// plug-in never touches the OpenGL matrix stack (GL side through refresh,
// which compiles the lists; the matrix work itself needs no context).
//
// [X] the current and operand matrices: row-major 4 x 4 floats, row vectors,
//     translation at 12, 13, 14; process-wide scratch, nothing kept between uses
// [X] composeStep, loadScale, rotateAboutX / Y / Z, loadTranslation
// [X] transformPoints, and transformMesh with normals carried by the same
//     matrix and renormalised (zero-length normals stay zero, no division)
// [X] refresh: S * Ry * Rx * Rz, then the translation, then both lists compiled
// [X] refreshAll in list order
// [X] display-list names owned per block (allocated at construction, deleted at destruction)
#pragma once

#include <cstdint>

#include "geometry/numeric.h"

namespace plexa::scene {
struct Block;
class Scene;
}  // namespace plexa::scene

namespace plexa::render {

// [row][column] at 4 * row + column.
struct Matrices {
    float current[16];
    float operand[16];
};

// The single pair of matrices shared by every block; skin displacement composes
// with them too. Refreshing is therefore not re-entrant.
Matrices& matrices();

// current := current x operand, formed in a temporary first.
void composeStep();
// The same on a pair of matrices of the caller's (inline, so that a caller
// composing per vertex keeps the work in registers).
inline void composeStep(Matrices& m) {
    float product[16];
#pragma GCC unroll 4
    for (int row = 0; row < 4; ++row) {
#pragma GCC unroll 4
        for (int column = 0; column < 4; ++column) {
            float sum = m.current[4 * row] * m.operand[column];
#pragma GCC unroll 3
            for (int k = 1; k < 4; ++k) sum += m.current[4 * row + k] * m.operand[4 * k + column];
            product[4 * row + column] = sum;
        }
    }
#pragma GCC unroll 16
    for (int i = 0; i < 16; ++i) m.current[i] = product[i];
}
// current := identity, then composes diag(size.x, size.y, size.z, 1).
void loadScale(const scene::Block& block);
// Counter-clockwise by `angle` radians seen from the positive end of the axis;
// sine and cosine in single precision.
void rotateAboutX(float angle);
void rotateAboutY(float angle);
void rotateAboutZ(float angle);
// operand := identity with (x, y, z) in the translation row.
void loadTranslation(float x, float y, float z);
inline void loadTranslation(Matrices& m, float x, float y, float z) {
    const float values[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, x, y, z, 1};
#pragma GCC unroll 16
    for (int i = 0; i < 16; ++i) m.operand[i] = values[i];
}

// Steps 1 to 4 of a refresh: current := S * Ry * Rx * Rz for the block.
void loadBlockTransform(const scene::Block& block);

// p x m, w included, no division by w.
inline geometry::MeshEntry transformPoint(const float (&m)[16], const geometry::MeshEntry& p) {
    return geometry::MeshEntry{m[0] * p.x + m[4] * p.y + m[8] * p.z + m[12] * p.w,
                               m[1] * p.x + m[5] * p.y + m[9] * p.z + m[13] * p.w,
                               m[2] * p.x + m[6] * p.y + m[10] * p.z + m[14] * p.w,
                               m[3] * p.x + m[7] * p.y + m[11] * p.z + m[15] * p.w};
}

// out[k] := in[k] x current for k < count, w included, no division by w.
// Nothing happens when either array is absent or count is not positive; out and
// in are distinct arrays.
void transformPoints(geometry::MeshEntry* out, const geometry::MeshEntry* in, int32_t count);

// Fills drawingNormals (normalCount entries) with the block's normals through
// the current matrix, renormalised with w = 1, then composes the translation to
// `origin` and fills drawingVertices (vertexCount entries). The current matrix
// must hold the block's scale and rotations; on return it holds the
// translation as well.
void transformMesh(const scene::Block& block, geometry::MeshEntry* drawingVertices,
                   geometry::MeshEntry* drawingNormals);

// Two consecutive list names: the appearance list and the pick list.
uint32_t allocateLists();
void deleteLists(uint32_t listBase);

// At process exit the system's OpenGL may already be gone when the library's
// static objects are destroyed; from then on list (and texture) deletion is
// skipped.
void setGlAvailable(bool available);
bool glAvailable();

// The block's complete update: transform rebuilt from size, rotation and
// origin, both display lists compiled again.
void refresh(scene::Block& block);
// refresh of every block of the scene, index 0 first.
void refreshAll(scene::Scene& scene);

}  // namespace plexa::render
