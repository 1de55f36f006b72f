#include "scene/scene.h"

#include <cstring>
#include <new>

#include "geometry/numeric.h"
#include "render/transform.h"
#include "scene/scene_file.h"

namespace plexa::scene {

namespace {
constexpr size_t kInitialCapacity = 50;
constexpr size_t kGrowthStep = 50;
}  // namespace

Scene::Scene() { blocks_.reserve(kInitialCapacity); }

Scene::~Scene() {
    for (auto& block : blocks_) block.reset();
}

Block* Scene::block(int32_t index) const {
    if (index < 0 || index >= count()) return nullptr;
    return blocks_[static_cast<size_t>(index)].get();
}

int32_t Scene::addBlock(BlockKind kind, int32_t fineness, char* rest) {
    // While refreshes are deferred (a file being read) the mesh waits too:
    // most blocks of a file are removed again before any is drawn, and a
    // file of ceiling-fine blocks would otherwise build megabytes per line.
    blocks_.push_back(std::make_unique<Block>(rest, count(), kind, fineness, deferDepth_ > 0));
    if (blocks_.size() % kGrowthStep == 0) blocks_.reserve(blocks_.size() + kGrowthStep);
    refreshFrom(0);   // every block, the new one included
    return count() - 1;
}

void Scene::addLine(char* line) {
    if (std::strlen(line) > kLongestLine) {
        geometry::logError(line);
        return;
    }
    KindKeyword keyword;
    if (!readKindKeyword(line, keyword)) return;
    addBlock(keyword.kind, keyword.fineness, keyword.rest);
}

int32_t Scene::addDefault(int32_t kind) {
    if (!isBlockKind(kind)) return count() - 1;
    // Reading splits the text in place, so the constant line is copied first.
    char line[kLineCapacity];
    std::strncpy(line, defaultLine(kind), sizeof line - 1);
    line[sizeof line - 1] = '\0';
    addLine(line);
    return count() - 1;
}

void Scene::removeSelected() {
    if (!selected) return;
    size_t index = 0;
    while (index < blocks_.size() && blocks_[index].get() != selected) ++index;
    if (index == blocks_.size()) return;

    blocks_[index].reset();
    blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(index));
    for (size_t i = index; i < blocks_.size(); ++i) blocks_[i]->assignPickColor(static_cast<int32_t>(i));
    refreshFrom(index);
    selected = nullptr;
}

void Scene::removeFrom(int32_t index) {
    if (index < 0 || index >= count()) return;
    const size_t first = static_cast<size_t>(index);
    for (size_t i = first; i < blocks_.size(); ++i) {
        if (blocks_[i].get() == selected) selected = nullptr;
        blocks_[i].reset();
    }
    blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(first), blocks_.end());
    // Nothing follows the removed blocks, so no refresh is owed for them.
    if (owedFrom_ != kNothingOwed && owedFrom_ >= blocks_.size()) owedFrom_ = kNothingOwed;
}

void Scene::refreshFrom(size_t index) {
    if (deferDepth_ > 0) {
        if (owedFrom_ == kNothingOwed || index < owedFrom_) owedFrom_ = index;
        return;
    }
    for (size_t i = index; i < blocks_.size(); ++i) {
        // A block whose mesh cannot be had now keeps its values (they are
        // saved as they were read) and is drawn once a later refresh has one.
        try {
            if (blocks_[i]->geometryOwed) blocks_[i]->buildGeometry();
            render::refresh(*blocks_[i]);
        } catch (const std::bad_alloc& failure) {
            geometry::logAllocationFailure(failure, "a block is not drawn");
        }
    }
}

void Scene::deferRefresh() { ++deferDepth_; }

void Scene::resumeRefresh() {
    if (deferDepth_ == 0 || --deferDepth_ > 0) return;
    const size_t from = owedFrom_;
    owedFrom_ = kNothingOwed;
    if (from != kNothingOwed) refreshFrom(from);
}

void Scene::resetStorage() {
    for (auto& block : blocks_) block.reset();
    std::vector<std::unique_ptr<Block>>().swap(blocks_);
    blocks_.reserve(kInitialCapacity);
}

void Scene::clear() {
    resetStorage();
    selected = nullptr;
    owedFrom_ = kNothingOwed;   // the blocks that were owed a refresh are gone
}

bool Scene::load(const char* fileName, int32_t keep, bool* held) {
    // Refreshing after each line would compile n(n+1)/2 lists for n lines.
    DeferredRefresh deferred(*this);
    return readSceneFile(fileName, *this, keep, held);
}

bool Scene::save(const char* fileName) const { return writeSceneFile(fileName, *this); }

}  // namespace plexa::scene
