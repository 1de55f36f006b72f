// JPEG decoding through the loader's decoder and the libjpeg-turbo the DLL
// links, from any bytes. The decode must end (picture or refusal) without a
// fault, never ask for pixel memory above the ceiling, write only inside the
// rows it asked for, and give back what it took when it fails.
#include <stdio.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "image/bitmap_file.h"
#include "image/jpeg_decode.h"

namespace {

// Pictures above this many pixels are refused here for speed only: decoding
// them teaches the fuzzer nothing that smaller ones do not.
constexpr int64_t kFuzzPixelCap = 4'000'000;

struct Platform {
    std::vector<uint8_t> rows;
    int allocations = 0;
    int releases = 0;
    int32_t width = 0, height = 0;
    size_t stride = 0;
};

void message(void*, const char* caption, const char* text) {
    // Both must be terminated text: the boxes show them as such.
    volatile size_t sink = std::strlen(caption) + std::strlen(text);
    (void)sink;
}

uint8_t* allocate(void* context, int32_t width, int32_t height, size_t stride) {
    Platform& p = *static_cast<Platform*>(context);
    ++p.allocations;
    if (width <= 0 || height <= 0 || static_cast<int64_t>(width) * height > plexa::image::kMaxImagePixels ||
        stride != ((static_cast<size_t>(width) * 3 + 3) & ~static_cast<size_t>(3)))
        std::abort();
    if (static_cast<int64_t>(width) * height > kFuzzPixelCap) return nullptr;
    p.width = width;
    p.height = height;
    p.stride = stride;
    // Exactly the rows asked for: a write past them is caught.
    p.rows.assign(stride * static_cast<size_t>(height), 0);
    p.rows.shrink_to_fit();
    return p.rows.data();
}

void release(void* context) { ++static_cast<Platform*>(context)->releases; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    std::vector<uint8_t> copy(data, data + size);
    FILE* stream = fmemopen(copy.data(), copy.size(), "rb");
    if (!stream) return 0;
    Platform platform;
    plexa::image::JpegTarget target;
    target.context = &platform;
    target.message = message;
    target.allocate = allocate;
    target.release = release;
    plexa::image::JpegPicture picture;
    const bool ok = plexa::image::decodeJpegStream(stream, "fuzz.jpg", target, picture);
    fclose(stream);

    if (platform.allocations > 1) std::abort();
    if (ok) {
        if (picture.rows != platform.rows.data() || picture.width != platform.width ||
            picture.height != platform.height || picture.stride != platform.stride || platform.releases != 0)
            std::abort();
    } else {
        if (picture.rows != nullptr) std::abort();
        // Memory handed out is given back, unless the platform refused it.
        const bool handedOut = platform.allocations == 1 && !platform.rows.empty();
        if (platform.releases != (handedOut ? 1 : 0)) std::abort();
    }
    return 0;
}
