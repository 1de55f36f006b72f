// The block transform: composition order, row-vector convention, rotation
// directions, the translation applied last, w carried through, and a refresh
// that owes nothing to whatever used the shared matrices before it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>

#include "render/transform.h"
#include "scene/block.h"
#include "tests/native/gl_recorder.h"
#include "tests/native/test_support.h"

namespace plexa::testing {
namespace {

using geometry::MeshEntry;
using scene::Block;

constexpr float kHalfPi = 1.57079632679f;

class Transform : public InTempDir {
protected:
    std::unique_ptr<Block> block_ = makeBlock();

    static std::unique_ptr<Block> makeBlock() {
        char empty[] = "";
        return std::make_unique<Block>(empty, 0, scene::CUBE, 1);
    }

    // Where `p` lands under the block's size and rotation, then its origin.
    MeshEntry through(MeshEntry p) {
        render::loadBlockTransform(*block_);
        render::loadTranslation(block_->origin[0], block_->origin[1], block_->origin[2]);
        render::composeStep();
        MeshEntry out{};
        render::transformPoints(&out, &p, 1);
        return out;
    }
    void rotate(float x, float y, float z) {
        block_->rotation[0] = x;
        block_->rotation[1] = y;
        block_->rotation[2] = z;
    }
};

void expectPoint(const MeshEntry& e, float x, float y, float z, float w = 1.0f) {
    // Single-precision sines and cosines: cos(pi/2) is about -4.4e-8, not 0.
    EXPECT_NEAR(e.x, x, 1e-6);
    EXPECT_NEAR(e.y, y, 1e-6);
    EXPECT_NEAR(e.z, z, 1e-6);
    EXPECT_EQ(e.w, w);
}

TEST_F(Transform, EachRotationTurnsCounterClockwiseSeenFromItsAxis) {
    rotate(0, kHalfPi, 0);
    expectPoint(through({1, 0, 0, 1}), 0, 0, -1);
    expectPoint(through({0, 0, 1, 1}), 1, 0, 0);
    rotate(kHalfPi, 0, 0);
    expectPoint(through({0, 1, 0, 1}), 0, 0, 1);
    rotate(0, 0, kHalfPi);
    expectPoint(through({1, 0, 0, 1}), 0, 1, 0);
}

TEST_F(Transform, RotationAboutYComesBeforeXAndXBeforeZ) {
    rotate(kHalfPi, kHalfPi, 0);
    expectPoint(through({1, 0, 0, 1}), 0, 1, 0);   // X first would give (0, 0, -1)
    rotate(0, kHalfPi, kHalfPi);
    expectPoint(through({1, 0, 0, 1}), 0, 0, -1);   // Z first would give (0, 1, 0)
    rotate(kHalfPi, 0, kHalfPi);
    expectPoint(through({0, 0, 1, 1}), 1, 0, 0);    // Z first would give (0, -1, 0)
}

TEST_F(Transform, ScaleActsBeforeTheMoveAndTheOriginIsNeitherScaledNorTurned) {
    block_->size[0] = 2;
    block_->origin[0] = 1;
    expectPoint(through({0.5f, 0, 0, 1}), 2, 0, 0);
    rotate(0, 0, kHalfPi);
    block_->origin[1] = 3;
    expectPoint(through({0.5f, 0, 0, 1}), 1, 4, 0);
}

TEST_F(Transform, PointsCarryTheirWWithoutDivision) {
    block_->origin[0] = 5;
    block_->size[1] = 3;
    // w = 0 is a direction: the move does not reach it.
    expectPoint(through({0, 1, 0, 0}), 0, 3, 0, 0);
    expectPoint(through({0, 1, 0, 2}), 10, 3, 0, 2);
}

TEST_F(Transform, TransformPointsWritesNothingWithoutArraysOrCount) {
    MeshEntry in[2] = {{1, 2, 3, 1}, {4, 5, 6, 1}};
    MeshEntry out[2];
    std::memset(out, 0xAA, sizeof out);
    MeshEntry untouched[2];
    std::memcpy(untouched, out, sizeof out);
    render::loadBlockTransform(*block_);
    render::transformPoints(out, nullptr, 2);
    render::transformPoints(nullptr, in, 2);
    render::transformPoints(out, in, 0);
    render::transformPoints(out, in, -1);
    EXPECT_EQ(std::memcmp(out, untouched, sizeof out), 0);
    render::transformPoints(out, in, 1);
    EXPECT_EQ(out[0].z, 3.0f);
    EXPECT_EQ(std::memcmp(&out[1], &untouched[1], sizeof out[1]), 0);
}

TEST_F(Transform, RefreshOwesNothingToEarlierUsesOfTheMatrices) {
    char empty[] = "";
    Block sphere(empty, 0, scene::SPHERE, 12);
    sphere.rotation[2] = 0.5f;
    sphere.origin[1] = 2;
    render::refresh(sphere);
    const std::vector<GlCall> clean = listContents(sphere.listBase);
    // A skin displacement leaves a translation in both matrices.
    render::Matrices& m = render::matrices();
    for (int i = 0; i < 16; ++i) m.current[i] = m.operand[i] = 7.5f;
    render::refresh(sphere);
    EXPECT_EQ(listContents(sphere.listBase), clean);
}

}  // namespace
}  // namespace plexa::testing
