#include "scene/block.h"

#include <cstring>
#include <new>

#include "geometry/mesh.h"
#include "geometry/skin.h"
#include "render/transform.h"
#include "scene/scene_file.h"

namespace plexa::scene {

Block::Block(char* rest, int32_t index, BlockKind blockKind, int32_t blockFineness, bool deferGeometry)
    : kind(blockKind) {
    listBase = render::allocateLists();
    assignPickColor(index);
    if (rest) readKeys(*this, rest);
    fineness = blockFineness;
    geometryOwed = true;
    if (deferGeometry) return;
    // Without memory for its mesh the block still holds what its line said;
    // the mesh is owed to the next refresh.
    try {
        buildGeometry();
    } catch (const std::bad_alloc& failure) {
        geometry::logAllocationFailure(failure, "a block is not drawn");
    }
}

void Block::buildGeometry() {
    geometry::buildMesh(*this);
    if (skinId != 0) geometry::applySkin(*this, skinId);
    geometryOwed = false;
}

namespace {
// What an edit may change: everything but the mesh and the lists.
struct Values {
    BlockKind kind;
    uint32_t textureId, skinId;
    float density, skinScale, translucency, color[3], size[3], rotation[3], origin[3];
    int32_t fineness;
    char shortcut[kNameCapacity], missingTexture[kNameCapacity], missingSkin[kNameCapacity];
};

template <typename From, typename To>
void copyValues(const From& from, To& to) {
    to.kind = from.kind;
    to.textureId = from.textureId;
    to.skinId = from.skinId;
    to.density = from.density;
    to.skinScale = from.skinScale;
    to.translucency = from.translucency;
    std::memcpy(to.color, from.color, sizeof to.color);
    std::memcpy(to.size, from.size, sizeof to.size);
    std::memcpy(to.rotation, from.rotation, sizeof to.rotation);
    std::memcpy(to.origin, from.origin, sizeof to.origin);
    to.fineness = from.fineness;
    std::memcpy(to.shortcut, from.shortcut, sizeof to.shortcut);
    std::memcpy(to.missingTexture, from.missingTexture, sizeof to.missingTexture);
    std::memcpy(to.missingSkin, from.missingSkin, sizeof to.missingSkin);
}
}  // namespace

bool editBlock(Block& block, const std::function<void()>& change) {
    Values before;
    copyValues(block, before);
    try {
        if (block.geometryOwed) block.buildGeometry();
        change();
        return true;
    } catch (const std::bad_alloc& failure) {
        geometry::logAllocationFailure(failure, "the edit is not made");
        // The lists are compiled last, so they still draw the block as it
        // was; the mesh may be half way and is made again when next needed.
        copyValues(before, block);
        block.vertices.reset();
        block.normals.reset();
        block.vertexCount = block.normalCount = 0;
        block.geometryOwed = true;
        return false;
    }
}

Block::~Block() { render::deleteLists(listBase); }

void Block::assignPickColor(int32_t index) {
    // The middle channel is index div 10 unreduced, so from 100 blocks on it
    // passes 1.0; the pick pass only needs the colours to differ.
    pickColor[0] = static_cast<float>((index % 10) * 0.1);
    pickColor[1] = static_cast<float>((index / 10) * 0.1);
    pickColor[2] = static_cast<float>((index / 100) * 0.1);
}

void Block::rebuildMesh() { geometry::rebuildMesh(*this); }

namespace {
bool changeFineness(Block& block, int32_t next) {
    if (next == block.fineness) return false;
    block.fineness = next;
    block.rebuildMesh();
    return true;
}
}  // namespace

bool Block::makeFiner() { return changeFineness(*this, geometry::finerFineness(fineness)); }

bool Block::makeRougher() { return changeFineness(*this, geometry::rougherFineness(fineness)); }

}  // namespace plexa::scene
