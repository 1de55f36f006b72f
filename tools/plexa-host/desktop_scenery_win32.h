// What the host draws around the plug-in's objects (platform side: OpenGL):
// sky, floor, shadows, the light the objects are lit by, the selection mark.
//
// The plug-in draws each object's block and nothing else, in whatever state
// the host leaves: lighting, depth test, face culling, texture environment
// and texture-coordinate generation are the host's. These functions set that
// state for each stage of a frame; the host calls the plug-in in between.
//
// [X] sky gradient meeting a floor that fades into the horizon
// [X] shadows of the objects' true shapes on the floor (from PhantomDraw)
// [X] a key light and a fill light, colour material, back faces culled
// [X] selection ring on the floor with a stem up to the object
#pragma once

#include "view_math.h"

namespace plexa::refhost::scenery {

// Loads the camera into OpenGL: viewport, projection, modelview.
void applyCamera(const Camera& camera);

// Clears the frame and draws sky and floor. Leaves the floor's pixels marked
// with 1 in the stencil buffer, which the shadows need.
void drawBackdrop(const Camera& camera);

// Shadows: between beginShadows and endShadows the host draws every object
// through PhantomDraw in its frame; each covered floor pixel is darkened
// once, however many objects overlap there.
void beginShadows();
void endShadows();

// The state TimerDraw expects, with the camera's modelview loaded.
void prepareObjectPass();

void drawSelectionMark(const float position[3]);

}  // namespace plexa::refhost::scenery
