#include "host/edit_history.h"

#include <cstring>

#include "geometry/skin.h"
#include "render/transform.h"
#include "scene/scene_file.h"

namespace plexa::host {

namespace {

template <size_t N>
void copyName(char (&to)[N], const std::string& from) {
    const size_t length = from.size() < N ? from.size() : N - 1;
    std::memcpy(to, from.data(), length);
    to[length] = '\0';
}

template <size_t N>
void copyTriple(float (&to)[N], const float (&from)[N]) {
    std::memcpy(to, from, sizeof to);
}

}  // namespace

BlockState captureBlock(const scene::Block& block) {
    BlockState state;
    state.kind = block.kind;
    state.fineness = block.fineness;
    state.textureId = block.textureId;
    state.skinId = block.skinId;
    state.density = block.density;
    state.skinScale = block.skinScale;
    state.translucency = block.translucency;
    copyTriple(state.color, block.color);
    copyTriple(state.size, block.size);
    copyTriple(state.rotation, block.rotation);
    copyTriple(state.origin, block.origin);
    state.shortcut = block.shortcut;
    state.missingTexture = block.missingTexture;
    state.missingSkin = block.missingSkin;
    return state;
}

void restoreBlock(scene::Block& block, const BlockState& state) {
    block.kind = state.kind;
    block.fineness = state.fineness;
    // The caches keep every picture for the library's life, so the ids still
    // name the same pictures; a name that could not be loaded comes back as
    // a name only, with no new attempt to load it.
    block.textureId = state.textureId;
    block.skinId = state.skinId;
    block.density = state.density;
    block.skinScale = state.skinScale;
    block.translucency = state.translucency;
    copyTriple(block.color, state.color);
    copyTriple(block.size, state.size);
    copyTriple(block.rotation, state.rotation);
    copyTriple(block.origin, state.origin);
    copyName(block.shortcut, state.shortcut);
    copyName(block.missingTexture, state.missingTexture);
    copyName(block.missingSkin, state.missingSkin);
    block.rebuildMesh();
    geometry::applySkin(block, -1);
    render::refresh(block);
}

bool EditHistory::record(uint32_t command, const BlockState& before, const char* beforeLine,
                         const scene::Block& after) {
    char afterLine[scene::kLineCapacity];
    scene::writeLine(after, afterLine, false);
    if (std::strcmp(beforeLine, afterLine) == 0) return false;
    // Copied first: out of memory, the history stays as it was.
    Step step{command, before, captureBlock(after)};
    steps_.erase(steps_.begin() + static_cast<std::ptrdiff_t>(done_), steps_.end());
    steps_.push_back(std::move(step));
    if (steps_.size() > kMostSteps) steps_.pop_front();
    done_ = steps_.size();
    return true;
}

bool EditHistory::undo(scene::Block& block) {
    if (done_ == 0) return false;
    restoreBlock(block, steps_[done_ - 1].before);
    --done_;
    return true;
}

bool EditHistory::redo(scene::Block& block) {
    if (done_ == steps_.size()) return false;
    restoreBlock(block, steps_[done_].after);
    ++done_;
    return true;
}

}  // namespace plexa::host
