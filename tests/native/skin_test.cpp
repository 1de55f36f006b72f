// Skin displacement: which sample each vertex takes (by truncation, in single
// precision), which vertices move, and the normals formed afterwards. The
// skins are put straight into the library's SkinCache as a load would.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <string>

#include "geometry/mesh.h"
#include "geometry/skin.h"
#include "image/caches.h"
#include "scene/block.h"
#include "tests/native/test_support.h"

namespace plexa::testing {
namespace {

using geometry::applySkin;
using geometry::MeshEntry;
using scene::Block;

class Skin : public InTempDir {};

// A skin whose sample (row, column) is f(row, column); its id is its position,
// as loadSkin gives it.
uint32_t addSkin(int32_t width, int32_t height, const std::function<float(int32_t, int32_t)>& f) {
    static int serial = 0;
    auto entry = image::makeEntry(("test-skin-" + std::to_string(++serial)).c_str(), width, height);
    entry->heights.reset(new float[static_cast<size_t>(width) * static_cast<size_t>(height)]);
    for (int32_t r = 0; r < height; ++r)
        for (int32_t c = 0; c < width; ++c) entry->heights[static_cast<size_t>(r) * width + c] = f(r, c);
    // Other tests put entries of chosen ids into the same cache.
    entry->id = static_cast<uint32_t>(image::skinCache().count() + 1);
    while (image::skinCache().findById(entry->id)) ++entry->id;
    return image::skinCache().append(std::move(entry)).id;
}

uint32_t flatSkin(float value) {
    return addSkin(4, 4, [value](int32_t, int32_t) { return value; });
}

std::unique_ptr<Block> makeBlock(scene::BlockKind kind, int32_t fineness) {
    char empty[] = "";
    return std::make_unique<Block>(empty, 0, kind, fineness);
}

std::vector<MeshEntry> copy(const std::unique_ptr<MeshEntry[]>& mesh, uint32_t count) {
    return std::vector<MeshEntry>(mesh.get(), mesh.get() + count);
}

bool same(const std::vector<MeshEntry>& a, const std::vector<MeshEntry>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].x != b[i].x || a[i].y != b[i].y || a[i].z != b[i].z || a[i].w != b[i].w) return false;
    return true;
}

float length(const MeshEntry& v) { return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z); }

uint32_t gridIndex(uint32_t n, uint32_t row, uint32_t column) { return row * (n + 1) + column; }

TEST_F(Skin, PlaneOfTwoMovesOnlyItsCentreToTheFirstSample) {
    auto plane = makeBlock(scene::PLANE, 2);
    const uint32_t id = addSkin(4, 4, [](int32_t r, int32_t c) { return (r == 0 && c == 0) ? 0.8f : 0.3f; });
    applySkin(*plane, id);
    EXPECT_EQ(plane->skinId, id);
    for (uint32_t i = 0; i < plane->vertexCount; ++i)
        EXPECT_EQ(plane->vertices[i].y, i == gridIndex(2, 1, 1) ? 0.8f * 0.5f : 0.0f) << i;
}

// Row 19, column 19 of a PLANE20 takes sample 18 x single(100 / 19), truncated:
// row 94, column 94. Each sample holds its own coordinates, so the height
// names the sample taken.
TEST_F(Skin, PlaneOfTwentySamplesByTruncation) {
    auto plane = makeBlock(scene::PLANE, 20);
    const uint32_t id = addSkin(100, 100, [](int32_t r, int32_t c) { return static_cast<float>(r * 1000 + c); });
    applySkin(*plane, id);
    EXPECT_EQ(plane->vertices[gridIndex(20, 19, 19)].y, (94 * 1000 + 94) * 0.5f);
    EXPECT_EQ(plane->vertices[gridIndex(20, 1, 1)].y, 0.0f);               // sample (0, 0)
    EXPECT_EQ(plane->vertices[gridIndex(20, 2, 1)].y, 5000 * 0.5f);        // row 1 x 5.263.. -> 5
    EXPECT_EQ(plane->vertices[gridIndex(20, 1, 3)].y, 10 * 0.5f);          // column 2 x 5.263.. -> 10
    // The border rows and columns and the underside stay at y = 0.
    for (uint32_t k = 0; k <= 20; ++k) {
        EXPECT_EQ(plane->vertices[gridIndex(20, 0, k)].y, 0.0f);
        EXPECT_EQ(plane->vertices[gridIndex(20, 20, k)].y, 0.0f);
        EXPECT_EQ(plane->vertices[gridIndex(20, k, 0)].y, 0.0f);
        EXPECT_EQ(plane->vertices[gridIndex(20, k, 20)].y, 0.0f);
    }
    for (uint32_t u = 0; u < 4; ++u) {
        EXPECT_EQ(plane->vertices[21 * 21 + u].y, 0.0f);
        EXPECT_EQ(plane->normals[21 * 21 + u].y, -1.0f);
    }
    // x and z are those of the plain grid.
    auto plain = makeBlock(scene::PLANE, 20);
    for (uint32_t i = 0; i < plane->vertexCount; ++i) {
        EXPECT_EQ(plane->vertices[i].x, plain->vertices[i].x);
        EXPECT_EQ(plane->vertices[i].z, plain->vertices[i].z);
    }
}

