// An instance's ordered list of blocks and its selected block (core side).
//
// [X] growth: 50, then count + 50 at every multiple of 50; clear returns to 50
// [X] addBlock / addLine / addDefault, removeSelected, clear
// [X] load and save through the scene file format
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
    void clear();

    // The file is replaced only when the identification line is accepted.
    bool load(const char* fileName);
    // The previous file survives a write that fails part-way.
    bool save(const char* fileName) const;

private:
    void resetStorage();
    std::vector<std::unique_ptr<Block>> blocks_;
};

}  // namespace plexa::scene
