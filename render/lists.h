// The two display lists of every block, compiled from its transformed mesh
// (GL side).
//
// [X] compileLists: drawing arrays, transformMesh, then the builder of the kind
// [X] appearance list: material bound (or texturing off, coordinates 0), colour,
//     shade model for the curved kinds, texturing on again at the end
// [X] pick list: untextured, in the pick colour, the same primitives
// [X] CUBE, TRIANGLE, CYLINDER, SPHERE, PLANE builders
// [X] drawing arrays kept process-wide and grown as needed, so refreshing
//     allocates only when a block is larger than every block before it
// [X] a mesh whose counts do not match its kind and fineness compiles nothing
//     (the builders read fixed index ranges)
// [X] lighting, materials, culling and texture generation stay the host's:
//     no list sets them
#pragma once

#include <cstdint>

#include "geometry/numeric.h"

namespace plexa::scene {
struct Block;
}

namespace plexa::render {

// Compiles the block's appearance list (listBase) and pick list (listBase + 1)
// from its mesh. The current matrix must hold the block's scale and rotations
// (refresh sets it up); the translation to `origin` is composed here. A kind
// outside the five leaves both lists as they were.
void compileLists(scene::Block& block);

// The process-wide drawing vertices and normals: one block's transformed mesh
// while its lists are compiled.
struct DrawingArrays {
    geometry::MeshEntry* vertices = nullptr;
    geometry::MeshEntry* normals = nullptr;
    uint32_t vertexCapacity = 0;
    uint32_t normalCapacity = 0;
};
const DrawingArrays& drawingArrays();

// Makes the drawing arrays hold at least these many entries.
void reserveDrawingArrays(uint32_t vertices, uint32_t normals);

}  // namespace plexa::render
