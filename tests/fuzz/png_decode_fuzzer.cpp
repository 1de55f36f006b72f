// PNG decoding through the loader's decoder and the libpng and zlib the DLL
// links, from any bytes after a first that chooses material or skin. The
// decode must end without a fault, ask for no pixel memory above the ceiling,
// write only inside the rows it asked for, give one box when it refuses, and
// give back what it took.
#include <stdio.h>

#include <cstdlib>
#include <vector>

#include "image/bitmap_file.h"
#include "image/png_decode.h"

namespace {

struct Platform {
    std::vector<uint8_t> rows;
    int allocations = 0, releases = 0, boxes = 0;
};

uint8_t* allocate(void* context, int32_t width, int32_t height, size_t stride) {
    Platform& p = *static_cast<Platform*>(context);
    if (++p.allocations > 1 || width <= 0 || height <= 0 || width > plexa::image::kMaxImageSide ||
        height > plexa::image::kMaxImageSide || int64_t{width} * height > plexa::image::kMaxImagePixels ||
        stride != ((static_cast<size_t>(width) * 3 + 3) & ~size_t{3}))
        std::abort();
    if (int64_t{width} * height > 4'000'000) return nullptr;   // for speed only
    p.rows.assign(stride * static_cast<size_t>(height), 0);
    p.rows.shrink_to_fit();   // a write past the rows is caught
    return p.rows.data();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    std::vector<uint8_t> copy(data + 1, data + size);
    FILE* stream = fmemopen(copy.data(), copy.size(), "rb");
    if (!stream) return 0;
    Platform p;
    plexa::image::PngTarget target;
    target.context = &p;
    target.message = [](void* context, const char*, const char*) { ++static_cast<Platform*>(context)->boxes; };
    target.allocate = allocate;
    target.release = [](void* context) { ++static_cast<Platform*>(context)->releases; };
    plexa::image::PngPicture picture;
    const bool ok = plexa::image::decodePngStream(
        stream, "fuzz.png", data[0] & 1 ? plexa::image::kMaterialBackground : plexa::image::kSkinBackground, target,
        picture);
    fclose(stream);
    const bool handedOut = p.allocations == 1 && !p.rows.empty();
    if (ok ? picture.rows != p.rows.data() || p.releases != 0 || p.boxes != 0
           : picture.rows != nullptr || p.releases != (handedOut ? 1 : 0) || p.boxes != 1)
        std::abort();
    return 0;
}
