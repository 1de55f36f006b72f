#include "image/png_decode.h"

#include <cstdlib>
#include <cstring>

#include <png.h>

#include "image/bitmap_file.h"

namespace plexa::image {

namespace {

constexpr const char* kFailureCaption = "can't read png-file";
constexpr const char* kNotPng = "This file is not a PNG picture.";
constexpr const char* kTooLarge =
    "The picture is too large: at most 16384 pixels a side and 40 million pixels in all.";
constexpr const char* kDamaged = "The picture is damaged or incomplete";
constexpr const char* kNoMemory = "There is not enough memory for this picture.";

// Chunks libpng still reads once every ancillary one is skipped (PLTE, tRNS)
// are small; nothing else is kept or decompressed.
constexpr png_alloc_size_t kChunkMallocMax = 64 * 1024;
constexpr png_uint_32 kChunkCacheMax = 32;

uint32_t bigEndian32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 | p[3];
}

void say(const PngTarget& target, const char* caption, const char* text) {
    if (target.message) target.message(target.context, caption, text);
}

// Everything the failure path must undo lives here, outside the frame that
// calls setjmp, so that nothing it needs is lost to the jump. Only plain
// data: no destructor may be skipped by the jump.
struct Decode {
    png_structp png = nullptr;
    png_infop info = nullptr;
    png_bytep work = nullptr;        // malloc: four-channel rows before compositing
    png_bytepp rowPointers = nullptr;   // malloc: every row, for an interlaced picture
    bool allocated = false;          // the target's memory was taken
    bool targetRefused = false;      // the platform gave no pixel memory
    const char* reason = nullptr;    // set before an error this code raises itself
    char detail[96] = {};            // libpng's own words for the last error
};

void recordError(png_structp png, png_const_charp message) {
    Decode& d = *static_cast<Decode*>(png_get_error_ptr(png));
    std::snprintf(d.detail, sizeof d.detail, "%s", message ? message : "");
    // Straight back to run's setjmp: libpng's own handler would print first.
    png_longjmp(png, 1);
}

void ignoreWarning(png_structp, png_const_charp) {}

void releaseAll(Decode& d, const PngTarget& target) {
    std::free(d.work);
    std::free(d.rowPointers);
    d.work = nullptr;
    d.rowPointers = nullptr;
    if (d.png) png_destroy_read_struct(&d.png, d.info ? &d.info : nullptr, nullptr);
    d.png = nullptr;
    d.info = nullptr;
    if (d.allocated && target.release) target.release(target.context);
    d.allocated = false;
}

// Four-channel rows onto the background, into the target's three-channel rows.
void compositeRow(const uint8_t* in, uint8_t* out, uint32_t width, uint8_t background) {
    for (uint32_t x = 0; x < width; ++x, in += 4, out += 3) {
        const uint8_t alpha = in[3];
        if (alpha == 255) {
            out[0] = in[0];
            out[1] = in[1];
            out[2] = in[2];
        } else {
            out[0] = composite(in[0], alpha, background);
            out[1] = composite(in[1], alpha, background);
            out[2] = composite(in[2], alpha, background);
        }
    }
}

bool run(Decode& d, std::FILE* file, uint8_t background, const PngTarget& target, PngPicture& picture) {
    if (setjmp(png_jmpbuf(d.png))) {
        releaseAll(d, target);
        picture = PngPicture{};
        return false;
    }
    png_init_io(d.png, file);
    png_set_user_limits(d.png, kMaxImageSide, kMaxImageSide);
    png_set_chunk_cache_max(d.png, kChunkCacheMax);
    png_set_chunk_malloc_max(d.png, kChunkMallocMax);
    // Every chunk but IHDR, PLTE, tRNS, IDAT and IEND is skipped unread:
    // text, profiles, gamma and background alike.
    png_set_keep_unknown_chunks(d.png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    png_read_info(d.png, d.info);

    const png_uint_32 width = png_get_image_width(d.png, d.info);
    const png_uint_32 height = png_get_image_height(d.png, d.info);
    if (static_cast<int64_t>(width) * height > kMaxImagePixels) {
        d.reason = kTooLarge;
        png_error(d.png, "more pixels than the ceiling");
    }

    // Palette, grey below 8 bits and tRNS become 8-bit RGB, with alpha where
    // the picture has any; 16-bit channels are rounded, not cut.
    png_set_expand(d.png);
    png_set_scale_16(d.png);
    png_set_gray_to_rgb(d.png);
    const int passes = png_set_interlace_handling(d.png);
    png_read_update_info(d.png, d.info);
    const int channels = png_get_channels(d.png, d.info);
    if ((channels != 3 && channels != 4) || png_get_bit_depth(d.png, d.info) != 8 ||
        png_get_rowbytes(d.png, d.info) != static_cast<size_t>(width) * channels)
        png_error(d.png, "unexpected row format");

    const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~static_cast<size_t>(3);
    uint8_t* rows = target.allocate ? target.allocate(target.context, static_cast<int32_t>(width),
                                                      static_cast<int32_t>(height), stride)
                                    : nullptr;
    if (!rows) {
        d.targetRefused = true;
        png_error(d.png, "no pixel memory");
    }
    d.allocated = true;
    // The top row of the picture goes to the last row: the rows are stored bottom-up.
    auto targetRow = [&](png_uint_32 y) { return rows + static_cast<size_t>(height - 1 - y) * stride; };

    const size_t workRows = channels == 3 ? 0 : passes > 1 ? height : 1;
    if (workRows) {
        d.work = static_cast<png_bytep>(std::malloc(workRows * width * 4));
        if (!d.work) {
            d.reason = kNoMemory;
            png_error(d.png, "no memory for the alpha rows");
        }
    }
    if (passes > 1) {
        // Later passes fill in the rows of earlier ones: every row stays at hand.
        d.rowPointers = static_cast<png_bytepp>(std::malloc(height * sizeof(png_bytep)));
        if (!d.rowPointers) {
            d.reason = kNoMemory;
            png_error(d.png, "no memory for the row table");
        }
        for (png_uint_32 y = 0; y < height; ++y)
            d.rowPointers[y] = channels == 3 ? targetRow(y) : d.work + static_cast<size_t>(y) * width * 4;
        png_read_image(d.png, d.rowPointers);
        if (channels == 4)
            for (png_uint_32 y = 0; y < height; ++y) compositeRow(d.rowPointers[y], targetRow(y), width, background);
    } else {
        for (png_uint_32 y = 0; y < height; ++y) {
            if (channels == 3) {
                png_read_row(d.png, targetRow(y), nullptr);
            } else {
                png_read_row(d.png, d.work, nullptr);
                compositeRow(d.work, targetRow(y), width, background);
            }
        }
    }
    // Nothing after the last row is read: what trails the picture cannot
    // stop it from showing.
    picture.width = static_cast<int32_t>(width);
    picture.height = static_cast<int32_t>(height);
    picture.stride = stride;
    picture.rows = rows;
    d.allocated = false;   // the caller's now
    releaseAll(d, target);
    return true;
}

// The signature and the size in the header, judged before libpng is started,
// so that the user is told which of the two it was.
const char* judgeHeader(std::FILE* file) {
    uint8_t head[24];
    const size_t got = std::fread(head, 1, sizeof head, file);
    if (got < 8 || png_sig_cmp(head, 0, 8) != 0) return kNotPng;
    if (got == sizeof head && std::memcmp(head + 12, "IHDR", 4) == 0) {
        const uint32_t width = bigEndian32(head + 16), height = bigEndian32(head + 20);
        if (width > static_cast<uint32_t>(kMaxImageSide) || height > static_cast<uint32_t>(kMaxImageSide) ||
            static_cast<int64_t>(width) * height > kMaxImagePixels)
            return kTooLarge;
    }
    return nullptr;
}

}  // namespace

bool decodePngStream(std::FILE* file, const char* fullName, uint8_t background, const PngTarget& target,
                     PngPicture& picture) {
    picture = PngPicture{};
    char text[512];
    if (const char* refusal = judgeHeader(file)) {
        std::snprintf(text, sizeof text, "%s\n%s", fullName, refusal);
        say(target, kFailureCaption, text);
        return false;
    }
    if (std::fseek(file, 0, SEEK_SET) != 0) {
        std::snprintf(text, sizeof text, "%s\n%s.", fullName, kDamaged);
        say(target, kFailureCaption, text);
        return false;
    }
    Decode d;
    d.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &d, recordError, ignoreWarning);
    if (d.png) d.info = png_create_info_struct(d.png);
    if (!d.png || !d.info) {
        releaseAll(d, target);
        std::snprintf(text, sizeof text, "%s\n%s", fullName, kNoMemory);
        say(target, kFailureCaption, text);
        return false;
    }
    if (run(d, file, background, target, picture)) return true;
    if (d.targetRefused) {
        say(target, "couldn't create bitmap-handle", fullName);
    } else if (d.reason) {
        std::snprintf(text, sizeof text, "%s\n%s", fullName, d.reason);
        say(target, kFailureCaption, text);
    } else if (std::strstr(d.detail, "emory")) {
        std::snprintf(text, sizeof text, "%s\n%s", fullName, kNoMemory);
        say(target, kFailureCaption, text);
    } else {
        std::snprintf(text, sizeof text, "%s\n%s (%s).", fullName, kDamaged, d.detail);
        say(target, kFailureCaption, text);
    }
    return false;
}

bool decodePngFile(const char* fullName, uint8_t background, const PngTarget& target, PngPicture& picture) {
    picture = PngPicture{};
    std::FILE* file = std::fopen(fullName, "rb");
    if (!file) {
        say(target, "can't open png-file", fullName);
        return false;
    }
    const bool ok = decodePngStream(file, fullName, background, target, picture);
    std::fclose(file);
    return ok;
}

}  // namespace plexa::image
