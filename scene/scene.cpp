#include "scene/scene.h"

#include <cstring>

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
    blocks_.push_back(std::make_unique<Block>(rest, count(), kind, fineness));
    if (blocks_.size() % kGrowthStep == 0) blocks_.reserve(blocks_.size() + kGrowthStep);
    render::refreshAll(*this);
    return count() - 1;
}

void Scene::addLine(char* line) {
    if (std::strlen(line) >= kLineCapacity - 1) {
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
    for (size_t i = index; i < blocks_.size(); ++i) {
        blocks_[i]->assignPickColor(static_cast<int32_t>(i));
        render::refresh(*blocks_[i]);
    }
    selected = nullptr;
}

void Scene::resetStorage() {
    for (auto& block : blocks_) block.reset();
    std::vector<std::unique_ptr<Block>>().swap(blocks_);
    blocks_.reserve(kInitialCapacity);
}

void Scene::clear() {
    resetStorage();
    selected = nullptr;
}

bool Scene::load(const char* fileName) { return readSceneFile(fileName, *this); }

bool Scene::save(const char* fileName) const { return writeSceneFile(fileName, *this); }

}  // namespace plexa::scene
