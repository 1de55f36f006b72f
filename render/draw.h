// The host's two drawing passes over a scene (GL side).
//
// [X] appearance pass: every block's appearance list, in list order
// [X] pick pass: every block's pick list, in list order
// [ ] texture-generation and blend state around translucent blocks (arrives with the renderer)
#pragma once

namespace plexa::scene {
class Scene;
}

namespace plexa::render {

void drawScene(const scene::Scene& scene);
void drawPickLists(const scene::Scene& scene);

}  // namespace plexa::render
