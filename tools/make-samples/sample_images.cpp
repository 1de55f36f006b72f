#include "tools/make-samples/sample_images.h"

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>

// jpeglib.h expects size_t and FILE to be declared first.
#include <jpeglib.h>

namespace plexa::samples {

namespace {

constexpr double kPi = 3.14159265358979323846;

uint8_t clampByte(double v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v + 0.5); }

Rgb grey(uint8_t v) { return {v, v, v}; }

}  // namespace

// ---------------------------------------------------------------- pictures

Picture solid(int width, int height, Rgb colour) {
    Picture p(width, height);
    std::fill(p.pixels.begin(), p.pixels.end(), colour);
    return p;
}

Picture quadrants(int width, int height) {
    Picture p(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const bool left = x < width / 2, top = y < height / 2;
            p.at(x, y) = top ? (left ? kTopLeft : kTopRight) : (left ? kBottomLeft : kBottomRight);
        }
    return p;
}

Picture checker(int width, int height, int cell, Rgb a, Rgb b) {
    Picture p(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) p.at(x, y) = ((x / cell + y / cell) % 2 == 0) ? a : b;
    return p;
}

Picture greyGradient(int width, int height) {
    Picture p(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) p.at(x, y) = grey(width == 1 ? 255 : clampByte(255.0 * x / (width - 1)));
    return p;
}

Picture greyBumps(int width, int height) {
    Picture p(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const double u = (x + 0.5) / width, v = (y + 0.5) / height;
            const double hills = std::sin(u * 3 * kPi) * std::sin(v * 2 * kPi);
            p.at(x, y) = grey(clampByte(30 + 225 * std::max(0.0, hills)));
        }
    return p;
}

Picture wood(int width, int height) {
    Picture p(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const double dx = x - width * 0.3, dy = (y - height * 1.4) * 0.35;
            const double ring = std::sqrt(dx * dx + dy * dy) / 9.0 + 0.6 * std::sin(x * 0.05) * std::sin(y * 0.11);
            const double grain = 0.55 + 0.45 * std::pow(std::fabs(std::sin(ring * kPi)), 0.6);
            p.at(x, y) = {clampByte(190 * grain), clampByte(120 * grain), clampByte(60 * grain)};
        }
    return p;
}

// ---------------------------------------------------------------- bitmaps

void putU16(Bytes& bytes, size_t offset, uint16_t value) {
    bytes[offset] = static_cast<uint8_t>(value);
    bytes[offset + 1] = static_cast<uint8_t>(value >> 8);
}

