// The sample desktop (core side: no Win32).
//
// What a new user sees on the first run, before any desktop file exists: a
// few spheres and planes of different fineness, size, rotation and colour,
// one of them translucent. An object new to the plug-in would only get its
// default white sphere, so each sample object comes already tagged, with the
// scene file it names written beside the host beforehand.
//
// The plug-in numbers its scene files by binding order, "defplx%02d.880", so
// sample object i (bound i-th) names and finds defplx<i>.880.
//
// [X] tagged data blocks naming the scene files, colour bytes matching the
//     block colour (the colour dialog opens on it)
// [X] scene files in the plug-in's own format, written only where missing
// [ ] materials and skins on some sample blocks (the names go in `material`
//     and `skin` below; images are looked up relative to the plug-in's
//     directory, so they must lie beside plexa.dll or be given in full)
#pragma once

#include "desktop_file.h"

#include <cstddef>
#include <string>
#include <vector>

namespace plexa::refhost {

// One sample object: where the host puts it, and the one block of its scene.
struct SampleObject {
    int32_t key;
    float position[3];  // the object's frame on the desktop
    const char* kind;   // "SPHERE" or "PLANE"
    int fineness;
    float size[3];
    float rotation[3];  // radians about x, y, z
    float colour[3];    // 0 to 1
    const char* material;  // material image (TEXTURE[]), "" for none; stored
                           // relative to the plug-in's directory
    const char* skin;      // skin image (SKIN[]), "" for none
    float translucency;    // 0 opaque
    float skinScale = 0.5f;  // negative: the skin pushes inwards
};

// The folder beside the plug-in that holds the sample's pictures.
constexpr const char* kSampleImageFolder = "samples";

const std::vector<SampleObject>& sampleObjects();

// The sample objects as a desktop, in binding order.
std::vector<DesktopObject> sampleDesktop();

// "defplx%02d.880" for binding order number `index`.
std::string sceneFileNameFor(size_t index);

// One block line exactly as the plug-in writes it back, line feed included.
std::string sceneBlockLine(const SampleObject& object);

// A whole scene file holding that one block, as the plug-in writes it.
std::string sceneFileText(const SampleObject& object);

enum class NewFileStatus { Written, AlreadyThere, Failed };

// Creates `path` with `text` only when no file of that name exists (never
// replacing one, even one made a moment earlier by someone else). Text mode:
// on Windows each line feed becomes CR LF, as in the files the plug-in writes.
NewFileStatus writeNewTextFile(const std::string& path, const std::string& text, std::string* error);

}  // namespace plexa::refhost
