// When lists are compiled. Refreshing every block after every addition costs
// n(n+1)/2 compilations for a file of n lines, and the start-up reduction
// adds more; reading and reducing now compile each surviving block once. These
// tests hold that down and check that the lists come out exactly as refreshing
// after every step would leave them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "host/instance_table.h"
#include "scene/scene.h"
#include "tests/native/gl_recorder.h"
#include "tests/native/test_support.h"

namespace plexa::testing {
namespace {

using scene::Scene;

class Refresh : public InTempDir {};

const char* const kLines[] = {
    "PLANE8 ORG[1,0,0] RGB[0.5,0.25,1] ROT[0.1,0.2,0.3]",
    "SPHERE6 SIZE[2,1,1] TRANS[1]",
    "CUBE ORG[0,3,0] RGB[0,1,0]",
    "CYLINDER9 ROT[1,0,0]",
    "TRIANGLE SIZE[1,2,3]",
    "SPHERE5 ORG[-1,-1,-1]",
};

std::string fileOf(const std::vector<std::string>& lines) {
    std::string text = "880\n";
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

std::vector<std::string> sampleLines(size_t count) {
    std::vector<std::string> lines;
    for (size_t i = 0; i < count; ++i) lines.push_back(kLines[i % (sizeof kLines / sizeof kLines[0])]);
    return lines;
}

// The scene as adding every line on its own builds it: a full refresh each time.
void addEachLine(Scene& scene, const std::vector<std::string>& lines) {
    for (const std::string& text : lines) {
        std::string line = text;
        scene.addLine(line.data());
    }
}

void expectSameLists(const scene::Block& got, const scene::Block& want) {
    EXPECT_EQ(listContents(got.listBase), listContents(want.listBase)) << "appearance list of kind " << got.kind;
    EXPECT_EQ(listContents(got.listBase + 1), listContents(want.listBase + 1)) << "pick list of kind " << got.kind;
    EXPECT_FALSE(listContents(got.listBase).empty());
}

TEST_F(Refresh, LoadingCompilesEachBlockOnceWithTheListsOfFullRefreshing) {
    const std::vector<std::string> lines = sampleLines(12);
    writeFile("scene.880", fileOf(lines));
    Scene reference;
    addEachLine(reference, lines);
    EXPECT_EQ(countCalls("glNewList"), 12u * 13u);   // n(n+1)/2 refreshes, two lists each

    clearCalls();
    Scene loaded;
    ASSERT_TRUE(loaded.load("scene.880"));
    ASSERT_EQ(loaded.count(), 12);
    EXPECT_EQ(countCalls("glNewList"), 2u * 12u);
    for (int32_t i = 0; i < loaded.count(); ++i) expectSameLists(*loaded.block(i), *reference.block(i));
}

TEST_F(Refresh, BindingCompilesOnlyTheSurvivingBlockOnce) {
    const std::vector<std::string> lines = sampleLines(30);
    writeFile("defplx00.880", fileOf(lines));

    // The reduction as a sequence of single steps: remove the block at index 1
    // until one is left, each removal refreshing the blocks after it.
    Scene reference;
    addEachLine(reference, lines);
    while (reference.count() > 1) {
        reference.selected = reference.block(1);
        reference.removeSelected();
    }

    clearCalls();
    host::InstanceTable table;
    uint8_t data[512] = {};
    std::memcpy(data + host::object_data::kTagOffset, "PLX", 4);
    host::HostInstanceInfo info{};
    info.key = 1;
    info.objectData = data;
    host::PluginInstance& instance = table.add(info);
    host::startInstance(instance);
    ASSERT_EQ(instance.scene->count(), 1);
    EXPECT_EQ(countCalls("glNewList"), 2u);
    expectSameLists(*instance.scene->block(0), *reference.block(0));

    // The removed blocks' lists are deleted in list order, as one removal
    // after another deletes them.
    std::vector<double> deleted;
    for (const GlCall& c : gl().calls)
        if (c.name == "glDeleteLists") deleted.push_back(c.args[0]);
    ASSERT_EQ(deleted.size(), 29u);
    EXPECT_TRUE(std::is_sorted(deleted.begin(), deleted.end()));
}

// A file of ceiling-fine blocks would otherwise build a megabyte-sized mesh
// for every line, only to remove all but the first.
TEST_F(Refresh, BlocksReadWhileDeferredGetTheirMeshOnlyIfTheySurvive) {
    Scene scene;
    {
        scene::DeferredRefresh deferred(scene);
        char first[] = "PLANE4 ORG[1,0,0]";
        char second[] = "PLANE1024 ORG[0,0,0]";
        scene.addLine(first);
        scene.addLine(second);
        EXPECT_EQ(scene.block(1)->vertices, nullptr);
        EXPECT_EQ(scene.block(1)->vertexCount, 0u);
        scene.removeFrom(1);
    }
    ASSERT_EQ(scene.count(), 1);
    EXPECT_FALSE(scene.block(0)->geometryOwed);
    EXPECT_EQ(scene.block(0)->vertexCount, 5u * 5u + 4u);
    EXPECT_EQ(countCalls("glNewList"), 2u);
}

// Blocks beyond the first are removed as they are read: a file of any length
// holds two blocks (four lists) at the most.
TEST_F(Refresh, BindingHoldsTwoBlocksAtMostWhateverTheFileLength) {
    writeFile("defplx00.880", fileOf(sampleLines(500)));
    host::InstanceTable table;
    uint8_t data[512] = {};
    std::memcpy(data + host::object_data::kTagOffset, "PLX", 4);
    host::HostInstanceInfo info{};
    info.objectData = data;
    gl().peakLiveLists = gl().liveLists.size();
    host::startInstance(table.add(info));
    EXPECT_EQ(table.at(0)->scene->count(), 1);
    EXPECT_LE(gl().peakLiveLists, 4u);
}

TEST_F(Refresh, BindingAFileThatStartsWithACubeCompilesOnlyTheDefaultSphere) {
    writeFile("defplx00.880", fileOf({"CUBE ORG[0,0,0]", "SPHERE6", "PLANE4"}));
    host::InstanceTable table;
    uint8_t data[512] = {};
    std::memcpy(data + host::object_data::kTagOffset, "PLX", 4);
    host::HostInstanceInfo info{};
    info.objectData = data;
    host::PluginInstance& instance = table.add(info);
    host::startInstance(instance);
    ASSERT_EQ(instance.scene->count(), 1);
    EXPECT_EQ(instance.scene->block(0)->fineness, 24);
    EXPECT_EQ(countCalls("glNewList"), 2u);
}

TEST_F(Refresh, RemovalRefreshesTheFollowingBlocksAtOnceOrWhenResumed) {
    Scene scene;
    addEachLine(scene, sampleLines(4));
    clearCalls();
    scene.selected = scene.block(1);
    scene.removeSelected();
    EXPECT_EQ(countCalls("glNewList"), 2u * 2u);   // the two blocks that moved down

    Scene deferred;
    addEachLine(deferred, sampleLines(5));
    clearCalls();
    deferred.deferRefresh();
    deferred.deferRefresh();   // nested: only the outermost resume compiles
    deferred.selected = deferred.block(3);
    deferred.removeSelected();
    deferred.selected = deferred.block(1);
    deferred.removeSelected();
    deferred.resumeRefresh();
    EXPECT_EQ(countCalls("glNewList"), 0u);
    deferred.resumeRefresh();
    // Owed from index 1: the three blocks from there on, each once.
    EXPECT_EQ(countCalls("glNewList"), 2u * 2u);
    const std::vector<GlCall>& pick = listContents(deferred.block(2)->listBase + 1);
    ASSERT_GE(pick.size(), 2u);
    EXPECT_EQ(pick[1], (GlCall{"glColor3fv", {static_cast<float>(0.2), 0, 0}}));
}

TEST_F(Refresh, ClearingWhileDeferredOwesNothingForTheBlocksItDestroyed) {
    Scene scene;
    {
        scene::DeferredRefresh deferred(scene);
        addEachLine(scene, sampleLines(3));
        scene.clear();
    }
    EXPECT_EQ(countCalls("glNewList"), 0u);
    {
        scene::DeferredRefresh deferred(scene);
        addEachLine(scene, sampleLines(3));
        scene.removeFrom(1);
    }
    EXPECT_EQ(countCalls("glNewList"), 2u);
    EXPECT_EQ(scene.count(), 1);
}

}  // namespace
}  // namespace plexa::testing