void putU32(Bytes& bytes, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t getU32(const Bytes& bytes, size_t offset) {
    return bytes[offset] | bytes[offset + 1] << 8 | bytes[offset + 2] << 16 |
           static_cast<uint32_t>(bytes[offset + 3]) << 24;
}

namespace {

// Runs of one palette index, at most 255 pixels, each row ended by 00 00 and
// the whole by 00 01. RLE4 repeats the index in both nibbles.
void encodeRunLength(const std::vector<std::vector<uint8_t>>& rows, bool fourBit, Bytes& out) {
    for (const auto& row : rows) {
        size_t x = 0;
        while (x < row.size()) {
            size_t run = 1;
            while (x + run < row.size() && run < 255 && row[x + run] == row[x]) ++run;
            out.push_back(static_cast<uint8_t>(run));
            out.push_back(fourBit ? static_cast<uint8_t>(row[x] << 4 | row[x]) : row[x]);
            x += run;
        }
        out.push_back(0);
        out.push_back(0);
    }
    out.back() = 1;   // the last end of line becomes the end of the bitmap
}

}  // namespace

Bytes encodeBmp(const Picture& picture, const BmpOptions& options) {
    const int bits = options.bits;
    const bool rle = options.compression == BmpCompression::Rle8 || options.compression == BmpCompression::Rle4;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return {};
    if ((options.compression == BmpCompression::Rle8 && bits != 8) ||
        (options.compression == BmpCompression::Rle4 && bits != 4))
        return {};
    const int width = picture.width, height = picture.height;

    std::vector<Rgb> palette;
    std::map<Rgb, uint8_t> index;
    if (bits <= 8) {
        for (const Rgb& c : picture.pixels) {
            if (index.count(c)) continue;
            if (palette.size() >= (1u << bits)) return {};
            index[c] = static_cast<uint8_t>(palette.size());
            palette.push_back(c);
        }
    }
    const bool masks = bits == 16;   // 5-6-5 needs bit fields; 32 bits stays BI_RGB
    const uint32_t compression = masks ? 3u : static_cast<uint32_t>(options.compression);

    // Rows in storage order: the bottom row first unless top-down.
    const size_t stride = ((static_cast<size_t>(width) * bits + 31) / 32) * 4;
    std::vector<std::vector<uint8_t>> indexRows;
    Bytes pixels;
    for (int i = 0; i < height; ++i) {
        const int y = options.topDown ? i : height - 1 - i;
        if (rle) {
            std::vector<uint8_t> row;
            for (int x = 0; x < width; ++x) row.push_back(index[picture.at(x, y)]);
            indexRows.push_back(std::move(row));
            continue;
        }
        Bytes row(stride, 0);
        for (int x = 0; x < width; ++x) {
            const Rgb& c = picture.at(x, y);
            switch (bits) {
                case 1: row[x / 8] |= static_cast<uint8_t>(index[c] << (7 - x % 8)); break;
                case 4: row[x / 2] |= static_cast<uint8_t>(index[c] << (x % 2 ? 0 : 4)); break;
                case 8: row[x] = index[c]; break;
                case 16: {
                    const uint16_t v = static_cast<uint16_t>((c.r >> 3) << 11 | (c.g >> 2) << 5 | (c.b >> 3));
                    row[2 * x] = static_cast<uint8_t>(v);
                    row[2 * x + 1] = static_cast<uint8_t>(v >> 8);
                    break;
                }
                case 24:
                    row[3 * x] = c.b;
                    row[3 * x + 1] = c.g;
                    row[3 * x + 2] = c.r;
                    break;
                case 32:
                    row[4 * x] = c.b;
                    row[4 * x + 1] = c.g;
                    row[4 * x + 2] = c.r;
                    break;
            }
        }
        pixels.insert(pixels.end(), row.begin(), row.end());
    }
    if (rle) encodeRunLength(indexRows, options.compression == BmpCompression::Rle4, pixels);

    const size_t tableBytes = masks ? 12 : palette.size() * 4;
    const size_t pixelOffset = bmp_field::kHeadersEnd + tableBytes;
    Bytes file(pixelOffset, 0);
    file[0] = 'B';
    file[1] = 'M';
    putU32(file, bmp_field::kFileSize, static_cast<uint32_t>(pixelOffset + pixels.size()));
    putU32(file, bmp_field::kPixelOffset, static_cast<uint32_t>(pixelOffset));
    putU32(file, bmp_field::kHeaderSize, 40);
    putU32(file, bmp_field::kWidth, static_cast<uint32_t>(width));
    putU32(file, bmp_field::kHeight, static_cast<uint32_t>(options.topDown ? -height : height));
    putU16(file, bmp_field::kPlanes, 1);
    putU16(file, bmp_field::kBits, static_cast<uint16_t>(bits));
    putU32(file, bmp_field::kCompression, compression);
    putU32(file, bmp_field::kImageSize, static_cast<uint32_t>(pixels.size()));
    putU32(file, 38, 2835);   // 72 dots per inch
    putU32(file, 42, 2835);
    putU32(file, bmp_field::kColorsUsed, static_cast<uint32_t>(palette.size()));
    if (masks) {
        putU32(file, 54, 0xF800);
        putU32(file, 58, 0x07E0);
        putU32(file, 62, 0x001F);
    }
    for (size_t i = 0; i < palette.size(); ++i) {
        file[54 + 4 * i] = palette[i].b;
        file[54 + 4 * i + 1] = palette[i].g;
        file[54 + 4 * i + 2] = palette[i].r;
    }
    file.insert(file.end(), pixels.begin(), pixels.end());
    return file;
}

Bytes encodeCoreBmp(const Picture& picture, int bits) {
    if ((bits != 1 && bits != 4 && bits != 8 && bits != 24) || picture.width > 0xFFFF || picture.height > 0xFFFF)
        return {};
    const Bytes info = encodeBmp(picture, {bits, BmpCompression::Rgb, false});
    if (info.empty()) return {};
    const size_t entries = bits <= 8 ? size_t{1} << bits : 0;
    const size_t pixelOffset = bmp_field::kCoreHeadersEnd + 3 * entries;
    const size_t pixelsFrom = getU32(info, bmp_field::kPixelOffset);
    Bytes file(pixelOffset, 0);
    file[0] = 'B';
    file[1] = 'M';
    putU32(file, bmp_field::kFileSize, static_cast<uint32_t>(pixelOffset + info.size() - pixelsFrom));
    putU32(file, bmp_field::kPixelOffset, static_cast<uint32_t>(pixelOffset));
    putU32(file, bmp_field::kHeaderSize, 12);
    putU16(file, bmp_field::kCoreWidth, static_cast<uint16_t>(picture.width));
    putU16(file, bmp_field::kCoreHeight, static_cast<uint16_t>(picture.height));
    putU16(file, bmp_field::kCorePlanes, 1);
    putU16(file, bmp_field::kCoreBits, static_cast<uint16_t>(bits));
    // The palette encodeBmp made, blue, green, red, without the fourth byte;
    // the entries past the picture's colours stay black.
    for (size_t i = 0; 54 + 4 * i < pixelsFrom && i < entries; ++i)
        for (size_t c = 0; c < 3; ++c) file[bmp_field::kCoreHeadersEnd + 3 * i + c] = info[54 + 4 * i + c];
    file.insert(file.end(), info.begin() + static_cast<std::ptrdiff_t>(pixelsFrom), info.end());
    return file;
}

// ---------------------------------------------------------------- JPEG

namespace {

struct MemoryDestination {
    jpeg_destination_mgr manager;   // first, so the library's pointer is ours too
    Bytes* out;
    JOCTET buffer[4096];
};

void initDestination(j_compress_ptr info) {
    auto* d = reinterpret_cast<MemoryDestination*>(info->dest);
    d->manager.next_output_byte = d->buffer;
    d->manager.free_in_buffer = sizeof d->buffer;
}

boolean emptyBuffer(j_compress_ptr info) {
    auto* d = reinterpret_cast<MemoryDestination*>(info->dest);
    d->out->insert(d->out->end(), d->buffer, d->buffer + sizeof d->buffer);
    initDestination(info);
    return TRUE;
}

void termDestination(j_compress_ptr info) {
    auto* d = reinterpret_cast<MemoryDestination*>(info->dest);
    d->out->insert(d->out->end(), d->buffer, d->buffer + (sizeof d->buffer - d->manager.free_in_buffer));
}

struct QuietErrors {
    jpeg_error_mgr standard;
    std::jmp_buf failure;
};

[[noreturn]] void jumpBack(j_common_ptr info) { std::longjmp(reinterpret_cast<QuietErrors*>(info->err)->failure, 1); }
void silent(j_common_ptr) {}

// Everything the jump back needs lives outside the frame that calls setjmp.
struct Encoder {
    jpeg_compress_struct info;
    QuietErrors errors;
    MemoryDestination destination;
    std::vector<JSAMPLE> row;
};

bool encodeInto(Encoder& e, const Picture& picture, const JpegOptions& options) {
    if (setjmp(e.errors.failure)) {
        jpeg_destroy_compress(&e.info);
        return false;
    }
    jpeg_create_compress(&e.info);
    e.info.dest = &e.destination.manager;
    e.destination.manager.init_destination = initDestination;
    e.destination.manager.empty_output_buffer = emptyBuffer;
    e.destination.manager.term_destination = termDestination;

    const int components = options.grey ? 1 : options.cmyk ? 4 : 3;
    e.info.image_width = static_cast<JDIMENSION>(picture.width);
    e.info.image_height = static_cast<JDIMENSION>(picture.height);
    e.info.input_components = components;
    e.info.in_color_space = options.grey ? JCS_GRAYSCALE : options.cmyk ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&e.info);
    if (options.cmyk) jpeg_set_colorspace(&e.info, JCS_CMYK);
    jpeg_set_quality(&e.info, options.quality, TRUE);
    if (options.fullChroma && !options.grey) {
        e.info.comp_info[0].h_samp_factor = 1;
        e.info.comp_info[0].v_samp_factor = 1;
    }
    if (options.progressive) jpeg_simple_progression(&e.info);
    if (options.arithmetic) e.info.arith_code = TRUE;
    e.info.restart_in_rows = options.restartRows;
    jpeg_start_compress(&e.info, TRUE);

    e.row.assign(static_cast<size_t>(picture.width) * components, 0);
    while (e.info.next_scanline < e.info.image_height) {
        const int y = static_cast<int>(e.info.next_scanline);
        for (int x = 0; x < picture.width; ++x) {
            const Rgb& c = picture.at(x, y);
            JSAMPLE* out = &e.row[static_cast<size_t>(x) * components];
            if (options.grey) {
                out[0] = clampByte(0.299 * c.r + 0.587 * c.g + 0.114 * c.b);
            } else if (options.cmyk) {
                out[0] = static_cast<JSAMPLE>(255 - c.r);
                out[1] = static_cast<JSAMPLE>(255 - c.g);
                out[2] = static_cast<JSAMPLE>(255 - c.b);
                out[3] = 0;
            } else {
                out[0] = c.r;
                out[1] = c.g;
                out[2] = c.b;
            }
        }
        JSAMPROW rows[1] = {e.row.data()};
        jpeg_write_scanlines(&e.info, rows, 1);
    }
    jpeg_finish_compress(&e.info);
    jpeg_destroy_compress(&e.info);
    return true;
}

}  // namespace

