#include "render/transform.h"

#include "render/gl.h"
#include "scene/block.h"
#include "scene/scene.h"

namespace plexa::render {

namespace {
bool g_glAvailable = true;
}

void setGlAvailable(bool available) { g_glAvailable = available; }

uint32_t allocateLists() { return glGenLists(2); }

void deleteLists(uint32_t listBase) {
    if (g_glAvailable && listBase != 0) glDeleteLists(listBase, 2);
}

void refresh(scene::Block& block) {
    // Until the mesh is drawn, both lists are compiled empty so that calling
    // them is always valid.
    glNewList(block.listBase, GL_COMPILE);
    glEndList();
    glNewList(block.listBase + 1, GL_COMPILE);
    glEndList();
}

void refreshAll(scene::Scene& scene) {
    for (int32_t i = 0; i < scene.count(); ++i) refresh(*scene.block(i));
}

}  // namespace plexa::render
