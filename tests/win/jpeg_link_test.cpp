// The libjpeg-turbo that the build compiles itself, exercised the way the
// image loader will use it: version 6b interface, in-memory source, the
// floating-point DCT, an error manager that jumps back instead of exiting.
//
// Built twice from this one file: for Windows, against the copy linked into
// the DLL, and natively (PLEXA_BUNDLED_JPEG), against the copy the fuzzers
// decode with. Both must come from the same source and both must run the SIMD
// code, or a fuzzer would test code the DLL never runs.
#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <jerror.h>

#include <gtest/gtest.h>

// Internal entry points of the library's SIMD dispatcher (simd/jsimd.h, not
// installed): 1 when the SIMD routine will be used on this machine.
extern "C" int jsimd_can_idct_float(void);
extern "C" int jsimd_can_fdct_float(void);
extern "C" int jsimd_can_ycc_rgb(void);

#define PLEXA_STRINGIFY2(x) #x
#define PLEXA_STRINGIFY(x) PLEXA_STRINGIFY2(x)

namespace {

// Neither side is a multiple of the 8 or 16 pixel block size, so partial
// blocks at the right and bottom edges are decoded too.
constexpr int kWidth = 61;
constexpr int kHeight = 37;

// A flat patch whose colour can be checked closely, on smooth gradients that
// make every DCT coefficient matter.
constexpr int kPatchX = 16, kPatchY = 8, kPatchSize = 16;
constexpr unsigned char kPatch[3] = {200, 40, 90};

std::vector<unsigned char> makePicture()
{
    std::vector<unsigned char> rgb(kWidth * kHeight * 3);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            unsigned char* p = &rgb[(y * kWidth + x) * 3];
            const bool inPatch = x >= kPatchX && x < kPatchX + kPatchSize && y >= kPatchY && y < kPatchY + kPatchSize;
            p[0] = inPatch ? kPatch[0] : static_cast<unsigned char>(x * 4);
            p[1] = inPatch ? kPatch[1] : static_cast<unsigned char>(y * 6);
            p[2] = inPatch ? kPatch[2] : static_cast<unsigned char>(255 - (x + y) * 2);
        }
    }
    return rgb;
}

// The library's default error manager is fine here: a failure to encode valid
// pixels would end the test program, which is a failure all the same.
std::vector<unsigned char> encode(const std::vector<unsigned char>& rgb)
{
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&c, &out, &outSize);
    c.image_width = kWidth;
    c.image_height = kHeight;
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 100, TRUE);
    // No chroma subsampling, so that the colours can be compared per pixel.
    for (int i = 0; i < c.num_components; ++i) {
        c.comp_info[i].h_samp_factor = 1;
        c.comp_info[i].v_samp_factor = 1;
    }
    c.dct_method = JDCT_FLOAT;
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(&rgb[c.next_scanline * kWidth * 3]);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    std::vector<unsigned char> jpeg(out, out + outSize);
    jpeg_destroy_compress(&c);
    std::free(out);
    return jpeg;
}

struct ErrorTrap {
    jpeg_error_mgr base;  // first, so the library's pointer is ours too
    std::jmp_buf jump;
};

void trapErrorExit(j_common_ptr cinfo)
{
    std::longjmp(reinterpret_cast<ErrorTrap*>(cinfo->err)->jump, 1);
}

// Warnings about damaged data are counted by the library in num_warnings;
// nothing is written to the console.
void ignoreMessage(j_common_ptr) {}

struct Decoded {
    bool ok = false;
    int errorCode = 0;
    std::string errorText;
    long warnings = 0;
    int width = 0, height = 0, components = 0;
    std::vector<unsigned char> pixels;
};

// Only trivially destructible locals live in this frame, and the result is
// written through a pointer, so nothing is lost or leaked when the library
// jumps back here.
void decodeInto(const std::vector<unsigned char>& jpeg, J_DCT_METHOD method, Decoded* out)
{
    jpeg_decompress_struct d;
    ErrorTrap trap;
    d.err = jpeg_std_error(&trap.base);
    trap.base.error_exit = trapErrorExit;
    trap.base.output_message = ignoreMessage;
    if (setjmp(trap.jump)) {
        char text[JMSG_LENGTH_MAX];
        (*d.err->format_message)(reinterpret_cast<j_common_ptr>(&d), text);
        out->ok = false;
        out->errorCode = d.err->msg_code;
        out->errorText = text;
        jpeg_destroy_decompress(&d);
        return;
    }
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, const_cast<unsigned char*>(jpeg.data()), static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&d, TRUE);
    d.out_color_space = JCS_RGB;
    d.dct_method = method;
    jpeg_start_decompress(&d);
    out->width = static_cast<int>(d.output_width);
    out->height = static_cast<int>(d.output_height);
    out->components = d.output_components;
    const size_t stride = static_cast<size_t>(d.output_width) * d.output_components;
    out->pixels.assign(stride * d.output_height, 0);
    while (d.output_scanline < d.output_height) {
        JSAMPROW row = &out->pixels[d.output_scanline * stride];
        jpeg_read_scanlines(&d, &row, 1);
    }
    jpeg_finish_decompress(&d);
    out->warnings = trap.base.num_warnings;
    out->ok = true;
    jpeg_destroy_decompress(&d);
}