Bytes encodeJpeg(const Picture& picture, const JpegOptions& options) {
    Bytes out;
    auto e = std::make_unique<Encoder>();
    std::memset(&e->info, 0, sizeof e->info);
    e->info.err = jpeg_std_error(&e->errors.standard);
    e->errors.standard.error_exit = jumpBack;
    e->errors.standard.output_message = silent;
    e->destination.out = &out;
    if (!encodeInto(*e, picture, options)) return {};
    return out;
}

// ---------------------------------------------------------------- sample set

std::vector<NamedFile> sampleFiles() {
    std::vector<NamedFile> files;
    auto add = [&](std::string name, Bytes bytes) {
        if (!bytes.empty()) files.push_back({std::move(name), std::move(bytes)});
    };
    JpegOptions exact;
    exact.quality = 100;
    exact.fullChroma = true;

    // Materials. Twins of one picture in both formats, at a power of two and not.
    for (const auto& size : {std::pair{64, 64}, std::pair{101, 37}, std::pair{3, 3}}) {
        const Picture q = quadrants(size.first, size.second);
        const std::string base = "quad-" + (size.first == size.second && size.first == 64
                                                ? std::string("64")
                                                : std::to_string(size.first) + "x" + std::to_string(size.second));
        add(base + ".bmp", encodeBmp(q));
        add(base + ".jpg", encodeJpeg(q, exact));
    }
    const Picture quad = quadrants(64, 64);
    add("quad-64-topdown.bmp", encodeBmp(quad, {24, BmpCompression::Rgb, true}));
    add("quad-64-pal8.bmp", encodeBmp(quad, {8, BmpCompression::Rgb, false}));
    add("quad-64-rle8.bmp", encodeBmp(quad, {8, BmpCompression::Rle8, false}));
    add("quad-64-pal4.bmp", encodeBmp(quad, {4, BmpCompression::Rgb, false}));
    add("quad-64-565.bmp", encodeBmp(quad, {16, BmpCompression::Rgb, false}));
    add("quad-64-32.bmp", encodeBmp(quad, {32, BmpCompression::Rgb, false}));
    add("quad-64-core.bmp", encodeCoreBmp(quad));
    add("quad-64-core-pal4.bmp", encodeCoreBmp(quad, 4));
    JpegOptions progressive = exact;
    progressive.progressive = true;
    add("quad-64-progressive.jpg", encodeJpeg(quad, progressive));
    JpegOptions arithmetic = exact;
    arithmetic.arithmetic = true;
    add("quad-64-arith.jpg", encodeJpeg(quad, arithmetic));
    add("checker-64-pal1.bmp", encodeBmp(checker(64, 64, 8, {255, 255, 255}, {0, 0, 0}), {1, BmpCompression::Rgb, false}));
    add("dot-1x1.bmp", encodeBmp(solid(1, 1, {250, 130, 20})));
    add("dot-1x1.jpg", encodeJpeg(solid(1, 1, {250, 130, 20}), exact));
    const Picture grain = wood(640, 480);
    add("wood-640x480.bmp", encodeBmp(grain));
    add("wood-640x480.jpg", encodeJpeg(grain));
    add("wood-641x481.jpg", encodeJpeg(wood(641, 481)));
    add("stone-256.jpg", encodeJpeg(checker(256, 256, 32, {150, 150, 160}, {90, 95, 100})));

    // Skins: grey levels, read as heights.
    add("skin-gradient-128x64.bmp", encodeBmp(greyGradient(128, 64)));
    add("skin-gradient-128x64.jpg", encodeJpeg(greyGradient(128, 64), exact));
    add("skin-bumps-100.bmp", encodeBmp(greyBumps(100, 100)));
    add("skin-bumps-256x128.jpg", encodeJpeg(greyBumps(256, 128)));
    add("skin-bumps-101x37-grey.jpg", encodeJpeg(greyBumps(101, 37), {95, false, false, false, true, false, 0}));
    add("skin-checker-64-pal8.bmp", encodeBmp(checker(64, 64, 16, grey(255), grey(0)), {8, BmpCompression::Rgb, false}));
    add("skin-gradient-64-rle8.bmp", encodeBmp(greyGradient(64, 64), {8, BmpCompression::Rle8, false}));
    add("skin-bumps-64-topdown.bmp", encodeBmp(greyBumps(64, 64), {24, BmpCompression::Rgb, true}));
    return files;
}

