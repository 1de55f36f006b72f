// checkBitmapFile against any bytes. Whatever it accepts, the system's DIB
// reader must find inside the file: the information block as the system sizes
// it (header, masks, colour table) and the pixel span. Both are read here from
// an exact-size copy, so AddressSanitizer stops at the first byte outside.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "image/bitmap_file.h"

namespace {

uint32_t u32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
uint16_t u16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

// The size of the BITMAPINFO the system copies, worked out as the system does
// it rather than as the checks do, so that the two can disagree.
uint64_t infoBytes(const uint8_t* info) {
    const uint32_t headerSize = u32(info);
    if (headerSize == 12) {   // OS/2: three-byte entries, as many as the depth indexes
        const uint16_t coreBits = u16(info + 10);
        return 12 + (coreBits <= 8 ? 3ull << coreBits : 0);
    }
    const uint16_t bits = u16(info + 14);
    const uint32_t compression = u32(info + 16);
    uint64_t colors = u32(info + 32);
    if (colors > 256) colors = 256;
    if (colors == 0 && bits <= 8) colors = 1ull << bits;
    const uint64_t masks = compression == 3 ? 12 : 0;
    return std::max<uint64_t>(headerSize, 40 + masks) + 4 * colors;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::unique_ptr<uint8_t[]> file(new uint8_t[size]);
    if (size) std::memcpy(file.get(), data, size);
    plexa::image::BitmapLayout layout;
    if (plexa::image::checkBitmapFile(file.get(), size, layout) != nullptr) return 0;

    const uint8_t* info = file.get() + layout.headerOffset;
    const uint64_t pixels = static_cast<uint64_t>(layout.width) * static_cast<uint64_t>(std::abs(int64_t{layout.height}));
    if (layout.width < 1 || layout.width > plexa::image::kMaxImageSide || layout.height == 0 ||
        std::abs(int64_t{layout.height}) > plexa::image::kMaxImageSide ||
        pixels > static_cast<uint64_t>(plexa::image::kMaxImagePixels))
        std::abort();
    if (layout.headerOffset + infoBytes(info) > size) std::abort();
    if (static_cast<uint64_t>(layout.pixelOffset) + layout.pixelBytes > size) std::abort();
    if (layout.pixelOffset < layout.headerOffset + u32(info)) std::abort();

    volatile uint8_t sink = 0;
    for (uint64_t i = 0; i < infoBytes(info); ++i) sink = sink ^ info[i];
    for (uint32_t i = 0; i < layout.pixelBytes; ++i) sink = sink ^ file[layout.pixelOffset + i];
    // Narrow bit fields are widened here from the same span, before GDI sees them.
    if (layout.narrowFields && plexa::image::widenNarrowFields(file.get(), layout).size() < 40) std::abort();
    return 0;
}
