// PNG decoding through the loader's decoder and the libpng and zlib the DLL
// links, from any bytes, composited as a material or a skin (the first byte
// chooses). The decode must end without a fault, never ask for pixel memory
// above the ceiling, write only inside the rows it asked for, say why it
// refused in one box, and give back what it took when it fails.
#include <stdio.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "image/bitmap_file.h"
#include "image/png_decode.h"

namespace {

// Pictures above this many pixels are refused here for speed only.
constexpr int64_t kFuzzPixelCap = 4'000'000;

struct Platform {
    std::vector<uint8_t> rows;
    int allocations = 0, releases = 0, boxes = 0;
};

void message(void* context, const char* caption, const char* text) {
    ++static_cast<Platform*>(context)->boxes;
    volatile size_t sink = std::strlen(caption) + std::strlen(text);
    (void)sink;
}

uint8_t* allocate(void* context, int32_t width, int32_t height, size_t stride) {
    Platform& p = *static_cast<Platform*>(context);
    ++p.allocations;
    if (width <= 0 || height <= 0 || width > plexa::image::kMaxImageSide || height > plexa::image::kMaxImageSide ||
        static_cast<int64_t>(width) * height > plexa::image::kMaxImagePixels ||
        stride != ((static_cast<size_t>(width) * 3 + 3) & ~static_cast<size_t>(3)))
        std::abort();
    if (static_cast<int64_t>(width) * height > kFuzzPixelCap) return nullptr;
    p.rows.assign(stride * static_cast<size_t>(height), 0);
    p.rows.shrink_to_fit();   // a write past the rows is caught
    return p.rows.data();
}

void release(void* context) { ++static_cast<Platform*>(context)->releases; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const uint8_t background = data[0] & 1 ? plexa::image::kMaterialBackground : plexa::image::kSkinBackground;
    std::vector<uint8_t> copy(data + 1, data + size);
    FILE* stream = fmemopen(copy.data(), copy.size(), "rb");
    if (!stream) return 0;
    Platform platform;
    plexa::image::PngTarget target;
    target.context = &platform;
    target.message = message;
    target.allocate = allocate;
    target.release = release;
    plexa::image::PngPicture picture;
    const bool ok = plexa::image::decodePngStream(stream, "fuzz.png", background, target, picture);
    fclose(stream);

    if (platform.allocations > 1) std::abort();
    if (ok) {
        if (picture.rows != platform.rows.data() || platform.releases != 0 || platform.boxes != 0) std::abort();
    } else {
        const bool handedOut = platform.allocations == 1 && !platform.rows.empty();
        if (picture.rows != nullptr || platform.releases != (handedOut ? 1 : 0) || platform.boxes != 1) std::abort();
    }
    return 0;
}