// ---------------------------------------------------------------- hostile bitmaps

std::vector<HostileFile> hostileBitmaps() {
    std::vector<HostileFile> out;
    const Picture q = quadrants(4, 3);
    const Bytes base = encodeBmp(q);   // 24 bits: rows of 12 bytes, 90 bytes in all
    auto add = [&](const std::string& name, Bytes bytes, Outcome outcome) {
        out.push_back({name, std::move(bytes), outcome});
    };
    auto patched32 = [&](const Bytes& from, size_t offset, uint32_t value) {
        Bytes b = from;
        putU32(b, offset, value);
        return b;
    };
    auto patched16 = [&](const Bytes& from, size_t offset, uint16_t value) {
        Bytes b = from;
        putU16(b, offset, value);
        return b;
    };
    auto cut = [](const Bytes& from, size_t size) { return Bytes(from.begin(), from.begin() + std::min(size, from.size())); };

    const Bytes pal8 = encodeBmp(q, {8, BmpCompression::Rgb, false});
    const Bytes pal1 = encodeBmp(checker(4, 3, 1, {0, 0, 0}, {255, 255, 255}), {1, BmpCompression::Rgb, false});
    const Bytes rle8 = encodeBmp(q, {8, BmpCompression::Rle8, false});

    // Sound files of every kind the checks let through, as controls.
    add("ok-24.bmp", base, Outcome::Accepted);
    add("ok-topdown.bmp", encodeBmp(q, {24, BmpCompression::Rgb, true}), Outcome::Accepted);
    add("ok-pal8.bmp", pal8, Outcome::Accepted);
    add("ok-pal4.bmp", encodeBmp(q, {4, BmpCompression::Rgb, false}), Outcome::Accepted);
    add("ok-pal1.bmp", pal1, Outcome::Accepted);
    add("ok-rle8.bmp", rle8, Outcome::Accepted);
    add("ok-rle4.bmp", encodeBmp(q, {4, BmpCompression::Rle4, false}), Outcome::Accepted);
    add("ok-565.bmp", encodeBmp(q, {16, BmpCompression::Rgb, false}), Outcome::Accepted);
    add("ok-32.bmp", encodeBmp(q, {32, BmpCompression::Rgb, false}), Outcome::Accepted);
    const Bytes core = encodeCoreBmp(q);   // rows of 12 bytes, 62 bytes in all
    const Bytes corePal8 = encodeCoreBmp(q, 8);
    add("ok-core-24.bmp", core, Outcome::Accepted);
    add("ok-core-pal8.bmp", corePal8, Outcome::Accepted);
    add("ok-core-pal4.bmp", encodeCoreBmp(q, 4), Outcome::Accepted);
    add("ok-core-pal1.bmp", encodeCoreBmp(checker(4, 3, 1, {0, 0, 0}, {255, 255, 255}), 1), Outcome::Accepted);
    {   // More colours stated than 8 bits can index, all of them in the file:
        // the system reads the first 256.
        Bytes b = pal8;
        b.insert(b.begin() + 54 + 16, 4 * 296, 0);
        putU32(b, bmp_field::kColorsUsed, 300);
        putU32(b, bmp_field::kPixelOffset, 54 + 4 * 300);
        add("ok-pal8-300-colours.bmp", b, Outcome::Accepted);
    }
    {   // The signature is the system's business, not the checks'.
        Bytes b = base;
        b[0] = 'X';
        b[1] = 'X';
        add("ok-bad-signature.bmp", b, Outcome::Accepted);
    }
    {   // A V5 header (124 bytes): 84 more header bytes before the pixels.
        Bytes b = base;
        b.insert(b.begin() + bmp_field::kHeadersEnd, 84, 0);
        putU32(b, bmp_field::kHeaderSize, 124);
        putU32(b, bmp_field::kPixelOffset, bmp_field::kHeadersEnd + 84);
        add("ok-v5-header.bmp", b, Outcome::Accepted);
        add("v5-header-cut.bmp", cut(b, 100), Outcome::Refused);
    }

    // Shorter than the headers.
    add("empty.bmp", {}, Outcome::Refused);
    add("file-header-only.bmp", cut(base, 14), Outcome::Refused);
    add("headers-minus-one.bmp", cut(base, 53), Outcome::Refused);
    add("headers-only.bmp", cut(base, 54), Outcome::Refused);
    add("pixels-minus-one.bmp", cut(base, base.size() - 1), Outcome::Refused);
    add("palette-cut.bmp", cut(pal8, 54 + 8), Outcome::Refused);

    // Header sizes.
    for (uint32_t size : {0u, 12u, 41u, 64u, 0xFFFFFFFFu})
        add("header-size-" + std::to_string(size) + ".bmp", patched32(base, bmp_field::kHeaderSize, size), Outcome::Refused);

    // Sizes.
    for (int32_t w : {0, -1, INT32_MIN, 16385, INT32_MAX})
        add("width-" + std::to_string(w) + ".bmp", patched32(base, bmp_field::kWidth, static_cast<uint32_t>(w)),
            Outcome::Refused);
    for (int32_t h : {0, INT32_MIN, -16385, 16385, INT32_MAX})
        add("height-" + std::to_string(h) + ".bmp", patched32(base, bmp_field::kHeight, static_cast<uint32_t>(h)),
            Outcome::Refused);
    {   // Each side allowed, the product above the pixel ceiling.
        Bytes b = patched32(base, bmp_field::kWidth, 16384);
        putU32(b, bmp_field::kHeight, 16384);
        add("pixels-above-ceiling.bmp", b, Outcome::Refused);
        // Under the ceiling, but its pixels would be 160 MB of a 90-byte file.
        putU32(b, bmp_field::kHeight, 2441);
        putU16(b, bmp_field::kBits, 32);
        add("pixels-beyond-file.bmp", b, Outcome::Refused);
    }

    // Planes, depths, compressions.
    for (uint16_t planes : {0, 2}) add("planes-" + std::to_string(planes) + ".bmp", patched16(base, bmp_field::kPlanes, planes), Outcome::Refused);
    for (uint16_t bits : {0, 2, 7, 48, 64, 0xFFFF})
        add("bits-" + std::to_string(bits) + ".bmp", patched16(base, bmp_field::kBits, bits), Outcome::Refused);
    for (uint32_t c : {4u, 5u, 6u, 11u, 0xFFFFFFFFu})
        add("compression-" + std::to_string(c) + ".bmp", patched32(base, bmp_field::kCompression, c), Outcome::Refused);
    add("bitfields-24.bmp", patched32(base, bmp_field::kCompression, 3), Outcome::Refused);
    add("rle8-on-24.bmp", patched32(base, bmp_field::kCompression, 1), Outcome::Refused);
    add("rle4-on-8.bmp", patched32(pal8, bmp_field::kCompression, 2), Outcome::Refused);
    add("rle8-topdown.bmp", patched32(rle8, bmp_field::kHeight, static_cast<uint32_t>(-3)), Outcome::Refused);
    add("rle8-no-image-size.bmp", patched32(rle8, bmp_field::kImageSize, 0), Outcome::Refused);
    add("rle8-image-size-beyond.bmp", patched32(rle8, bmp_field::kImageSize, getU32(rle8, bmp_field::kImageSize) + 1),
        Outcome::Refused);

    // Colour tables.
    add("pal8-257-colours.bmp", patched32(pal8, bmp_field::kColorsUsed, 257), Outcome::Refused);
    // Three colours for one bit, the third inside the file (on the pixels).
    add("pal1-3-colours.bmp", patched32(pal1, bmp_field::kColorsUsed, 3), Outcome::Accepted);
    add("colours-all-ones.bmp", patched32(base, bmp_field::kColorsUsed, 0xFFFFFFFFu), Outcome::Refused);
    add("rgb24-300-colours.bmp", patched32(base, bmp_field::kColorsUsed, 300), Outcome::Refused);
    {   // 8 bits with no colour count: the system reads all 256 entries.
        Bytes b = patched32(pal8, bmp_field::kColorsUsed, 0);
        add("pal8-implied-256-colours.bmp", b, Outcome::Refused);
    }
    {   // Bit fields after a 40-byte header, then a colour table the file lacks.
        Bytes b = encodeBmp(q, {16, BmpCompression::Rgb, false});
        putU32(b, bmp_field::kColorsUsed, 256);
        add("bitfields-with-colour-table-beyond.bmp", b, Outcome::Refused);
    }

    // Core headers: their own fields at their own offsets.
    add("core-headers-minus-one.bmp", cut(core, bmp_field::kCoreHeadersEnd - 1), Outcome::Refused);
    add("core-pixels-minus-one.bmp", cut(core, core.size() - 1), Outcome::Refused);
    add("core-palette-cut.bmp", cut(corePal8, bmp_field::kCoreHeadersEnd + 3 * 255), Outcome::Refused);
    add("core-width-0.bmp", patched16(core, bmp_field::kCoreWidth, 0), Outcome::Refused);
    add("core-width-65535.bmp", patched16(core, bmp_field::kCoreWidth, 0xFFFF), Outcome::Refused);
    add("core-height-0.bmp", patched16(core, bmp_field::kCoreHeight, 0), Outcome::Refused);
    add("core-height-16385.bmp", patched16(core, bmp_field::kCoreHeight, 16385), Outcome::Refused);
    add("core-planes-2.bmp", patched16(core, bmp_field::kCorePlanes, 2), Outcome::Refused);
    for (uint16_t bits : {16, 32})   // a core header has no masks and GDI no such depths for it
        add("core-bits-" + std::to_string(bits) + ".bmp", patched16(core, bmp_field::kCoreBits, bits), Outcome::Refused);
    add("core-pixel-offset-25.bmp", patched32(core, bmp_field::kPixelOffset, 25), Outcome::Refused);
    {   // Each side allowed, the product above the pixel ceiling.
        Bytes b = patched16(core, bmp_field::kCoreWidth, 16384);
        putU16(b, bmp_field::kCoreHeight, 16384);
        add("core-pixels-above-ceiling.bmp", b, Outcome::Refused);
    }

    // Pixel offsets.
    for (uint32_t offset : {0u, 13u, 53u, static_cast<uint32_t>(base.size()), static_cast<uint32_t>(base.size() - 1),
                            0x80000000u, 0xFFFFFFFFu})
        add("pixel-offset-" + std::to_string(offset) + ".bmp", patched32(base, bmp_field::kPixelOffset, offset),
            Outcome::Refused);

    // Run-length data that lies: the checks pass it (the size fits the file);
    // the system's decoder must stay inside the picture and the buffer.
    {
        Bytes b = cut(rle8, getU32(rle8, bmp_field::kPixelOffset));
        const uint8_t runs[] = {255, 1, 255, 2, 0, 2, 200, 200, 0, 3, 9, 1, 2};   // long runs, a wild delta, a short absolute run
        b.insert(b.end(), std::begin(runs), std::end(runs));
        putU32(b, bmp_field::kImageSize, sizeof runs);
        add("rle8-overshoot-no-end.bmp", b, Outcome::Accepted);
    }
    {
        Bytes b = cut(rle8, getU32(rle8, bmp_field::kPixelOffset));
        const uint8_t runs[] = {0, 255, 1, 2, 3};   // absolute run of 255 with 3 bytes behind it
        b.insert(b.end(), std::begin(runs), std::end(runs));
        putU32(b, bmp_field::kImageSize, sizeof runs);
        add("rle8-absolute-beyond.bmp", b, Outcome::Accepted);
    }
    return out;
}

