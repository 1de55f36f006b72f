#include "desktop_scenery_win32.h"

#include <cmath>

#include <windows.h>

#include <GL/gl.h>

namespace plexa::refhost::scenery {

namespace {

constexpr GLfloat kSkyTop[3] = {0.13f, 0.17f, 0.25f};
// Also the fog colour: the far floor dissolves into the sky at the horizon
// instead of ending at an edge.
constexpr GLfloat kHorizon[3] = {0.56f, 0.61f, 0.68f};
constexpr GLfloat kFloorLight[3] = {0.47f, 0.49f, 0.53f};
constexpr GLfloat kFloorDark[3] = {0.41f, 0.43f, 0.47f};
constexpr float kFogStart = 9.0f;
constexpr float kFogEnd = 38.0f;

// Tiles of one desktop unit: a scale the eye can read distances by. The floor
// is cut into tiles anyway, since fog is computed per vertex on some drivers
// and a single huge quad would fog wrongly.
constexpr int kFloorLeft = -26;
constexpr int kFloorRight = 26;
constexpr int kFloorFar = -44;
constexpr int kFloorNear = 10;

// The key light comes from the upper left, in front of the desktop, so lit
// sides face the viewer and shadows fall behind and to the right, where they
// are seen rather than hidden under the objects.
constexpr double kTowardKeyLight[3] = {-0.45, 0.85, 0.40};
constexpr double kTowardFillLight[3] = {0.75, 0.25, 0.55};
constexpr GLfloat kShadowAlpha = 0.38f;

constexpr GLfloat kSelection[3] = {1.0f, 0.84f, 0.18f};
constexpr float kRingRadius = 0.62f;

void fullWindowQuadBegin() {
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
}

void fullWindowQuadEnd() {
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
}

}  // namespace

void applyCamera(const Camera& camera) {
    glViewport(0, 0, camera.width, camera.height);
    glMatrixMode(GL_PROJECTION);
    glLoadMatrixd(camera.projection.m);
    glMatrixMode(GL_MODELVIEW);
    glLoadMatrixd(camera.modelview.m);
}

void drawBackdrop(const Camera& camera) {
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glDepthMask(GL_TRUE);
    glStencilMask(0xFF);
    glClearColor(kHorizon[0], kHorizon[1], kHorizon[2], 1.0f);
    glClearDepth(1.0);
    glClearStencil(0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);

    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_BLEND);
    glDisable(GL_CULL_FACE);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_STENCIL_TEST);
    glDisable(GL_FOG);
    glShadeModel(GL_SMOOTH);

    // The sky: from the top of the window down to the horizon, the height in
    // the window of a point far ahead at eye level.
    const float farAhead[3] = {0.0f, 0.0f, -10000.0f};
    double horizonX = 0.0, horizonY = 0.0;
    double horizonNdc = -1.0;
    if (projectToWindow(camera, farAhead, &horizonX, &horizonY) && camera.height > 0) {
        horizonNdc = 1.0 - 2.0 * horizonY / camera.height;
        if (horizonNdc > 1.0) horizonNdc = 1.0;
        if (horizonNdc < -1.0) horizonNdc = -1.0;
    }
    fullWindowQuadBegin();
    glBegin(GL_QUADS);
    glColor3fv(kHorizon);
    glVertex2d(-1.0, horizonNdc);
    glVertex2d(1.0, horizonNdc);
    glColor3fv(kSkyTop);
    glVertex2d(1.0, 1.0);
    glVertex2d(-1.0, 1.0);
    glEnd();
    fullWindowQuadEnd();

    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glEnable(GL_FOG);
    glFogi(GL_FOG_MODE, GL_LINEAR);
    glFogfv(GL_FOG_COLOR, kHorizon);
    glFogf(GL_FOG_START, kFogStart);
    glFogf(GL_FOG_END, kFogEnd);
    glHint(GL_FOG_HINT, GL_NICEST);
    glEnable(GL_STENCIL_TEST);
    glStencilFunc(GL_ALWAYS, 1, 0xFF);
    glStencilOp(GL_KEEP, GL_KEEP, GL_REPLACE);

    glBegin(GL_QUADS);
    glNormal3f(0.0f, 1.0f, 0.0f);
    for (int z = kFloorFar; z < kFloorNear; ++z) {
        for (int x = kFloorLeft; x < kFloorRight; ++x) {
            glColor3fv(((x + z) & 1) ? kFloorDark : kFloorLight);
            const float x0 = static_cast<float>(x), x1 = static_cast<float>(x + 1);
            const float z0 = static_cast<float>(z), z1 = static_cast<float>(z + 1);
            glVertex3f(x0, kFloorY, z1);
            glVertex3f(x1, kFloorY, z1);
            glVertex3f(x1, kFloorY, z0);
            glVertex3f(x0, kFloorY, z0);
        }
    }
    glEnd();

    glDisable(GL_FOG);
    glDisable(GL_STENCIL_TEST);
}

void beginShadows() {
    // Only the stencil buffer is written: floor pixels (1) under a shadow
    // become 2, and later shadows there fail the test, so overlapping shadows
    // darken once. The flattened shapes lie in the floor itself, where the
    // depth test would make them flicker, so it is off; back-face culling is
    // off too, since flattening turns some faces around.
    glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_FALSE);
    glDepthMask(GL_FALSE);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_LIGHTING);
    glDisable(GL_CULL_FACE);
    glDisable(GL_BLEND);
    glEnable(GL_STENCIL_TEST);
    glStencilFunc(GL_EQUAL, 1, 0xFF);
    glStencilOp(GL_KEEP, GL_KEEP, GL_INCR);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glMultMatrixd(shadowMatrix(kTowardKeyLight, kFloorY).m);
}

