// Sample pictures, image files and hostile inputs made by the project itself
// (tool side: plain C++ and libjpeg, no window system; builds natively and
// with mingw, so the Windows tests make their assets in-process).
//
// [X] pictures: flat colour, four quadrants, checker, grey gradient, bumps,
//     a wood-like grain; any size, non-powers of two included
// [X] Windows bitmaps: 1, 4, 8 (palette or RLE8), 16 (bit fields), 24 and 32
//     bits, bottom-up or top-down; OS/2 core headers at 1, 4, 8 and 24 bits
// [X] JPEG: baseline, 4:4:4 or 4:2:0, progressive, arithmetic-coded (when the
//     library can write it), grey, CMYK, restart markers
// [X] hostile bitmaps: every header field at its edges, truncations, and the
//     outcome a careful reader must give for each
// [X] hostile JPEGs: empty, not JPEG, truncated, corrupted, huge dimensions in
//     the header, unsupported colour, endless scans, with their outcome
// [X] seed lines for the scene-line reader
// [X] PNG: every colour type and depth, interlaced, tRNS, alpha; hostile
//     PNGs cut, bit-flipped and lying, with their outcome
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace plexa::samples {

using Bytes = std::vector<uint8_t>;

struct Rgb {
    uint8_t r, g, b;
    bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
    bool operator<(const Rgb& o) const { return (r << 16 | g << 8 | b) < (o.r << 16 | o.g << 8 | o.b); }
};

// A picture as a person sees it: the top row first, left to right.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<Rgb> pixels;

    Picture() = default;
    Picture(int w, int h) : width(w), height(h), pixels(static_cast<size_t>(w) * static_cast<size_t>(h)) {}
    Rgb& at(int x, int y) { return pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + x]; }
    const Rgb& at(int x, int y) const { return pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + x]; }
};

// The four quadrant colours: far apart in every channel, so a swapped channel
// order or a flipped picture cannot pass for the right one.
constexpr Rgb kTopLeft{230, 30, 30};
constexpr Rgb kTopRight{30, 200, 40};
constexpr Rgb kBottomLeft{40, 50, 220};
constexpr Rgb kBottomRight{240, 220, 60};

Picture solid(int width, int height, Rgb colour);
Picture quadrants(int width, int height);
Picture checker(int width, int height, int cell, Rgb a, Rgb b);
// Grey from black at the left edge to white at the right.
Picture greyGradient(int width, int height);
// Grey round hills on a dark ground.
Picture greyBumps(int width, int height);
Picture wood(int width, int height);

// ---------------------------------------------------------------- bitmaps

enum class BmpCompression : uint32_t { Rgb = 0, Rle8 = 1, Rle4 = 2, Bitfields = 3 };

struct BmpOptions {
    int bits = 24;               // 1, 4, 8, 16, 24, 32
    BmpCompression compression = BmpCompression::Rgb;
    bool topDown = false;        // negative height
};

// A complete bitmap file. Depths up to 8 bits need a picture of at most 2^bits
// colours (a palette is made from them); 16 bits stores 5-6-5 through bit
// fields. Empty when the picture cannot be stored that way.
Bytes encodeBmp(const Picture& picture, const BmpOptions& options = {});

// The same picture behind an OS/2 core header (12 bytes, 16-bit sizes) with a
// full table of three-byte entries; bits 1, 4, 8 or 24, bottom-up. Empty when
// the picture cannot be stored that way.
Bytes encodeCoreBmp(const Picture& picture, int bits = 24);

// Offsets of the fields of a file made by encodeBmp, for patching.
namespace bmp_field {
constexpr size_t kFileSize = 2, kPixelOffset = 10;
constexpr size_t kHeaderSize = 14, kWidth = 18, kHeight = 22, kPlanes = 26, kBits = 28, kCompression = 30,
                 kImageSize = 34, kColorsUsed = 46;
constexpr size_t kHeadersEnd = 54;
// ...and of one made by encodeCoreBmp.
constexpr size_t kCoreWidth = 18, kCoreHeight = 20, kCorePlanes = 22, kCoreBits = 24, kCoreHeadersEnd = 26;
}  // namespace bmp_field