// ---------------------------------------------------------------- hostile JPEGs

namespace {

struct Segment {
    size_t start;
    size_t end;   // one past the segment, entropy-coded data included for SOS
    uint8_t marker;
};

// The marker segments of a well-formed file, in order, from SOI to EOI.
std::vector<Segment> segments(const Bytes& b) {
    std::vector<Segment> out;
    size_t p = 0;
    while (p + 1 < b.size() && b[p] == 0xFF) {
        const uint8_t marker = b[p + 1];
        if (marker == 0xD8 || marker == 0xD9) {
            out.push_back({p, p + 2, marker});
            p += 2;
            if (marker == 0xD9) break;
            continue;
        }
        if (p + 3 >= b.size()) break;
        size_t end = p + 2 + (b[p + 2] << 8 | b[p + 3]);
        if (marker == 0xDA) {
            while (end + 1 < b.size() &&
                   !(b[end] == 0xFF && b[end + 1] != 0 && !(b[end + 1] >= 0xD0 && b[end + 1] <= 0xD7)))
                ++end;
        }
        out.push_back({p, std::min(end, b.size()), marker});
        p = end;
    }
    return out;
}

const Segment* find(const std::vector<Segment>& list, uint8_t marker) {
    for (const Segment& s : list)
        if (s.marker == marker) return &s;
    return nullptr;
}

const Segment* findFrame(const std::vector<Segment>& list) {
    for (uint8_t m : {0xC0, 0xC1, 0xC2, 0xC9, 0xCA})
        if (const Segment* s = find(list, m)) return s;
    return nullptr;
}

Bytes withoutMarker(const Bytes& b, uint8_t marker) {
    Bytes out;
    for (const Segment& s : segments(b))
        if (s.marker != marker) out.insert(out.end(), b.begin() + s.start, b.begin() + s.end);
    return out;
}

}  // namespace

