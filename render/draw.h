// The host's two drawing passes over a scene (GL side). Both only call lists
// compiled by refresh: nothing is computed, compiled or allocated per frame.
//
// [X] appearance pass: sphere-map texture generation mode and object planes
//     (1, 1, 1, 0) for S and T, blend function (SRC_COLOR, ONE_MINUS_SRC_COLOR),
//     blending on around each translucent block and off after every block
// [X] pick pass: every block's pick list, in list order, and nothing else
// [X] state left to the host is exactly what these calls and the lists set;
//     nothing is read back or restored
// [X] texture-coordinate generation is never switched on or off: the host decides
#pragma once

namespace plexa::scene {
class Scene;
}

namespace plexa::render {

void drawScene(const scene::Scene& scene);
void drawPickLists(const scene::Scene& scene);

}  // namespace plexa::render
