// Materials and skins through the real DLL: files read by GDI and by the
// libjpeg-turbo inside the DLL, textures made in a Wine OpenGL context, and
// the message boxes the decoder raises, recorded and dismissed. Every picture
// is made by the project's sample generator, in this process. Each test case
// runs in a fresh process, so the library-wide caches start empty.
#include <gtest/gtest.h>

#include <GL/gl.h>
#include <GL/glu.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <cstdio>
#include <jerror.h>

#include "plugin_host.h"
#include "tests/scale_sweep.h"
#include "tools/make-samples/sample_images.h"

namespace plexa::wintest {
namespace {

using samples::Bytes;
using samples::Outcome;
using samples::Rgb;

struct Colour {
    int r, g, b;
};

::testing::AssertionResult closeTo(Colour got, Rgb want, int tolerance) {
    if (std::abs(got.r - want.r) <= tolerance && std::abs(got.g - want.g) <= tolerance &&
        std::abs(got.b - want.b) <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got (" << got.r << ", " << got.g << ", " << got.b << "), want ("
                                         << int(want.r) << ", " << int(want.g) << ", " << int(want.b) << ")";
}

std::string describe(const std::vector<RecordedDialog>& dialogs) {
    std::string out;
    for (const auto& d : dialogs) out += "[" + d.caption + "] " + d.text + "\n";
    return out;
}

class Images : public PluginHost {
protected:
    void SetUp() override {
        PluginHost::SetUp();
        if (HasFatalFailure()) return;
        // Images named relative to the plug-in directory live in a folder of
        // this test's own beside plexa.dll, removed again at the end.
        folder_ = "img-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount());
        ASSERT_TRUE(CreateDirectoryA((exeDirectory() + folder_).c_str(), nullptr)) << lastErrorText("CreateDirectoryA");

        // The host's frame as in the render tests: -1..1 seen head-on, lighting
        // off so that a texture's colours arrive as they are.
        headOnView();
        glEnable(GL_DEPTH_TEST);
        glDisable(GL_CULL_FACE);
        glDisable(GL_LIGHTING);
        glEnable(GL_TEXTURE_2D);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
    }

    void TearDown() override {
        if (expectQuiet_) {
            EXPECT_TRUE(recorder_.dialogs().empty()) << describe(recorder_.dialogs());
        }
        std::error_code ignored;
        if (!folder_.empty()) std::filesystem::remove_all(exeDirectory() + folder_, ignored);
        PluginHost::TearDown();
    }

    // Writes a file into the test's folder beside plexa.dll; its stored name.
    std::string put(const std::string& name, const Bytes& bytes) {
        std::ofstream out(exeDirectory() + folder_ + "\\" + name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        EXPECT_TRUE(static_cast<bool>(out)) << name;
        return folder_ + "\\" + name;
    }
    std::string fullName(const std::string& stored) const { return exeDirectory() + stored; }

    // Binds object `key` to a scene file holding `lines`.
    void bindScene(HostObject& object, const std::string& lines) {
        writeTextFile("defplx00.880", "880\n" + lines);
        object.tag();
        bind(object);
    }
    // Unbinds and returns the scene file the plug-in wrote.
    std::string unbindAndRead(HostObject& object) {
        plugin_.StopPlugin(object.key);
        return readTextFile("defplx00.880");
    }

    void clear(float r, float g, float b) {
        glClearColor(r, g, b, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    }
    Colour at(double x, double y) {
        glFinish();
        const int column = static_cast<int>((x + 1) / 2 * window_.clientWidth());
        const int row = static_cast<int>((y + 1) / 2 * window_.clientHeight());
        unsigned char pixel[4] = {0xAA, 0xAA, 0xAA, 0xAA};
        glReadBuffer(GL_BACK);
        glReadPixels(column, row, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
        return {pixel[0], pixel[1], pixel[2]};
    }

    // The texture the last drawn block bound, with its size.
    struct Texture {
        GLint id = 0, width = 0, height = 0;
        std::vector<unsigned char> rgb;   // level 0, bottom row first
        Colour texel(int x, int y) const {
            const unsigned char* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
            return {p[0], p[1], p[2]};
        }
    };
    Texture boundTexture() {
        Texture t;
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &t.id);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &t.width);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &t.height);
        t.rgb.assign(static_cast<size_t>(t.width) * t.height * 3, 0);
        if (!t.rgb.empty()) glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_UNSIGNED_BYTE, t.rgb.data());
        return t;
    }

    // Texture names the context has: the plug-in is the only one making them.
    static int textureCount() {
        int count = 0;
        for (GLuint id = 1; id < 200; ++id) count += glIsTexture(id) ? 1 : 0;
        return count;
    }

    // A plane facing the viewer, covering -0.5..0.5 of the view.
    static std::string facingPlane(const std::string& material) {
        return "PLANE4 ROT[1.5707963,0,0] TEXTURE[" + material + "] DENS[1]\n";
    }

    std::string folder_;
    // Every box is recorded and answered, so that none can hang a test; a
    // test that expects none is checked for that at its end.
    DialogRecorder recorder_;
    bool expectQuiet_ = true;
};

TEST_F(Images, NamedMaterialAndSkinLoadAndAreWrittenBackStored) {
    const std::string material = put("quad-64.bmp", samples::encodeBmp(samples::quadrants(64, 64)));
    const std::string skin = put("bumps.jpg", samples::encodeJpeg(samples::greyBumps(40, 30)));
    HostObject object(1);
    // The material by its drive name inside the plug-in directory, the skin
    // by its stored form: both end up stored relative to the plug-in.
    bindScene(object, "PLANE8 TEXTURE[" + fullName(material) + "] SKIN[" + skin + "] SKINSCALE[0.25]\n");
    plugin_.TimerDraw(1);
    EXPECT_NE(boundTexture().id, 0);
    const std::string saved = unbindAndRead(object);
    EXPECT_NE(saved.find("TEXTURE[" + material + "] "), std::string::npos) << saved;
    EXPECT_NE(saved.find("SKIN[" + skin + "] SKINSCALE[0.2500]"), std::string::npos) << saved;
    EXPECT_TRUE(recorder_.dialogs().empty());
}

TEST_F(Images, ANameOnAnotherDriveIsKeptWhole) {
    // The host's directory is on the temporary drive, the plug-in on Z:.
    const std::string name = workDir_ + "\\quad.bmp";
    const Bytes bytes = samples::encodeBmp(samples::quadrants(8, 8));
    std::ofstream(name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
    ASSERT_NE(std::toupper(name[0]), std::toupper(exeDirectory()[0])) << "both on one drive: " << name;
    HostObject object(1);
    bindScene(object, facingPlane(name));
    const std::string saved = unbindAndRead(object);
    EXPECT_NE(saved.find("TEXTURE[" + name + "] "), std::string::npos) << saved;
}

TEST_F(Images, MaterialPixelsShowInTimerDraw) {
    const std::string material = put("quad.bmp", samples::encodeBmp(samples::quadrants(64, 64)));
    HostObject object(1);
    bindScene(object, facingPlane(material));
    clear(0, 0, 0);
    plugin_.TimerDraw(1);
    EXPECT_TRUE(closeTo(at(-0.25, 0.25), samples::kTopLeft, 2));
    EXPECT_TRUE(closeTo(at(0.25, 0.25), samples::kTopRight, 2));
    EXPECT_TRUE(closeTo(at(-0.25, -0.25), samples::kBottomLeft, 2));
    EXPECT_TRUE(closeTo(at(0.25, -0.25), samples::kBottomRight, 2));
    EXPECT_TRUE(closeTo(at(0.75, 0.75), {0, 0, 0}, 0));
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    plugin_.StopPlugin(1);
}

// The two formats reach the texture in opposite channel orders and row
// orders; the picture must come out the same.
TEST_F(Images, ABitmapAndAJpegOfOnePictureGiveTheSameColours) {
    for (const auto& size : {std::pair{64, 64}, std::pair{101, 37}}) {
        const samples::Picture picture = samples::quadrants(size.first, size.second);
        samples::JpegOptions exact;
        exact.quality = 100;
        exact.fullChroma = true;
        const std::string bmp = put("twin.bmp", samples::encodeBmp(picture));
        const std::string jpg = put("twin.jpg", samples::encodeJpeg(picture, exact));
        const std::string bmpTop = put("twin-topdown.bmp", samples::encodeBmp(picture, {24, samples::BmpCompression::Rgb, true}));
        const std::string bmpPal = put("twin-rle8.bmp", samples::encodeBmp(picture, {8, samples::BmpCompression::Rle8, false}));
        // OS/2 core headers, as older tools still write them.
        const std::string core = put("twin-core.bmp", samples::encodeCoreBmp(picture));
        const std::string corePal = put("twin-core-pal8.bmp", samples::encodeCoreBmp(picture, 8));
        // A 24-bit file carrying a 300-entry colour table it does not use.
        Bytes longTable = samples::encodeBmp(picture);
        longTable.insert(longTable.begin() + 54, 300 * 4, 0x5A);
        samples::putU32(longTable, samples::bmp_field::kColorsUsed, 300);
        samples::putU32(longTable, samples::bmp_field::kPixelOffset, 54 + 1200);
        samples::putU32(longTable, samples::bmp_field::kFileSize, static_cast<uint32_t>(longTable.size()));
        const std::string table = put("twin-300-colours.bmp", longTable);
        std::vector<std::vector<Colour>> seen;
        int key = 1;
        for (const std::string& name : {bmp, jpg, bmpTop, bmpPal, core, corePal, table}) {
            HostObject object(key);
            bindScene(object, facingPlane(name));
            clear(0, 0, 0);
            plugin_.TimerDraw(key);
            seen.push_back({at(-0.25, 0.25), at(0.25, 0.25), at(-0.25, -0.25), at(0.25, -0.25)});
            plugin_.StopPlugin(key);
            ++key;
        }
        const Rgb want[4] = {samples::kTopLeft, samples::kTopRight, samples::kBottomLeft, samples::kBottomRight};
        for (size_t file = 0; file < seen.size(); ++file)
            for (int q = 0; q < 4; ++q)
                EXPECT_TRUE(closeTo(seen[file][q], want[q], file == 1 ? 6 : 2))
                    << size.first << "x" << size.second << " file " << file << " quadrant " << q;
    }
}

// A PNG of any form and a bitmap of the same picture give textures of the
// same bytes, and a grey PNG skin raises a plane exactly as its bitmap does.
TEST_F(Images, APngAndABitmapOfOnePictureGiveTheSameTextureAndSkin) {
    const samples::Picture quad = samples::quadrants(101, 37), grey = samples::greyBumps(101, 37);
    const std::pair<const samples::Picture*, samples::PngOptions> forms[] = {
        {&quad, {}}, {&quad, {3, 2, false, false, -1}}, {&quad, {2, 16, true, false, -1}}, {&grey, {0, 16, true, false, -1}}};
    int key = 1;
    // The texture a scene naming `name` as a material gets, or the pick pass
    // of a plane with `name` as its skin.
    auto result = [&](const std::string& name, bool skin) {
        HostObject object(key);
        bindScene(object, skin ? "PLANE32 ROT[0.6,0.4,0] SKIN[" + name + "] SKINSCALE[0.8]\n" : facingPlane(name));
        clear(1, 1, 1);
        std::vector<unsigned char> frame(static_cast<size_t>(window_.clientWidth()) * window_.clientHeight() * 3);
        skin ? plugin_.PhantomDraw(key) : plugin_.TimerDraw(key);
        if (skin) glReadPixels(0, 0, window_.clientWidth(), window_.clientHeight(), GL_RGB, GL_UNSIGNED_BYTE, frame.data());
        if (!skin) frame = boundTexture().rgb;
        plugin_.StopPlugin(key++);
        return frame;
    };
    for (const auto& [picture, options] : forms) {
        const std::string png = put("form-" + std::to_string(key) + ".PNG", samples::encodePng(*picture, options));
        const std::vector<unsigned char> fromPng = result(png, false);
        EXPECT_FALSE(fromPng.empty());
        EXPECT_TRUE(fromPng == result(put("form-" + std::to_string(key) + ".bmp", samples::encodeBmp(*picture)), false)) << png;
    }
    EXPECT_TRUE(result(put("skin.png", samples::encodePng(grey, {0, 8, false, false, -1})), true) ==
                result(put("skin.bmp", samples::encodeBmp(grey)), true));
}

// Where a material is transparent the block's own colour shows: the texture
// is white there and modulates nothing; where it is opaque grey, half of it.
TEST_F(Images, ATransparentPngMaterialShowsTheBlocksColour) {
    const samples::Picture picture = samples::solid(64, 64, {128, 128, 128});
    std::vector<uint8_t> alpha(picture.pixels.size(), 255);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 32; ++x) alpha[static_cast<size_t>(y) * 64 + x] = 0;
    const std::string name = put("half-clear.png", samples::encodePng(picture, {6, 8, false, false, -1}, alpha));
    HostObject object(1);
    bindScene(object, "PLANE4 ROT[1.5707963,0,0] RGB[0.2,0.6,1.0] TEXTURE[" + name + "] DENS[1]\n");
    clear(0, 0, 0);
    plugin_.TimerDraw(1);
    EXPECT_TRUE(closeTo(at(-0.3, 0), {51, 153, 255}, 2));
    EXPECT_TRUE(closeTo(at(0.3, 0), {26, 77, 128}, 2));
    plugin_.StopPlugin(1);
}

TEST_F(Images, TexturesAreRoundedToPowersOfTwo) {
    const struct {
        int width, height, textureWidth, textureHeight;
    } cases[] = {{640, 480, 512, 512}, {641, 481, 1024, 512}, {101, 37, 128, 32}, {3, 3, 4, 4}, {1, 1, 1, 1}};
    int key = 1;
    for (const auto& c : cases) {
        for (const char* format : {".bmp", ".jpg"}) {
            const samples::Picture picture = samples::solid(c.width, c.height, {250, 130, 20});
            const std::string name = put("solid-" + std::to_string(c.width) + "x" + std::to_string(c.height) + format,
                                         format[1] == 'b' ? samples::encodeBmp(picture) : samples::encodeJpeg(picture));
            HostObject object(key);
            bindScene(object, facingPlane(name));
            plugin_.TimerDraw(key);
            const Texture t = boundTexture();
            EXPECT_EQ(t.width, c.textureWidth) << name;
            EXPECT_EQ(t.height, c.textureHeight) << name;
            if (!t.rgb.empty()) {
                EXPECT_TRUE(closeTo(t.texel(t.width / 2, t.height / 2), {250, 130, 20}, 3)) << name;
            }
            plugin_.StopPlugin(key);
            ++key;
        }
    }
}

int gluReference(const uint8_t* in, int32_t widthIn, int32_t heightIn, uint8_t* out, int32_t widthOut,
                 int32_t heightOut) {
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    return gluScaleImage(GL_RGB, widthIn, heightIn, GL_UNSIGNED_BYTE, in, widthOut, heightOut, GL_UNSIGNED_BYTE, out);
}

// The plug-in scales materials with its own code; the system's glu32 must
// not give a single byte otherwise, here as under Mesa's libGLU natively.
TEST_F(Images, ScalingGivesTheBytesOfGlu32) {
    EXPECT_TRUE(sweep::sweepMatches(gluReference));
}

// And through the DLL: a noisy bitmap's texture is glu32's scaling of the
// rows GDI reads back, which for a 24-bit file are the file's own.
TEST_F(Images, AMaterialTextureIsGluScaleImageOfItsPicture) {
    int key = 1;
    for (const auto& size : {std::pair{101, 37}, std::pair{300, 7}, std::pair{1, 5}}) {
        samples::Picture picture(size.first, size.second);
        uint32_t seed = 99;
        for (auto& pixel : picture.pixels) {
            seed = seed * 1664525u + 1013904223u;
            pixel = {static_cast<uint8_t>(seed >> 24), static_cast<uint8_t>(seed >> 16), static_cast<uint8_t>(seed >> 8)};
        }
        const Bytes file = samples::encodeBmp(picture);
        const std::string name = put("noise-" + std::to_string(key) + ".bmp", file);
        HostObject object(key);
        bindScene(object, facingPlane(name));
        plugin_.TimerDraw(key);
        GLint width = 0, height = 0;
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &height);
        std::vector<uint8_t> got(image::paddedStride(width) * static_cast<size_t>(height), 0xAA);
        std::vector<uint8_t> want(got);
        glPixelStorei(GL_PACK_ALIGNMENT, 4);
        glGetTexImage(GL_TEXTURE_2D, 0, 0x80E0 /* GL_BGR_EXT */, GL_UNSIGNED_BYTE, got.data());
        const uint32_t pixelOffset = file[10] | file[11] << 8 | file[12] << 16 | static_cast<uint32_t>(file[13]) << 24;
        ASSERT_EQ(gluReference(file.data() + pixelOffset, size.first, size.second, want.data(), width, height), 0);
        EXPECT_EQ(got, want) << size.first << "x" << size.second << " as " << width << "x" << height;
        plugin_.StopPlugin(key);
        ++key;
    }
}

// Not a test but a measurement, run only when PLEXA_IMAGE_TIMING is set
// (the README gives the command): a 4000 x 3000 picture as a material and as
// a skin through the DLL, bitmap and JPEG, and the material's steps one by
// one through the same calls the loader makes. Medians of three.
TEST_F(Images, TimingOfATwelveMegapixelMaterial) {
    if (!std::getenv("PLEXA_IMAGE_TIMING")) GTEST_SKIP() << "set PLEXA_IMAGE_TIMING to measure";
    constexpr int kWidth = 4000, kHeight = 3000, kRuns = 3;
    samples::Picture picture(kWidth, kHeight);
    uint32_t seed = 5;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int noise = static_cast<int>(seed >> 28);
            picture.at(x, y) = {static_cast<uint8_t>(x * 200 / kWidth + noise), static_cast<uint8_t>(y * 200 / kHeight + noise),
                                static_cast<uint8_t>((x + y) % 200 + noise)};
        }
    const Bytes bmp = samples::encodeBmp(picture), jpg = samples::encodeJpeg(picture);
    using Clock = std::chrono::steady_clock;
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    auto ms = [](Clock::time_point from) { return std::chrono::duration<double, std::milli>(Clock::now() - from).count(); };

