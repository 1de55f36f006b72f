// What the host sees when it draws a bound object through the real DLL: the
// pixels of TimerDraw and PhantomDraw read back from a Wine OpenGL window, and
// the OpenGL state each pass hands back, which the host draws the rest of its
// desktop with. Every test case runs in a fresh process.
#include <gtest/gtest.h>

#include <GL/gl.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "plugin_host.h"

namespace plexa::wintest {
namespace {

struct Rgb {
    int r, g, b;
};

class Render : public PluginHost {
protected:
    void SetUp() override {
        PluginHost::SetUp();
        if (HasFatalFailure()) return;
        // The host's frame: an orthographic view of -1..1, the object's frame
        // on the modelview matrix, depth test on, back faces culled, lighting
        // off so that colours arrive as they are.
        headOnView();
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(GL_LESS);
        glEnable(GL_CULL_FACE);
        glCullFace(GL_BACK);
        glDisable(GL_LIGHTING);
        glEnable(GL_TEXTURE_2D);
    }

    void clear(float r, float g, float b) {
        glClearColor(r, g, b, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    }

    // The colour at view coordinates (x, y), each -1 to 1.
    Rgb at(double x, double y) {
        glFinish();
        const int column = static_cast<int>((x + 1) / 2 * window_.clientWidth());
        const int row = static_cast<int>((y + 1) / 2 * window_.clientHeight());
        unsigned char pixel[4] = {0xAA, 0xAA, 0xAA, 0xAA};
        glReadBuffer(GL_BACK);
        glReadPixels(column, row, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
        return {pixel[0], pixel[1], pixel[2]};
    }

    ::testing::AssertionResult sameColour(Rgb got, Rgb want, int tolerance = 1) {
        if (std::abs(got.r - want.r) <= tolerance && std::abs(got.g - want.g) <= tolerance &&
            std::abs(got.b - want.b) <= tolerance)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "got (" << got.r << ", " << got.g << ", " << got.b << "), want ("
                                             << want.r << ", " << want.g << ", " << want.b << ")";
    }

    // Binds an object whose scene file holds `lines`.
    void bindScene(HostObject& object, const std::string& lines) {
        writeTextFile("defplx00.880", "880\n" + lines);
        object.tag();
        bind(object);
    }

    static GLint integer(GLenum name) {
        GLint value = -1;
        glGetIntegerv(name, &value);
        return value;
    }
    static std::vector<float> currentColor() {
        GLfloat c[4] = {};
        glGetFloatv(GL_CURRENT_COLOR, c);
        return {c[0], c[1], c[2]};
    }
};

TEST_F(Render, TimerDrawShowsTheDefaultSphereWhiteOnBlack) {
    HostObject object(1);
    bind(object);
    clear(0, 0, 0);
    plugin_.TimerDraw(1);
    EXPECT_TRUE(sameColour(at(0, 0), {255, 255, 255}));
    EXPECT_TRUE(sameColour(at(0.3, -0.3), {255, 255, 255}));    // radius 0.42: on the sphere
    EXPECT_TRUE(sameColour(at(0.42, 0.42), {0, 0, 0}));         // radius 0.59: beside it
    EXPECT_TRUE(sameColour(at(-0.9, 0.9), {0, 0, 0}));

    // Its pick pass: the only block has index 0, whose pick colour is black.
    clear(1, 1, 1);
    plugin_.PhantomDraw(1);
    EXPECT_TRUE(sameColour(at(0, 0), {0, 0, 0}));
    EXPECT_TRUE(sameColour(at(0.42, 0.42), {255, 255, 255}));
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    plugin_.StopPlugin(1);
}

TEST_F(Render, PlaneShowsItsPickColourAndItsOwnColour) {
    HostObject object(1);
    bindScene(object, "PLANE8 RGB[0,1,0] ROT[1.5707963,0,0]\n");
    clear(1, 1, 1);
    plugin_.PhantomDraw(1);
    EXPECT_TRUE(sameColour(at(0, 0), {0, 0, 0}));
    EXPECT_TRUE(sameColour(at(-0.45, 0.45), {0, 0, 0}));
    EXPECT_TRUE(sameColour(at(0.55, 0.55), {255, 255, 255}));

    // The same plane seen by the visible pass: green, not the pick colour.
    clear(0, 0, 0);
    plugin_.TimerDraw(1);
    EXPECT_TRUE(sameColour(at(0.45, -0.45), {0, 255, 0}));
    EXPECT_TRUE(sameColour(at(-0.55, 0), {0, 0, 0}));
    plugin_.StopPlugin(1);
}

TEST_F(Render, TranslucentGreyOverWhiteGivesThreeQuarterGrey) {
    HostObject object(1);
    bindScene(object, "SPHERE24 RGB[0.5,0.5,0.5] TRANS[1]\n");
    clear(1, 1, 1);
    plugin_.TimerDraw(1);
    EXPECT_TRUE(sameColour(at(0, 0), {191, 191, 191}));   // 0.5 * 0.5 + 1 * (1 - 0.5)
    EXPECT_TRUE(sameColour(at(0.9, 0.9), {255, 255, 255}));

    // Black lets the background through and white covers it, channel by channel.
    plugin_.StopPlugin(1);
    HostObject second(2);
    bindScene(second, "SPHERE24 RGB[1,0,0.5] TRANS[1]\n");
    clear(0.2f, 0.4f, 1.0f);
    plugin_.TimerDraw(2);
    EXPECT_TRUE(sameColour(at(0, 0), {255, 102, 191}));   // (1 + 0, 0 + 0.4, 0.25 + 0.5)
    plugin_.StopPlugin(2);
}

TEST_F(Render, TimerDrawLeavesTheStateTheHostIsPromised) {
    HostObject object(1);
    bindScene(object, "SPHERE12 RGB[0.25,0.5,0.75]\n");
    glEnable(GL_BLEND);            // switched off after the first block
    glEnable(GL_TEXTURE_GEN_S);    // the host's: never switched by the plug-in
    glShadeModel(GL_SMOOTH);
    plugin_.TimerDraw(1);

    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_GEN_S));
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_GEN_T));
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_EQ(integer(GL_SHADE_MODEL), GL_FLAT);
    EXPECT_EQ(integer(GL_BLEND_SRC), GL_SRC_COLOR);
    EXPECT_EQ(integer(GL_BLEND_DST), GL_ONE_MINUS_SRC_COLOR);
    for (GLenum coord : {GL_S, GL_T}) {
        GLint mode = -1;
        glGetTexGeniv(coord, GL_TEXTURE_GEN_MODE, &mode);
        EXPECT_EQ(mode, GL_SPHERE_MAP);
        GLfloat plane[4] = {};
        glGetTexGenfv(coord, GL_OBJECT_PLANE, plane);
        EXPECT_EQ(std::vector<float>(plane, plane + 4), (std::vector<float>{1, 1, 1, 0}));
    }
    EXPECT_EQ(currentColor(), (std::vector<float>{0.25f, 0.5f, 0.75f}));
    EXPECT_EQ(integer(GL_MATRIX_MODE), GL_MODELVIEW);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    plugin_.StopPlugin(1);
}

