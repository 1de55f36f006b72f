// Checks a Windows bitmap file held in memory before GDI is given it (core side).
//
// GDI reads the information header, the colour table and the pixels through
// the offsets the file itself gives; a damaged file would send it past the end
// of the buffer. Every field GDI relies on is checked here first, so that the
// platform side only ever hands over what lies inside the file.
//
// [X] BITMAPINFOHEADER and its V4/V5 extensions; 1, 4, 8, 16, 24 and 32 bits
// [X] BI_RGB, BI_BITFIELDS, BI_RLE8, BI_RLE4; bit fields of 1 to 3 bits widened here
// [X] top-down files (negative height)
// [X] sizes bounded by the image pixel ceiling
// [X] colour tables longer than the depth needs, when the file holds them,
//     also on 16, 24 and 32-bit files that do not use them
// [X] OS/2 core headers (12 bytes, 1, 4, 8 and 24 bits), handed on as an
//     information header with a four-byte colour table
// [X] the guard behind run-length pixels that stops an overshooting decoder
// [ ] embedded JPEG or PNG (refused)
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace plexa::image {

// The largest picture any loader accepts, in pixels and per side. A skin keeps
// four bytes per pixel and a material passes through two pixel buffers and a
// scaled copy, so 40 million pixels bounds a single load to well under a GiB.
constexpr int64_t kMaxImagePixels = 40'000'000;
constexpr int32_t kMaxImageSide = 16384;

struct BitmapLayout {
    int32_t width = 0;
    int32_t height = 0;         // as stored: negative for a top-down file
    uint32_t headerOffset = 14; // the information header, and the BITMAPINFO GDI reads
    uint32_t pixelOffset = 0;
    uint32_t pixelBytes = 0;    // what GDI may read from pixelOffset
    bool runLength = false;     // RLE pixels: GDI reads until an end marker
    bool coreHeader = false;    // a 12-byte OS/2 header: see `infoFromCoreHeader`
    bool narrowFields = false;  // bit fields of 1 to 3 bits: see `widenNarrowFields`
};

// Fills `layout` and returns null when the file can be handed to GDI;
// otherwise a short reason ("pixels past end of file").
const char* checkBitmapFile(const uint8_t* data, size_t size, BitmapLayout& layout);

// The BITMAPINFO (a 40-byte header and a table of four-byte entries) that
// stands for the core header and three-byte colour table of a file the checks
// accepted with `coreHeader` set: GDI is given only the form every version of
// it reads.
std::vector<uint8_t> infoFromCoreHeader(const uint8_t* data, const BitmapLayout& layout);

// A bit-field file with a colour channel of 1 to 3 bits, as a 24-bit
// BITMAPINFO (a 40-byte header, rows in the file's order) followed by its
// pixels. GDI widens such a channel by repeating its bits only once, so white
// came out cream; here every channel's bits are repeated until all eight are
// filled (1 -> 255 for one bit, 3 -> 255 for two, 7 -> 255 for three).
std::vector<uint8_t> widenNarrowFields(const uint8_t* data, const BitmapLayout& layout);

// The eight-bit value of an n-bit channel value (n from 1 to 8), its bits
// repeated from the top down.
uint8_t widenChannel(uint32_t value, int bits);

// Run-length pixels are decoded until their end marker, wherever the file's
// own bytes end. A file is read into a buffer this much longer and the guard
// written behind it; a decoder that overshoots a damaged run meets an end of
// bitmap inside the guard whichever byte parity it arrives at.
constexpr size_t kRunLengthGuard = 1024;
void writeRunLengthGuard(uint8_t* guard);

}  // namespace plexa::image

namespace plexa::image {

enum class ImageKind { Bitmap, Jpeg, Png };

// ".bmp" at the end, in any letter case, is a Windows bitmap and ".png" a PNG
// picture; every other name goes to the JPEG decoder, which refuses what is
// not JPEG.
ImageKind imageKindOf(const char* name);

}  // namespace plexa::image
