#include "image/bitmap_file.h"

#include <cstring>

namespace plexa::image {

namespace {

uint32_t u32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
uint16_t u16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
int32_t s32(const uint8_t* p) { return static_cast<int32_t>(u32(p)); }

constexpr uint32_t kRgb = 0, kRle8 = 1, kRle4 = 2, kBitfields = 3;
constexpr size_t kFileHeaderSize = 14;

}  // namespace

const char* checkBitmapFile(const uint8_t* data, size_t size, BitmapLayout& layout) {
    layout = BitmapLayout{};
    if (!data || size < kFileHeaderSize + 40) return "shorter than its headers";

    const uint8_t* info = data + kFileHeaderSize;
    const uint32_t headerSize = u32(info);
    // 40 is BITMAPINFOHEADER; 52 and 56 add masks, 108 and 124 are V4 and V5.
    if (headerSize != 40 && headerSize != 52 && headerSize != 56 && headerSize != 108 && headerSize != 124)
        return "unsupported header size";
    if (kFileHeaderSize + headerSize > size) return "header past end of file";

    const int32_t width = s32(info + 4);
    const int32_t height = s32(info + 8);
    const uint16_t planes = u16(info + 12);
    const uint16_t bits = u16(info + 14);
    const uint32_t compression = u32(info + 16);
    const uint32_t imageSize = u32(info + 20);
    const uint32_t colorsUsed = u32(info + 32);

    if (planes != 1) return "planes not 1";
    if (width <= 0 || width > kMaxImageSide) return "width out of range";
    // INT32_MIN has no positive counterpart; the side limit excludes it too.
    if (height == 0 || height < -kMaxImageSide || height > kMaxImageSide) return "height out of range";
    const int64_t rows = height < 0 ? -static_cast<int64_t>(height) : height;
    if (static_cast<int64_t>(width) * rows > kMaxImagePixels) return "more pixels than the ceiling";

    switch (bits) {
        case 1: case 4: case 8: case 16: case 24: case 32: break;
        default: return "unsupported bit depth";
    }
    switch (compression) {
        case kRgb: break;
        case kBitfields:
            if (bits != 16 && bits != 32) return "bit fields need 16 or 32 bits";
            break;
        case kRle8:
            if (bits != 8 || height < 0) return "RLE8 needs 8 bits, bottom-up";
            break;
        case kRle4:
            if (bits != 4 || height < 0) return "RLE4 needs 4 bits, bottom-up";
            break;
        default: return "unsupported compression";
    }

    // The colour table (or the three masks of a 40-byte header) follows the
    // header; GDI reads it even when the pixel offset points elsewhere.
    // With bit fields the system reads the masks and then a colour table of
    // the count given, as for any other depth above 8 bits.
    uint64_t tableBytes = (compression == kBitfields && headerSize == 40) ? 12 : 0;
    if (bits <= 8) {
        const uint32_t maxColors = 1u << bits;
        if (colorsUsed > maxColors) return "more colours than the depth holds";
        tableBytes += 4ull * (colorsUsed ? colorsUsed : maxColors);
    } else if (colorsUsed > 0) {
        if (colorsUsed > 256) return "colour table too large";
        tableBytes += 4ull * colorsUsed;
    }
    if (kFileHeaderSize + headerSize + tableBytes > size) return "colour table past end of file";

    const uint32_t pixelOffset = u32(data + 10);
    if (pixelOffset < kFileHeaderSize + headerSize || pixelOffset >= size) return "pixel offset outside the file";

    uint64_t pixelBytes = 0;
    if (compression == kRle8 || compression == kRle4) {
        pixelBytes = imageSize;
        if (pixelBytes == 0) return "RLE without an image size";
    } else {
        const uint64_t stride = ((static_cast<uint64_t>(width) * bits + 31) / 32) * 4;
        pixelBytes = stride * static_cast<uint64_t>(rows);
    }
    if (pixelOffset + pixelBytes > size) return "pixels past end of file";

    layout.width = width;
    layout.height = height;
    layout.pixelOffset = pixelOffset;
    layout.pixelBytes = static_cast<uint32_t>(pixelBytes);
    layout.runLength = compression == kRle8 || compression == kRle4;
    return nullptr;
}

}  // namespace plexa::image

namespace plexa::image {

ImageKind imageKindOf(const char* name) {
    const size_t length = name ? std::strlen(name) : 0;
    if (length < 4) return ImageKind::Jpeg;
    const char* tail = name + length - 4;
    const char bmp[] = ".bmp";
    for (int i = 0; i < 4; ++i)
        if ((tail[i] | 0x20) != bmp[i]) return ImageKind::Jpeg;
    return ImageKind::Bitmap;
}

}  // namespace plexa::image
