// JPEG decoding as the loader drives it, against the libjpeg this build links:
// the picture must land upright in bottom-up rows padded to four bytes, every
// message must reach the user with its caption and text, and no damaged or
// malicious file may cost memory before its size has been judged.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <cstdlib>
#include <string>
#include <vector>

#include <jerror.h>
#include <jpeglib.h>

#include "image/bitmap_file.h"
#include "image/jpeg_decode.h"
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

bool decode(const Bytes& file, Platform& platform, JpegPicture& picture) {
    // fmemopen refuses an empty buffer; /dev/null reads as one.
    std::FILE* stream = file.empty() ? std::fopen("/dev/null", "rb")
                                     : fmemopen(const_cast<uint8_t*>(file.data()), file.size(), "rb");
    EXPECT_NE(stream, nullptr);
    const bool ok = decodeJpegStream(stream, kName, platform.target(), picture);
    std::fclose(stream);
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

}  // namespace
}  // namespace plexa::image
