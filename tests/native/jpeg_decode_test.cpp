// JPEG and PNG decoding as the loader drives it, against the libjpeg this
// build links and the libpng and zlib source the DLL ships: the picture must
// land upright in bottom-up rows padded to four bytes, every message must
// reach the user with its caption and text, and no damaged or malicious file
// may cost memory before its size has been judged. PNGs must give the pixels
// an independent decoder (stb_image) gives, composited as a material or skin.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <cstdlib>
#include <string>
#include <vector>

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#include <stb/stb_image.h>

#include <jerror.h>
#include <jpeglib.h>

#include "image/bitmap_file.h"
#include "image/jpeg_decode.h"
#include "image/png_decode.h"
#include "tests/native/test_support.h"
#include "tools/make-samples/sample_images.h"

namespace plexa::image {
namespace {

using samples::Bytes;
using samples::Outcome;
using samples::Rgb;

struct Box {
    std::string caption, text;
};

// The platform's side, recorded: the boxes shown and the pixel memory asked
// for, pre-filled with 0xAA so that bytes the decoder never wrote show.
struct Platform {
    std::vector<Box> boxes;
    std::vector<uint8_t> memory;
    int allocations = 0;
    int releases = 0;
    bool refuse = false;
    int32_t width = 0, height = 0;
    size_t stride = 0;

    JpegTarget target() {
        JpegTarget t;
        t.context = this;
        t.message = [](void* self, const char* caption, const char* text) {
            static_cast<Platform*>(self)->boxes.push_back({caption, text});
        };
        t.allocate = [](void* self, int32_t w, int32_t h, size_t s) -> uint8_t* {
            Platform& p = *static_cast<Platform*>(self);
            ++p.allocations;
            p.width = w;
            p.height = h;
            p.stride = s;
            if (p.refuse) return nullptr;
            p.memory.assign(s * static_cast<size_t>(h), 0xAA);
            return p.memory.data();
        };
        t.release = [](void* self) { ++static_cast<Platform*>(self)->releases; };
        return t;
    }