// SPHERE24 on a 256 x 128 skin: 13 rings; ring 12 samples row 118 and column
// 23 samples column 245. Only that sample is 1, so only that vertex moves: it
// is the bottom pole's copy in column 23, from radius 0.5 to 0.75.
TEST_F(Skin, SphereSamplesRingsAndColumnsByTruncation) {
    auto sphere = makeBlock(scene::SPHERE, 24);
    const auto plain = copy(sphere->vertices, sphere->vertexCount);
    const uint32_t id = addSkin(256, 128, [](int32_t r, int32_t c) { return (r == 118 && c == 245) ? 1.0f : 0.0f; });
    applySkin(*sphere, id);
    const uint32_t moved = 12 * 24 + 23;
    for (uint32_t k = 0; k < sphere->vertexCount; ++k) {
        if (k == moved) continue;
        EXPECT_EQ(sphere->vertices[k].x, plain[k].x) << k;
        EXPECT_EQ(sphere->vertices[k].y, plain[k].y) << k;
        EXPECT_EQ(sphere->vertices[k].z, plain[k].z) << k;
    }
    EXPECT_NEAR(sphere->vertices[moved].y, -0.75f, 1e-6f);
    EXPECT_NEAR(length(sphere->vertices[moved]), 0.75f, 1e-6f);
    EXPECT_EQ(sphere->vertices[moved].w, 1.0f);
}

TEST_F(Skin, ASampleOfOneScalesTheSphereByOneAndAHalfOrAHalf) {
    auto sphere = makeBlock(scene::SPHERE, 12);
    const uint32_t one = flatSkin(1.0f);
    applySkin(*sphere, one);
    for (uint32_t k = 0; k < sphere->vertexCount; ++k) EXPECT_NEAR(length(sphere->vertices[k]), 0.75f, 1e-6f) << k;
    // Away from the poles the recomputed normals are unit and point outwards.
    for (uint32_t k = 12; k < 6 * 12; ++k) {
        EXPECT_NEAR(length(sphere->normals[k]), 1.0f, 1e-5f) << k;
        const MeshEntry& v = sphere->vertices[k];
        const MeshEntry& n = sphere->normals[k];
        EXPECT_GT(v.x * n.x + v.y * n.y + v.z * n.z, 0.0f) << k;
    }

    sphere->skinScale = -0.5f;   // "Invers Skin"
    applySkin(*sphere, -1);
    EXPECT_EQ(sphere->skinId, one);
    for (uint32_t k = 0; k < sphere->vertexCount; ++k) EXPECT_NEAR(length(sphere->vertices[k]), 0.25f, 1e-6f) << k;
}

// Every application starts from the plain sphere and rewrites the plane's
// interior, so doubling and halving the scale gives back the very same mesh.
TEST_F(Skin, MoreTwiceThenLessTwiceRestoresTheMesh) {
    const uint32_t bumps = addSkin(37, 23, [](int32_t r, int32_t c) { return std::fabs(std::sin(r * 0.3f + c * 0.7f)); });
    for (auto kind : {scene::SPHERE, scene::PLANE}) {
        auto block = makeBlock(kind, 16);
        applySkin(*block, bumps);
        const auto vertices = copy(block->vertices, block->vertexCount);
        const auto normals = copy(block->normals, block->normalCount);
        for (int i = 0; i < 2; ++i) {
            block->skinScale *= 2.0f;
            applySkin(*block, -1);
        }
        EXPECT_FALSE(same(copy(block->vertices, block->vertexCount), vertices));
        for (int i = 0; i < 2; ++i) {
            block->skinScale *= 0.5f;
            applySkin(*block, -1);
        }
        EXPECT_TRUE(same(copy(block->vertices, block->vertexCount), vertices)) << kind;
        EXPECT_TRUE(same(copy(block->normals, block->normalCount), normals)) << kind;
    }
}

TEST_F(Skin, CubesPrismsAndCylindersKeepTheirPlainMesh) {
    const uint32_t id = flatSkin(1.0f);
    for (auto kind : {scene::CUBE, scene::TRIANGLE, scene::CYLINDER}) {
        auto plain = makeBlock(kind, 12);
        auto skinned = makeBlock(kind, 12);
        applySkin(*skinned, id);
        EXPECT_EQ(skinned->skinId, id);
        EXPECT_TRUE(same(copy(skinned->vertices, skinned->vertexCount), copy(plain->vertices, plain->vertexCount)));
        EXPECT_TRUE(same(copy(skinned->normals, skinned->normalCount), copy(plain->normals, plain->normalCount)));
    }
}

TEST_F(Skin, PlaneOfOneStaysFlatWithUpwardNormals) {
    auto plane = makeBlock(scene::PLANE, 1);
    applySkin(*plane, flatSkin(1.0f));
    for (uint32_t i = 0; i < 4; ++i) {
        EXPECT_EQ(plane->vertices[i].y, 0.0f);
        EXPECT_EQ(plane->normals[i].x, 0.0f);
        EXPECT_EQ(plane->normals[i].y, 1.0f) << i;
        EXPECT_EQ(plane->normals[i].z, 0.0f);
    }
    for (uint32_t i = 4; i < 8; ++i) EXPECT_EQ(plane->normals[i].y, -1.0f);
}