Decoded decode(const std::vector<unsigned char>& jpeg, J_DCT_METHOD method = JDCT_FLOAT)
{
    Decoded result;
    decodeInto(jpeg, method, &result);
    return result;
}

}  // namespace

TEST(BundledJpeg, IsTheVersionTheBuildFetched)
{
    EXPECT_STREQ(PLEXA_STRINGIFY(LIBJPEG_TURBO_VERSION), PLEXA_EXPECTED_JPEG_VERSION);
    EXPECT_EQ(JPEG_LIB_VERSION, 62);  // the version 6b interface
}

TEST(BundledJpeg, RunsItsSimdCode)
{
    EXPECT_EQ(jsimd_can_idct_float(), 1);
    EXPECT_EQ(jsimd_can_fdct_float(), 1);
    EXPECT_EQ(jsimd_can_ycc_rgb(), 1);
}

TEST(BundledJpeg, FloatDctDecodesWhatItEncoded)
{
    const std::vector<unsigned char> picture = makePicture();
    const std::vector<unsigned char> jpeg = encode(picture);
    ASSERT_GT(jpeg.size(), 2u);
    EXPECT_EQ(jpeg[0], 0xFF);
    EXPECT_EQ(jpeg[1], 0xD8);

    const Decoded got = decode(jpeg);
    ASSERT_TRUE(got.ok) << got.errorText;
    EXPECT_EQ(got.warnings, 0);
    ASSERT_EQ(got.width, kWidth);
    ASSERT_EQ(got.height, kHeight);
    ASSERT_EQ(got.components, 3);
    ASSERT_EQ(got.pixels.size(), picture.size());

    int worst = 0;
    long total = 0;
    for (size_t i = 0; i < picture.size(); ++i) {
        const int diff = std::abs(int(got.pixels[i]) - int(picture[i]));
        worst = std::max(worst, diff);
        total += diff;
    }
    // Quality 100 without subsampling: only rounding in the DCT and the colour
    // conversion remains, a few levels at the patch's sharp edges.
    EXPECT_LE(worst, 12);
    EXPECT_LT(double(total) / picture.size(), 1.5);

    // Inside the flat patch, away from its edges.
    for (int y = kPatchY + 4; y < kPatchY + kPatchSize - 4; ++y) {
        for (int x = kPatchX + 4; x < kPatchX + kPatchSize - 4; ++x) {
            for (int c = 0; c < 3; ++c) {
                EXPECT_NEAR(got.pixels[(y * kWidth + x) * 3 + c], kPatch[c], 2) << "x " << x << " y " << y;
            }
        }
    }
}

TEST(BundledJpeg, FloatAndIntegerDctAgree)
{
    const std::vector<unsigned char> jpeg = encode(makePicture());
    const Decoded viaFloat = decode(jpeg, JDCT_FLOAT);
    const Decoded viaInteger = decode(jpeg, JDCT_ISLOW);
    ASSERT_TRUE(viaFloat.ok && viaInteger.ok);
    ASSERT_EQ(viaFloat.pixels.size(), viaInteger.pixels.size());
    int worst = 0;
    for (size_t i = 0; i < viaFloat.pixels.size(); ++i) {
        worst = std::max(worst, std::abs(int(viaFloat.pixels[i]) - int(viaInteger.pixels[i])));
    }
    EXPECT_LE(worst, 2);
}

TEST(BundledJpeg, NotAJpegReachesTheReplacedErrorExit)
{
    std::vector<unsigned char> jpeg = encode(makePicture());
    jpeg[0] = 'B';
    jpeg[1] = 'M';
    const Decoded got = decode(jpeg);
    EXPECT_FALSE(got.ok);
    EXPECT_EQ(got.errorCode, JERR_NO_SOI);
    EXPECT_EQ(got.errorText.rfind("Not a JPEG file", 0), 0u) << got.errorText;
}

TEST(BundledJpeg, CutHeaderReachesTheReplacedErrorExit)
{
    std::vector<unsigned char> jpeg = encode(makePicture());
    jpeg.resize(40);
    const Decoded got = decode(jpeg);
    EXPECT_FALSE(got.ok);
    EXPECT_NE(got.errorCode, 0);
    EXPECT_FALSE(got.errorText.empty());
}

// Data cut inside the scan is only a warning to libjpeg: the rest of the
// picture comes out grey. The loader can tell from the warning count.
TEST(BundledJpeg, CutScanDecodesWithAWarning)
{
    std::vector<unsigned char> jpeg = encode(makePicture());
    jpeg.resize(jpeg.size() / 2);
    const Decoded got = decode(jpeg);
    ASSERT_TRUE(got.ok) << got.errorText;
    EXPECT_GT(got.warnings, 0);
    EXPECT_EQ(got.width, kWidth);
    EXPECT_EQ(got.height, kHeight);
}

TEST(BundledJpeg, DecodesAgainAfterAnError)
{
    std::vector<unsigned char> bad = encode(makePicture());
    bad[0] = 0;
    EXPECT_FALSE(decode(bad).ok);
    const Decoded good = decode(encode(makePicture()));
    EXPECT_TRUE(good.ok) << good.errorText;
}
