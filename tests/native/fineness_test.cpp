// "Finer" doubles a block's fineness. Unbounded, a few clicks would give a
// plane of millions of vertices and, further on, counts that wrap; so the
// fineness stops at the ceiling, and the largest meshes accepted compile with
// their exact counts.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>

#include "geometry/mesh.h"
#include "render/transform.h"
#include "scene/block.h"
#include "tests/native/gl_recorder.h"
#include "tests/native/test_support.h"

namespace plexa::testing {
namespace {

using geometry::kFinenessCeiling;

class Fineness : public InTempDir {};

std::unique_ptr<scene::Block> makeBlock(scene::BlockKind kind, int32_t fineness) {
    char empty[] = "";
    return std::make_unique<scene::Block>(empty, 0, kind, fineness);
}

TEST_F(Fineness, FinerDoublesFromTheFloorAndStopsAtTheCeiling) {
    const struct {
        int32_t from, to;
    } cases[] = {{1, 8},        {4, 8},      {5, 10},       {8, 16},    {12, 24}, {511, 1022},
                 {600, 1024},   {1023, 1024}, {1024, 1024}, {INT32_MIN, 8}, {-3, 8}};
    for (const auto& c : cases) EXPECT_EQ(geometry::finerFineness(c.from), c.to) << c.from;
}

TEST_F(Fineness, RougherHalvesDownToTheFloor) {
    const struct {
        int32_t from, to;
    } cases[] = {{17, 8}, {20, 10}, {16, 8}, {8, 8}, {1, 8}, {1024, 512}, {INT32_MIN, 8}, {INT32_MAX, 1024}};
    for (const auto& c : cases) EXPECT_EQ(geometry::rougherFineness(c.from), c.to) << c.from;
}

TEST_F(Fineness, FinerAtTheCeilingLeavesTheBlockAsItIs) {
    auto plane = makeBlock(scene::PLANE, kFinenessCeiling);
    const geometry::MeshEntry* mesh = plane->vertices.get();
    EXPECT_FALSE(plane->makeFiner());
    EXPECT_EQ(plane->fineness, kFinenessCeiling);
    EXPECT_EQ(plane->vertices.get(), mesh);

    auto sphere = makeBlock(scene::SPHERE, 600);
    EXPECT_TRUE(sphere->makeFiner());
    EXPECT_EQ(sphere->fineness, kFinenessCeiling);
    EXPECT_EQ(sphere->vertexCount, geometry::meshCounts(scene::SPHERE, kFinenessCeiling).vertices);
    EXPECT_TRUE(sphere->makeRougher());
    EXPECT_EQ(sphere->fineness, 512);
    EXPECT_EQ(sphere->vertexCount, 512u * 257u);

    auto coarse = makeBlock(scene::SPHERE, 8);
    const geometry::MeshEntry* coarseMesh = coarse->vertices.get();
    EXPECT_FALSE(coarse->makeRougher());
    EXPECT_EQ(coarse->vertices.get(), coarseMesh);
}

TEST_F(Fineness, RebuildingAMeshOfTheSameSizeGivesTheFreshMesh) {
    // A rebuild writes over arrays that already have the right size; whatever
    // a skin left in them must be gone.
    for (scene::BlockKind kind : {scene::SPHERE, scene::PLANE, scene::CYLINDER}) {
        auto block = makeBlock(kind, 16), fresh = makeBlock(kind, 16);
        std::memset(block->vertices.get(), 0x7F, block->vertexCount * sizeof(geometry::MeshEntry));
        std::memset(block->normals.get(), 0x7F, block->normalCount * sizeof(geometry::MeshEntry));
        block->rebuildMesh();
        EXPECT_EQ(std::memcmp(block->vertices.get(), fresh->vertices.get(),
                              block->vertexCount * sizeof(geometry::MeshEntry)), 0) << kind;
        EXPECT_EQ(std::memcmp(block->normals.get(), fresh->normals.get(),
                              block->normalCount * sizeof(geometry::MeshEntry)), 0) << kind;
    }
}

TEST_F(Fineness, LargestMeshesCompileWithExactCounts) {
    // Only counts are recorded: millions of calls would not fit otherwise.
    gl().keepCalls = false;
    const uint64_t n = kFinenessCeiling;
    const struct {
        scene::BlockKind kind;
        uint64_t vertices;   // both lists together
        uint64_t strips;
    } cases[] = {
        // Underside quad, then n strips of 2(n + 1) in the appearance list; the
        // strips again in the pick list.
        {scene::PLANE, 4 + 2 * n * 2 * (n + 1), 2 * n},
        // n/2 bands of 2n + 2 in each list.
        {scene::SPHERE, 2 * (n / 2) * (2 * n + 2), 2 * (n / 2)},
        // Side of 2n + 2 and two caps of n, in each list.
        {scene::CYLINDER, 2 * (2 * n + 2 + 2 * n), 0},
    };
    for (const auto& c : cases) {
        auto block = makeBlock(c.kind, kFinenessCeiling);
        clearCalls();
        render::refresh(*block);
        EXPECT_EQ(countCalls("glVertex3f"), c.vertices) << c.kind;
        EXPECT_EQ(countCalls("glBegin"), countCalls("glEnd"));
        if (c.strips) EXPECT_EQ(countCalls("glBegin") - (c.kind == scene::PLANE ? 1 : 0), c.strips) << c.kind;
    }
}

}  // namespace
}  // namespace plexa::testing
