// image::scaleImage against Mesa's libGLU gluScaleImage on any sizes up to 64
// and any pixel bytes: a single differing byte stops the run. The first five
// bytes give the sizes and the thread count, the rest the pixels (repeated
// when short). GLU asks for the pixel store settings; they are answered here,
// as a context with alignment 4 would, in place of libGL's.
#include <GL/glu.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "image/scale.h"

extern "C" void glGetIntegerv(GLenum name, GLint* value) {
    *value = (name == GL_PACK_ALIGNMENT || name == GL_UNPACK_ALIGNMENT) ? 4 : 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5) return 0;
    const int32_t widthIn = data[0] % 64 + 1, heightIn = data[1] % 64 + 1;
    const int32_t widthOut = data[2] % 64 + 1, heightOut = data[3] % 64 + 1;
    const int threads = 1 + data[4] % 2;
    data += 5;
    size -= 5;
    // Exactly the bytes the scaling may read, so that AddressSanitizer sees any read beyond.
    std::vector<uint8_t> in(plexa::image::paddedStride(widthIn) * static_cast<size_t>(heightIn));
    for (size_t i = 0; i < in.size(); ++i) in[i] = size ? data[i % size] : 0;
    const size_t outBytes = plexa::image::paddedStride(widthOut) * static_cast<size_t>(heightOut);
    std::vector<uint8_t> want(outBytes, 0xAA), got(outBytes, 0xAA);
    if (gluScaleImage(GL_RGB, widthIn, heightIn, GL_UNSIGNED_BYTE, in.data(), widthOut, heightOut, GL_UNSIGNED_BYTE,
                      want.data()) != 0)
        std::abort();
    plexa::image::scaleImage(in.data(), widthIn, heightIn, got.data(), widthOut, heightOut, threads);
    if (std::memcmp(got.data(), want.data(), outBytes) != 0) std::abort();
    return 0;
}