    // The colour of picture pixel (x, y), y counted from the top.
    Rgb at(int x, int y) const {
        const uint8_t* p = &memory[static_cast<size_t>(height - 1 - y) * stride + static_cast<size_t>(x) * 3];
        return {p[0], p[1], p[2]};
    }
};

constexpr const char* kName = "Z:\\pictures\\test.jpg";

struct TempDir {
    TempDir() {
        char pattern[] = "/tmp/plexa-jpeg-XXXXXX";
        path = mkdtemp(pattern) ? pattern : "/tmp";
    }
    ~TempDir() {
        std::error_code ignored;
        if (path != "/tmp") std::filesystem::remove_all(path, ignored);
    }
    std::string path;
};

// A PNG when `background` is given (what its transparency is laid over).
bool decode(const Bytes& file, Platform& platform, JpegPicture& picture, int background = -1) {
    // fmemopen refuses an empty buffer; /dev/null reads as one.
    std::FILE* stream = file.empty() ? std::fopen("/dev/null", "rb")
                                     : fmemopen(const_cast<uint8_t*>(file.data()), file.size(), "rb");
    EXPECT_NE(stream, nullptr);
    const bool ok = background < 0 ? decodeJpegStream(stream, kName, platform.target(), picture)
                                   : decodePngStream(stream, kName, static_cast<uint8_t>(background), platform.target(), picture);
    std::fclose(stream);
    EXPECT_EQ(ok, picture.rows != nullptr);
    return ok;
}

::testing::AssertionResult near(Rgb got, Rgb want, int tolerance) {
    if (std::abs(got.r - want.r) <= tolerance && std::abs(got.g - want.g) <= tolerance &&
        std::abs(got.b - want.b) <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got (" << int(got.r) << ", " << int(got.g) << ", " << int(got.b)
                                         << "), want (" << int(want.r) << ", " << int(want.g) << ", "
                                         << int(want.b) << ")";
}

std::string bigBugPrefix(int code) { return "msg_code " + std::to_string(code) + ":"; }

const samples::HostileFile& hostile(const std::string& name) {
    static const std::vector<samples::HostileFile> files = samples::hostileJpegs();
    for (const auto& f : files)
        if (f.name == name) return f;
    ADD_FAILURE() << "no hostile file " << name;
    return files.front();
}

samples::JpegOptions exact() {
    samples::JpegOptions o;
    o.quality = 100;
    o.fullChroma = true;
    return o;
}

TEST(JpegDecode, A101PixelWidePictureComesOutUprightInPaddedRows) {
    Platform platform;
    JpegPicture picture;
    ASSERT_TRUE(decode(samples::encodeJpeg(samples::quadrants(101, 37), exact()), platform, picture));
    EXPECT_TRUE(platform.boxes.empty());
    EXPECT_EQ(picture.width, 101);
    EXPECT_EQ(picture.height, 37);
    EXPECT_EQ(picture.stride, 304u);
    EXPECT_EQ(platform.stride, 304u);
    EXPECT_EQ(picture.rows, platform.memory.data());
    EXPECT_EQ(picture.warnings, 0);
    // Quadrant centres, red-green-blue, top of the picture in the last row.
    EXPECT_TRUE(near(platform.at(25, 9), samples::kTopLeft, 3));
    EXPECT_TRUE(near(platform.at(75, 9), samples::kTopRight, 3));
    EXPECT_TRUE(near(platform.at(25, 28), samples::kBottomLeft, 3));
    EXPECT_TRUE(near(platform.at(75, 28), samples::kBottomRight, 3));
    // Not sheared: the last pixel of every row is that row's own, and the one
    // padding byte after it is never written.
    for (int y = 0; y < 37; ++y) {
        EXPECT_TRUE(near(platform.at(100, y), y < 18 ? samples::kTopRight : samples::kBottomRight, 12)) << y;
        EXPECT_EQ(platform.memory[static_cast<size_t>(y) * 304 + 303], 0xAA) << y;
    }
}

TEST(JpegDecode, EveryEncodingTheLibraryWritesDecodes) {
    const samples::Picture quad = samples::quadrants(64, 48);
    samples::JpegOptions progressive = exact(), grey = exact(), restarts = exact(), subsampled, arithmetic = exact();
    progressive.progressive = true;
    grey.grey = true;
    restarts.restartRows = 1;
    subsampled.quality = 95;
    arithmetic.arithmetic = true;
    for (const auto& options : {exact(), progressive, grey, restarts, subsampled, arithmetic}) {
        const Bytes file = samples::encodeJpeg(quad, options);
        if (file.empty() && options.arithmetic) continue;   // a library built without arithmetic coding
        Platform platform;
        JpegPicture picture;
        ASSERT_TRUE(decode(file, platform, picture));
        EXPECT_TRUE(platform.boxes.empty());
        const Rgb tl = platform.at(10, 10);
        if (options.grey) {
            EXPECT_EQ(tl.r, tl.g);   // grey comes out as three equal channels
            EXPECT_EQ(tl.g, tl.b);
        } else {
            EXPECT_TRUE(near(tl, samples::kTopLeft, 6));
            EXPECT_TRUE(near(platform.at(50, 40), samples::kBottomRight, 6));
        }
    }
}

TEST(JpegDecode, AMissingFileShowsItsFullName) {
    TempDir dir;
    Platform platform;
    JpegPicture picture;
    const std::string name = dir.path + "/no such picture.jpg";
    EXPECT_FALSE(decodeJpegFile(name.c_str(), platform.target(), picture));
    ASSERT_EQ(platform.boxes.size(), 1u);
    EXPECT_EQ(platform.boxes[0].caption, "can't open jpeg-file");
    EXPECT_EQ(platform.boxes[0].text, name);
    EXPECT_EQ(platform.allocations, 0);
    EXPECT_EQ(picture.rows, nullptr);
}

TEST(JpegDecode, AFileFromDiskDecodes) {
    TempDir dir;
    const Bytes file = samples::encodeJpeg(samples::solid(9, 5, {250, 130, 20}), exact());
    const std::string name = dir.path + "/dot.jpg";
    plexa::testing::writeFile(name, std::string(file.begin(), file.end()));
    Platform platform;
    JpegPicture picture;
    ASSERT_TRUE(decodeJpegFile(name.c_str(), platform.target(), picture));
    EXPECT_TRUE(platform.boxes.empty());
    EXPECT_TRUE(near(platform.at(4, 2), {250, 130, 20}, 3));
}

// A GIF named as a picture: the decoder's own message, in the exact format,
// its integer parameters the two bytes it found and its text parameter those
// same bytes read as text.
TEST(JpegDecode, NotAJpegShowsTheBigBugBoxInItsFormat) {
    Platform platform;
    JpegPicture picture;
    EXPECT_FALSE(decode(hostile("wood.gif").bytes, platform, picture));
    ASSERT_EQ(platform.boxes.size(), 1u);
    EXPECT_EQ(platform.boxes[0].caption, "JPEG BIG BUG");
    EXPECT_EQ(platform.boxes[0].text, bigBugPrefix(JERR_NO_SOI) + "71-73-0\nG");
    EXPECT_EQ(platform.allocations, 0);
    EXPECT_EQ(picture.rows, nullptr);
}

TEST(JpegDecode, RecoverableDamageWarnsTwiceAndDelivers) {
    for (const char* name : {"cut-in-half.jpg", "cut-after-scan-header.jpg", "eoi-in-scan.jpg"}) {
        Platform platform;
        JpegPicture picture;
        ASSERT_TRUE(decode(hostile(name).bytes, platform, picture)) << name;
        ASSERT_EQ(platform.boxes.size(), 2u) << name;
        EXPECT_EQ(platform.boxes[0].caption, "JPEG BIG BUG");
        EXPECT_EQ(platform.boxes[0].text.rfind("msg_code ", 0), 0u) << platform.boxes[0].text;
        EXPECT_EQ(platform.boxes[1].caption, "warnings !");
        EXPECT_EQ(platform.boxes[1].text, kName);
        EXPECT_GE(picture.warnings, 1);
        EXPECT_EQ(picture.width, 48);
        EXPECT_EQ(platform.releases, 0);
    }
}

// The header alone states these sizes; the decoder must refuse them before
// asking for any pixel memory.
TEST(JpegDecode, SizesAboveTheCeilingAreRefusedBeforeAllocation) {
    for (const char* name : {"huge-65500x65500.jpg", "wide-16385x1.jpg", "tall-1x16385.jpg", "square-8000x8000.jpg"}) {
        Platform platform;
        JpegPicture picture;
        EXPECT_FALSE(decode(hostile(name).bytes, platform, picture)) << name;
        EXPECT_EQ(platform.allocations, 0) << name;
        ASSERT_EQ(platform.boxes.size(), 1u) << name;
        EXPECT_EQ(platform.boxes[0].caption, "JPEG BIG BUG");
        EXPECT_EQ(platform.boxes[0].text.rfind(bigBugPrefix(JERR_IMAGE_TOO_BIG) + "16384-", 0), 0u)
            << platform.boxes[0].text;
    }
    // The longest side allowed passes (its missing data decoded as warnings).
    const samples::HostileFile& base = hostile("wide-16385x1.jpg");
    Bytes atLimit = base.bytes;
    for (size_t i = 0; i + 8 < atLimit.size(); ++i)
        if (atLimit[i] == 0xFF && atLimit[i + 1] == 0xC0) {
            atLimit[i + 7] = 0x40;   // 16384 = 0x4000
            atLimit[i + 8] = 0x00;
            break;
        }
    Platform platform;
    JpegPicture picture;
    EXPECT_TRUE(decode(atLimit, platform, picture));
    EXPECT_EQ(platform.width, 16384);
    EXPECT_EQ(platform.allocations, 1);
}

TEST(JpegDecode, CmykAndGarbageGiveTheBoxAndNoPicture) {
    for (const char* name : {"cmyk.jpg", "garbage.jpg", "empty.jpg", "soi-only.jpg", "no-quant-tables.jpg"}) {
        Platform platform;
        JpegPicture picture;
        EXPECT_FALSE(decode(hostile(name).bytes, platform, picture)) << name;
        EXPECT_EQ(picture.rows, nullptr) << name;
        EXPECT_EQ(platform.allocations, 0) << name;
        ASSERT_FALSE(platform.boxes.empty()) << name;
        EXPECT_EQ(platform.boxes.back().caption, "JPEG BIG BUG") << name;
        for (const Box& box : platform.boxes) EXPECT_NE(box.caption, "warnings !") << name;
    }
}

TEST(JpegDecode, AFatalErrorAfterTheRowsReleasesTheMemory) {
    Platform platform;
    JpegPicture picture;
    EXPECT_FALSE(decode(hostile("bad-table-after-scan.jpg").bytes, platform, picture));
    EXPECT_EQ(platform.allocations, 1);
    EXPECT_EQ(platform.releases, 1);
    EXPECT_EQ(picture.rows, nullptr);
    ASSERT_EQ(platform.boxes.size(), 1u);
    EXPECT_EQ(platform.boxes[0].caption, "JPEG BIG BUG");
    EXPECT_EQ(platform.boxes[0].text.rfind(bigBugPrefix(JERR_BAD_LENGTH), 0), 0u) << platform.boxes[0].text;
}

TEST(JpegDecode, NoPixelMemoryGivesTheBitmapHandleBox) {
    Platform platform;
    platform.refuse = true;
    JpegPicture picture;
    EXPECT_FALSE(decode(hostile("ok.jpg").bytes, platform, picture));
    ASSERT_EQ(platform.boxes.size(), 1u);
    EXPECT_EQ(platform.boxes[0].caption, "couldn't create bitmap-handle");
    EXPECT_EQ(platform.boxes[0].text, kName);
    EXPECT_EQ(platform.releases, 0);   // nothing was created, nothing to delete
}

// A progressive file of a 16 x 16 picture whose first scan comes 1,101 times:
// refused after the scan limit, in well under the time a user would wait.
TEST(JpegDecode, EndlessScansAreRefused) {
    Platform platform;
    JpegPicture picture;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(decode(hostile("scan-bomb.jpg").bytes, platform, picture));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(platform.allocations, 0);
    ASSERT_FALSE(platform.boxes.empty());
    EXPECT_EQ(platform.boxes.back().caption, "JPEG BIG BUG");
    EXPECT_EQ(platform.boxes.back().text.rfind(bigBugPrefix(JERR_IMAGE_TOO_BIG) + std::to_string(kMaxJpegScans), 0),
              0u)
        << platform.boxes.back().text;
}

TEST(JpegDecode, HostileCorpusGivesItsOutcomes) {
    for (const auto& file : samples::hostileJpegs()) {
        Platform platform;
        JpegPicture picture;
        const bool ok = decode(file.bytes, platform, picture);
        bool warned = false;
        for (const Box& box : platform.boxes) warned = warned || box.caption == "warnings !";
        // Whatever happens, no more memory than the ceiling allows.
        if (platform.allocations)
            EXPECT_LE(static_cast<int64_t>(platform.width) * platform.height, kMaxImagePixels) << file.name;
        switch (file.outcome) {
            case Outcome::Refused:
                EXPECT_FALSE(ok) << file.name;
                EXPECT_FALSE(platform.boxes.empty()) << file.name;
                EXPECT_FALSE(warned) << file.name;
                break;
            case Outcome::Accepted:
                EXPECT_TRUE(ok) << file.name;
                EXPECT_TRUE(platform.boxes.empty()) << file.name;
                break;
            case Outcome::AcceptedWithWarnings:
                EXPECT_TRUE(ok) << file.name;
                EXPECT_TRUE(warned) << file.name;
                break;
            case Outcome::Either:
                EXPECT_EQ(ok, platform.releases == 0 && picture.rows != nullptr) << file.name;
                break;
        }
        if (!ok) EXPECT_EQ(platform.allocations, platform.releases) << file.name;
    }
}

// ---------------------------------------------------------------- PNG

Bytes readAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// stb_image's RGBA, 16-bit samples rounded as libpng's scale-16 does,
// composited by the same rule: the pixels as RGB rows, the top row first.
std::vector<uint8_t> reference(const Bytes& file, uint8_t background, int& width, int& height) {
    std::vector<uint8_t> rgb;
    const int size = static_cast<int>(file.size());
    const bool sixteen = stbi_is_16_bit_from_memory(file.data(), size);
    int channels = 0;
    void* pixels = sixteen ? static_cast<void*>(stbi_load_16_from_memory(file.data(), size, &width, &height, &channels, 4))
                           : static_cast<void*>(stbi_load_from_memory(file.data(), size, &width, &height, &channels, 4));
    for (size_t i = 0; pixels && i < static_cast<size_t>(width) * height; ++i) {
        uint8_t rgba[4];
        for (int c = 0; c < 4; ++c)
            rgba[c] = sixteen ? static_cast<uint8_t>((static_cast<uint16_t*>(pixels)[i * 4 + c] * 255u + 32767) / 65535)
                              : static_cast<uint8_t*>(pixels)[i * 4 + c];
        for (int c = 0; c < 3; ++c) rgb.push_back(composite(rgba[c], rgba[3], background));
    }
    stbi_image_free(pixels);
    return rgb;
}

// Every form: grey of 1 to 16 bits, palette, RGB, alpha, tRNS, each also
// interlaced. Exactly, not within one: 16-bit samples cut instead of rounded
// differ by one.
TEST(PngDecode, PngSuiteGivesStbImagesPixelsAsMaterialAndSkin) {
    int files = 0;
    for (const char* folder : {"/contrib/pngsuite", "/contrib/pngsuite/interlaced"})
        for (const auto& entry : std::filesystem::directory_iterator(PLEXA_PNG_SOURCE_DIR + std::string(folder))) {
            if (entry.path().extension() != ".png") continue;
            ++files;
            const Bytes file = readAll(entry.path());
            for (uint8_t background : {kMaterialBackground, kSkinBackground}) {
                int width = 0, height = 0;
                const std::vector<uint8_t> want = reference(file, background, width, height);
                Platform platform;
                JpegPicture picture;
                ASSERT_TRUE(decode(file, platform, picture, background)) << entry.path();
                ASSERT_EQ(std::make_pair(picture.width, picture.height), std::make_pair(width, height));
                for (int y = 0; y < height; ++y)
                    for (int x = 0; x < width; ++x) {
                        const uint8_t* w = &want[(static_cast<size_t>(y) * width + x) * 3];
                        ASSERT_TRUE(near(platform.at(x, y), {w[0], w[1], w[2]}, 0)) << entry.path() << " " << x << "," << y;
                    }
                EXPECT_TRUE(platform.boxes.empty()) << entry.path();
            }
        }
    EXPECT_EQ(files, 60);
}

// Each refusal is one box naming the file; nothing taken is kept; sizes
// beyond the ceiling are refused from the header alone.
TEST(PngDecode, HostileFilesGiveTheirOutcomes) {
    std::vector<samples::HostileFile> files = samples::hostilePngs();
    // libpng's files that once crashed decoders. Each huge_*.png declares a
    // chunk of 1 GiB in a file of 57 bytes (79 for the IDAT one): refused at
    // the end of the file, nothing that size taken. bad_iCCP.png has a wrong
    // IHDR CRC, badadler.png and badcrc.png damaged rows; only
    // empty_ancillary_chunks.png, a sound picture among empty chunks, shows.
    for (const auto& entry : std::filesystem::directory_iterator(PLEXA_PNG_SOURCE_DIR + std::string("/contrib/testpngs/crashers"))) {
        const std::string name = entry.path().filename().string();
        ASSERT_TRUE(name.rfind("huge_", 0) == 0 || name == "bad_iCCP.png" || name == "badadler.png" ||
                    name == "badcrc.png" || name == "empty_ancillary_chunks.png") << "no outcome listed for " << name;
        files.push_back({name, readAll(entry.path()), name[0] == 'e' ? Outcome::Accepted : Outcome::Refused});
    }
    for (const auto& file : files) {
        Platform platform;
        JpegPicture picture;
        const auto start = std::chrono::steady_clock::now();
        const bool ok = decode(file.bytes, platform, picture, kMaterialBackground);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << file.name;
        if (platform.allocations) EXPECT_LE(int64_t{platform.width} * platform.height, kMaxImagePixels) << file.name;
        if (file.outcome != Outcome::Either) EXPECT_EQ(ok, file.outcome == Outcome::Accepted) << file.name;
        ASSERT_EQ(platform.boxes.size(), ok ? 0u : 1u) << file.name;
        if (ok) continue;
        EXPECT_EQ(platform.boxes[0].caption, "can't read png-file") << file.name;
        EXPECT_EQ(platform.boxes[0].text.rfind(std::string(kName) + "\n", 0), 0u) << platform.boxes[0].text;
        EXPECT_EQ(platform.allocations, platform.releases) << file.name;
        if (file.name.find("16384x") == 0 || file.name.find("-16385") != std::string::npos || file.name.find("2to31") != std::string::npos) {
            EXPECT_EQ(platform.allocations, 0) << file.name;
            EXPECT_NE(platform.boxes[0].text.find("too large"), std::string::npos) << platform.boxes[0].text;
        }
    }
}

TEST(PngDecode, AMissingFileAndNoPixelMemoryGiveTheirBoxes) {
    Platform missing, refusing;
    JpegPicture picture;
    EXPECT_FALSE(decodePngFile("/nonexistent/leaf.png", kSkinBackground, missing.target(), picture));
    ASSERT_EQ(missing.boxes.size(), 1u);
    EXPECT_EQ(missing.boxes[0].caption + "|" + missing.boxes[0].text, "can't open png-file|/nonexistent/leaf.png");
    refusing.refuse = true;
    EXPECT_FALSE(decode(samples::encodePng(samples::quadrants(8, 8)), refusing, picture, kSkinBackground));
    ASSERT_EQ(refusing.boxes.size(), 1u);
    EXPECT_EQ(refusing.boxes[0].caption + "|" + refusing.boxes[0].text, std::string("couldn't create bitmap-handle|") + kName);
    EXPECT_EQ(refusing.releases, 0);
}

}  // namespace
}  // namespace plexa::image