void endShadows() {
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glStencilFunc(GL_EQUAL, 2, 0xFF);
    glStencilOp(GL_KEEP, GL_KEEP, GL_KEEP);
    glDisable(GL_TEXTURE_2D);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    fullWindowQuadBegin();
    glColor4f(0.0f, 0.0f, 0.05f, kShadowAlpha);
    glBegin(GL_QUADS);
    glVertex2f(-1.0f, -1.0f);
    glVertex2f(1.0f, -1.0f);
    glVertex2f(1.0f, 1.0f);
    glVertex2f(-1.0f, 1.0f);
    glEnd();
    fullWindowQuadEnd();
    glDisable(GL_BLEND);
    glDisable(GL_STENCIL_TEST);
    glDepthMask(GL_TRUE);
    glEnable(GL_DEPTH_TEST);
}

void prepareObjectPass() {
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glDepthMask(GL_TRUE);
    glDisable(GL_STENCIL_TEST);
    glDisable(GL_BLEND);
    glDisable(GL_FOG);
    // Closed blocks show only their outside: a translucent sphere then blends
    // once per pixel, not once for its back and again for its front.
    glEnable(GL_CULL_FACE);
    glCullFace(GL_BACK);
    glFrontFace(GL_CCW);
    glDisable(GL_TEXTURE_GEN_S);
    glDisable(GL_TEXTURE_GEN_T);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glShadeModel(GL_SMOOTH);
    // The plug-in's normals are unit length, but a host may scale an object.
    glEnable(GL_NORMALIZE);

    glEnable(GL_LIGHTING);
    const GLfloat ambient[4] = {0.24f, 0.25f, 0.28f, 1.0f};
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, ambient);
    glLightModeli(GL_LIGHT_MODEL_LOCAL_VIEWER, GL_TRUE);
    glLightModeli(GL_LIGHT_MODEL_TWO_SIDE, GL_FALSE);

    // Positions are given with the camera loaded, so the lights stay put on
    // the desktop.
    const GLfloat keyPosition[4] = {static_cast<GLfloat>(kTowardKeyLight[0]), static_cast<GLfloat>(kTowardKeyLight[1]),
                                    static_cast<GLfloat>(kTowardKeyLight[2]), 0.0f};
    const GLfloat keyDiffuse[4] = {0.82f, 0.80f, 0.76f, 1.0f};
    const GLfloat keyHighlight[4] = {0.45f, 0.45f, 0.42f, 1.0f};
    const GLfloat none[4] = {0.0f, 0.0f, 0.0f, 1.0f};
    glEnable(GL_LIGHT0);
    glLightfv(GL_LIGHT0, GL_POSITION, keyPosition);
    glLightfv(GL_LIGHT0, GL_AMBIENT, none);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, keyDiffuse);
    glLightfv(GL_LIGHT0, GL_SPECULAR, keyHighlight);

    // A weak cool light from the other side keeps the shadowed sides from
    // going flat.
    const GLfloat fillPosition[4] = {static_cast<GLfloat>(kTowardFillLight[0]),
                                     static_cast<GLfloat>(kTowardFillLight[1]),
                                     static_cast<GLfloat>(kTowardFillLight[2]), 0.0f};
    const GLfloat fillDiffuse[4] = {0.22f, 0.25f, 0.32f, 1.0f};
    glEnable(GL_LIGHT1);
    glLightfv(GL_LIGHT1, GL_POSITION, fillPosition);
    glLightfv(GL_LIGHT1, GL_AMBIENT, none);
    glLightfv(GL_LIGHT1, GL_DIFFUSE, fillDiffuse);
    glLightfv(GL_LIGHT1, GL_SPECULAR, none);

    // The plug-in colours its blocks with glColor: colour material makes that
    // colour the surface's, under the lights.
    glEnable(GL_COLOR_MATERIAL);
    glColorMaterial(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE);
    const GLfloat shine[4] = {0.35f, 0.35f, 0.35f, 1.0f};
    glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, shine);
    glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, 48.0f);
    glMaterialfv(GL_FRONT_AND_BACK, GL_EMISSION, none);
}

void drawSelectionMark(const float position[3]) {
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_BLEND);
    glDisable(GL_CULL_FACE);
    glEnable(GL_DEPTH_TEST);
    glColor3fv(kSelection);
    glLineWidth(2.0f);
    // Lifted a little off the floor, so the depth test keeps the ring.
    const float y = kFloorY + 0.01f;
    glBegin(GL_LINE_LOOP);
    constexpr int kSegments = 48;
    for (int i = 0; i < kSegments; ++i) {
        const double angle = 2.0 * 3.14159265358979323846 * i / kSegments;
        glVertex3f(position[0] + kRingRadius * static_cast<float>(std::cos(angle)), y,
                   position[2] + kRingRadius * static_cast<float>(std::sin(angle)));
    }
    glEnd();
    // A stem from the ring up to the object's frame shows how high it floats.
    glBegin(GL_LINES);
    glVertex3f(position[0], y, position[2]);
    glVertex3f(position[0], position[1], position[2]);
    glEnd();
    glLineWidth(1.0f);
}

}  // namespace plexa::refhost::scenery
