// Block refresh: the point where a block's placement and appearance reach its
// display lists (GL side).
//
// [X] refresh / refreshAll entry points used by the scene and the commands
// [X] display-list names owned per block (allocate at construction, delete at destruction)
// [ ] CPU transform of the mesh and the list contents (arrive with the renderer)
#pragma once

#include <cstdint>

namespace plexa::scene {
struct Block;
class Scene;
}  // namespace plexa::scene

namespace plexa::render {

// Two consecutive list names: the appearance list and the pick list.
uint32_t allocateLists();
void deleteLists(uint32_t listBase);

// At process exit the system's OpenGL may already be gone when the library's
// static objects are destroyed; from then on list deletion is skipped.
void setGlAvailable(bool available);

void refresh(scene::Block& block);
void refreshAll(scene::Scene& scene);

}  // namespace plexa::render