std::vector<HostileFile> hostileJpegs() {
    std::vector<HostileFile> out;
    auto add = [&](const std::string& name, Bytes bytes, Outcome outcome) {
        if (!bytes.empty() || name == "empty.jpg") out.push_back({name, std::move(bytes), outcome});
    };
    const Picture q = quadrants(48, 32);
    const Bytes base = encodeJpeg(q, {90, false, false, false, false, false, 0});
    const std::vector<Segment> parts = segments(base);
    const Segment* frame = findFrame(parts);
    const Segment* scan = find(parts, 0xDA);
    if (!frame || !scan) return out;
    const size_t scanData = scan->start + 2 + (base[scan->start + 2] << 8 | base[scan->start + 3]);

    auto withSize = [&](uint16_t width, uint16_t height) {
        Bytes b = base;
        b[frame->start + 5] = static_cast<uint8_t>(height >> 8);
        b[frame->start + 6] = static_cast<uint8_t>(height);
        b[frame->start + 7] = static_cast<uint8_t>(width >> 8);
        b[frame->start + 8] = static_cast<uint8_t>(width);
        return b;
    };
    auto cut = [&](size_t size) { return Bytes(base.begin(), base.begin() + std::min(size, base.size())); };

    add("ok.jpg", base, Outcome::Accepted);
    add("progressive.jpg", encodeJpeg(q, {90, false, true, false, false, false, 0}), Outcome::Accepted);
    add("arithmetic.jpg", encodeJpeg(q, {90, false, false, true, false, false, 0}), Outcome::Accepted);
    add("arithmetic-progressive.jpg", encodeJpeg(q, {90, false, true, true, false, false, 0}), Outcome::Accepted);
    add("grey.jpg", encodeJpeg(q, {90, false, false, false, true, false, 0}), Outcome::Accepted);
    add("restarts.jpg", encodeJpeg(q, {90, true, false, false, false, false, 1}), Outcome::Accepted);

    // Not JPEG at all.
    add("empty.jpg", {}, Outcome::Refused);
    add("wood.gif", Bytes{'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x80, 0, 0, 0, 0, 0, 255, 255, 255, ',', 0, 0,
                          0, 0, 1, 0, 1, 0, 0, 2, 2, 'D', 1, 0, ';'},
        Outcome::Refused);
    {
        Bytes b(600);
        uint32_t state = 12345;
        for (auto& byte : b) {
            state = state * 1103515245u + 12345u;
            byte = static_cast<uint8_t>(state >> 16);
        }
        b[0] = 0x42;
        add("garbage.jpg", b, Outcome::Refused);
    }
    add("soi-only.jpg", cut(2), Outcome::Refused);

    // Truncated: in the headers, the frame refused; in the scan, the rest grey.
    add("cut-in-tables.jpg", cut(parts[1].start + 7), Outcome::Refused);
    add("cut-after-scan-header.jpg", cut(scanData), Outcome::AcceptedWithWarnings);
    add("cut-in-half.jpg", cut(scanData + (base.size() - scanData) / 2), Outcome::AcceptedWithWarnings);
    add("cut-before-eoi.jpg", cut(base.size() - 2), Outcome::Either);

    // Damaged markers and data.
    {
        Bytes b = base;   // an end of image in the middle of the scan
        b[scanData + (base.size() - scanData) / 2] = 0xFF;
        b[scanData + (base.size() - scanData) / 2 + 1] = 0xD9;
        add("eoi-in-scan.jpg", b, Outcome::AcceptedWithWarnings);
    }
    {
        Bytes b = base;   // bytes of the scan overwritten
        for (size_t i = scanData + 10; i < b.size() - 2 && i < scanData + 40; i += 3) b[i] ^= 0x5A;
        add("scan-bytes-flipped.jpg", b, Outcome::Either);
    }
    {
        Bytes b = base;   // a reserved marker before the frame
        const Bytes bogus = {0xFF, 0x02, 0x00, 0x04, 0x00, 0x00};
        b.insert(b.begin() + frame->start, bogus.begin(), bogus.end());
        add("unknown-marker.jpg", b, Outcome::Refused);
    }
    {
        Bytes b = base;   // a frame header whose length runs past its fields
        b[frame->start + 3] = static_cast<uint8_t>(b[frame->start + 3] + 3);
        add("frame-length-wrong.jpg", b, Outcome::Refused);
    }
    {
        Bytes b = base;
        b[frame->start + 4] = 12;
        add("precision-12.jpg", b, Outcome::Refused);
    }
    {
        Bytes b = base;
        b[frame->start + 9] = 0;   // no components
        add("no-components.jpg", b, Outcome::Refused);
    }
    {
        Bytes b = cut(base.size() - 2);   // every row decoded, then a table too short to be one
        const Bytes tail = {0xFF, 0xC4, 0x00, 0x03, 0xFF, 0xFF, 0xD9};
        b.insert(b.end(), tail.begin(), tail.end());
        add("bad-table-after-scan.jpg", b, Outcome::Refused);
    }
    add("no-quant-tables.jpg", withoutMarker(base, 0xDB), Outcome::Refused);
    add("no-huffman-tables.jpg", withoutMarker(base, 0xC4), Outcome::Either);
    {
        Bytes b = encodeJpeg(q, {90, true, false, false, false, false, 1});
        for (size_t i = 2; i + 1 < b.size(); ++i)   // the first restart marker renumbered
            if (b[i] == 0xFF && b[i + 1] == 0xD0) {
                b[i + 1] = 0xD5;
                break;
            }
        add("restart-out-of-order.jpg", b, Outcome::Either);
    }

    // Sizes: only the header says them; no pixel memory may be taken.
    add("huge-65500x65500.jpg", withSize(65500, 65500), Outcome::Refused);
    add("wide-16385x1.jpg", withSize(16385, 1), Outcome::Refused);
    add("tall-1x16385.jpg", withSize(1, 16385), Outcome::Refused);
    add("square-8000x8000.jpg", withSize(8000, 8000), Outcome::Refused);
    add("zero-width.jpg", withSize(0, 32), Outcome::Refused);
    add("zero-height.jpg", withSize(48, 0), Outcome::Refused);

    // Colour that has no RGB conversion.
    add("cmyk.jpg", encodeJpeg(q, {90, false, false, false, false, true, 0}), Outcome::Refused);

    // Endless scans: the first scan of a progressive file, again and again.
    {
        const Bytes progressive = encodeJpeg(quadrants(16, 16), {90, false, true, false, false, false, 0});
        const std::vector<Segment> p = segments(progressive);
        const Segment* first = find(p, 0xDA);
        if (first) {
            Bytes b(progressive.begin(), progressive.begin() + first->end);
            for (int i = 0; i < 1100; ++i)
                b.insert(b.end(), progressive.begin() + first->start, progressive.begin() + first->end);
            b.insert(b.end(), progressive.begin() + first->end, progressive.end());
            add("scan-bomb.jpg", b, Outcome::Refused);
        }
    }
    return out;
}

