#include "render/draw.h"

#include "render/gl.h"
#include "scene/scene.h"

namespace plexa::render {

// Drawing only calls lists compiled by refresh: nothing is computed or
// allocated per frame.
void drawScene(const scene::Scene& scene) {
    for (int32_t i = 0; i < scene.count(); ++i) glCallList(scene.block(i)->listBase);
}

void drawPickLists(const scene::Scene& scene) {
    for (int32_t i = 0; i < scene.count(); ++i) glCallList(scene.block(i)->listBase + 1);
}

}  // namespace plexa::render
