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
#include <utility>
#include <vector>

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

// Deep files may carry a colour table they do not use, of any length the
// file holds (bmpsuite's rgb24largepal has 300 entries); other readers show them.
TEST(CheckBitmapFile, ADeepFileCarryingAnUnusedLongColourTableIsAccepted) {
    Bytes file = samples::encodeBmp(kPicture);
    file.insert(file.begin() + 54, 300 * 4, 0x5A);
    samples::putU32(file, field::kColorsUsed, 300);
    samples::putU32(file, field::kPixelOffset, 54 + 1200);
    samples::putU32(file, field::kFileSize, static_cast<uint32_t>(file.size()));
    BitmapLayout layout;
    ASSERT_EQ(check(file, layout), nullptr);
    EXPECT_EQ(layout.pixelOffset, 54u + 1200u);
}

// A channel of n bits is widened by repeating its bits until all eight are
// filled: its largest value is white, not cream.
TEST(CheckBitmapFile, NarrowBitFieldsAreWidenedToFullBytes) {
    const struct {
        uint32_t value;
        int bits;
        int want;
    } channels[] = {{1, 1, 255}, {0, 1, 0}, {3, 2, 255}, {1, 2, 85}, {7, 3, 255}, {3, 3, 109}, {1, 3, 36},
                    {31, 5, 255}, {16, 5, 132}, {15, 4, 255}, {200, 8, 200}};
    for (const auto& c : channels) EXPECT_EQ(widenChannel(c.value, c.bits), c.want) << c.value << " of " << c.bits << " bits";

    // bmpsuite's rgb16-231: red 2 bits, green 3, blue 1; pixels all ones and
    // red 1, green 3, blue 0.
    Bytes file = samples::encodeBmp(samples::quadrants(2, 1), {16, BmpCompression::Bitfields, false});
    samples::putU32(file, 54, 0x30);
    samples::putU32(file, 58, 0x0E);
    samples::putU32(file, 62, 0x01);
    const uint32_t pixels = samples::getU32(file, field::kPixelOffset);
    samples::putU32(file, pixels, 0x3F | 0x16 << 16);
    BitmapLayout layout;
    ASSERT_EQ(check(file, layout), nullptr);
    ASSERT_TRUE(layout.narrowFields);
    const std::vector<uint8_t> info = widenNarrowFields(file.data(), layout);
    ASSERT_EQ(info.size(), 40u + 8u);
    EXPECT_EQ(info[14], 24);   // bits per pixel
    const std::vector<uint8_t> wantPixels = {255, 255, 255, 0, 109, 85, 0, 0};   // blue, green, red; padding
    EXPECT_EQ(std::vector<uint8_t>(info.begin() + 40, info.end()), wantPixels);

    // 5-6-5 is left to GDI, which fills five and six bits in one repetition.
    ASSERT_EQ(check(samples::encodeBmp(kPicture, {16, BmpCompression::Bitfields, false}), layout), nullptr);
    EXPECT_FALSE(layout.narrowFields);
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
        {"header-size-12.bmp", "planes not 1"},   // read as a core header: its planes are the height's low half
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
        {"pal8-257-colours.bmp", "colour table past end of file"},
        {"colours-all-ones.bmp", "colour table past end of file"},
        {"rgb24-300-colours.bmp", "colour table past end of file"},
        {"pal8-implied-256-colours.bmp", "colour table past end of file"},
        {"bitfields-with-colour-table-beyond.bmp", "colour table past end of file"},
        {"pixel-offset-0.bmp", "pixel offset outside the file"},
        {"pixel-offset-13.bmp", "pixel offset outside the file"},
        {"pixel-offset-53.bmp", "pixel offset outside the file"},
        {"pixel-offset-90.bmp", "pixel offset outside the file"},
        {"pixel-offset-89.bmp", "pixels past end of file"},
        {"pixel-offset-2147483648.bmp", "pixel offset outside the file"},
        {"pixel-offset-4294967295.bmp", "pixel offset outside the file"},
        {"core-headers-minus-one.bmp", "shorter than its headers"},
        {"core-pixels-minus-one.bmp", "pixels past end of file"},
        {"core-palette-cut.bmp", "colour table past end of file"},
        {"core-width-0.bmp", "width out of range"},
        {"core-width-65535.bmp", "width out of range"},
        {"core-height-0.bmp", "height out of range"},
        {"core-height-16385.bmp", "height out of range"},
        {"core-planes-2.bmp", "planes not 1"},
        {"core-bits-16.bmp", "unsupported bit depth"},
        {"core-bits-32.bmp", "unsupported bit depth"},
        {"core-pixel-offset-25.bmp", "pixel offset outside the file"},
        {"core-pixels-above-ceiling.bmp", "more pixels than the ceiling"},
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

// An OS/2 file reaches GDI as the information header and four-byte colour
// table its own 16-bit fields and three-byte entries stand for.
TEST(CheckBitmapFile, CoreHeadersBecomeInformationHeaders) {
    const Bytes file = samples::encodeCoreBmp(kPicture, 8);
    BitmapLayout layout;
    ASSERT_EQ(check(file, layout), nullptr);
    EXPECT_TRUE(layout.coreHeader);
    EXPECT_EQ(layout.width, 4);
    EXPECT_EQ(layout.height, 3);
    EXPECT_EQ(layout.pixelOffset, 26u + 3 * 256);
    EXPECT_EQ(layout.pixelBytes, 12u);

    std::unique_ptr<uint8_t[]> exact(new uint8_t[file.size()]);
    std::memcpy(exact.get(), file.data(), file.size());
    const Bytes info = infoFromCoreHeader(exact.get(), layout);
    // The 40-byte form encodeBmp writes for the same picture, but for its
    // resolution, its image size and its table of 4 colours rather than 256.
    Bytes want = samples::encodeBmp(kPicture, {8, BmpCompression::Rgb, false});
    want.erase(want.begin() + 70, want.end());
    want.erase(want.begin(), want.begin() + 14);
    want.resize(40 + 4 * 256, 0);
    samples::putU32(want, field::kImageSize - 14, 0);
    samples::putU32(want, 38 - 14, 0);
    samples::putU32(want, 42 - 14, 0);
    samples::putU32(want, field::kColorsUsed - 14, 256);
    EXPECT_EQ(info, want);

    // 24 bits: no table at all.
    ASSERT_EQ(check(samples::encodeCoreBmp(kPicture), layout), nullptr);
    EXPECT_EQ(layout.pixelOffset, 26u);
    EXPECT_EQ(layout.pixelBytes, 36u);
}

// GDI decodes run-length pixels until their end marker, and a damaged file
// has none where it should. A careless decoder is played here: it takes pairs
// from the pixel offset, honours escapes, ignores rows and picture size, and
// stops only at an end of bitmap. Behind every file's bytes the loader writes
// the guard; the walk must end inside it, whichever parity it arrives at.
struct Walk {
    bool ended = false;   // false: a byte past the buffer was wanted
    size_t at = 0;
};

Walk carelessRunLengthWalk(const uint8_t* data, size_t size, size_t from, bool fourBit) {
    Walk walk;
    size_t p = from;
    volatile uint8_t sink = 0;
    auto take = [&](size_t bytes) {
        if (p + bytes > size) return false;
        for (size_t i = 0; i < bytes; ++i) sink = sink ^ data[p + i];
        return true;
    };
    for (;;) {
        if (!take(2)) return walk;
        const uint8_t count = data[p], value = data[p + 1];
        p += 2;
        if (count != 0 || value == 0) continue;   // a run, or an end of line
        if (value == 1) break;                     // end of bitmap
        size_t bytes = value == 2 ? 2 : fourBit ? (value + 1) / 2 : value;
        bytes += bytes & 1;                        // absolute runs keep pairs aligned
        if (!take(bytes)) return walk;
        p += bytes;
    }
    walk.ended = true;
    walk.at = p;
    return walk;
}

TEST(RunLengthGuard, StopsAnOvershootingDecoderAtEitherParity) {
    std::vector<std::pair<std::string, Bytes>> files;
    for (const auto& file : samples::hostileBitmaps()) {
        BitmapLayout layout;
        if (file.outcome == Outcome::Accepted && check(file.bytes, layout) == nullptr && layout.runLength)
            files.emplace_back(file.name, file.bytes);
    }
    // Pixel data without an end, ending at an even and at an odd distance
    // from the pixel offset, inside a run, an absolute run and a delta.
    const Bytes rle8 = samples::encodeBmp(kPicture, {8, BmpCompression::Rle8, false});
    const Bytes rle4 = samples::encodeBmp(kPicture, {4, BmpCompression::Rle4, false});
    const std::vector<Bytes> tails = {{255, 1}, {255, 1, 7}, {0, 255, 1}, {0, 254, 1, 2}, {0, 2}, {0, 2, 9}, {0}, {0, 3}};
    for (const Bytes* base : {&rle8, &rle4}) {
        for (const Bytes& tail : tails) {
            Bytes b(base->begin(), base->begin() + samples::getU32(*base, field::kPixelOffset));
            b.insert(b.end(), tail.begin(), tail.end());
            samples::putU32(b, field::kImageSize, static_cast<uint32_t>(tail.size()));
            files.emplace_back((base == &rle8 ? "rle8 tail of " : "rle4 tail of ") + std::to_string(tail.size()), b);
        }
    }
    bool odd = false, even = false;
    for (const auto& [name, bytes] : files) {
        BitmapLayout layout;
        ASSERT_EQ(check(bytes, layout), nullptr) << name;
        const size_t size = bytes.size() + kRunLengthGuard;
        std::unique_ptr<uint8_t[]> buffer(new uint8_t[size]);
        std::memcpy(buffer.get(), bytes.data(), bytes.size());
        writeRunLengthGuard(buffer.get() + bytes.size());
        const bool fourBit = samples::getU32(bytes, field::kCompression) == 2;
        const Walk walk = carelessRunLengthWalk(buffer.get(), size, layout.pixelOffset, fourBit);
        EXPECT_TRUE(walk.ended) << name << ": read past the guard";
        if (walk.ended && walk.at > bytes.size()) ((walk.at - bytes.size()) % 2 ? odd : even) = true;
    }
    // Both parities were met at the guard.
    EXPECT_TRUE(odd);
    EXPECT_TRUE(even);
}

TEST(ImageKindOf, ADotBmpEndingIsABitmapADotPngEndingAPngTheRestJpeg) {
    EXPECT_EQ(imageKindOf("Wood.BMP"), ImageKind::Bitmap);
    EXPECT_EQ(imageKindOf("wood.bmp"), ImageKind::Bitmap);
    EXPECT_EQ(imageKindOf("C:\\Tex\\wood.bMp"), ImageKind::Bitmap);
    EXPECT_EQ(imageKindOf(".bmp"), ImageKind::Bitmap);
    EXPECT_EQ(imageKindOf("wood.bmp.jpg"), ImageKind::Jpeg);
    EXPECT_EQ(imageKindOf("wood.jfif"), ImageKind::Jpeg);
    EXPECT_EQ(imageKindOf("wood.gif"), ImageKind::Jpeg);
    EXPECT_EQ(imageKindOf("Leaf.PNG"), ImageKind::Png);
    EXPECT_EQ(imageKindOf("C:\\Tex\\leaf.pNg"), ImageKind::Png);
    EXPECT_EQ(imageKindOf("leaf.png.jpg"), ImageKind::Jpeg);
    EXPECT_EQ(imageKindOf("leaf.bmp.png"), ImageKind::Png);
    EXPECT_EQ(imageKindOf("wood.bmp "), ImageKind::Jpeg);
    EXPECT_EQ(imageKindOf("woodbmp"), ImageKind::Jpeg);
    // Shorter than four characters.
    EXPECT_EQ(imageKindOf("bmp"), ImageKind::Jpeg);
    EXPECT_EQ(imageKindOf(""), ImageKind::Jpeg);
    EXPECT_EQ(imageKindOf(nullptr), ImageKind::Jpeg);
}

}  // namespace
}  // namespace plexa::image
