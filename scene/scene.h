// An instance's ordered list of blocks and its selected block (core side).
//
// [X] growth: 50, then count + 50 at every multiple of 50; clear returns to 50
// [X] addBlock / addLine / addDefault, removeSelected, clear
// [X] load and save through the scene file format
// [X] deferred refresh: a whole file read and reduced compiles each surviving
//     block's lists once, with the contents per-addition refreshing would give
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "scene/block.h"

namespace plexa::scene {

class Scene {
public:
    Scene();
    ~Scene();
    Scene(const Scene&) = delete;
    Scene& operator=(const Scene&) = delete;

    int32_t count() const { return static_cast<int32_t>(blocks_.size()); }
    size_t capacity() const { return blocks_.capacity(); }
    Block* block(int32_t index) const;

    Block* selected = nullptr;   // not owned; one of the blocks, or none

    // Adds a block constructed from the tokens after the kind keyword, then
    // refreshes every block of the scene. Returns the new block's index.
    int32_t addBlock(BlockKind kind, int32_t fineness, char* rest);
    // Reads one scene-file line (split in place) and adds its block, if any.
    void addLine(char* line);
    // Adds the kind's default block; for a value that is no kind, nothing.
    int32_t addDefault(int32_t kind);
    void removeSelected();
    // Removes the blocks from `index` to the end, in list order, as repeated
    // removal of the block at `index` would, but in one pass.
    void removeFrom(int32_t index);
    void clear();

    // While deferred, additions and removals note the blocks whose lists they
    // would have compiled instead of compiling them; the outermost resume
    // compiles those that remain, once each, in list order. Every block's lists
    // end up as immediate refreshing would leave them, because a refresh
    // depends only on the block's own fields. Nests.
    void deferRefresh();
    void resumeRefresh();

    // The file is replaced only when the identification line is accepted.
    // `keep`: see readSceneFile.
    bool load(const char* fileName, int32_t keep = INT32_MAX, bool* held = nullptr);
    // The previous file survives a write that fails part-way.
    bool save(const char* fileName) const;

private:
    void resetStorage();
    // Refreshes now, or notes that blocks from `index` on are owed one.
    void refreshFrom(size_t index);

    std::vector<std::unique_ptr<Block>> blocks_;
    int32_t deferDepth_ = 0;
    size_t owedFrom_ = kNothingOwed;
    static constexpr size_t kNothingOwed = static_cast<size_t>(-1);
};

// Defers the scene's refreshes for the lifetime of the object.
class DeferredRefresh {
public:
    explicit DeferredRefresh(Scene& scene) : scene_(scene) { scene_.deferRefresh(); }
    ~DeferredRefresh() { scene_.resumeRefresh(); }
    DeferredRefresh(const DeferredRefresh&) = delete;
    DeferredRefresh& operator=(const DeferredRefresh&) = delete;

private:
    Scene& scene_;
};

}  // namespace plexa::scene