    // Through the DLL: a fresh name every run, so that no cache answers.
    int key = 1;
    for (const char* format : {".bmp", ".jpg"}) {
        std::vector<double> material, skin;
        for (int run = 0; run < kRuns; ++run) {
            const std::string name = put("photo-" + std::to_string(run) + format, format[1] == 'b' ? bmp : jpg);
            for (bool asSkin : {false, true}) {
                HostObject object(key);
                writeTextFile("defplx00.880", "880\n" + std::string("PLANE4 ") + (asSkin ? "SKIN[" : "TEXTURE[") + name + "]\n");
                object.tag();
                glFinish();
                const auto start = Clock::now();
                bind(object);
                glFinish();
                (asSkin ? skin : material).push_back(ms(start));
                plugin_.StopPlugin(key++);
            }
        }
        std::printf("timing %s: material %.0f ms, skin %.0f ms, material/skin %.2f\n", format, median(material),
                    median(skin), median(material) / median(skin));
    }

    // The material's steps for the bitmap, as the loader makes them.
    const uint32_t pixelOffset = bmp[10] | bmp[11] << 8 | bmp[12] << 16 | static_cast<uint32_t>(bmp[13]) << 24;
    const auto* header = reinterpret_cast<const BITMAPINFOHEADER*>(bmp.data() + 14);
    HDC dc = GetDC(window_.hwnd());
    std::vector<double> create, readBack, glu, ours, upload;
    const int32_t width = 4096, height = 4096;
    std::vector<uint8_t> scaled(image::paddedStride(width) * height);
    for (int run = 0; run < kRuns; ++run) {
        auto start = Clock::now();
        HBITMAP bitmap = CreateDIBitmap(dc, header, CBM_INIT, bmp.data() + pixelOffset,
                                        reinterpret_cast<const BITMAPINFO*>(header), DIB_RGB_COLORS);
        create.push_back(ms(start));
        start = Clock::now();
        std::unique_ptr<uint8_t[]> original(new uint8_t[static_cast<size_t>(kWidth) * kHeight * 4]);
        BITMAPINFOHEADER read = {sizeof(BITMAPINFOHEADER), kWidth, kHeight, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
        GetDIBits(dc, bitmap, 0, kHeight, original.get(), reinterpret_cast<BITMAPINFO*>(&read), DIB_RGB_COLORS);
        readBack.push_back(ms(start));
        DeleteObject(bitmap);
        start = Clock::now();
        gluReference(original.get(), kWidth, kHeight, scaled.data(), width, height);
        glu.push_back(ms(start));
        start = Clock::now();
        image::scaleImage(original.get(), kWidth, kHeight, scaled.data(), width, height, image::scalingThreads());
        ours.push_back(ms(start));
        GLuint texture = 0;
        glGenTextures(1, &texture);
        glBindTexture(GL_TEXTURE_2D, texture);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
        start = Clock::now();
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, width, height, 0, 0x80E0, GL_UNSIGNED_BYTE, scaled.data());
        glFinish();
        upload.push_back(ms(start));
        glDeleteTextures(1, &texture);
    }
    ReleaseDC(window_.hwnd(), dc);
    std::printf("timing steps: CreateDIBitmap %.0f ms, GetDIBits %.0f ms, gluScaleImage %.0f ms, ours (%d threads) "
                "%.0f ms, glTexImage2D %.0f ms\n",
                median(create), median(readBack), median(glu), image::scalingThreads(), median(ours), median(upload));
}

TEST_F(Images, OneMaterialNamedTwiceIsUploadedOnce) {
    const std::string material = put("quad.bmp", samples::encodeBmp(samples::quadrants(16, 16)));
    HostObject first(1), second(2);
    bindScene(first, facingPlane(material) + facingPlane(material));
    plugin_.TimerDraw(1);
    const GLint id = boundTexture().id;
    writeTextFile("defplx01.880", "880\n" + facingPlane(material));
    second.tag();
    bind(second);
    plugin_.TimerDraw(2);
    EXPECT_EQ(boundTexture().id, id);
    EXPECT_EQ(textureCount(), 1);
    // The same file under another key (its drive name on another drive would
    // do too) is another entry: keys are compared exactly.
    plugin_.StopPlugin(2);
    HostObject third(3);
    writeTextFile("defplx01.880", "880\n" + facingPlane(folder_ + "\\.\\quad.bmp"));
    third.tag();
    bind(third);
    EXPECT_EQ(textureCount(), 2);
    plugin_.StopPlugin(3);
    plugin_.StopPlugin(1);
}

// An image editor keeps the picture it shows open for writing; the plug-in
// reads it all the same, a bitmap as well as a JPEG.
TEST_F(Images, APictureHeldOpenForWritingStillLoads) {
    samples::JpegOptions exact;
    exact.quality = 100;
    exact.fullChroma = true;
    const samples::Picture picture = samples::quadrants(16, 16);
    int key = 1;
    for (const std::string& name : {put("held.bmp", samples::encodeBmp(picture)),
                                    put("held.jpg", samples::encodeJpeg(picture, exact))}) {
        HANDLE held = CreateFileA(fullName(name).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE) << lastErrorText(name.c_str());
        HostObject object(key);
        bindScene(object, facingPlane(name));
        clear(0, 0, 0);
        plugin_.TimerDraw(key);
        EXPECT_TRUE(closeTo(at(-0.25, 0.25), samples::kTopLeft, 6)) << name;
        EXPECT_TRUE(closeTo(at(0.25, -0.25), samples::kBottomRight, 6)) << name;
        plugin_.StopPlugin(key);
        CloseHandle(held);
        ++key;
    }
}

// A plug-in placed deep in the folder tree cannot store the name of a picture
// near the drive's root: the relative form climbs past the name length. Such
// a JPEG is reported as one that cannot be opened; a bitmap stays silent, as
// a missing one does.
TEST_F(Images, AJpegWhoseStoredNameCannotBeFormedIsReported) {
    std::string deep = workDir_ + "\\p\\";
    ASSERT_TRUE(CreateDirectoryA(deep.c_str(), nullptr)) << lastErrorText(deep.c_str());
    int levels = 0;
    while (deep.size() + 2 + std::strlen("plexa.dll") < 240) {
        deep += "d\\";
        ++levels;
        ASSERT_TRUE(CreateDirectoryA(deep.c_str(), nullptr)) << lastErrorText(deep.c_str());
    }
    ASSERT_TRUE(CopyFileA((exeDirectory() + "plexa.dll").c_str(), (deep + "plexa.dll").c_str(), FALSE))
        << lastErrorText("CopyFileA");
    loadPlugin(deep + "plexa.dll");
    ASSERT_FALSE(HasFatalFailure());

    const std::string jpg = workDir_ + "\\far.jpg";
    const std::string bmp = workDir_ + "\\far.bmp";
    // The stored form would be one "..\" for each level, and one for "p".
    ASSERT_GE(3 * (levels + 1) + std::strlen("far.jpg"), 260u);
    const samples::Picture picture = samples::quadrants(8, 8);
    for (const auto& [name, bytes] : {std::pair{jpg, samples::encodeJpeg(picture)}, std::pair{bmp, samples::encodeBmp(picture)}})
        std::ofstream(name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                    static_cast<std::streamsize>(bytes.size()));
    expectQuiet_ = false;
    HostObject object(1);
    bindScene(object, facingPlane(jpg) + facingPlane(bmp));
    ASSERT_EQ(recorder_.dialogs().size(), 1u) << describe(recorder_.dialogs());
    EXPECT_EQ(recorder_.dialogs()[0].caption, "can't open jpeg-file");
    EXPECT_EQ(recorder_.dialogs()[0].text, jpg);
    EXPECT_EQ(textureCount(), 0);
    plugin_.StopPlugin(1);
}

// Pictures on an unplugged drive: the user hears of each once per library
// load, however many bindings name it, and the names stay in the scene.
TEST_F(Images, AMissingJpegOrPngShowsItsFullNameOnceAndAMissingBitmapNothing) {
    expectQuiet_ = false;
    for (int32_t key = 1; key <= 3; ++key) {
        HostObject object(key);
        bindScene(object, facingPlane(folder_ + "\\absent.bmp") + facingPlane(folder_ + "\\absent.jpg") +
                              facingPlane(folder_ + "\\absent.png"));
        EXPECT_EQ(textureCount(), 0);
        const std::string saved = unbindAndRead(object);
        EXPECT_NE(saved.find("TEXTURE[" + folder_ + "\\absent.bmp]"), std::string::npos) << saved;
    }
    ASSERT_EQ(recorder_.dialogs().size(), 2u) << describe(recorder_.dialogs());
    EXPECT_EQ(recorder_.dialogs()[0].caption, "can't open jpeg-file");
    EXPECT_EQ(recorder_.dialogs()[0].text, fullName(folder_ + "\\absent.jpg"));
    EXPECT_EQ(recorder_.dialogs()[1].caption, "can't open png-file");
    EXPECT_EQ(recorder_.dialogs()[1].text, fullName(folder_ + "\\absent.png"));
}

// A GIF is handed to the JPEG decoder, which refuses it with its own message:
// code, the two bytes it found, and those bytes read as text.
TEST_F(Images, AGifGivesTheBigBugBox) {
    const std::string gif = put("wood.gif", {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0, ',', 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 'D', 1, 0, ';'});
    expectQuiet_ = false;
    HostObject object(1);
    bindScene(object, facingPlane(gif));
    ASSERT_EQ(recorder_.dialogs().size(), 1u) << describe(recorder_.dialogs());
    EXPECT_EQ(recorder_.dialogs()[0].caption, "JPEG BIG BUG");
    EXPECT_EQ(recorder_.dialogs()[0].text, "msg_code " + std::to_string(JERR_NO_SOI) + ":71-73-0\nG");
    EXPECT_EQ(textureCount(), 0);
    plugin_.StopPlugin(1);
}

TEST_F(Images, ATruncatedJpegWarnsAndStillLoads) {
    // Cut in the middle of its scan: the upper rows are there, the rest grey.
    std::string name;
    for (const auto& file : samples::hostileJpegs())
        if (file.name == "cut-in-half.jpg") name = put(file.name, file.bytes);
    ASSERT_FALSE(name.empty());
    expectQuiet_ = false;
    HostObject object(1);
    bindScene(object, facingPlane(name));
    ASSERT_EQ(recorder_.dialogs().size(), 2u) << describe(recorder_.dialogs());
    EXPECT_EQ(recorder_.dialogs()[0].caption, "JPEG BIG BUG");
    EXPECT_EQ(recorder_.dialogs()[0].text.rfind("msg_code " + std::to_string(JWRN_JPEG_EOF) + ":", 0), 0u)
        << recorder_.dialogs()[0].text;
    EXPECT_EQ(recorder_.dialogs()[1].caption, "warnings !");
    EXPECT_EQ(recorder_.dialogs()[1].text, fullName(name));
    clear(0, 0, 0);
    plugin_.TimerDraw(1);
    EXPECT_TRUE(closeTo(at(-0.25, 0.25), samples::kTopLeft, 8));   // the top survived the cut
    const std::string saved = unbindAndRead(object);
    EXPECT_NE(saved.find("TEXTURE[" + name + "]"), std::string::npos) << saved;
}

TEST_F(Images, HostileBitmapsAreRefusedSilently) {
    std::string refused, accepted;
    int acceptedCount = 0;
    for (const auto& file : samples::hostileBitmaps()) {
        const std::string line = facingPlane(put(file.name, file.bytes));
        if (file.outcome == Outcome::Refused) {
            refused += line;
        } else {
            accepted += line;
            acceptedCount += file.name.rfind("ok-", 0) == 0 ? 1 : 0;
        }
    }
    HostObject object(1);
    bindScene(object, refused);
    EXPECT_EQ(textureCount(), 0);
    plugin_.TimerDraw(1);
    plugin_.StopPlugin(1);
    // The sound ones load; the run-length liars may load or not, but quietly.
    HostObject second(2);
    bindScene(second, accepted);
    EXPECT_GE(textureCount(), acceptedCount);
    plugin_.TimerDraw(2);
    plugin_.StopPlugin(2);
    EXPECT_TRUE(recorder_.dialogs().empty());
    EXPECT_EQ(currentDirectory(), workDir_);   // every bitmap load gives the host its directory back
}

// A damaged PNG: one box in plain words, no texture, the name kept.
TEST_F(Images, HostilePngsGiveOneBoxEachAndNoTexture) {
    std::string lines;
    int refused = 0;
    for (const auto& file : samples::hostilePngs()) {
        if (file.outcome != Outcome::Refused) continue;
        lines += facingPlane(put(file.name, file.bytes));
        ++refused;
    }
    expectQuiet_ = false;
    HostObject object(1);
    bindScene(object, lines);
    EXPECT_EQ(textureCount(), 0);
    EXPECT_EQ(static_cast<int>(recorder_.dialogs().size()), refused);
    for (const auto& box : recorder_.dialogs()) EXPECT_EQ(box.caption, "can't read png-file") << box.text;
    const std::string saved = unbindAndRead(object);
    EXPECT_NE(saved.find("TEXTURE[" + folder_ + "\\empty.png]"), std::string::npos) << saved;   // the one block kept
}

TEST_F(Images, HostileJpegsGiveTheirBoxesAndNoTexture) {
    std::string lines;
    int expectedBoxes = 0;
    for (const auto& file : samples::hostileJpegs()) {
        if (file.outcome != Outcome::Refused) continue;
        lines += facingPlane(put(file.name, file.bytes));
        ++expectedBoxes;
    }
    expectQuiet_ = false;
    HostObject object(1);
    bindScene(object, lines);
    EXPECT_EQ(textureCount(), 0);
    EXPECT_GE(static_cast<int>(recorder_.dialogs().size()), expectedBoxes);
    for (const auto& box : recorder_.dialogs()) EXPECT_EQ(box.caption, "JPEG BIG BUG") << box.text;
    plugin_.StopPlugin(1);
}

// A plane seen edge-on shows nothing until a skin raises it: a white skin
// lifts every inner vertex to half the plane's width, which the pick pass then
// covers. A negative scale sinks it instead.
TEST_F(Images, SkinsRaiseAndSinkAPlane) {
    const std::string white = put("white.bmp", samples::encodeBmp(samples::solid(8, 8, {255, 255, 255})));
    const struct {
        std::string line;
        bool above, below;
    } cases[] = {
        {"PLANE8\n", false, false},
        {"PLANE8 SKIN[" + white + "] DENS[1]\n", true, false},
        {"PLANE8 SKIN[" + white + "] SKINSCALE[-0.5]\n", false, true},
    };
    int key = 1;
    for (const auto& c : cases) {
        HostObject object(key);
        bindScene(object, c.line);
        clear(1, 1, 1);
        plugin_.PhantomDraw(key);
        EXPECT_EQ(at(0, 0.25).r == 0, c.above) << c.line;
        EXPECT_EQ(at(0, -0.25).r == 0, c.below) << c.line;
        plugin_.StopPlugin(key);
        ++key;
    }
}

// A skin's rows are read top row first, whatever the file's own order: a
// vertical gradient, white at the top of the picture, raises the rows nearest
// the start of the grid (z = -0.5), which a quarter turn about y brings to the
// left of the view. Every format and row order must agree.
TEST_F(Images, SkinsAreReadTopRowFirstInEveryFormat) {
    samples::Picture gradient(32, 32);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
            const uint8_t v = static_cast<uint8_t>(255 - y * 8);
            gradient.at(x, y) = {v, v, v};
        }
    samples::JpegOptions exact;
    exact.quality = 100;
    const std::string names[] = {
        put("v.bmp", samples::encodeBmp(gradient)),
        put("v-topdown.bmp", samples::encodeBmp(gradient, {24, samples::BmpCompression::Rgb, true})),
        put("v-pal8.bmp", samples::encodeBmp(gradient, {8, samples::BmpCompression::Rgb, false})),
        put("v.jpg", samples::encodeJpeg(gradient, exact)),
    };
    int key = 1;
    for (const std::string& name : names) {
        HostObject object(key);
        bindScene(object, "PLANE8 ROT[0,1.5707963,0] SKIN[" + name + "] SKINSCALE[1]\n");
        clear(1, 1, 1);
        plugin_.PhantomDraw(key);
        EXPECT_EQ(at(-0.3, 0.5).r, 0) << name << ": the high side";
        EXPECT_EQ(at(0.3, 0.5).r, 255) << name << ": the low side";
        plugin_.StopPlugin(key);
        ++key;
    }
}

