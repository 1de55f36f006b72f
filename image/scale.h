// Scaling of material pictures to their texture size (core side).
//
// The result is, byte for byte, what GLU's gluScaleImage gives for format
// GL_RGB, GL_UNSIGNED_BYTE in and out, with pack and unpack alignment 4: the
// same box filter with the same single-precision arithmetic in the same order,
// so a texture does not change by a single byte for being scaled here. GLU
// walks every sample through format-generic code; this keeps only the one
// format and streams: each source row is widened once, and each output row
// is built from the few source rows its boxes cover.
//
// [X] enlarging and reducing, each axis on its own, one-pixel sides
// [X] rows padded to four bytes, in and out
// [X] GLU's exact halving when both sides halve, its edge wrap-around, and
//     its wrap of 16-bit values above 65535 to black
// [X] two threads on machines that have two cores for them
// [ ] other formats and alignments (the loader uses none)
#pragma once

#include <cstddef>
#include <cstdint>

namespace plexa::image {

// Rows of `width` three-byte pixels, padded to a multiple of four bytes.
inline size_t paddedStride(int32_t width) { return (static_cast<size_t>(width) * 3 + 3) & ~static_cast<size_t>(3); }

// Scales `in` (widthIn x heightIn) into `out` (widthOut x heightOut), both
// with padded rows; pad bytes of `out` are left as they are. Sizes of zero or
// less write nothing. `threads` above 1 lets the work be shared out.
void scaleImage(const uint8_t* in, int32_t widthIn, int32_t heightIn, uint8_t* out, int32_t widthOut,
                int32_t heightOut, int threads = 1);

// The number of threads worth using for scaling on this machine.
int scalingThreads();

}  // namespace plexa::image
