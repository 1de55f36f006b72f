// JPEG/JFIF decoding into 24-bit bottom-up rows through libjpeg's 6b interface
// (core side: the platform supplies the pixel memory and the message boxes).
//
// [X] floating-point DCT, RGB output, rows padded to four bytes
// [X] the decoder's fatal errors and first warning shown as "JPEG BIG BUG"
// [X] "can't open jpeg-file", "couldn't create bitmap-handle", "warnings !"
// [X] pictures above the pixel ceiling and endless scan sequences refused
//     before they cost memory or time
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace plexa::image {

// The platform's side of a decode. `allocate` returns `height` rows of `stride`
// bytes, stored bottom-up, or null; `release` undoes it after a failure.
struct JpegTarget {
    void* context = nullptr;
    void (*message)(void* context, const char* caption, const char* text) = nullptr;
    uint8_t* (*allocate)(void* context, int32_t width, int32_t height, size_t stride) = nullptr;
    void (*release)(void* context) = nullptr;
};

struct JpegPicture {
    int32_t width = 0;
    int32_t height = 0;
    size_t stride = 0;
    uint8_t* rows = nullptr;   // the target's memory
    int warnings = 0;
};

// The most scans a progressive file may have; real encoders use about ten.
constexpr int kMaxJpegScans = 1000;

// Decodes the open file; `fullName` is what the boxes show. True when a
// picture was delivered (possibly after warnings).
bool decodeJpegStream(std::FILE* file, const char* fullName, const JpegTarget& target, JpegPicture& picture);

// Opens and decodes the named file.
bool decodeJpegFile(const char* fullName, const JpegTarget& target, JpegPicture& picture);

}  // namespace plexa::image
