// A bitmap file reaches the system's decoder only after these checks, and that
// decoder trusts the sizes and offsets the file states. Every buffer here is a
// heap copy of exactly the file's length, so AddressSanitizer reports any read
// past its last byte, by the checks or by the test's own walk over the bytes
// the checks promise are there.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "image/bitmap_file.h"
#include "tools/make-samples/sample_images.h"

namespace plexa::image {
namespace {

using samples::BmpCompression;
using samples::Bytes;
using samples::Outcome;
namespace field = samples::bmp_field;

// Checks a private copy of exactly `file.size()` bytes and then reads every
// byte of the pixel span the layout claims, so that a wrong claim shows.
const char* check(const Bytes& file, BitmapLayout& layout) {
    std::unique_ptr<uint8_t[]> exact(new uint8_t[file.size()]);
    if (!file.empty()) std::memcpy(exact.get(), file.data(), file.size());
    const char* reason = checkBitmapFile(exact.get(), file.size(), layout);
    if (!reason) {
        volatile unsigned sum = 0;
        for (uint32_t i = 0; i < layout.pixelBytes; ++i) sum = sum + exact[layout.pixelOffset + i];
    }
    return reason;
}

const char* check(const Bytes& file) {
    BitmapLayout layout;
    return check(file, layout);
}

std::string reasonText(const char* reason) { return reason ? reason : "(accepted)"; }

const samples::Picture kPicture = samples::quadrants(4, 3);

TEST(CheckBitmapFile, SoundFilesGiveTheirLayout) {
    BitmapLayout layout;
    ASSERT_EQ(check(samples::encodeBmp(kPicture), layout), nullptr);
    EXPECT_EQ(layout.width, 4);
    EXPECT_EQ(layout.height, 3);
    EXPECT_EQ(layout.headerOffset, 14u);
    EXPECT_EQ(layout.pixelOffset, 54u);
    EXPECT_EQ(layout.pixelBytes, 36u);   // three rows of 12 bytes
    EXPECT_FALSE(layout.runLength);

    // Top-down: the sign stays, the span is the same.
    ASSERT_EQ(check(samples::encodeBmp(kPicture, {24, BmpCompression::Rgb, true}), layout), nullptr);
    EXPECT_EQ(layout.height, -3);
    EXPECT_EQ(layout.pixelBytes, 36u);

    // A palette of four colours comes before the pixels; rows of 4 bytes.
    ASSERT_EQ(check(samples::encodeBmp(kPicture, {8, BmpCompression::Rgb, false}), layout), nullptr);
    EXPECT_EQ(layout.pixelOffset, 54u + 16u);
    EXPECT_EQ(layout.pixelBytes, 12u);

    // Run-length pixels are bounded by the stated image size.
    const Bytes rle = samples::encodeBmp(kPicture, {8, BmpCompression::Rle8, false});
    ASSERT_EQ(check(rle, layout), nullptr);
    EXPECT_TRUE(layout.runLength);
    EXPECT_EQ(layout.pixelBytes, samples::getU32(rle, field::kImageSize));
    EXPECT_EQ(layout.pixelOffset + layout.pixelBytes, rle.size());

    // One-bit rows of 4 pixels still take a whole 4-byte word.
    ASSERT_EQ(check(samples::encodeBmp(samples::checker(4, 3, 1, {0, 0, 0}, {255, 255, 255}),
                                       {1, BmpCompression::Rgb, false}),
                    layout),
              nullptr);
    EXPECT_EQ(layout.pixelBytes, 12u);
}

// Each hostile file of the generated corpus that must be refused, with the
// reason it must be refused for: a check that refuses for the wrong reason
// would pass a differently damaged file.
TEST(CheckBitmapFile, EachRefusalGivesItsReason) {
    const std::map<std::string, std::string> expected = {
        {"empty.bmp", "shorter than its headers"},
        {"file-header-only.bmp", "shorter than its headers"},
        {"headers-minus-one.bmp", "shorter than its headers"},
        {"headers-only.bmp", "pixel offset outside the file"},
        {"pixels-minus-one.bmp", "pixels past end of file"},
        {"palette-cut.bmp", "colour table past end of file"},
        {"v5-header-cut.bmp", "header past end of file"},
        {"header-size-0.bmp", "unsupported header size"},
        {"header-size-12.bmp", "unsupported header size"},
        {"header-size-41.bmp", "unsupported header size"},
        {"header-size-64.bmp", "unsupported header size"},
        {"header-size-4294967295.bmp", "unsupported header size"},
        {"width-0.bmp", "width out of range"},
        {"width--1.bmp", "width out of range"},
        {"width--2147483648.bmp", "width out of range"},
        {"width-16385.bmp", "width out of range"},
        {"width-2147483647.bmp", "width out of range"},
        {"height-0.bmp", "height out of range"},
        {"height--2147483648.bmp", "height out of range"},
        {"height--16385.bmp", "height out of range"},
        {"height-16385.bmp", "height out of range"},
        {"height-2147483647.bmp", "height out of range"},
        {"pixels-above-ceiling.bmp", "more pixels than the ceiling"},
        {"pixels-beyond-file.bmp", "pixels past end of file"},
        {"planes-0.bmp", "planes not 1"},
        {"planes-2.bmp", "planes not 1"},
        {"bits-0.bmp", "unsupported bit depth"},
        {"bits-2.bmp", "unsupported bit depth"},
        {"bits-7.bmp", "unsupported bit depth"},
        {"bits-48.bmp", "unsupported bit depth"},
        {"bits-64.bmp", "unsupported bit depth"},
        {"bits-65535.bmp", "unsupported bit depth"},
        {"compression-4.bmp", "unsupported compression"},
        {"compression-5.bmp", "unsupported compression"},
        {"compression-6.bmp", "unsupported compression"},
        {"compression-11.bmp", "unsupported compression"},
        {"compression-4294967295.bmp", "unsupported compression"},
        {"bitfields-24.bmp", "bit fields need 16 or 32 bits"},
        {"rle8-on-24.bmp", "RLE8 needs 8 bits, bottom-up"},
        {"rle8-topdown.bmp", "RLE8 needs 8 bits, bottom-up"},
        {"rle4-on-8.bmp", "RLE4 needs 4 bits, bottom-up"},
        {"rle8-no-image-size.bmp", "RLE without an image size"},
        {"rle8-image-size-beyond.bmp", "pixels past end of file"},
        {"pal8-257-colours.bmp", "more colours than the depth holds"},
        {"pal1-3-colours.bmp", "more colours than the depth holds"},
        {"colours-all-ones.bmp", "colour table too large"},
        {"rgb24-300-colours.bmp", "colour table too large"},
        {"pal8-implied-256-colours.bmp", "colour table past end of file"},
        {"bitfields-with-colour-table-beyond.bmp", "colour table past end of file"},
        {"pixel-offset-0.bmp", "pixel offset outside the file"},
        {"pixel-offset-13.bmp", "pixel offset outside the file"},
        {"pixel-offset-53.bmp", "pixel offset outside the file"},
        {"pixel-offset-90.bmp", "pixel offset outside the file"},
        {"pixel-offset-89.bmp", "pixels past end of file"},
        {"pixel-offset-2147483648.bmp", "pixel offset outside the file"},
        {"pixel-offset-4294967295.bmp", "pixel offset outside the file"},
    };
    size_t refused = 0;
    for (const auto& file : samples::hostileBitmaps()) {
        if (file.outcome != Outcome::Refused) continue;
        ++refused;
        const auto want = expected.find(file.name);
        ASSERT_NE(want, expected.end()) << "no expected reason for " << file.name;
        EXPECT_EQ(reasonText(check(file.bytes)), want->second) << file.name;
    }
    EXPECT_EQ(refused, expected.size());
}

TEST(CheckBitmapFile, HostileCorpusGivesItsOutcomes) {
    for (const auto& file : samples::hostileBitmaps()) {
        const char* reason = check(file.bytes);
        if (file.outcome == Outcome::Refused)
            EXPECT_NE(reason, nullptr) << file.name;
        else
            EXPECT_EQ(reason, nullptr) << file.name << ": " << reasonText(reason);
    }
}

// However a sound file is cut, what is left is refused: nothing the checks
// accept may need a byte that the cut removed.
TEST(CheckBitmapFile, EveryTruncationOfASoundFileIsRefused) {
    for (const auto& file : samples::hostileBitmaps()) {
        if (file.outcome != Outcome::Accepted) continue;
        for (size_t size = 0; size < file.bytes.size(); ++size) {
            const Bytes cut(file.bytes.begin(), file.bytes.begin() + static_cast<std::ptrdiff_t>(size));
            EXPECT_NE(check(cut), nullptr) << file.name << " cut to " << size << " bytes";
        }
    }
}

TEST(CheckBitmapFile, SizesAtTheirLimits) {
    // The largest side and the largest pixel count pass when the file holds them.
    Bytes wide = samples::encodeBmp(samples::solid(16384, 1, {1, 2, 3}));
    EXPECT_EQ(check(wide), nullptr);
    samples::putU32(wide, field::kWidth, 16385);
    EXPECT_STREQ(check(wide), "width out of range");

    Bytes tall = samples::encodeBmp(samples::solid(1, 16384, {1, 2, 3}), {24, BmpCompression::Rgb, true});
    EXPECT_EQ(check(tall), nullptr);
    samples::putU32(tall, field::kHeight, static_cast<uint32_t>(-16385));
    EXPECT_STREQ(check(tall), "height out of range");

    // 16384 x 2441 = 39,993,344 pixels, just under the ceiling; 2442 rows pass it.
    Bytes header = samples::encodeBmp(samples::solid(1, 1, {0, 0, 0}), {1, BmpCompression::Rgb, false});
    samples::putU32(header, field::kWidth, 16384);
    samples::putU32(header, field::kHeight, 2441);
    EXPECT_STREQ(check(header), "pixels past end of file");
    samples::putU32(header, field::kHeight, 2442);
    EXPECT_STREQ(check(header), "more pixels than the ceiling");
}

// The masks of a 40-byte header are followed by a colour table of the stated
// count, which the system reads too.
TEST(CheckBitmapFile, BitFieldsWithAColourTableMustHoldIt) {
    Bytes file = samples::encodeBmp(kPicture, {16, BmpCompression::Rgb, false});
    ASSERT_EQ(check(file), nullptr);
    // 256 entries after the masks: 1024 bytes the 90-byte file does not have.
    samples::putU32(file, field::kColorsUsed, 256);
    EXPECT_STREQ(check(file), "colour table past end of file");
    // Given their room between the masks and the pixels, they pass.
    file.insert(file.begin() + 66, 1024, 0);
    samples::putU32(file, field::kPixelOffset, 66 + 1024);
    EXPECT_EQ(check(file), nullptr);
}

TEST(ImageKindOf, OnlyADotBmpEndingIsABitmap) {
    EXPECT_EQ(imageKindOf("Wood.BMP"), ImageKind::Bitmap);
    EXPECT_EQ(imageKindOf("wood.bmp"), ImageKind::Bitmap);
    EXPECT_EQ(imageKindOf("C:\\Tex\\wood.bMp"), ImageKind::Bitmap);
    EXPECT_EQ(imageKindOf(".bmp"), ImageKind::Bitmap);
    EXPECT_EQ(imageKindOf("wood.bmp.jpg"), ImageKind::Jpeg);
    EXPECT_EQ(imageKindOf("wood.jfif"), ImageKind::Jpeg);
    EXPECT_EQ(imageKindOf("wood.gif"), ImageKind::Jpeg);
    EXPECT_EQ(imageKindOf("wood.bmp "), ImageKind::Jpeg);
    EXPECT_EQ(imageKindOf("woodbmp"), ImageKind::Jpeg);
    // Shorter than four characters.
    EXPECT_EQ(imageKindOf("bmp"), ImageKind::Jpeg);
    EXPECT_EQ(imageKindOf(""), ImageKind::Jpeg);
    EXPECT_EQ(imageKindOf(nullptr), ImageKind::Jpeg);
}

}  // namespace
}  // namespace plexa::image
