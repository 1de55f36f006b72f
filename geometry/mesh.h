// Unit meshes of the five block kinds (core side: no window, no Win32).
//
// [X] CUBE, TRIANGLE, CYLINDER, SPHERE, PLANE vertices and normals
// [X] faceNormal
// [X] one fineness ceiling for the whole system
// [X] the Finer / Rougher fineness steps, bounded by the floor and the ceiling
#pragma once

#include <cstdint>

#include "geometry/numeric.h"

namespace plexa::scene {
struct Block;
}

namespace plexa::geometry {

// The finest subdivision any block may have. A PLANE at this fineness holds
// (1024+1)^2+4 = 1,050,629 vertices: its mesh and normals take 16 MiB each, the
// drawing arrays as much again, and its display lists stay in the low hundreds
// of MiB, which a 64-bit host can give. 1024 is a power of two so that "Finer"
// reaches it exactly from the command floor of 8. Every count derived from it
// fits comfortably in 32 bits.
constexpr int32_t kFinenessCeiling = 1024;

// The smallest fineness the scene reader gives each kind.
constexpr int32_t kCylinderMinimum = 8;
constexpr int32_t kSphereMinimum = 4;
constexpr int32_t kPlaneMinimum = 1;

// "Finer" and "Rougher" never leave a block below this fineness.
constexpr int32_t kCommandFloor = 8;

// The subdivision count a mesh is built with for a stored fineness: the
// fineness itself, kept between 1 and the ceiling. The mesh builders and the
// list builders both use it, so they always agree on the index ranges.
uint32_t meshFineness(int32_t fineness);

// "Finer": twice the fineness, at least the floor, and never past the ceiling;
// at the ceiling the fineness stays as it is.
int32_t finerFineness(int32_t fineness);
// "Rougher": half the fineness, truncated, and at least the floor.
int32_t rougherFineness(int32_t fineness);

// Vertex and normal counts of a kind at fineness n (n clamped to 1..ceiling).
struct MeshCounts {
    uint32_t vertices;
    uint32_t normals;
};
MeshCounts meshCounts(int32_t kind, int32_t fineness);

// Unit normal of triangle A, B, C (w = 1); (0, 0, 0, 1) when degenerate.
MeshEntry faceNormal(const MeshEntry& a, const MeshEntry& b, const MeshEntry& c);

// Allocates and fills the block's vertices and normals for its kind and
// fineness; a kind outside the five leaves the block as it is. When memory
// runs out (AllocationFailure) the block keeps the mesh it had.
void buildMesh(scene::Block& block);

// Builds the mesh again for the block's kind and fineness. Arrays that already
// have the new counts are written over; others are released and allocated anew.
void rebuildMesh(scene::Block& block);

}  // namespace plexa::geometry
