// One drawable block of a scene and the values derived from it (core side).
//
// [X] the record, its start values and pick colour
// [X] construction from the rest of a scene-file line, destruction
// [X] mesh rebuild for kind and fineness changes
// [X] Finer / Rougher, never past the fineness ceiling
// [X] skin displacement on construction, or with the deferred mesh
// [X] an edit that runs out of memory leaves the block as it was
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "geometry/numeric.h"

namespace plexa::scene {

enum BlockKind : int32_t {
    CUBE = 0,
    TRIANGLE = 1,
    CYLINDER = 2,
    SPHERE = 3,
    PLANE = 4,
};

constexpr bool isBlockKind(int32_t value) { return value >= CUBE && value <= PLANE; }

constexpr size_t kNameCapacity = 260;    // file names, terminator included
constexpr size_t kLineCapacity = 1024;   // scene-file lines, terminator included

struct Block {
    BlockKind kind;
    uint32_t textureId = 0;
    float density = 1.0f;
    uint32_t skinId = 0;
    float skinScale = 0.5f;
    float translucency = 0.0f;
    float color[3] = {1.0f, 1.0f, 1.0f};
    float size[3] = {1.0f, 1.0f, 1.0f};
    float rotation[3] = {0.0f, 0.0f, 0.0f};
    float origin[3] = {0.0f, 0.0f, 0.0f};
    float pickColor[3] = {0.0f, 0.0f, 0.0f};
    std::unique_ptr<geometry::MeshEntry[]> vertices;
    std::unique_ptr<geometry::MeshEntry[]> normals;
    uint32_t vertexCount = 0;
    uint32_t normalCount = 0;
    int32_t fineness = 0;
    uint32_t listBase = 0;
    char shortcut[kNameCapacity] = {};
    // The stored names of a material and a skin that could not be loaded,
    // written back as they were so that the picture returns with its file;
    // empty when there is none. Choosing or removing a picture forgets them.
    char missingTexture[kNameCapacity] = {};
    char missingSkin[kNameCapacity] = {};
    // The mesh (and its skin) is still to be made: see `deferGeometry`.
    bool geometryOwed = false;

    // Builds a block from the tokens that follow the kind keyword of a scene
    // line. `rest` is split in place while its keys are read. The display lists
    // are allocated here but compiled by the scene's refresh. With
    // `deferGeometry` the mesh is left for `buildGeometry`, which the scene's
    // refresh calls: a block read only to be removed never costs one.
    Block(char* rest, int32_t index, BlockKind kind, int32_t fineness, bool deferGeometry = false);
    ~Block();
    Block(const Block&) = delete;
    Block& operator=(const Block&) = delete;

    void assignPickColor(int32_t index);

    // The mesh for the kind and fineness, displaced by the skin if any.
    void buildGeometry();

    // Makes the mesh again for the present kind and fineness. Callers apply the
    // skin and refresh afterwards.
    void rebuildMesh();

    // "Finer" and "Rougher": the next fineness up or down and the plain mesh
    // for it. When the fineness would not change (Finer at the ceiling,
    // Rougher at the floor) the block is left exactly as it is and the result
    // is false; otherwise callers apply the skin and refresh.
    bool makeFiner();
    bool makeRougher();
};

// Runs an edit of the block (changes of its values followed by the mesh,
// skin and refresh they need) as one step: when memory runs out on the way,
// the block keeps the values and the lists it had, its mesh is owed, and the
// result is false. A block whose mesh is owed gets it first.
bool editBlock(Block& block, const std::function<void()>& change);

}  // namespace plexa::scene