// ---------------------------------------------------------------- scene lines

std::vector<std::string> sceneSeedLines() {
    return {
        "SPHERE ORG[0.0,0.0,0.0] SIZE[1.0,1.0,1.0] ROT[0.0,0.0,0.0] RGB[1.0,1.0,1.0] TEXTURE[ ] DENS[1.00]",
        "PLANE  ORG[0.0,0.0,0.0] SIZE[1.0,1.0,1.0] ROT[0.0,0.0,0.0] RGB[1.0,1.0,1.0] TEXTURE[ ] DENS[1.00]",
        "SPHERE24 ORG[+0.00,+0.00,+0.00] SIZE[+1.00,+1.00,+1.00] ROT[0.000000,0.000000,0.000000] "
        "RGB[+1.00,+1.00,+1.00] TEXTURE[quad-64.bmp] DENS[1.0000] SKIN[skin-bumps-100.bmp] SKINSCALE[0.5000] "
        "SHORTCUT[ ] TRANS[0] ",
        "PLANE20 ORG[-1.5,2,3e2] SIZE[2,0.5,2] ROT[1.5707963,0,-3.14] RGB[0.2,0.4,0.6] TEXTURE[tex\\wood.jpg] "
        "DENS[4] SKIN[..\\hills.jpg] SKINSCALE[-0.25] SHORTCUT[C:\\Data\\notes.txt] TRANS[1]",
        "CUBE ORG[1,2,3] SIZE[1,1,1] TEXTURE[ C:\\Tools\\Plug\\a b.bmp] SHORTCUT[\\\\server\\share\\x.doc]",
        "TRIANGLE ROT[0.1,0.2,0.3] RGB[1,0,0] TRANS[0.5]",
        "CYLINDER12 SIZE[0.5,2,0.5] RGB[0,1,0]",
        "CYLINDER3 SIZE[nan,inf,-inf] ORG[1e39,-1e39,0x10]",
        "SPHERE1 SKIN[x.jpg] SKINSCALE[0]",
        "PLANE1 SKIN[x.bmp] DENS[0]",
        "PLANE1024 RGB[1,1,1]",
        "SPHERE-5 ORG[1,2,3,4,5,6]",
        "SPHERE99999999999999999999 ORG[]",
        "PLANEx ORG(1){2}[3]",
        "SPHERE ORG[ , ,] SIZE[,,,] ROT[ 1 2 3 ]",
        "880",
        "//kind: comment",
        "CUBE\tORG[1,\t2,3]\tSHORTCUT[\tname with spaces.txt ]",
        "SPHERE8 SHORTCUT[a] ORG[1,2,3] SHORTCUT[b]",
        "TEXTURE[a.bmp] SKIN[b.bmp]",
    };
}

bool writeFiles(const std::string& directory, const std::vector<NamedFile>& files) {
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (error) return false;
    for (const NamedFile& f : files) {
        std::ofstream out(std::filesystem::path(directory) / f.name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(f.bytes.data()), static_cast<std::streamsize>(f.bytes.size()));
        if (!out) return false;
    }
    return true;
}

}  // namespace plexa::samples
