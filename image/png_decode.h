// PNG decoding into 24-bit bottom-up rows through libpng (core side: the
// platform supplies the pixel memory and the message boxes, as for a JPEG).
//
// [X] every colour type and depth: grey 1 to 16 bits, palette, RGB, grey or
//     RGB with alpha, tRNS transparency, Adam7 interlacing
// [X] colour as stored: no gamma or colour-profile conversion, bKGD ignored;
//     16-bit channels rounded to 8 bits
// [X] transparency composited onto a background the caller names: white for
//     a material, black for a skin
// [X] sizes above the pixel ceiling refused from the header, before any
//     pixel memory; ancillary chunks skipped unread, libpng's chunk limits set
// [X] warnings silent; an error gives no picture and one box in plain words
#pragma once

#include <cstdint>
#include <cstdio>

#include "image/jpeg_decode.h"

namespace plexa::image {

// The platform's side is the same as a JPEG's: rows of 24-bit pixels, stored
// bottom-up, channels red, green, blue.
using PngTarget = JpegTarget;
using PngPicture = JpegPicture;

// What transparent pixels are laid over: c' = round(a*c + (1 - a)*background).
constexpr uint8_t kMaterialBackground = 255;   // a material shows its block's colour there
constexpr uint8_t kSkinBackground = 0;         // a skin is at its lowest there

// Decodes the open file; `fullName` is what the boxes show. True when a
// picture was delivered.
bool decodePngStream(std::FILE* file, const char* fullName, uint8_t background, const PngTarget& target,
                     PngPicture& picture);

// Opens and decodes the named file; one that cannot be opened gets the box
// "can't open png-file" with its name.
bool decodePngFile(const char* fullName, uint8_t background, const PngTarget& target, PngPicture& picture);

// The 8-bit result of laying a pixel's channel of opacity `alpha` over `background`.
inline uint8_t composite(uint8_t channel, uint8_t alpha, uint8_t background) {
    return static_cast<uint8_t>((channel * alpha + background * (255 - alpha) + 127) / 255);
}

}  // namespace plexa::image
