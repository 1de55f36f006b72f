// PNG files for the samples and the hostile set (tool side), written with
// libpng; kept apart from the other formats so that a program that makes no
// PNG links no PNG code.
#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include <png.h>
#include <zlib.h>

#include "tools/make-samples/sample_images.h"

namespace plexa::samples {

uint32_t pngChunkCrc(const uint8_t* typeAndData, size_t size) {
    return static_cast<uint32_t>(crc32(0, typeAndData, static_cast<uInt>(size)));
}

namespace {

void appendBytes(png_structp png, png_bytep data, size_t size) {
    auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + size);
}
void flushNothing(png_structp) {}

// What the jump back needs lives outside the frame that calls setjmp.
struct Writer {
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::vector<png_byte> pixels;
    std::vector<png_bytep> rows;
    std::vector<png_color> palette;
    std::vector<png_byte> paletteAlpha;
};

bool write(Writer& w, const Picture& picture, const PngOptions& o, Bytes& out) {
    if (setjmp(png_jmpbuf(w.png))) return false;
    png_set_write_fn(w.png, &out, appendBytes, flushNothing);
    if (o.compression >= 0) png_set_compression_level(w.png, o.compression);
    png_set_IHDR(w.png, w.info, static_cast<png_uint_32>(picture.width), static_cast<png_uint_32>(picture.height),
                 o.bitDepth, o.colourType, o.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (o.colourType == PNG_COLOR_TYPE_PALETTE) {
        png_set_PLTE(w.png, w.info, w.palette.data(), static_cast<int>(w.palette.size()));
        if (!w.paletteAlpha.empty())
            png_set_tRNS(w.png, w.info, w.paletteAlpha.data(), static_cast<int>(w.paletteAlpha.size()), nullptr);
    } else if (o.keyColour) {
        const Rgb c = picture.pixels[0];
        const int shift = o.bitDepth < 8 ? 8 - o.bitDepth : 0;
        const int scale = o.bitDepth == 16 ? 257 : 1;
        png_color_16 key = {};
        key.gray = static_cast<png_uint_16>((c.r >> shift) * scale);
        key.red = static_cast<png_uint_16>(c.r * scale);
        key.green = static_cast<png_uint_16>(c.g * scale);
        key.blue = static_cast<png_uint_16>(c.b * scale);
        png_set_tRNS(w.png, w.info, nullptr, 0, &key);
    }
    png_write_info(w.png, w.info);
    if (o.bitDepth == 16) png_set_swap(w.png);   // the samples below are little-endian in memory
    png_set_packing(w.png);                       // sub-byte samples one a byte
    // png_write_image walks the passes itself.
    png_write_image(w.png, w.rows.data());
    png_write_end(w.png, nullptr);
    return true;
}

}  // namespace

Bytes encodePng(const Picture& picture, const PngOptions& o, const std::vector<uint8_t>& alpha) {
    const int type = o.colourType, depth = o.bitDepth;
    const bool hasAlpha = type == PNG_COLOR_TYPE_GRAY_ALPHA || type == PNG_COLOR_TYPE_RGB_ALPHA;
    const bool validDepth = type == PNG_COLOR_TYPE_GRAY      ? (depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16)
                            : type == PNG_COLOR_TYPE_PALETTE ? (depth == 1 || depth == 2 || depth == 4 || depth == 8)
                            : (type == 2 || type == 4 || type == 6) && (depth == 8 || depth == 16);
    if (!validDepth || picture.width <= 0 || picture.height <= 0) return {};
    if ((hasAlpha || (type == PNG_COLOR_TYPE_PALETTE && !alpha.empty())) && alpha.size() != picture.pixels.size())
        return {};

    auto w = std::make_unique<Writer>();
    std::map<Rgb, uint8_t> index;
    if (type == PNG_COLOR_TYPE_PALETTE) {
        for (size_t i = 0; i < picture.pixels.size(); ++i) {
            const Rgb& c = picture.pixels[i];
            if (index.count(c)) continue;
            if (w->palette.size() >= (1u << depth)) return {};
            index[c] = static_cast<uint8_t>(w->palette.size());
            w->palette.push_back({c.r, c.g, c.b});
            if (!alpha.empty()) w->paletteAlpha.push_back(alpha[i]);
        }
    }
    const int samples = type == PNG_COLOR_TYPE_RGB_ALPHA ? 4 : type == 2 ? 3 : type == 4 ? 2 : 1;
    const size_t bytesPerSample = depth == 16 ? 2 : 1;
    const size_t rowBytes = static_cast<size_t>(picture.width) * samples * bytesPerSample;
    w->pixels.assign(rowBytes * static_cast<size_t>(picture.height), 0);
    for (int y = 0; y < picture.height; ++y) {
        png_bytep row = w->pixels.data() + static_cast<size_t>(y) * rowBytes;
        w->rows.push_back(row);
        for (int x = 0; x < picture.width; ++x) {
            const size_t i = static_cast<size_t>(y) * picture.width + x;
            const Rgb& c = picture.pixels[i];
            uint8_t values[4] = {c.r, c.g, c.b, hasAlpha ? alpha[i] : uint8_t{255}};
            if (type == PNG_COLOR_TYPE_GRAY || type == PNG_COLOR_TYPE_GRAY_ALPHA) {
                values[0] = static_cast<uint8_t>(depth < 8 ? c.r >> (8 - depth) : c.r);
                values[1] = values[3];
            } else if (type == PNG_COLOR_TYPE_PALETTE) {
                values[0] = index[c];
            }
            for (int s = 0; s < samples; ++s) {
                if (depth == 16) {
                    const uint16_t v = static_cast<uint16_t>(values[s] * 257);
                    row[(static_cast<size_t>(x) * samples + s) * 2] = static_cast<png_byte>(v);
                    row[(static_cast<size_t>(x) * samples + s) * 2 + 1] = static_cast<png_byte>(v >> 8);
                } else {
                    row[static_cast<size_t>(x) * samples + s] = values[s];
                }
            }
        }
    }

    Bytes out;
    w->png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (w->png) w->info = png_create_info_struct(w->png);
    const bool ok = w->png && w->info && write(*w, picture, o, out);
    png_destroy_write_struct(&w->png, &w->info);
    return ok ? out : Bytes{};
}

// ---------------------------------------------------------------- hostile PNGs

namespace {

struct Chunk {
    size_t start;   // the length field
    size_t end;     // one past the CRC
    std::string type;
};

std::vector<Chunk> chunks(const Bytes& b) {
    std::vector<Chunk> out;
    size_t p = 8;
    while (p + 12 <= b.size()) {
        const size_t length = static_cast<size_t>(b[p]) << 24 | b[p + 1] << 16 | b[p + 2] << 8 | b[p + 3];
        if (p + 12 + length > b.size()) break;
        out.push_back({p, p + 12 + length, std::string(b.begin() + p + 4, b.begin() + p + 8)});
        p += 12 + length;
    }
    return out;
}

void putBig32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

// Makes the CRC of the chunk starting at `start` right again.
void fixCrc(Bytes& b, size_t start) {
    const size_t length = static_cast<size_t>(b[start]) << 24 | b[start + 1] << 16 | b[start + 2] << 8 | b[start + 3];
    putBig32(b, start + 8 + length, pngChunkCrc(b.data() + start + 4, length + 4));
}

Bytes chunk(const std::string& type, const Bytes& data) {
    Bytes b(8, 0);
    putBig32(b, 0, static_cast<uint32_t>(data.size()));
    std::memcpy(b.data() + 4, type.data(), 4);
    b.insert(b.end(), data.begin(), data.end());
    b.resize(b.size() + 4);
    fixCrc(b, 0);
    return b;
}

// `extra` inserted before the chunk of type `before`.
Bytes insertedBefore(const Bytes& b, const std::string& before, const Bytes& extra) {
    for (const Chunk& c : chunks(b))
        if (c.type == before) {
            Bytes out(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(c.start));
            out.insert(out.end(), extra.begin(), extra.end());
            out.insert(out.end(), b.begin() + static_cast<std::ptrdiff_t>(c.start), b.end());
            return out;
        }
    return {};
}

}  // namespace

std::vector<HostileFile> hostilePngs() {
    std::vector<HostileFile> out;
    auto add = [&](const std::string& name, Bytes bytes, Outcome outcome) {
        if (!bytes.empty() || name == "empty.png") out.push_back({name, std::move(bytes), outcome});
    };
    const Picture q = quadrants(48, 32);
    std::vector<uint8_t> ramp(q.pixels.size());
    for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<uint8_t>(i * 7);
    const Bytes base = encodePng(q);
    const Bytes interlaced = encodePng(q, {6, 16, true, false, -1}, ramp);
    const Bytes palette = encodePng(q, {3, 2, false, false, -1}, ramp);

    add("ok.png", base, Outcome::Accepted);
    add("ok-rgba16-interlaced.png", interlaced, Outcome::Accepted);
    add("ok-palette-trns.png", palette, Outcome::Accepted);
    // Chunks nobody needs, some damaged: skipped unread, the picture shows.
    {
        Bytes text = chunk("tEXt", Bytes(5000, 'x'));
        Bytes badCrc = chunk("zTXt", Bytes{'k', 0, 0, 0x78, 0x9c, 1, 2, 3});
        badCrc[badCrc.size() - 1] ^= 1;
        Bytes icc = chunk("iCCP", Bytes{'p', 0, 0, 0x78, 0x9c, 0xff, 0xff});
        Bytes b = insertedBefore(base, "IDAT", text);
        b = insertedBefore(b, "IDAT", badCrc);
        b = insertedBefore(b, "IDAT", icc);
        b = insertedBefore(b, "IDAT", chunk("gAMA", Bytes{0, 0, 0, 1}));
        b = insertedBefore(b, "IDAT", chunk("bKGD", Bytes{0, 0, 0, 0, 0, 0}));
        add("ok-ancillary-junk.png", b, Outcome::Accepted);
    }
    // After the last row nothing is read: a damaged tail leaves the picture.
    {
        Bytes b(base.begin(), base.end() - 12);
        const Bytes junk = chunk("IDAT", Bytes{1, 2, 3});
        b.insert(b.end(), junk.begin(), junk.end());
        add("ok-garbage-after-image.png", b, Outcome::Accepted);
    }

    add("empty.png", {}, Outcome::Refused);
    add("signature-only.png", Bytes(base.begin(), base.begin() + 8), Outcome::Refused);
    add("jpeg-named-png.png", encodeJpeg(q), Outcome::Refused);
    {
        Bytes b = base;
        b[1] = 'p';
        add("bad-signature.png", b, Outcome::Refused);
    }

    // Cut: at the end of every chunk but the last, and inside each. Once the
    // rows are complete nothing more is read: a missing IEND harms nothing.
    for (const Chunk& c : chunks(base)) {
        if (c.type == "IEND") continue;
        add("cut-after-" + c.type + ".png", Bytes(base.begin(), base.begin() + c.end),
            c.type == "IDAT" ? Outcome::Accepted : Outcome::Refused);
        add("cut-inside-" + c.type + ".png", Bytes(base.begin(), base.begin() + (c.start + c.end) / 2), Outcome::Refused);
    }
    for (const Chunk& c : chunks(interlaced))
        if (c.type == "IDAT")
            add("cut-inside-interlaced-IDAT.png", Bytes(interlaced.begin(), interlaced.begin() + (c.start + c.end) / 2),
                Outcome::Refused);

    // Headers that lie, CRCs made right so that libpng reads them.
    const size_t ihdr = 8;
    auto header = [&](const Bytes& from, size_t offset, std::initializer_list<uint8_t> bytes) {
        Bytes b = from;
        std::copy(bytes.begin(), bytes.end(), b.begin() + static_cast<std::ptrdiff_t>(ihdr + 8 + offset));
        fixCrc(b, ihdr);
        return b;
    };
    add("width-0.png", header(base, 0, {0, 0, 0, 0}), Outcome::Refused);
    add("height-0.png", header(base, 4, {0, 0, 0, 0}), Outcome::Refused);
    add("width-16385.png", header(base, 0, {0, 0, 0x40, 0x01}), Outcome::Refused);
    add("height-2to31.png", header(base, 4, {0x80, 0, 0, 0}), Outcome::Refused);
    add("16384x16384.png", header(header(base, 0, {0, 0, 0x40, 0}), 4, {0, 0, 0x40, 0}), Outcome::Refused);
    add("16384x2442.png", header(header(base, 0, {0, 0, 0x40, 0}), 4, {0, 0, 0x09, 0x8a}), Outcome::Refused);
    add("depth-3.png", header(base, 8, {3}), Outcome::Refused);
    add("rgb-depth-4.png", header(base, 8, {4}), Outcome::Refused);
    add("colour-type-5.png", header(base, 9, {5}), Outcome::Refused);
    add("compression-1.png", header(base, 10, {1}), Outcome::Refused);
    add("filter-method-1.png", header(base, 11, {1}), Outcome::Refused);
    add("interlace-2.png", header(base, 12, {2}), Outcome::Refused);
    add("palette-type-without-plte.png", header(base, 8, {8, 3}), Outcome::Refused);
    {
        Bytes b = base;   // IHDR's CRC wrong: a critical chunk
        b[ihdr + 8 + 13] ^= 0xFF;
        add("ihdr-crc.png", b, Outcome::Refused);
    }
    // The same size, more rows than the data holds: a smaller picture's data.
    add("rows-missing.png", header(base, 4, {0, 0, 0, 64}), Outcome::Refused);

    // Bits flipped in the compressed rows, the CRC made right: the inflater
    // and the filters meet the damage. Some flips still decode.
    for (const Bytes* from : {&base, &interlaced, &palette}) {
        const std::string kind = from == &base ? "rgb" : from == &interlaced ? "interlaced" : "palette";
        for (const Chunk& c : chunks(*from)) {
            if (c.type != "IDAT") continue;
            const size_t length = c.end - c.start - 12;
            for (size_t at : {size_t{0}, size_t{1}, size_t{2}, length / 3, length / 2, length - 5, length - 1}) {
                for (uint8_t bit : {0x01, 0x80}) {
                    Bytes b = *from;
                    b[c.start + 8 + at] ^= bit;
                    fixCrc(b, c.start);
                    add("flip-" + kind + "-" + std::to_string(at) + "-" + std::to_string(bit) + ".png", b,
                        Outcome::Either);
                }
            }
            break;
        }
    }
    // A palette with fewer entries than the pixels index (decoded as black
    // by libpng), and a tRNS longer than the palette.
    {
        Bytes b = palette;
        for (const Chunk& c : chunks(b))
            if (c.type == "PLTE") {
                putBig32(b, c.start, 3);
                b.erase(b.begin() + static_cast<std::ptrdiff_t>(c.start + 11), b.begin() + static_cast<std::ptrdiff_t>(c.end - 4));
                fixCrc(b, c.start);
                break;
            }
        add("palette-too-short.png", b, Outcome::Either);
    }
    {   // A huge chunk declared and never delivered.
        Bytes b = insertedBefore(base, "IDAT", chunk("tEXt", Bytes{'a', 0, 'b'}));
        putBig32(b, chunks(base)[1].start, 0x7FFFFFF0);
        add("chunk-length-huge.png", b, Outcome::Refused);
    }
    {   // Rows that inflate to far more than the picture needs.
        Picture small = solid(8, 8, {10, 20, 30});
        Bytes b = encodePng(small, {2, 8, false, false, 9});
        Bytes bomb = encodePng(solid(1500, 1500, {0, 0, 0}), {2, 8, false, false, 9});
        for (const Chunk& c : chunks(bomb))
            if (c.type == "IDAT") b = insertedBefore(b, "IEND", Bytes(bomb.begin() + static_cast<std::ptrdiff_t>(c.start), bomb.begin() + static_cast<std::ptrdiff_t>(c.end)));
        add("extra-data-after-rows.png", b, Outcome::Accepted);
    }
    return out;
}

}  // namespace plexa::samples
