// The lists drawn by real Mesa, in an off-screen OSMesa context: what each kind
// puts on the pixels, where placement and material put it, and that a frame
// allocates nothing. Linked against libOSMesa, not the call recorder. (Blending
// and the state the passes leave are checked through the DLL under Wine.)
#include <gtest/gtest.h>

#include <GL/glu.h>
#include <GL/osmesa.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#include "render/draw.h"
#include "render/gl.h"
#include "render/transform.h"
#include "scene/block.h"
#include "scene/scene.h"
#include "tests/scale_sweep.h"

// OSMesa keeps a few blocks of its own for the life of the process.
extern "C" const char* __lsan_default_suppressions() { return "leak:libOSMesa\n"; }

// ---------------------------------------------------------------- allocation count
// Every C++ allocation of the process goes through here, so a test can see
// whether a piece of code allocated at all. Paired new/delete replacements
// keep AddressSanitizer's checks consistent.

namespace {
size_t g_allocations = 0;

void* counted(std::size_t size) {
    ++g_allocations;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t size) { return counted(size); }
void* operator new[](std::size_t size) { return counted(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    ++g_allocations;
    return std::malloc(size ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    ++g_allocations;
    return std::malloc(size ? size : 1);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace plexa::testing {
namespace {

using scene::Block;

constexpr int kSize = 64;
constexpr float kHalfPi = 1.57079632679f;

struct Rgb {
    int r, g, b;
};

class Mesa : public ::testing::Test {
protected:
    void SetUp() override {
        context_ = OSMesaCreateContextExt(OSMESA_RGBA, 24, 8, 0, nullptr);
        ASSERT_NE(context_, nullptr);
        ASSERT_TRUE(OSMesaMakeCurrent(context_, pixels_.data(), GL_UNSIGNED_BYTE, kSize, kSize));
        glViewport(0, 0, kSize, kSize);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(-1, 1, -1, 1, -10, 10);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        clear(0, 0, 0);
    }
    void TearDown() override {
        blocks_.clear();   // their lists go while the context is still current
        scene_.reset();
        if (context_) OSMesaDestroyContext(context_);
    }

    void clear(float r, float g, float b) {
        glClearColor(r, g, b, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    }

    Block& block(scene::BlockKind kind, int32_t fineness, int32_t index = 0) {
        char empty[] = "";
        blocks_.push_back(std::make_unique<Block>(empty, index, kind, fineness));
        return *blocks_.back();
    }

    // The colour at view coordinates (x, y), each -1 to 1.
    Rgb at(double x, double y) {
        glFinish();
        const int column = static_cast<int>((x + 1) / 2 * kSize);
        const int row = static_cast<int>((y + 1) / 2 * kSize);   // OSMesa's rows run bottom-up
        const uint8_t* p = &pixels_[4 * (static_cast<size_t>(row) * kSize + static_cast<size_t>(column))];
        return {p[0], p[1], p[2]};
    }

    ::testing::AssertionResult near(Rgb got, Rgb want, int tolerance = 1) {
        if (std::abs(got.r - want.r) <= tolerance && std::abs(got.g - want.g) <= tolerance &&
            std::abs(got.b - want.b) <= tolerance)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "got (" << got.r << ", " << got.g << ", " << got.b << "), want ("
                                             << want.r << ", " << want.g << ", " << want.b << ")";
    }

    OSMesaContext context_ = nullptr;
    std::vector<uint8_t> pixels_ = std::vector<uint8_t>(4 * kSize * kSize);
    std::vector<std::unique_ptr<Block>> blocks_;
    std::unique_ptr<scene::Scene> scene_;
};

TEST_F(Mesa, EachKindFillsItsOutlineInItsColourAndInItsPickColour) {
    // Seen along -z: the cube's and the prism's +z faces, the cylinder's top
    // cap and the plane turned up to face the viewer, the sphere's disc.
    struct Case {
        scene::BlockKind kind;
        int32_t fineness;
        float turnX;
        std::vector<std::pair<double, double>> inside, outside;
    };
    const Case cases[] = {
        {scene::CUBE, 1, 0, {{0, 0}, {0.45, -0.45}}, {{0.55, 0}, {0, -0.55}}},
        {scene::TRIANGLE, 1, 0, {{0, 0.25}, {-0.4, 0.05}}, {{0.3, 0.4}, {0, -0.05}}},
        {scene::CYLINDER, 24, kHalfPi, {{0, 0}, {0.3, 0.3}}, {{0.42, 0.42}, {0.55, 0}}},
        {scene::SPHERE, 24, 0, {{0, 0}, {-0.3, 0.3}}, {{0.42, -0.42}, {0, 0.55}}},
        {scene::PLANE, 4, kHalfPi, {{0, 0}, {0.45, 0.45}}, {{0.55, 0.55}, {-0.55, 0}}},
    };
    for (const Case& c : cases) {
        Block& b = block(c.kind, c.fineness, 37);   // pick colour (0.7, 0.3, 0)
        b.color[0] = 1.0f, b.color[1] = 0.5f, b.color[2] = 0.25f;
        b.rotation[0] = c.turnX;
        render::refresh(b);
        for (uint32_t list : {b.listBase, b.listBase + 1}) {
            const Rgb want = list == b.listBase ? Rgb{255, 128, 64} : Rgb{179, 77, 0};
            clear(0, 0, 0);
            glCallList(list);
            for (const auto& [x, y] : c.inside) EXPECT_TRUE(near(at(x, y), want)) << c.kind << " at " << x << ", " << y;
            for (const auto& [x, y] : c.outside) EXPECT_TRUE(near(at(x, y), {0, 0, 0})) << c.kind << " at " << x << ", " << y;
        }
    }
}

TEST_F(Mesa, PlacementMovesScalesAndTurnsTheDrawnBlock) {
    Block& b = block(scene::CUBE, 1);
    b.size[0] = 0.5f;           // 0.25 wide, 1 high...
    b.rotation[2] = kHalfPi;    // ...turned to lie 1 wide, 0.25 high...
    b.origin[0] = 0.5f;         // ...and moved right
    render::refresh(b);
    glCallList(b.listBase);
    EXPECT_TRUE(near(at(0.95, 0), {255, 255, 255}));
    EXPECT_TRUE(near(at(0.05, 0.1), {255, 255, 255}));
    EXPECT_TRUE(near(at(0.5, 0.3), {0, 0, 0}));
    EXPECT_TRUE(near(at(-0.05, 0), {0, 0, 0}));
}

TEST_F(Mesa, MaterialCoversThePlaneOnceAndRepeatsWithDensity) {
    // A 2 x 2 image: red, green along s; blue, white on the next row in t.
    const uint8_t texels[] = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255};
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, 2, 2, 0, GL_RGB, GL_UNSIGNED_BYTE, texels);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    glBindTexture(GL_TEXTURE_2D, 0);
    glEnable(GL_TEXTURE_2D);   // the host's state: textured blocks rely on it

    // Turned up to face the viewer, the plane's s runs along x and t along y.
    Block& plane = block(scene::PLANE, 8);
    plane.rotation[0] = kHalfPi;
    plane.textureId = texture;
    plane.density = 1;
    render::refresh(plane);
    glCallList(plane.listBase);
    EXPECT_TRUE(near(at(-0.25, -0.25), {255, 0, 0}));
    EXPECT_TRUE(near(at(0.25, -0.25), {0, 255, 0}));
    EXPECT_TRUE(near(at(-0.25, 0.25), {0, 0, 255}));
    EXPECT_TRUE(near(at(0.25, 0.25), {255, 255, 255}));

    plane.density = 2;   // "Zoom Out Material": the whole image in each quarter
    render::refresh(plane);
    clear(0, 0, 0);
    glCallList(plane.listBase);
    EXPECT_TRUE(near(at(-0.375, -0.375), {255, 0, 0}));
    EXPECT_TRUE(near(at(-0.125, -0.375), {0, 255, 0}));
    EXPECT_TRUE(near(at(0.375, 0.375), {255, 255, 255}));

    // An untextured block turns texturing off for itself and on again after.
    Block& plain = block(scene::CUBE, 1);
    plain.color[1] = 0.0f;
    render::refresh(plain);
    clear(0, 0, 0);
    glBindTexture(GL_TEXTURE_2D, texture);
    glCallList(plain.listBase);
    EXPECT_TRUE(near(at(0, 0), {255, 0, 255}));
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    glDeleteTextures(1, &texture);
}

TEST_F(Mesa, AFrameAllocatesNothing) {
    scene_ = std::make_unique<scene::Scene>();
    for (int i = 0; i < 20; ++i) scene_->addDefault(i % 2 ? scene::SPHERE : scene::PLANE);
    scene_->block(3)->translucency = 1;
    // Mesa builds its own drawing state on first use; the frames after that
    // are the ones that must cost nothing.
    render::drawScene(*scene_);
    render::drawPickLists(*scene_);
    glFinish();
    const size_t before = g_allocations;
    for (int frame = 0; frame < 100; ++frame) {
        render::drawScene(*scene_);
        render::drawPickLists(*scene_);
    }
    glFinish();
    EXPECT_EQ(g_allocations, before);
}

int gluReference(const uint8_t* in, int32_t widthIn, int32_t heightIn, uint8_t* out, int32_t widthOut,
                 int32_t heightOut) {
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    return gluScaleImage(GL_RGB, widthIn, heightIn, GL_UNSIGNED_BYTE, in, widthOut, heightOut, GL_UNSIGNED_BYTE, out);
}

// A material's texture must not change by a byte for being scaled by our own
// code rather than by GLU; one thread and two alternate.
TEST_F(Mesa, ScalingGivesTheBytesOfGluScaleImage) {
    EXPECT_TRUE(sweep::sweepMatches(gluReference));
}

}  // namespace
}  // namespace plexa::testing
