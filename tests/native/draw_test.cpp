// The two passes the host runs every frame. The host relies on the exact
// state they leave (blend function, texture generation, blending off), and a
// frame must not compile or compute anything: each block is one list call.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "render/draw.h"
#include "render/gl.h"
#include "scene/scene.h"
#include "tests/native/gl_recorder.h"
#include "tests/native/test_support.h"

namespace plexa::testing {
namespace {

using scene::Scene;

class Draw : public InTempDir {};

double list(const Scene& scene, int32_t i, uint32_t offset = 0) {
    return static_cast<double>(scene.block(i)->listBase + offset);
}

std::vector<GlCall> passState() {
    return {{"glTexGeni", {GL_T, GL_TEXTURE_GEN_MODE, GL_SPHERE_MAP}},
            {"glTexGeni", {GL_S, GL_TEXTURE_GEN_MODE, GL_SPHERE_MAP}},
            {"glTexGenfv", {GL_T, GL_OBJECT_PLANE, 1, 1, 1, 0}},
            {"glTexGenfv", {GL_S, GL_OBJECT_PLANE, 1, 1, 1, 0}},
            {"glBlendFunc", {GL_SRC_COLOR, GL_ONE_MINUS_SRC_COLOR}}};
}

TEST_F(Draw, AppearancePassBlendsExactlyTheTranslucentBlocksInListOrder) {
    Scene scene;
    const float translucency[] = {0.0f, 1.0f, 0.5f, -1.0f, std::numeric_limits<float>::quiet_NaN(), -0.0f};
    for (float t : translucency) {
        scene.addDefault(scene::SPHERE);
        scene.block(scene.count() - 1)->translucency = t;
    }
    clearCalls();
    render::drawScene(scene);

    std::vector<GlCall> want = passState();
    for (int32_t i = 0; i < scene.count(); ++i) {
        // -0 is 0: opaque. NaN is not 0: blended.
        if (i >= 1 && i <= 4) want.push_back({"glEnable", {GL_BLEND}});
        want.push_back({"glCallList", {list(scene, i)}});
        want.push_back({"glDisable", {GL_BLEND}});
    }
    EXPECT_EQ(gl().calls, want);
    // Nothing compiled: the whole frame is the calls above.
    EXPECT_EQ(countCalls("glNewList"), 0u);
}

TEST_F(Draw, EmptySceneGetsOnlyThePassStateAndNoPickCalls) {
    Scene scene;
    render::drawScene(scene);
    EXPECT_EQ(gl().calls, passState());
    clearCalls();
    render::drawPickLists(scene);
    EXPECT_TRUE(gl().calls.empty());
}

TEST_F(Draw, PickPassCallsEveryPickListAndNothingElse) {
    Scene scene;
    scene.addDefault(scene::PLANE);
    scene.addDefault(scene::SPHERE);
    scene.block(1)->translucency = 1;
    clearCalls();
    render::drawPickLists(scene);
    const std::vector<GlCall> want = {{"glCallList", {list(scene, 0, 1)}}, {"glCallList", {list(scene, 1, 1)}}};
    EXPECT_EQ(gl().calls, want);
}

}  // namespace
}  // namespace plexa::testing
