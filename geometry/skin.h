// Skin displacement: a grey-level height field swells a SPHERE radially and
// raises a PLANE into relief; the grid's normals are then formed again from its
// triangles (core side).
//
// [X] SPHERE: radial displacement by nearest sample, through the shared matrices
// [X] PLANE: interior grid heights; border and underside stay at y = 0
// [X] CUBE, TRIANGLE, CYLINDER record the skin and keep their shape
// [X] normals from two faces per vertex; spheres below two segments keep the
//     plain normals, having no cell ring to form them from
#pragma once

#include <cstdint>

namespace plexa::scene {
struct Block;
}

namespace plexa::geometry {

// `id` 0 or more becomes the block's skin (0: none); a negative id keeps the
// present one. The block ends with the plain mesh when no cached skin has its
// id, else with the displaced mesh and recomputed normals.
void applySkin(scene::Block& block, int64_t id);

// Normals of a SPHERE's or PLANE's grid from its present vertices.
void recomputeNormals(scene::Block& block);

}  // namespace plexa::geometry
