#include "scene/block.h"

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
    if (!deferGeometry) buildGeometry();
}

void Block::buildGeometry() {
    geometryOwed = false;
    geometry::buildMesh(*this);
    if (skinId != 0) geometry::applySkin(*this, skinId);
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