// The damaged scene files of the generated corpus through the real exports:
// one block each, drawn in both passes, the log records the damage calls for
// (and the keeping-aside of files that were no scene at all), no box, and a
// saved file that binds again to the same kind.
TEST_F(Images, HostileSceneFilesBindDrawAndSaveQuietly) {
    int key = 1;
    for (const samples::HostileScene& file : samples::hostileScenes()) {
        SCOPED_TRACE(file.name);
        DeleteFileA("error.txt");
        DeleteFileA("defplx00.880.bad");
        writeTextFile("defplx00.880", std::string(file.bytes.begin(), file.bytes.end()));
        HostObject object(key++);
        object.tag();
        bind(object);
        plugin_.TimerDraw(object.key);
        plugin_.PhantomDraw(object.key);
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
        const std::string saved = unbindAndRead(object);
        EXPECT_EQ(saved.rfind("880\r\n", 0), 0u);
        EXPECT_NE(saved.find("\n" + file.block + " "), std::string::npos) << saved;
        std::string expected;
        for (const std::string& message : file.log)
            expected += "[Numerical Recipes run-time error...]\r\n" + message + "\r\n";
        if (fileExists("defplx00.880.bad"))
            expected += "[Numerical Recipes run-time error...]\r\n"
                        "scene file defplx00.880 unreadable, kept as defplx00.880.bad\r\n";
        EXPECT_EQ(readTextFile("error.txt"), expected);
    }
}

}  // namespace
}  // namespace plexa::wintest
