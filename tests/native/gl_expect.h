// Expected OpenGL call sequences for the list tests, written out from what
// each list is meant to hold rather than from the builders, and a comparison
// that names the first call that differs.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "render/gl.h"
#include "scene/block.h"
#include "tests/native/gl_recorder.h"

namespace plexa::testing {

struct Vec3 {
    double x, y, z;
};

// Where a unit-space point of the block lands: scaled by `size`, rotated about
// the fixed Y axis, then X, then Z (each counter-clockwise seen from the
// positive end of its axis), then moved by `origin`. Double precision.
Vec3 placePoint(const scene::Block& block, const geometry::MeshEntry& p);
// The same without the move, then brought back to unit length; a normal that
// the size flattens to nothing stays (0, 0, 0).
Vec3 placeNormal(const scene::Block& block, const geometry::MeshEntry& n);

// The calls one list should hold, in order, with vertices and normals taken
// from the block's unit mesh through placePoint / placeNormal.
class ExpectedList {
public:
    ExpectedList(const scene::Block& block, bool appearance);

    bool appearance() const { return appearance_; }
    // The texture extent: density when textured, else 0.
    float d() const;

    void call(const char* name, std::vector<double> args = {});
    void begin(GLenum mode) { call("glBegin", {static_cast<double>(mode)}); }
    void end() { call("glEnd"); }
    void shadeModel(GLenum mode) { call("glShadeModel", {static_cast<double>(mode)}); }
    void enable(GLenum cap) { call("glEnable", {static_cast<double>(cap)}); }
    void disable(GLenum cap) { call("glDisable", {static_cast<double>(cap)}); }
    void color(const float (&rgb)[3]) { call("glColor3fv", {rgb[0], rgb[1], rgb[2]}); }
    void normal(uint32_t k);
    // Appearance lists give the coordinate first; pick lists ignore it.
    void vertex(uint32_t k, float s = 0.0f, float t = 0.0f);

    // One primitive written as a face table, e.g.
    // "N0; P0 (0, 0), P1 (0, D); N1; P4 (0, 0)": Nk is normal k, Pk vertex k,
    // and (s, t) its texture coordinate, each 0 or D.
    void table(GLenum mode, const char* text);

    // The frame every list of the kind shares, around its geometry.
    void openFrame(bool smooth);
    void closeFrame(bool flatAfter);

    std::vector<GlCall> calls;

private:
    const scene::Block& block_;
    bool appearance_;
};

// k * d / n as the lists form texture steps: single precision, product first.
float part(uint32_t k, float d, uint32_t n);

// Call by call: names and arguments exactly, except glVertex3f and glNormal3f
// arguments, which pass through single-precision matrices and are compared
// within a few units in the last place of their magnitude.
::testing::AssertionResult sameCalls(const std::vector<GlCall>& got, const std::vector<GlCall>& want);

// How many calls of `name` the list holds.
size_t count(const std::vector<GlCall>& calls, const char* name);
// Vertex counts of each glBegin .. glEnd, in order.
std::vector<size_t> primitiveSizes(const std::vector<GlCall>& calls);

}  // namespace plexa::testing
