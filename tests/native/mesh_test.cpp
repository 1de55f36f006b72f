// Mesh counts size every array the renderer fills, so a wrong count is an
// overrun; the sample vertices pin the builders' orientation and precision.
#include <gtest/gtest.h>

#include <cmath>

#include "geometry/mesh.h"
#include "scene/block.h"
#include "tests/native/test_support.h"

namespace plexa::testing {
namespace {

using geometry::MeshEntry;

class Mesh : public InTempDir {};

void expectEntry(const MeshEntry& e, float x, float y, float z) {
    EXPECT_NEAR(e.x, x, 1e-6);
    EXPECT_NEAR(e.y, y, 1e-6);
    EXPECT_NEAR(e.z, z, 1e-6);
    EXPECT_EQ(e.w, 1.0f);
}

std::unique_ptr<scene::Block> block(scene::BlockKind kind, int32_t fineness) {
    char empty[] = "";
    return std::make_unique<scene::Block>(empty, 0, kind, fineness);
}

TEST_F(Mesh, CountsPerKind) {
    EXPECT_EQ(block(scene::CUBE, 1)->vertexCount, 8u);
    EXPECT_EQ(block(scene::CUBE, 99)->normalCount, 6u);
    EXPECT_EQ(block(scene::TRIANGLE, 1)->vertexCount, 6u);
    EXPECT_EQ(block(scene::TRIANGLE, 1)->normalCount, 5u);
    auto cylinder = block(scene::CYLINDER, 12);
    EXPECT_EQ(cylinder->vertexCount, 24u);
    EXPECT_EQ(cylinder->normalCount, 14u);
    EXPECT_EQ(block(scene::SPHERE, 6)->vertexCount, 24u);
    EXPECT_EQ(block(scene::SPHERE, 5)->vertexCount, 15u);
    EXPECT_EQ(block(scene::SPHERE, 1)->vertexCount, 1u);
    EXPECT_EQ(block(scene::PLANE, 1)->vertexCount, 8u);
    EXPECT_EQ(block(scene::PLANE, 20)->normalCount, 445u);
}

TEST_F(Mesh, CountsAtTheCeilingFitAndDoNotWrap) {
    const auto sphere = geometry::meshCounts(scene::SPHERE, geometry::kFinenessCeiling);
    EXPECT_EQ(sphere.vertices, 1024u * 513u);
    const auto plane = geometry::meshCounts(scene::PLANE, geometry::kFinenessCeiling);
    EXPECT_EQ(plane.vertices, 1025u * 1025u + 4u);
    // Anything above the ceiling is built at the ceiling.
    EXPECT_EQ(geometry::meshCounts(scene::PLANE, 2147483647).vertices, plane.vertices);
    EXPECT_EQ(geometry::meshCounts(7, 8).vertices, 0u);
}

TEST_F(Mesh, CubeAndPrismFaceNormalsPointOut) {
    auto cube = block(scene::CUBE, 1);
    expectEntry(cube->normals[0], -1, 0, 0);
    expectEntry(cube->normals[1], 0, 0, -1);
    expectEntry(cube->normals[2], 1, 0, 0);
    expectEntry(cube->normals[3], 0, 0, 1);
    expectEntry(cube->normals[4], 0, -1, 0);
    expectEntry(cube->normals[5], 0, 1, 0);
    auto prism = block(scene::TRIANGLE, 1);
    expectEntry(prism->normals[0], 0, -1, 0);
    expectEntry(prism->normals[1], std::sqrt(0.5f), std::sqrt(0.5f), 0);
    expectEntry(prism->normals[2], -std::sqrt(0.5f), std::sqrt(0.5f), 0);
    expectEntry(prism->normals[3], 0, 0, 1);
    expectEntry(prism->normals[4], 0, 0, -1);
}

TEST_F(Mesh, CylinderRimsAndCaps) {
    auto cylinder = block(scene::CYLINDER, 12);
    expectEntry(cylinder->vertices[0], 0, -0.5f, 0.5f);
    expectEntry(cylinder->vertices[1], 0, 0.5f, 0.5f);
    expectEntry(cylinder->vertices[6], -0.5f, -0.5f, 0);   // a quarter turn goes towards -x
    expectEntry(cylinder->normals[0], 0, 0, 0.5f);
    expectEntry(cylinder->normals[12], 0, -1, 0);
    expectEntry(cylinder->normals[13], 0, 1, 0);
}

TEST_F(Mesh, SpherePolesAndRings) {
    auto even = block(scene::SPHERE, 6);
    for (int j = 0; j < 6; ++j) expectEntry(even->vertices[j], 0, 0.5f, 0);
    for (int j = 18; j < 24; ++j) EXPECT_FLOAT_EQ(even->vertices[j].y, -0.5f);
    for (int k = 0; k < 24; ++k) {
        EXPECT_EQ(even->normals[k].x, even->vertices[k].x);
        EXPECT_EQ(even->normals[k].z, even->vertices[k].z);
    }
    auto odd = block(scene::SPHERE, 5);
    EXPECT_NEAR(odd->vertices[10].y, 0.5 * std::cos(4 * M_PI / 5), 1e-6);
    auto single = block(scene::SPHERE, 1);
    expectEntry(single->vertices[0], 0, 0.5f, 0);
}

TEST_F(Mesh, PlaneGridAndUnderside) {
    auto plane = block(scene::PLANE, 1);
    expectEntry(plane->vertices[0], -0.5f, 0, -0.5f);
    expectEntry(plane->vertices[3], 0.5f, 0, 0.5f);
    expectEntry(plane->vertices[4], -0.5f, 0, -0.5f);
    expectEntry(plane->vertices[6], 0.5f, 0, 0.5f);
    expectEntry(plane->normals[3], 0, 1, 0);
    expectEntry(plane->normals[7], 0, -1, 0);
    auto fine = block(scene::PLANE, 20);
    expectEntry(fine->vertices[21], -0.5f, 0, -0.45f);
}

TEST_F(Mesh, RebuildFollowsKindAndFineness) {
    auto b = block(scene::PLANE, 1);
    b->kind = scene::SPHERE;
    b->rebuildMesh();
    EXPECT_EQ(b->vertexCount, 1u);
    b->fineness = 16;
    b->rebuildMesh();
    EXPECT_EQ(b->vertexCount, 16u * 9u);
}

}  // namespace
}  // namespace plexa::testing