void putU16(Bytes& bytes, size_t offset, uint16_t value);
void putU32(Bytes& bytes, size_t offset, uint32_t value);
uint32_t getU32(const Bytes& bytes, size_t offset);

// ---------------------------------------------------------------- JPEG

struct JpegOptions {
    int quality = 95;
    bool fullChroma = false;     // 4:4:4 instead of the default 4:2:0
    bool progressive = false;
    bool arithmetic = false;
    bool grey = false;           // one component, the picture's luminance
    bool cmyk = false;           // four components (C, M, Y from the picture, K 0)
    int restartRows = 0;         // restart marker every that many MCU rows
};

// A complete JFIF/JPEG file; empty when the library refuses the options (for
// instance arithmetic coding in a build without it).
Bytes encodeJpeg(const Picture& picture, const JpegOptions& options = {});

// ---------------------------------------------------------------- PNG

struct PngOptions {
    int colourType = 2;          // 0 grey, 2 RGB, 3 palette, 4 grey and alpha, 6 RGB and alpha
    int bitDepth = 8;            // 1, 2, 4, 8 or 16, as the colour type allows
    bool interlaced = false;     // Adam7
    bool keyColour = false;      // tRNS: grey or RGB, the top left pixel's colour transparent
    int compression = -1;        // zlib's level; -1 for libpng's default
};

// A complete PNG file (through libpng's writer). Grey takes the red channel,
// cut to the depth's top bits; 16-bit samples are the 8-bit ones times 257.
// `alpha` (one byte a pixel, 255 opaque) is written for the alpha colour
// types and, as tRNS, for a palette (one value per colour: its first pixel's).
// Empty when the picture cannot be stored that way.
Bytes encodePng(const Picture& picture, const PngOptions& options = {}, const std::vector<uint8_t>& alpha = {});

// The CRC a PNG chunk ends with, over its type and data.
uint32_t pngChunkCrc(const uint8_t* typeAndData, size_t size);

// ---------------------------------------------------------------- file sets

struct NamedFile {
    std::string name;
    Bytes bytes;
};

// Materials and skins for the tests and the demo. Bitmap and JPEG twins share
// a base name ("quad-64.bmp", "quad-64.jpg").
std::vector<NamedFile> sampleFiles();

// What a careful reader must make of a hostile file.
enum class Outcome {
    Refused,              // no picture (a bitmap: silently; a JPEG: after its box)
    Accepted,             // a picture (a bitmap file: handed to the system)
    AcceptedWithWarnings, // JPEG: a picture, after the warning boxes
    Either,               // decoders differ; only "no crash, memory bounded" holds
};

struct HostileFile {
    std::string name;
    Bytes bytes;
    Outcome outcome;
};

std::vector<HostileFile> hostileBitmaps();
std::vector<HostileFile> hostileJpegs();
// Damaged PNGs: cut at every chunk boundary and inside each, bits flipped (the
// chunk's CRC made right again, so that the damage reaches the decoder),
// sizes, depths and chunks that lie; refusals come with a box.
std::vector<HostileFile> hostilePngs();

// A damaged scene file, the error-log messages binding it writes (in order),
// and the kind keyword of the one block left, as the writer writes it.
struct HostileScene {
    std::string name;
    Bytes bytes;
    std::vector<std::string> log;
    std::string block;
};

std::vector<HostileScene> hostileScenes();

// Scene-file lines that reach every keyword and value form.
std::vector<std::string> sceneSeedLines();

// Writes each file into `directory` (created if missing); false on failure.
bool writeFiles(const std::string& directory, const std::vector<NamedFile>& files);

}  // namespace plexa::samples
