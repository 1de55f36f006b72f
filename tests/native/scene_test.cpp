// A scene owns its blocks and their display lists: growth, removal and clearing
// must keep indices, pick colours and list names consistent, and nothing may
// outlive its owner.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <vector>

#include "image/caches.h"
#include "render/transform.h"
#include "scene/scene.h"
#include "scene/scene_file.h"
#include "tests/native/gl_recorder.h"
#include "tests/native/test_support.h"

namespace plexa::testing {
namespace {

using scene::Scene;

class SceneList : public InTempDir {};

void expectPick(const scene::Block& block, float r, float g, float b) {
    EXPECT_FLOAT_EQ(block.pickColor[0], r);
    EXPECT_FLOAT_EQ(block.pickColor[1], g);
    EXPECT_FLOAT_EQ(block.pickColor[2], b);
}

TEST_F(SceneList, PickColoursFollowTheIndex) {
    Scene scene;
    scene.addDefault(scene::SPHERE);
    scene::Block& block = *scene.block(0);
    const struct {
        int32_t index;
        float r, g, b;
    } cases[] = {{0, 0, 0, 0},     {7, 0.7f, 0, 0},     {10, 0, 0.1f, 0},
                 {42, 0.2f, 0.4f, 0}, {100, 0, 1.0f, 0.1f}, {123, 0.3f, 1.2f, 0.1f}};
    for (const auto& c : cases) {
        block.assignPickColor(c.index);
        expectPick(block, c.r, c.g, c.b);
    }
}

TEST_F(SceneList, CapacityGrowsInStepsOfFiftyAndClearReturnsIt) {
    Scene scene;
    EXPECT_EQ(scene.capacity(), 50u);
    for (int i = 0; i < 49; ++i) scene.addDefault(scene::CUBE);
    EXPECT_EQ(scene.capacity(), 50u);
    scene.addDefault(scene::CUBE);
    EXPECT_EQ(scene.capacity(), 100u);
    for (int i = 0; i < 50; ++i) scene.addDefault(scene::CUBE);
    EXPECT_EQ(scene.count(), 100);
    EXPECT_EQ(scene.capacity(), 150u);
    scene.selected = scene.block(3);
    scene.clear();
    EXPECT_EQ(scene.count(), 0);
    EXPECT_EQ(scene.capacity(), 50u);
    EXPECT_EQ(scene.selected, nullptr);
    EXPECT_TRUE(gl().liveLists.empty());
}

TEST_F(SceneList, EveryAdditionRefreshesEveryBlock) {
    Scene scene;
    for (int i = 0; i < 4; ++i) scene.addDefault(scene::SPHERE);
    // 1 + 2 + 3 + 4 refreshes, two lists each.
    EXPECT_EQ(countCalls("glNewList"), 2u * 10u);
}

TEST_F(SceneList, AddDefaultOfNoKindAddsNothing) {
    Scene scene;
    EXPECT_EQ(scene.addDefault(7), -1);
    EXPECT_EQ(scene.addDefault(-1), -1);
    EXPECT_EQ(scene.addDefault(scene::PLANE), 0);
    EXPECT_EQ(scene.block(0)->fineness, 20);
    EXPECT_EQ(scene.addDefault(scene::CYLINDER), 1);
    EXPECT_EQ(scene.block(1)->fineness, 12);
    EXPECT_EQ(scene.count(), 2);
}

TEST_F(SceneList, RemovingTheFirstOfThreeRecoloursTheRest) {
    Scene scene;
    scene.addDefault(scene::CUBE);
    scene.addDefault(scene::SPHERE);
    scene.addDefault(scene::PLANE);
    const uint32_t firstLists = scene.block(0)->listBase;
    scene.selected = scene.block(0);
    scene.removeSelected();
    ASSERT_EQ(scene.count(), 2);
    EXPECT_EQ(scene.selected, nullptr);
    EXPECT_EQ(scene.block(0)->kind, scene::SPHERE);
    EXPECT_EQ(scene.block(1)->kind, scene::PLANE);
    expectPick(*scene.block(0), 0, 0, 0);
    expectPick(*scene.block(1), 0.1f, 0, 0);
    EXPECT_EQ(gl().liveLists.count(firstLists), 0u);
    EXPECT_EQ(gl().liveLists.count(firstLists + 1), 0u);
    EXPECT_EQ(gl().liveLists.size(), 4u);
}

TEST_F(SceneList, RemovingWithoutASelectedBlockOrAForeignOneDoesNothing) {
    Scene scene, other;
    scene.addDefault(scene::SPHERE);
    other.addDefault(scene::PLANE);
    scene.removeSelected();
    scene.selected = other.block(0);
    scene.removeSelected();
    EXPECT_EQ(scene.count(), 1);
    EXPECT_EQ(other.count(), 1);
}

TEST_F(SceneList, DestroyingAScenesDeletesExactlyItsLists) {
    {
        Scene scene;
        scene.addDefault(scene::SPHERE);
        scene.addDefault(scene::CUBE);
        EXPECT_EQ(gl().liveLists.size(), 4u);
    }
    EXPECT_TRUE(gl().liveLists.empty());
    EXPECT_EQ(countCalls("glDeleteLists"), 2u);
}

// Memory running out while a mesh is built or a picture is turned into a skin
// fails that one step: the call returns, the block keeps its values and its
// lists (the scene saves as before), and the log says so.
TEST_F(SceneList, AllocationFailureLeavesTheSceneAsItWas) {
    const std::vector<uint8_t> pixels(3 * 512 * 512, 128);
    const struct {
        const char* what;
        const char* logged;
        std::function<void(scene::Block&)> change;
    } cases[] = {
        {"mesh building", "allocation failure in s_matrix()",
         [](scene::Block& b) { b.fineness = 1024; b.rebuildMesh(); render::refresh(b); }},
        {"picture loading", "allocation failure: the edit is not made", [&](scene::Block& b) {
             b.skinScale = 2.0f;
             image::heightsFromPixels(pixels.data(), 512, 512, 3 * 512);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::remove("error.txt");
        Scene scene;
        char line[] = "PLANE8 RGB[0.5,0.5,0.5]\n", big[] = "PLANE1024 RGB[0,1,0]\n";
        scene.addLine(line);
        scene::Block& block = *scene.block(0);
        char before[scene::kLineCapacity], after[scene::kLineCapacity];
        scene::writeLine(block, before, false);
        const std::vector<GlCall> drawn = listContents(block.listBase);
        geometry::setAllocationFaultFrom(1 << 20);
        EXPECT_FALSE(scene::editBlock(block, [&] { c.change(block); }));
        scene.addLine(big);   // read meanwhile: kept whole, its mesh owed
        geometry::setAllocationFaultFrom(0);
        scene::writeLine(block, after, false);
        EXPECT_STREQ(after, before);
        EXPECT_EQ(listContents(block.listBase), drawn);
        ASSERT_EQ(scene.count(), 2);
        scene::writeLine(*scene.block(1), after, false);
        EXPECT_EQ(std::string(after).rfind("PLANE1024 ORG", 0), 0u) << after;
        EXPECT_EQ(readFile("error.txt").find(c.logged), 38u);
        // With memory again, the next edit builds what was owed.
        EXPECT_TRUE(scene::editBlock(block, [&] { render::refresh(block); }));
        EXPECT_NE(block.vertices, nullptr);
    }
}

}  // namespace
}  // namespace plexa::testing
