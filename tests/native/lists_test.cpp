// What each block's two display lists hold, call by call: primitives, vertex
// order, normals, texture coordinates, colours and state changes. A wrong index
// or a missing normal still draws something plausible on screen, so the lists
// are compared against sequences written out, independently of the builders,
// from the face tables and strip layouts each kind is meant to draw.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "render/gl.h"
#include "render/lists.h"
#include "render/transform.h"
#include "scene/block.h"
#include "tests/native/gl_expect.h"
#include "tests/native/gl_recorder.h"
#include "tests/native/test_support.h"

namespace plexa::testing {
namespace {

using scene::Block;

class Lists : public InTempDir {};

std::unique_ptr<Block> makeBlock(scene::BlockKind kind, int32_t fineness, int32_t index = 0) {
    char empty[] = "";
    return std::make_unique<Block>(empty, index, kind, fineness);
}

void place(Block& b, Vec3 size, Vec3 rotation, Vec3 origin) {
    const Vec3* sources[] = {&size, &rotation, &origin};
    float* targets[] = {b.size, b.rotation, b.origin};
    for (int i = 0; i < 3; ++i) {
        targets[i][0] = static_cast<float>(sources[i]->x);
        targets[i][1] = static_cast<float>(sources[i]->y);
        targets[i][2] = static_cast<float>(sources[i]->z);
    }
}

void texture(Block& b, uint32_t id, float density) {
    b.textureId = id;
    b.density = density;
}

// Refreshes the block and checks the compile frame: appearance list first,
// then the pick list, each opened in compile mode and closed.
void refreshAndCheckFrame(Block& b) {
    clearCalls();
    render::refresh(b);
    std::vector<GlCall> frame;
    for (const GlCall& c : gl().calls)
        if (c.name == "glNewList" || c.name == "glEndList") frame.push_back(c);
    const std::vector<GlCall> want = {{"glNewList", {static_cast<double>(b.listBase), GL_COMPILE}},
                                      {"glEndList", {}},
                                      {"glNewList", {static_cast<double>(b.listBase + 1), GL_COMPILE}},
                                      {"glEndList", {}}};
    EXPECT_TRUE(sameCalls(frame, want));
}

const std::vector<GlCall>& appearanceList(const Block& b) { return listContents(b.listBase); }
const std::vector<GlCall>& pickList(const Block& b) { return listContents(b.listBase + 1); }

// ---------------------------------------------------------------- expectations

std::vector<GlCall> expectedCube(const Block& b, bool appearance) {
    ExpectedList e(b, appearance);
    e.openFrame(false);
    e.table(GL_QUAD_STRIP,
            "N0; P0 (0, 0), P1 (0, D), P2 (D, 0), P3 (D, D); N1; P4 (0, 0), P5 (0, D); "
            "N2; P6 (D, 0), P7 (D, D); N3; P0 (0, 0), P1 (0, D)");
    e.table(GL_QUADS, "N4; P0 (0, 0), P2 (D, 0), P4 (D, D), P6 (0, D); N5; P1 (0, D), P7 (D, D), P5 (D, 0), P3 (0, 0)");
    e.closeFrame(false);
    return e.calls;
}

std::vector<GlCall> expectedPrism(const Block& b, bool appearance) {
    ExpectedList e(b, appearance);
    e.openFrame(false);
    e.table(GL_QUAD_STRIP,
            "N0; P0 (0, 0), P1 (0, D), P2 (D, 0), P3 (D, D); N1; P4 (0, 0), P5 (0, D); N2; P0 (D, 0), P1 (D, D)");
    if (appearance)
        e.table(GL_TRIANGLES, "N3; P0 (0, 0), P2 (D, 0), P4 (D, D); N4; P5 (0, D), P3 (D, D), P1 (D, 0)");
    else
        e.table(GL_TRIANGLES, "N3; P0, P2, P4; N4; P1, P5, P3");
    e.closeFrame(false);
    return e.calls;
}

std::vector<GlCall> expectedCylinder(const Block& b, bool appearance) {
    ExpectedList e(b, appearance);
    const uint32_t n = static_cast<uint32_t>(b.fineness);
    const float d = e.d();
    e.openFrame(true);
    e.begin(GL_QUAD_STRIP);
    for (uint32_t l = 0; l < n; ++l) {
        e.normal(l);
        e.vertex(2 * l, d - part(l, d, n), 0);
        e.vertex(2 * l + 1, d - part(l, d, n), d);
    }
    if (appearance) e.normal(0);   // the pick list keeps N(n-1) for the closing pair
    e.vertex(0, 0, 0);
    e.vertex(1, 0, d);
    e.end();
    if (appearance) e.shadeModel(GL_FLAT);
    // Cap coordinates from the unit mesh: ((x + 0.5) D, (z - 0.5) D) in double.
    const auto cap = [&](uint32_t k) {
        e.vertex(k, static_cast<float>((b.vertices[k].x + 0.5) * d), static_cast<float>((b.vertices[k].z - 0.5) * d));
    };
    e.begin(GL_POLYGON);
    e.normal(n);
    for (uint32_t k = 0; k <= 2 * n - 2; k += 2) cap(k);
    e.end();
    e.begin(GL_POLYGON);
    e.normal(n + 1);
    for (int64_t k = 2 * n - 1; k >= 1; k -= 2) cap(static_cast<uint32_t>(k));
    e.end();
    e.closeFrame(false);
    return e.calls;
}

std::vector<GlCall> expectedSphere(const Block& b, bool appearance) {
    ExpectedList e(b, appearance);
    const uint32_t n = static_cast<uint32_t>(b.fineness);
    const float d = e.d();
    e.openFrame(true);
    for (uint32_t i = 0; i < n / 2; ++i) {
        const float top = d - part(2 * i, d, n), bottom = d - part(2 * (i + 1), d, n);
        e.begin(GL_TRIANGLE_STRIP);
        for (uint32_t h = 0; h < n; ++h) {
            const uint32_t j = i * n + h;
            e.normal(j);
            e.vertex(j, part(h, d, n), top);
            e.normal(j + n);
            e.vertex(j + n, part(h, d, n), bottom);
        }
        e.normal(i * n);
        e.vertex(i * n, part(n, d, n), top);
        e.normal(i * n + n);
        e.vertex(i * n + n, part(n, d, n), bottom);
        e.end();
    }
    e.closeFrame(true);
    return e.calls;
}

std::vector<GlCall> expectedPlane(const Block& b, bool appearance) {
    ExpectedList e(b, appearance);
    const uint32_t n = static_cast<uint32_t>(b.fineness);
    const uint32_t last = b.vertexCount - 1;
    const float d = e.d();
    e.openFrame(true);
    if (appearance) {
        e.begin(GL_QUADS);
        e.normal(last - 3);
        e.vertex(last - 3, 0, d);
        e.normal(last - 2);
        e.vertex(last - 2, d, d);
        e.normal(last - 1);
        e.vertex(last - 1, d, 0);
        e.normal(last);
        e.vertex(last, 0, 0);
        e.end();
    }
    for (uint32_t r = 0; r < n; ++r) {
        e.begin(GL_TRIANGLE_STRIP);
        for (uint32_t c = 0; c <= n; ++c) {
            const uint32_t j = r * (n + 1) + c;
            e.normal(j);
            e.vertex(j, part(c, d, n), d - part(r, d, n));
            e.normal(j + n + 1);
            e.vertex(j + n + 1, part(c, d, n), d - part(r + 1, d, n));
        }
        e.end();
    }
    e.closeFrame(true);
    return e.calls;
}

using Expectation = std::vector<GlCall> (*)(const Block&, bool);

Expectation expectationFor(scene::BlockKind kind) {
    switch (kind) {
        case scene::CUBE: return expectedCube;
        case scene::TRIANGLE: return expectedPrism;
        case scene::CYLINDER: return expectedCylinder;
        case scene::SPHERE: return expectedSphere;
        default: return expectedPlane;
    }
}

void expectBothLists(const Block& b) {
    const Expectation expected = expectationFor(b.kind);
    EXPECT_TRUE(sameCalls(appearanceList(b), expected(b, true))) << "appearance list, kind " << b.kind;
    EXPECT_TRUE(sameCalls(pickList(b), expected(b, false))) << "pick list, kind " << b.kind;
}

// ---------------------------------------------------------------- tests

TEST_F(Lists, CubeAndPrismFollowTheirFaceTablesWhereverPlaced) {
    for (scene::BlockKind kind : {scene::CUBE, scene::TRIANGLE}) {
        auto b = makeBlock(kind, 1, 7);
        texture(*b, 5, 2.0f);
        b->color[0] = 0.25f;
        place(*b, {1, 2, 0.5}, {0.3, -0.7, 1.1}, {1, -2, 3});
        refreshAndCheckFrame(*b);
        expectBothLists(*b);
        // Cube and prism lists leave the shade model to whoever calls them.
        EXPECT_EQ(count(appearanceList(*b), "glShadeModel"), 0u);
    }
}

TEST_F(Lists, CylinderSideClosesItsStripAndCapsRunRoundTheRim) {
    for (int32_t n : {8, 12}) {
        auto b = makeBlock(scene::CYLINDER, n);
        texture(*b, 3, 1.5f);
        place(*b, {2, 1, 1}, {0, 0.4, 0}, {0, 1, 0});
        refreshAndCheckFrame(*b);
        expectBothLists(*b);
        const size_t side = 2 * static_cast<size_t>(n) + 2, cap = static_cast<size_t>(n);
        EXPECT_EQ(primitiveSizes(appearanceList(*b)), (std::vector<size_t>{side, cap, cap}));
        EXPECT_EQ(primitiveSizes(pickList(*b)), (std::vector<size_t>{side, cap, cap}));
    }
}

TEST_F(Lists, SphereDrawsOneStripPerBandAndOddFinenessLeavesTheBottomOpen) {
    const struct {
        int32_t n;
        size_t bands;
        float density;
    } cases[] = {{6, 3, 0.9f}, {5, 2, 0.3f}, {24, 12, 0.45f}};
    // With these densities n * D / n is not D in single precision, so the
    // closing column shows whether it is formed as described.
    for (const auto& c : cases) {
        auto b = makeBlock(scene::SPHERE, c.n);
        texture(*b, 9, c.density);
        place(*b, {1.5, 1.5, 1.5}, {0.2, 0.1, -0.3}, {-1, 0.5, 2});
        refreshAndCheckFrame(*b);
        expectBothLists(*b);
        EXPECT_EQ(primitiveSizes(appearanceList(*b)), std::vector<size_t>(c.bands, 2 * c.n + 2)) << c.n;
        EXPECT_EQ(primitiveSizes(pickList(*b)), std::vector<size_t>(c.bands, 2 * c.n + 2)) << c.n;
    }
}

TEST_F(Lists, PlaneOfFinenessOneIsTheUndersideAndOneStripOfFour) {
    auto b = makeBlock(scene::PLANE, 1);
    texture(*b, 4, 1.0f);
    render::refresh(*b);
    ExpectedList want(*b, true);
    want.openFrame(true);
    want.table(GL_QUADS, "N4 P4 (0, D); N5 P5 (D, D); N6 P6 (D, 0); N7 P7 (0, 0)");
    want.table(GL_TRIANGLE_STRIP, "N0; P0 (0, D); N2; P2 (0, 0); N1; P1 (D, D); N3; P3 (D, 0)");
    want.closeFrame(true);
    EXPECT_TRUE(sameCalls(appearanceList(*b), want.calls));
    ExpectedList pick(*b, false);
    pick.openFrame(false);
    pick.table(GL_TRIANGLE_STRIP, "N0; P0; N2; P2; N1; P1; N3; P3");
    pick.closeFrame(false);
    EXPECT_TRUE(sameCalls(pickList(*b), pick.calls));
}

TEST_F(Lists, FinerPlanesDrawOneStripPerRow) {
    auto b = makeBlock(scene::PLANE, 20);
    texture(*b, 4, 0.7f);
    place(*b, {3, 1, 2}, {-0.5, 0, 0.25}, {0, -1, 0});
    refreshAndCheckFrame(*b);
    expectBothLists(*b);
    EXPECT_EQ(primitiveSizes(pickList(*b)), std::vector<size_t>(20, 42));
}

TEST_F(Lists, UntexturedBlocksTurnTexturingOffAndUseOnlyTheOrigin) {
    for (scene::BlockKind kind : {scene::CUBE, scene::TRIANGLE, scene::CYLINDER, scene::SPHERE, scene::PLANE}) {
        auto b = makeBlock(kind, 8);
        texture(*b, 0, 5.0f);
        render::refresh(*b);
        const std::vector<GlCall>& list = appearanceList(*b);
        ASSERT_FALSE(list.empty());
        EXPECT_EQ(toString(list.front()), toString({"glDisable", {GL_TEXTURE_2D}}));
        EXPECT_EQ(toString(list.back()), toString({"glEnable", {GL_TEXTURE_2D}}));
        EXPECT_EQ(count(list, "glBindTexture"), 0u);
        for (const GlCall& c : list)
            if (c.name == "glTexCoord2f") ASSERT_EQ(c.args, (std::vector<double>{0, 0})) << kind;
        expectBothLists(*b);
    }
}

TEST_F(Lists, IdentityPlacementKeepsCoordinatesAndBringsNormalsToUnitLength) {
    auto b = makeBlock(scene::CYLINDER, 12);
    render::refresh(*b);
    const render::DrawingArrays& drawn = render::drawingArrays();
    for (uint32_t k = 0; k < b->vertexCount; ++k) {
        EXPECT_EQ(drawn.vertices[k].x, b->vertices[k].x);
        EXPECT_EQ(drawn.vertices[k].y, b->vertices[k].y);
        EXPECT_EQ(drawn.vertices[k].z, b->vertices[k].z);
    }
    // The side normals are stored at length 0.5; the lists get them at 1.
    for (uint32_t k = 0; k < b->normalCount; ++k) {
        const geometry::MeshEntry& n = drawn.normals[k];
        EXPECT_NEAR(std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z), 1.0, 1e-6) << k;
        EXPECT_EQ(n.w, 1.0f);
    }
}

TEST_F(Lists, ZeroSizeFlattensNormalsToZeroWithoutDividing) {
    auto b = makeBlock(scene::CUBE, 1);
    place(*b, {1, 0, 1}, {0, 0, 0}, {0, 0, 0});
    render::refresh(*b);
    const render::DrawingArrays& drawn = render::drawingArrays();
    for (uint32_t k : {4u, 5u}) {
        EXPECT_EQ(drawn.normals[k].x, 0.0f);
        EXPECT_EQ(drawn.normals[k].y, 0.0f);
        EXPECT_EQ(drawn.normals[k].z, 0.0f);
    }
    EXPECT_FLOAT_EQ(drawn.normals[0].x, -1.0f);
    expectBothLists(*b);
    // A fully flattened block still compiles, with every normal zero.
    place(*b, {0, 0, 0}, {0.5, 0.5, 0.5}, {1, 1, 1});
    render::refresh(*b);
    for (const GlCall& c : appearanceList(*b))
        if (c.name == "glNormal3f") ASSERT_EQ(c.args, (std::vector<double>{0, 0, 0}));
}

TEST_F(Lists, KindOutsideTheFiveLeavesBothListsAsTheyWere) {
    auto b = makeBlock(scene::SPHERE, 6);
    render::refresh(*b);
    const std::vector<GlCall> before = appearanceList(*b), pickBefore = pickList(*b);
    b->kind = static_cast<scene::BlockKind>(7);
    clearCalls();
    render::refresh(*b);
    EXPECT_EQ(countCalls("glNewList"), 0u);
    EXPECT_TRUE(sameCalls(appearanceList(*b), before));
    EXPECT_TRUE(sameCalls(pickList(*b), pickBefore));
}

TEST_F(Lists, MeshThatDoesNotFitItsFinenessIsNeverReadPastItsEnd) {
    // A fineness changed without a rebuild would make the builders index a
    // mesh four times too small; nothing is compiled until the mesh fits.
    auto b = makeBlock(scene::PLANE, 4);
    b->fineness = 8;
    clearCalls();
    render::refresh(*b);
    EXPECT_EQ(countCalls("glNewList"), 0u);
    b->rebuildMesh();
    render::refresh(*b);
    EXPECT_EQ(countCalls("glNewList"), 2u);
    expectBothLists(*b);
}

}  // namespace
}  // namespace plexa::testing
