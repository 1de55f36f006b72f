#include "image/bitmap_file.h"

#include <cstring>

namespace plexa::image {

namespace {

uint32_t u32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
uint16_t u16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
int32_t s32(const uint8_t* p) { return static_cast<int32_t>(u32(p)); }

void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

constexpr uint32_t kRgb = 0, kRle8 = 1, kRle4 = 2, kBitfields = 3;

// The width of a contiguous channel mask; 0 for an empty mask, -1 for one
// with gaps (left to GDI).
int fieldBits(uint32_t mask) {
    if (mask == 0) return 0;
    while (!(mask & 1)) mask >>= 1;
    int bits = 0;
    for (; mask & 1; mask >>= 1) ++bits;
    return mask ? -1 : bits;
}
constexpr size_t kFileHeaderSize = 14;
constexpr uint32_t kCoreHeaderSize = 12;

// The 12-byte header of OS/2 1.x files, which GDI still reads: 16-bit sizes,
// no compression, always bottom-up, and a table of three-byte entries whose
// length the depth alone gives.
const char* checkCoreFile(const uint8_t* data, size_t size, BitmapLayout& layout) {
    const uint8_t* info = data + kFileHeaderSize;
    const int32_t width = u16(info + 4);
    const int32_t height = u16(info + 6);
    const uint16_t planes = u16(info + 8);
    const uint16_t bits = u16(info + 10);

    if (planes != 1) return "planes not 1";
    if (width == 0 || width > kMaxImageSide) return "width out of range";
    if (height == 0 || height > kMaxImageSide) return "height out of range";
    if (static_cast<int64_t>(width) * height > kMaxImagePixels) return "more pixels than the ceiling";
    switch (bits) {
        case 1: case 4: case 8: case 24: break;
        default: return "unsupported bit depth";
    }
    const uint64_t tableBytes = bits <= 8 ? 3ull << bits : 0;
    if (kFileHeaderSize + kCoreHeaderSize + tableBytes > size) return "colour table past end of file";

    const uint32_t pixelOffset = u32(data + 10);
    if (pixelOffset < kFileHeaderSize + kCoreHeaderSize || pixelOffset >= size) return "pixel offset outside the file";
    const uint64_t stride = ((static_cast<uint64_t>(width) * bits + 31) / 32) * 4;
    const uint64_t pixelBytes = stride * static_cast<uint64_t>(height);
    if (pixelOffset + pixelBytes > size) return "pixels past end of file";

    layout.width = width;
    layout.height = height;
    layout.pixelOffset = pixelOffset;
    layout.pixelBytes = static_cast<uint32_t>(pixelBytes);
    layout.coreHeader = true;
    return nullptr;
}

}  // namespace

const char* checkBitmapFile(const uint8_t* data, size_t size, BitmapLayout& layout) {
    layout = BitmapLayout{};
    if (!data || size < kFileHeaderSize + 4) return "shorter than its headers";

    const uint8_t* info = data + kFileHeaderSize;
    const uint32_t headerSize = u32(info);
    // 12 is the OS/2 core header; 40 is BITMAPINFOHEADER; 52 and 56 add masks,
    // 108 and 124 are V4 and V5.
    if (headerSize != kCoreHeaderSize && headerSize != 40 && headerSize != 52 && headerSize != 56 &&
        headerSize != 108 && headerSize != 124)
        return "unsupported header size";
    if (size < kFileHeaderSize + (headerSize < 40 ? headerSize : 40)) return "shorter than its headers";
    if (kFileHeaderSize + headerSize > size) return "header past end of file";
    if (headerSize == kCoreHeaderSize) return checkCoreFile(data, size, layout);

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
    // the count given, as for any other depth above 8 bits. A table longer
    // than the depth needs is read only as far as the depth goes, but the
    // whole of the stated count must lie in the file: no reader may be sent
    // past its end by it.
    uint64_t tableBytes = (compression == kBitfields && headerSize == 40) ? 12 : 0;
    if (bits <= 8) {
        tableBytes += 4ull * (colorsUsed ? colorsUsed : 1u << bits);
    } else {
        // Unused by the pixels; other readers show such files whatever its length.
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
    if (compression == kBitfields) {
        const uint8_t* masks = info + 40;   // after a 40-byte header, or inside a longer one
        for (int c = 0; c < 3; ++c) {
            const int fieldWidth = fieldBits(u32(masks + 4 * c));
            if (fieldWidth >= 1 && fieldWidth <= 3) layout.narrowFields = true;
        }
    }
    return nullptr;
}

uint8_t widenChannel(uint32_t value, int bits) {
    uint32_t wide = 0;
    for (int shift = 8 - bits; shift > -bits; shift -= bits) wide |= shift >= 0 ? value << shift : value >> -shift;
    return static_cast<uint8_t>(wide);
}

std::vector<uint8_t> widenNarrowFields(const uint8_t* data, const BitmapLayout& layout) {
    const uint8_t* info = data + layout.headerOffset;
    const uint16_t bits = u16(info + 14);
    const int32_t rows = layout.height < 0 ? -layout.height : layout.height;
    const size_t strideIn = ((static_cast<size_t>(layout.width) * bits + 31) / 32) * 4;
    const size_t strideOut = (static_cast<size_t>(layout.width) * 3 + 3) & ~static_cast<size_t>(3);
    std::vector<uint8_t> out(40 + strideOut * static_cast<size_t>(rows), 0);
    put32(&out[0], 40);
    put32(&out[4], static_cast<uint32_t>(layout.width));
    put32(&out[8], static_cast<uint32_t>(layout.height));
    put16(&out[12], 1);
    put16(&out[14], 24);
    uint32_t mask[3];
    int shift[3], width[3];
    for (int c = 0; c < 3; ++c) {   // red, green, blue
        mask[c] = u32(info + 40 + 4 * c);
        width[c] = fieldBits(mask[c]);
        shift[c] = 0;
        while (mask[c] && !(mask[c] >> shift[c] & 1)) ++shift[c];
    }
    for (int32_t r = 0; r < rows; ++r) {
        const uint8_t* in = data + layout.pixelOffset + static_cast<size_t>(r) * strideIn;
        uint8_t* pixel = &out[40 + static_cast<size_t>(r) * strideOut];
        for (int32_t x = 0; x < layout.width; ++x, pixel += 3) {
            const uint32_t value = bits == 16 ? u16(in + 2 * x) : u32(in + 4 * x);
            for (int c = 0; c < 3; ++c) {   // stored blue, green, red
                uint8_t wide = 0;
                if (width[c] > 0) {
                    const uint32_t field = (value & mask[c]) >> shift[c];
                    wide = width[c] >= 8 ? static_cast<uint8_t>(field >> (width[c] - 8)) : widenChannel(field, width[c]);
                }
                pixel[2 - c] = wide;
            }
        }
    }
    return out;
}

std::vector<uint8_t> infoFromCoreHeader(const uint8_t* data, const BitmapLayout& layout) {
    const uint8_t* core = data + layout.headerOffset;
    const uint16_t bits = u16(core + 10);
    const uint32_t colors = bits <= 8 ? 1u << bits : 0;
    std::vector<uint8_t> info(40 + 4 * colors, 0);
    put32(&info[0], 40);
    put32(&info[4], static_cast<uint32_t>(layout.width));
    put32(&info[8], static_cast<uint32_t>(layout.height));
    put16(&info[12], 1);
    put16(&info[14], bits);   // compression BI_RGB (0), image size 0: GDI works it out
    put32(&info[32], colors);
    const uint8_t* triples = core + kCoreHeaderSize;
    for (uint32_t i = 0; i < colors; ++i) {   // blue, green, red; the fourth byte stays 0
        info[40 + 4 * i] = triples[3 * i];
        info[40 + 4 * i + 1] = triples[3 * i + 1];
        info[40 + 4 * i + 2] = triples[3 * i + 2];
    }
    return info;
}

// Zeros, read as pairs, are ends of lines. Where a decoder's pairs fall
// depends on where the file's bytes end, so the guard ends in 01 00 00 01:
// from an odd offset the pairs are 00 01 (end of bitmap); from an even one,
// 01 00 (one pixel) and then 00 01. No pair runs past the guard, and nothing
// in it starts an absolute run or a delta.
void writeRunLengthGuard(uint8_t* guard) {
    std::memset(guard, 0, kRunLengthGuard);
    guard[kRunLengthGuard - 4] = 1;
    guard[kRunLengthGuard - 1] = 1;
}

}  // namespace plexa::image

namespace plexa::image {

ImageKind imageKindOf(const char* name) {
    const size_t length = name ? std::strlen(name) : 0;
    if (length < 4) return ImageKind::Jpeg;
    const char* tail = name + length - 4;
    auto endsWith = [tail](const char* extension) {
        for (int i = 0; i < 4; ++i)
            if ((tail[i] | 0x20) != extension[i]) return false;
        return true;
    };
    if (endsWith(".bmp")) return ImageKind::Bitmap;
    if (endsWith(".png")) return ImageKind::Png;
    return ImageKind::Jpeg;
}

}  // namespace plexa::image