TEST_F(Skin, NoSkinFlattensThePlaneAgain) {
    auto plane = makeBlock(scene::PLANE, 8);
    applySkin(*plane, addSkin(16, 16, [](int32_t r, int32_t c) { return (r + c) / 30.0f; }));
    ASSERT_NE(plane->vertices[gridIndex(8, 4, 4)].y, 0.0f);
    applySkin(*plane, 0);
    EXPECT_EQ(plane->skinId, 0u);
    for (uint32_t i = 0; i < 81; ++i) {
        EXPECT_EQ(plane->vertices[i].y, 0.0f);
        EXPECT_EQ(plane->normals[i].y, 1.0f);
    }
}

TEST_F(Skin, AnIdNoSkinCarriesGivesThePlainMesh) {
    auto sphere = makeBlock(scene::SPHERE, 8);
    const auto plain = copy(sphere->vertices, sphere->vertexCount);
    applySkin(*sphere, flatSkin(1.0f));
    applySkin(*sphere, 999999);
    EXPECT_EQ(sphere->skinId, 999999u);
    EXPECT_TRUE(same(copy(sphere->vertices, sphere->vertexCount), plain));
}

// Normals follow the relief: a plane of two cells per side with its centre
// raised. The centre takes one face leaning each way, which cancel; the middle
// of the first row takes face A of its cell only, which leans away from the
// hill (towards -z, as rows run along +z).
TEST_F(Skin, PlaneNormalsFollowTheRelief) {
    auto plane = makeBlock(scene::PLANE, 2);
    applySkin(*plane, flatSkin(0.8f));
    const MeshEntry& centre = plane->normals[gridIndex(2, 1, 1)];
    EXPECT_NEAR(centre.x, 0.0f, 1e-6f);
    EXPECT_NEAR(centre.y, 1.0f, 1e-6f);
    EXPECT_NEAR(centre.z, 0.0f, 1e-6f);
    const MeshEntry& edge = plane->normals[gridIndex(2, 0, 1)];
    EXPECT_LT(edge.z, -0.1f);
    EXPECT_GT(edge.y, 0.1f);
    EXPECT_NEAR(length(edge), 1.0f, 1e-6f);
    // A corner whose cells do not touch the centre stays upright.
    const MeshEntry& corner = plane->normals[gridIndex(2, 0, 0)];
    EXPECT_EQ(corner.y, 1.0f);
}

// A PLANE of fineness 1 made a SPHERE by the "Sphere" command while it has a
// skin: one column, one ring. The vertex is displaced; its normal, which no
// cell ring can give, stays the plain one. Finer spheres of 2 and 3 columns
// form their normals from the cells they have.
TEST_F(Skin, SpheresBelowTwoColumnsAreDisplacedSafely) {
    const uint32_t id = flatSkin(1.0f);
    auto block = makeBlock(scene::PLANE, 1);
    applySkin(*block, id);
    block->kind = scene::SPHERE;
    block->rebuildMesh();
    applySkin(*block, -1);
    ASSERT_EQ(block->vertexCount, 1u);
    EXPECT_NEAR(block->vertices[0].y, 0.75f, 1e-6f);
    EXPECT_EQ(block->normals[0].y, 0.5f);   // the plain sphere's normal: its position
    for (int32_t n : {2, 3}) {
        auto sphere = makeBlock(scene::SPHERE, n);
        applySkin(*sphere, id);
        for (uint32_t k = 0; k < sphere->normalCount; ++k) {
            EXPECT_TRUE(std::isfinite(sphere->normals[k].x) && std::isfinite(sphere->normals[k].y) &&
                        std::isfinite(sphere->normals[k].z))
                << n << " " << k;
        }
    }
}

// A scene line naming a cached skin displaces the block it builds, after all
// its keys (SKINSCALE after SKIN included) have been read.
TEST_F(Skin, ASceneLineAppliesItsSkinWithItsScale) {
    auto entry = image::makeEntry("line-skin.bmp", 2, 2);
    entry->heights.reset(new float[4]{1.0f, 1.0f, 1.0f, 1.0f});
    // Other tests put entries of chosen ids into the same cache.
    entry->id = static_cast<uint32_t>(image::skinCache().count() + 1);
    while (image::skinCache().findById(entry->id)) ++entry->id;
    const uint32_t id = image::skinCache().append(std::move(entry)).id;
    char line[] = " ORG[0,0,0] SKIN[line-skin.bmp] SKINSCALE[-0.5]";
    Block sphere(line, 0, scene::SPHERE, 8);
    EXPECT_EQ(sphere.skinId, id);
    for (uint32_t k = 0; k < sphere.vertexCount; ++k) EXPECT_NEAR(length(sphere.vertices[k]), 0.25f, 1e-6f);
}

}  // namespace
}  // namespace plexa::testing
