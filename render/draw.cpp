#include "render/draw.h"

#include "render/gl.h"
#include "scene/scene.h"

namespace plexa::render {

namespace {
// Has no effect in sphere-map mode; it is left loaded for the host.
constexpr GLfloat kTexGenPlane[4] = {1.0f, 1.0f, 1.0f, 0.0f};
}  // namespace

void drawScene(const scene::Scene& scene) {
    glTexGeni(GL_T, GL_TEXTURE_GEN_MODE, GL_SPHERE_MAP);
    glTexGeni(GL_S, GL_TEXTURE_GEN_MODE, GL_SPHERE_MAP);
    glTexGenfv(GL_T, GL_OBJECT_PLANE, kTexGenPlane);
    glTexGenfv(GL_S, GL_OBJECT_PLANE, kTexGenPlane);
    // Each channel becomes src * src + dst * (1 - src): bright parts of a
    // translucent block cover the background, black lets it through.
    glBlendFunc(GL_SRC_COLOR, GL_ONE_MINUS_SRC_COLOR);
    for (int32_t i = 0; i < scene.count(); ++i) {
        const scene::Block& block = *scene.block(i);
        // Any value but 0 blends, NaN included (NaN != 0 holds).
        if (block.translucency != 0.0f) glEnable(GL_BLEND);
        glCallList(block.listBase);
        glDisable(GL_BLEND);
    }
}

void drawPickLists(const scene::Scene& scene) {
    for (int32_t i = 0; i < scene.count(); ++i) glCallList(scene.block(i)->listBase + 1);
}

}  // namespace plexa::render
