#include "image/jpeg_decode.h"

#include <csetjmp>
#include <cstring>

#include "image/bitmap_file.h"

// jpeglib.h expects size_t and FILE to be declared first.
#include <jerror.h>
#include <jpeglib.h>

namespace plexa::image {

namespace {

struct ErrorManager {
    jpeg_error_mgr standard;   // first, so the library's pointer is ours too
    std::jmp_buf failure;
    const JpegTarget* target;
};

void outputMessage(j_common_ptr info) {
    const jpeg_error_mgr* errors = info->err;
    const ErrorManager* manager = reinterpret_cast<const ErrorManager*>(errors);
    char text[256];
    // The text parameter shares its storage with the integer ones and need not
    // be terminated: it is read as at most its own 80 bytes.
    std::snprintf(text, sizeof text, "msg_code %d:%d-%d-%d\n%.*s", errors->msg_code, errors->msg_parm.i[0],
                  errors->msg_parm.i[1], errors->msg_parm.i[2], JMSG_STR_PARM_MAX, errors->msg_parm.s);
    if (manager->target->message) manager->target->message(manager->target->context, "JPEG BIG BUG", text);
}

[[noreturn]] void errorExit(j_common_ptr info) {
    (*info->err->output_message)(info);
    std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->failure, 1);
}

// Called between passes and scans: a progressive file with thousands of tiny
// scans would otherwise keep the host busy for minutes.
void watchScans(j_common_ptr info) {
    if (!info->is_decompressor) return;
    const j_decompress_ptr decompress = reinterpret_cast<j_decompress_ptr>(info);
    if (decompress->input_scan_number > kMaxJpegScans) ERREXIT1(info, JERR_IMAGE_TOO_BIG, kMaxJpegScans);
}

void say(const JpegTarget& target, const char* caption, const char* text) {
    if (target.message) target.message(target.context, caption, text);
}

// Everything the failure path must undo lives here, outside the frame that
// calls setjmp, so that nothing it needs is lost to the jump.
struct Decode {
    jpeg_decompress_struct info;
    ErrorManager errors;
    jpeg_progress_mgr progress;
    bool allocated = false;
    JSAMPROW rowPointers[4];
};

bool run(Decode& d, std::FILE* file, const char* fullName, const JpegTarget& target, JpegPicture& picture) {
    if (setjmp(d.errors.failure)) {
        jpeg_destroy_decompress(&d.info);
        if (d.allocated && target.release) target.release(target.context);
        picture = JpegPicture{};
        return false;
    }
    jpeg_create_decompress(&d.info);
    d.progress.progress_monitor = watchScans;
    d.info.progress = &d.progress;
    jpeg_stdio_src(&d.info, file);
    jpeg_read_header(&d.info, TRUE);

    // Refused before any pixel memory is taken; the box names the ceiling.
    if (d.info.image_width > static_cast<JDIMENSION>(kMaxImageSide) ||
        d.info.image_height > static_cast<JDIMENSION>(kMaxImageSide) ||
        static_cast<int64_t>(d.info.image_width) * d.info.image_height > kMaxImagePixels)
        ERREXIT1(&d.info, JERR_IMAGE_TOO_BIG, kMaxImageSide);

    d.info.out_color_space = JCS_RGB;
    d.info.dct_method = JDCT_FLOAT;
    jpeg_start_decompress(&d.info);

    const int32_t width = static_cast<int32_t>(d.info.output_width);
    const int32_t height = static_cast<int32_t>(d.info.output_height);
    const size_t stride = (static_cast<size_t>(width) * d.info.output_components + 3) & ~static_cast<size_t>(3);
    uint8_t* rows = target.allocate ? target.allocate(target.context, width, height, stride) : nullptr;
    if (!rows) {
        say(target, "couldn't create bitmap-handle", fullName);
        std::longjmp(d.errors.failure, 1);
    }
    d.allocated = true;

    // The top scanline goes to the last row: the rows are stored bottom-up.
    while (d.info.output_scanline < d.info.output_height) {
        const JDIMENSION first = d.info.output_scanline;
        JDIMENSION wanted = d.info.output_height - first;
        if (wanted > 4) wanted = 4;
        for (JDIMENSION i = 0; i < wanted; ++i)
            d.rowPointers[i] = rows + static_cast<size_t>(height - 1 - static_cast<int32_t>(first + i)) * stride;
        if (jpeg_read_scanlines(&d.info, d.rowPointers, wanted) == 0) break;
    }
    jpeg_finish_decompress(&d.info);
    picture.width = width;
    picture.height = height;
    picture.stride = stride;
    picture.rows = rows;
    picture.warnings = static_cast<int>(d.errors.standard.num_warnings);
    jpeg_destroy_decompress(&d.info);
    return true;
}

}  // namespace

bool decodeJpegStream(std::FILE* file, const char* fullName, const JpegTarget& target, JpegPicture& picture) {
    picture = JpegPicture{};
    Decode d{};
    d.info.err = jpeg_std_error(&d.errors.standard);
    d.errors.standard.output_message = outputMessage;
    d.errors.standard.error_exit = errorExit;
    d.errors.target = &target;
    const bool ok = run(d, file, fullName, target, picture);
    if (ok && picture.warnings > 0) say(target, "warnings !", fullName);
    return ok;
}

bool decodeJpegFile(const char* fullName, const JpegTarget& target, JpegPicture& picture) {
    picture = JpegPicture{};
    std::FILE* file = std::fopen(fullName, "rb");
    if (!file) {
        say(target, "can't open jpeg-file", fullName);
        return false;
    }
    const bool ok = decodeJpegStream(file, fullName, target, picture);
    std::fclose(file);
    return ok;
}

}  // namespace plexa::image
