// Undo and Redo: each bound object's own record of the edits made to its
// block in this session (core side).
//
// [X] a step is an edit that changed the block's saved line
// [X] at most kMostSteps steps, the oldest dropped first; memory only for
//     steps made
// [X] a new step after an Undo forgets what could have been redone
// [X] a step puts the block back exactly, pictures taken from the caches by
//     id and never loaded again
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

#include "scene/block.h"

namespace plexa::host {

// Everything of a block that its saved line is made from, at full precision:
// the line itself rounds colours, density and scales, and a line cut for
// length loses keys, so it could not put the block back exactly.
struct BlockState {
    scene::BlockKind kind = scene::SPHERE;
    int32_t fineness = 0;
    uint32_t textureId = 0;
    uint32_t skinId = 0;
    float density = 1.0f;
    float skinScale = 0.5f;
    float translucency = 0.0f;
    float color[3] = {};
    float size[3] = {};
    float rotation[3] = {};
    float origin[3] = {};
    std::string shortcut;
    std::string missingTexture;
    std::string missingSkin;
};

BlockState captureBlock(const scene::Block& block);

// Gives the block the state's values and makes its mesh, skin and display
// lists again for them.
void restoreBlock(scene::Block& block, const BlockState& state);

class EditHistory {
public:
    static constexpr size_t kMostSteps = 100;

    // Records the edit `command` made to `after` as a step, when the block's
    // saved line differs from `beforeLine`; `before` is the block as the edit
    // found it. True when it was recorded.
    bool record(uint32_t command, const BlockState& before, const char* beforeLine, const scene::Block& after);

    // The command of the step Undo or Redo would take back or bring back; 0
    // when there is none.
    uint32_t undoCommand() const { return done_ > 0 ? steps_[done_ - 1].command : 0; }
    uint32_t redoCommand() const { return done_ < steps_.size() ? steps_[done_].command : 0; }

    // Puts the block back as it was before the last step, or as the step
    // left it; false, and the block untouched, when there is no such step.
    bool undo(scene::Block& block);
    bool redo(scene::Block& block);

    size_t size() const { return steps_.size(); }

private:
    struct Step {
        uint32_t command;
        BlockState before;
        BlockState after;
    };
    std::deque<Step> steps_;
    size_t done_ = 0;   // steps_[0, done_) are in effect; the rest can be redone
};

}  // namespace plexa::host