TEST_F(Render, PhantomDrawChangesOnlyTexturingAndTheColour) {
    HostObject object(1);
    bindScene(object, "SPHERE12 RGB[0.25,0.5,0.75]\n");
    glShadeModel(GL_SMOOTH);
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ZERO);
    glDisable(GL_TEXTURE_2D);
    glTexGeni(GL_S, GL_TEXTURE_GEN_MODE, GL_OBJECT_LINEAR);
    plugin_.PhantomDraw(1);

    EXPECT_EQ(integer(GL_SHADE_MODEL), GL_SMOOTH);
    EXPECT_TRUE(glIsEnabled(GL_BLEND));
    EXPECT_EQ(integer(GL_BLEND_SRC), GL_ONE);
    EXPECT_EQ(integer(GL_BLEND_DST), GL_ZERO);
    GLint mode = -1;
    glGetTexGeniv(GL_S, GL_TEXTURE_GEN_MODE, &mode);
    EXPECT_EQ(mode, GL_OBJECT_LINEAR);
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_EQ(currentColor(), (std::vector<float>{0, 0, 0}));
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    plugin_.StopPlugin(1);
}

TEST_F(Render, DrawingAnUnknownKeyTouchesNothing) {
    HostObject object(1);
    bind(object);
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ZERO);
    glColor3f(0.5f, 0.5f, 0.5f);
    clear(0, 0, 1);
    plugin_.TimerDraw(2);
    plugin_.PhantomDraw(2);
    EXPECT_TRUE(glIsEnabled(GL_BLEND));
    EXPECT_EQ(integer(GL_BLEND_SRC), GL_ONE);
    EXPECT_EQ(currentColor(), (std::vector<float>{0.5f, 0.5f, 0.5f}));
    EXPECT_TRUE(sameColour(at(0, 0), {0, 0, 255}));
    plugin_.StopPlugin(1);
}

}  // namespace
}  // namespace plexa::wintest
