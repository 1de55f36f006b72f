// The steps of loading a 4000 x 3000 JPEG material, natively in the OSMesa
// context the other benchmarks use:
//
//   decode      image::decodeJpegFile into plain memory (the DLL decodes into a
//               DIB section), against libjpeg-turbo's own djpeg on the same
//               file in the same run (a child process: its figure includes
//               process start)
//   read-back   on Windows GetDIBits copies the 24-bit DIB section into a
//               width * height * 4 buffer, bottom-up; here the equivalent row
//               copy stands in for it
//   scaling     gluScaleImage (GL_RGB, GL_UNSIGNED_BYTE) to the power-of-two
//               size image::roundToPowerOfTwo gives, and image::scaleImage,
//               which gives the same bytes, on one and on two threads
//   upload      image::createTexture, i.e. glTexImage2D of the scaled pixels
//
//
// Then the whole of a material against the whole of a skin, for the JPEG and
// for the same picture as a 24-bit bitmap file (read whole and checked; a row
// copy stands in for CreateDIBitmap): each from the file to its texture or
// heights, the material once with gluScaleImage (as the loader was) and once
// with image::scaleImage (as it is, the JPEG's pixels scaled where they were
// decoded instead of read back first).
//
// The same for a PNG of the same picture (default compression, not
// interlaced): our decode against stb_image's on the same file, and the PNG
// as a material against the PNG as a skin.
//
// The JPEG and the PNG are made in the run by the project's sample encoders
// from a photo-like picture (gradients, texture and noise), so their entropy
// coding does real work.
#include <benchmark/benchmark.h>

#include <GL/glu.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "image/bitmap_file.h"
#include "image/caches.h"
#include "image/jpeg_decode.h"
#include "image/png_decode.h"
#include "image/scale.h"
#include "render/gl.h"
#include "tools/make-samples/sample_images.h"

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#include <stb/stb_image.h>

extern char** environ;

namespace {

using namespace plexa;
using image::paddedStride;

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;
constexpr const char* kJpegName = "material-4000x3000.jpg";

// Smooth light falling across the frame, a wavy texture and per-pixel noise,
// as a photograph has; a flat picture would leave the entropy decoder idle.
samples::Picture photoLike() {
    samples::Picture p(kWidth, kHeight);
    uint32_t state = 12345;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            state = state * 1664525u + 1013904223u;
            const double noise = static_cast<double>(state >> 24) / 255.0 - 0.5;
            const double u = static_cast<double>(x) / kWidth, v = static_cast<double>(y) / kHeight;
            const double light = 0.35 + 0.5 * u * (1.0 - 0.4 * v);
            const double texture = 0.12 * std::sin(x * 0.031 + 3.0 * std::sin(y * 0.017)) * std::cos(y * 0.043);
            auto channel = [&](double tint) {
                const double value = 255.0 * (light * tint + texture) + 18.0 * noise;
                return static_cast<uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value);
            };
            p.at(x, y) = {channel(1.0), channel(0.8 + 0.2 * v), channel(0.6 + 0.3 * u)};
        }
    }
    return p;
}

// Written once per run into the benchmark's working directory.
const std::string& jpegFile() {
    static const std::string name = [] {
        const samples::Bytes bytes = samples::encodeJpeg(photoLike());
        std::FILE* file = std::fopen(kJpegName, "wb");
        if (!file || bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
            if (file) std::fclose(file);
            return std::string();
        }
        std::fclose(file);
        return std::string(kJpegName);
    }();
    return name;
}

// ---------------------------------------------------------------- decode

struct PlainMemory {
    std::unique_ptr<uint8_t[]> rows;
};

uint8_t* allocatePlain(void* context, int32_t, int32_t height, size_t stride) {
    auto& memory = *static_cast<PlainMemory*>(context);
    memory.rows.reset(new uint8_t[stride * static_cast<size_t>(height)]);
    return memory.rows.get();
}

void releasePlain(void* context) { static_cast<PlainMemory*>(context)->rows.reset(); }

void reportMessage(void*, const char* caption, const char* text) { std::fprintf(stderr, "%s: %s\n", caption, text); }

bool decode(PlainMemory& memory, image::JpegPicture& picture) {
    image::JpegTarget target;
    target.context = &memory;
    target.message = reportMessage;
    target.allocate = allocatePlain;
    target.release = releasePlain;
    return image::decodeJpegFile(jpegFile().c_str(), target, picture);
}

// The decoded picture, shared by the steps after decoding.
struct Decoded {
    PlainMemory memory;
    image::JpegPicture picture;
    bool ok = false;
};

const Decoded& decoded() {
    static Decoded d = [] {
        Decoded result;
        result.ok = !jpegFile().empty() && decode(result.memory, result.picture);
        return result;
    }();
    return d;
}

// Fresh pixel memory every time, as a new DIB section is.
void DecodeJpeg(benchmark::State& state) {
    if (jpegFile().empty()) return state.SkipWithError("could not write the test JPEG");
    for (auto _ : state) {
        PlainMemory memory;
        image::JpegPicture picture;
        if (!decode(memory, picture)) return state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(picture.rows);
    }
    state.SetLabel("our decode: float DCT, RGB, bottom-up rows");
}
BENCHMARK(DecodeJpeg)->Unit(benchmark::kMillisecond)->UseRealTime();

// djpeg writing a BMP (bottom-up, as ours) to /dev/null.
void Djpeg(benchmark::State& state, const char* dct) {
    if (jpegFile().empty()) return state.SkipWithError("could not write the test JPEG");
    std::string arguments[] = {"djpeg", "-dct", dct, "-bmp", "-outfile", "/dev/null", jpegFile()};
    char* argv[8] = {};
    for (int i = 0; i < 7; ++i) argv[i] = arguments[i].data();
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        pid_t child = 0;
        if (posix_spawnp(&child, "djpeg", nullptr, nullptr, argv, environ) != 0)
            return state.SkipWithError("djpeg not found (Debian package libjpeg-turbo-progs)");
        int status = 0;
        if (waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
            return state.SkipWithError("djpeg failed");
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    state.SetLabel(std::string("djpeg -dct ") + dct + " -bmp, wall time including process start");
}
BENCHMARK_CAPTURE(Djpeg, float, "float")->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK_CAPTURE(Djpeg, int, "int")->Unit(benchmark::kMillisecond)->UseManualTime();

// ---------------------------------------------------------------- the other steps


// GetDIBits of a 24-bit section into a 24-bit, bottom-up read header: row for
// row the same layout, into the loader's width * height * 4 buffer.
void ReadBack(benchmark::State& state) {
    const Decoded& d = decoded();
    if (!d.ok) return state.SkipWithError("decode failed");
    const size_t pixels = static_cast<size_t>(d.picture.width) * static_cast<size_t>(d.picture.height);
    const size_t stride = paddedStride(d.picture.width);
    for (auto _ : state) {
        std::unique_ptr<uint8_t[]> original(new uint8_t[pixels * 4]);
        for (int32_t row = 0; row < d.picture.height; ++row)
            std::memcpy(original.get() + row * stride, d.picture.rows + row * d.picture.stride, stride);
        benchmark::DoNotOptimize(original.get());
        benchmark::ClobberMemory();
    }
    state.SetLabel("row copy standing in for GetDIBits");
}
BENCHMARK(ReadBack)->Unit(benchmark::kMillisecond)->UseRealTime();

void ScaleImage(benchmark::State& state) {
    const Decoded& d = decoded();
    if (!d.ok) return state.SkipWithError("decode failed");
    const int32_t width = image::roundToPowerOfTwo(d.picture.width);
    const int32_t height = image::roundToPowerOfTwo(d.picture.height);
    std::unique_ptr<uint8_t[]> scaled(new uint8_t[paddedStride(width) * static_cast<size_t>(height)]);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    for (auto _ : state) {
        if (gluScaleImage(GL_RGB, d.picture.width, d.picture.height, GL_UNSIGNED_BYTE, d.picture.rows, width, height,
                          GL_UNSIGNED_BYTE, scaled.get()) != 0)
            return state.SkipWithError("gluScaleImage failed");
        benchmark::ClobberMemory();
    }
    state.SetLabel("gluScaleImage " + std::to_string(d.picture.width) + "x" + std::to_string(d.picture.height) +
                   " -> " + std::to_string(width) + "x" + std::to_string(height));
}
BENCHMARK(ScaleImage)->Unit(benchmark::kMillisecond)->UseRealTime();

// The loader's own scaling, the same bytes as gluScaleImage, on 1 and 2 threads.
void OwnScaling(benchmark::State& state) {
    const Decoded& d = decoded();
    if (!d.ok) return state.SkipWithError("decode failed");
    const int32_t width = image::roundToPowerOfTwo(d.picture.width);
    const int32_t height = image::roundToPowerOfTwo(d.picture.height);
    std::unique_ptr<uint8_t[]> scaled(new uint8_t[paddedStride(width) * static_cast<size_t>(height)]);
    for (auto _ : state) {
        image::scaleImage(d.picture.rows, d.picture.width, d.picture.height, scaled.get(), width, height,
                          static_cast<int>(state.range(0)));
        benchmark::ClobberMemory();
    }
    state.SetLabel("image::scaleImage, threads " + std::to_string(state.range(0)));
}
BENCHMARK(OwnScaling)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// A picture reduced on one axis, where the boxes' areas are not 1: 4800 x 3600
// random pixels to 4096 x 4096. range(0): 0 gluScaleImage, else our threads.
void ReducingScaling(benchmark::State& state) {
    constexpr int32_t kIn[2] = {4800, 3600}, kOut = 4096;
    std::vector<uint8_t> in(paddedStride(kIn[0]) * kIn[1]);
    uint32_t seed = 3;
    for (auto& byte : in) byte = static_cast<uint8_t>((seed = seed * 1664525u + 1013904223u) >> 24);
    std::vector<uint8_t> out(paddedStride(kOut) * kOut);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    for (auto _ : state) {
        if (state.range(0) == 0)
            gluScaleImage(GL_RGB, kIn[0], kIn[1], GL_UNSIGNED_BYTE, in.data(), kOut, kOut, GL_UNSIGNED_BYTE, out.data());
        else
            image::scaleImage(in.data(), kIn[0], kIn[1], out.data(), kOut, kOut, static_cast<int>(state.range(0)));
        benchmark::ClobberMemory();
    }
    state.SetLabel(state.range(0) == 0 ? "gluScaleImage 4800x3600 -> 4096x4096"
                                       : "image::scaleImage, threads " + std::to_string(state.range(0)));
}
BENCHMARK(ReducingScaling)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

struct Scaled {
    int32_t width = 0, height = 0;
    std::unique_ptr<uint8_t[]> pixels;
};

const Scaled& scaledPicture() {
    static Scaled s = [] {
        Scaled result;
        const Decoded& d = decoded();
        if (!d.ok) return result;
        result.width = image::roundToPowerOfTwo(d.picture.width);
        result.height = image::roundToPowerOfTwo(d.picture.height);
        result.pixels.reset(new uint8_t[paddedStride(result.width) * static_cast<size_t>(result.height)]);
        // Whatever the scaled picture looks like, the upload moves the same bytes.
        gluScaleImage(GL_RGB, d.picture.width, d.picture.height, GL_UNSIGNED_BYTE, d.picture.rows, result.width,
                      result.height, GL_UNSIGNED_BYTE, result.pixels.get());
        return result;
    }();
    return s;
}

void Upload(benchmark::State& state) {
    const Scaled& s = scaledPicture();
    if (!s.pixels) return state.SkipWithError("decode failed");
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    for (auto _ : state) {
        auto entry = image::createTexture("bench.jpg", s.width, s.height, s.pixels.get(), GL_RGB);
        glFinish();
        state.PauseTiming();
        const GLuint texture = entry->id;
        glDeleteTextures(1, &texture);
        glFinish();
        state.ResumeTiming();
    }
    if (glGetError() != GL_NO_ERROR) state.SkipWithError("the upload raised a GL error");
    state.SetLabel("createTexture (glTexImage2D GL_RGB) " + std::to_string(s.width) + "x" + std::to_string(s.height));
}
BENCHMARK(Upload)->Unit(benchmark::kMillisecond)->UseRealTime();

// The floor for the upload: a copy of the same bytes into fresh memory.
void MemcpyScaled(benchmark::State& state) {
    const Scaled& s = scaledPicture();
    if (!s.pixels) return state.SkipWithError("decode failed");
    const size_t bytes = paddedStride(s.width) * static_cast<size_t>(s.height);
    for (auto _ : state) {
        std::unique_ptr<uint8_t[]> copy(new uint8_t[bytes]);
        std::memcpy(copy.get(), s.pixels.get(), bytes);
        benchmark::DoNotOptimize(copy.get());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(MemcpyScaled)->Unit(benchmark::kMillisecond)->UseRealTime();

// ---------------------------------------------------------------- material against skin

constexpr const char* kBitmapName = "material-4000x3000.bmp";
constexpr const char* kPngName = "material-4000x3000.png";

const std::string& pngFile() {
    static const std::string name = [] {
        const samples::Bytes bytes = samples::encodePng(photoLike());
        std::FILE* file = std::fopen(kPngName, "wb");
        if (!file || bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
            if (file) std::fclose(file);
            return std::string();
        }
        std::fclose(file);
        return std::string(kPngName);
    }();
    return name;
}

bool decodePng(PlainMemory& memory, image::JpegPicture& picture, uint8_t background) {
    image::PngTarget target;
    target.context = &memory;
    target.message = reportMessage;
    target.allocate = allocatePlain;
    target.release = releasePlain;
    return image::decodePngFile(pngFile().c_str(), background, target, picture);
}

// range(0): 0 ours (libpng, composited 24-bit bottom-up rows), 1 stb_image
// (RGB, from the same file).
void DecodePng(benchmark::State& state) {
    if (pngFile().empty()) return state.SkipWithError("could not write the test PNG");
    for (auto _ : state) {
        if (state.range(0) == 0) {
            PlainMemory memory;
            image::JpegPicture picture;
            if (!decodePng(memory, picture, image::kMaterialBackground)) return state.SkipWithError("decode failed");
            benchmark::DoNotOptimize(picture.rows);
        } else {
            int width = 0, height = 0, channels = 0;
            stbi_uc* pixels = stbi_load(pngFile().c_str(), &width, &height, &channels, 3);
            if (!pixels) return state.SkipWithError("stb_image failed");
            benchmark::DoNotOptimize(pixels);
            stbi_image_free(pixels);
        }
    }
    state.SetLabel(state.range(0) == 0 ? "our decode: libpng, bottom-up rows" : "stb_image, RGB");
}
BENCHMARK(DecodePng)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

const std::string& bitmapFile() {
    static const std::string name = [] {
        const samples::Bytes bytes = samples::encodeBmp(photoLike());
        std::FILE* file = std::fopen(kBitmapName, "wb");
        if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
            if (file) std::fclose(file);
            return std::string();
        }
        std::fclose(file);
        return std::string(kBitmapName);
    }();
    return name;
}

// A picture as the loader holds it after reading: bottom-up padded rows.
struct Loaded {
    PlainMemory memory;
    image::JpegPicture picture;
};

bool readBitmap(Loaded& loaded) {
    std::FILE* file = std::fopen(bitmapFile().c_str(), "rb");
    if (!file) return false;
    std::fseek(file, 0, SEEK_END);
    const long length = std::ftell(file);
    std::fseek(file, 0, SEEK_SET);
    std::unique_ptr<uint8_t[]> data(new uint8_t[static_cast<size_t>(length)]);
    const bool read = std::fread(data.get(), 1, static_cast<size_t>(length), file) == static_cast<size_t>(length);
    std::fclose(file);
    image::BitmapLayout layout;
    if (!read || image::checkBitmapFile(data.get(), static_cast<size_t>(length), layout) != nullptr) return false;
    const size_t stride = paddedStride(layout.width);
    allocatePlain(&loaded.memory, layout.width, layout.height, stride);
    std::memcpy(loaded.memory.rows.get(), data.get() + layout.pixelOffset, stride * static_cast<size_t>(layout.height));
    loaded.picture.width = layout.width;
    loaded.picture.height = layout.height;
    loaded.picture.stride = stride;
    loaded.picture.rows = loaded.memory.rows.get();
    return true;
}

// kind: 0 the JPEG, 1 the bitmap, 2 the PNG (over the background a material
// or a skin takes).
bool load(Loaded& loaded, int64_t kind, uint8_t background) {
    if (kind == 2) return decodePng(loaded.memory, loaded.picture, background);
    return kind == 1 ? readBitmap(loaded) : decode(loaded.memory, loaded.picture);
}
const std::string& file(int64_t kind) { return kind == 2 ? pngFile() : kind == 1 ? bitmapFile() : jpegFile(); }
const char* kindName(int64_t kind) { return kind == 2 ? "PNG" : kind == 1 ? "bitmap" : "JPEG"; }

// range(0): 0 the JPEG, 1 the bitmap, 2 the PNG; range(1): 0 gluScaleImage, 1 ours.
void Material(benchmark::State& state) {
    const bool bitmap = state.range(0) == 1, ours = state.range(1) == 1;
    if (file(state.range(0)).empty()) return state.SkipWithError("could not write the test picture");
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    for (auto _ : state) {
        Loaded loaded;
        if (!load(loaded, state.range(0), image::kMaterialBackground)) return state.SkipWithError("load failed");
        const image::JpegPicture& p = loaded.picture;
        // The loader now scales a JPEG's section where it is; a bitmap is read back.
        std::unique_ptr<uint8_t[]> original;
        const uint8_t* rows = p.rows;
        if (bitmap || !ours) {
            original.reset(new uint8_t[static_cast<size_t>(p.width) * p.height * 4]);
            for (int32_t row = 0; row < p.height; ++row)
                std::memcpy(original.get() + row * p.stride, p.rows + row * p.stride, p.stride);
            rows = original.get();
        }
        const int32_t width = image::roundToPowerOfTwo(p.width), height = image::roundToPowerOfTwo(p.height);
        std::unique_ptr<uint8_t[]> scaled(new uint8_t[paddedStride(width) * static_cast<size_t>(height)]);
        if (ours)
            image::scaleImage(rows, p.width, p.height, scaled.get(), width, height, image::scalingThreads());
        else
            gluScaleImage(GL_RGB, p.width, p.height, GL_UNSIGNED_BYTE, rows, width, height, GL_UNSIGNED_BYTE,
                          scaled.get());
        original.reset();
        loaded.memory.rows.reset();
        auto entry = image::createTexture("bench", width, height, scaled.get(), bitmap ? 0x80E0 : GL_RGB);
        glFinish();
        const GLuint texture = entry->id;
        glDeleteTextures(1, &texture);
    }
    state.SetLabel(std::string(kindName(state.range(0))) + " to texture, " + (ours ? "image::scaleImage" : "gluScaleImage"));
}
BENCHMARK(Material)->Args({0, 0})->Args({0, 1})->Args({1, 0})->Args({1, 1})->Args({2, 1})->Unit(benchmark::kMillisecond)->UseRealTime();

// range(0): 0 the JPEG, 1 the bitmap, 2 the PNG.
void Skin(benchmark::State& state) {
    if (file(state.range(0)).empty()) return state.SkipWithError("could not write the test picture");
    for (auto _ : state) {
        Loaded loaded;
        if (!load(loaded, state.range(0), image::kSkinBackground)) return state.SkipWithError("load failed");
        const image::JpegPicture& p = loaded.picture;
        // GetDIBits with a negative height: the rows top row first.
        std::unique_ptr<uint8_t[]> rows(new uint8_t[p.stride * static_cast<size_t>(p.height)]);
        for (int32_t row = 0; row < p.height; ++row)
            std::memcpy(rows.get() + row * p.stride, p.rows + (p.height - 1 - row) * p.stride, p.stride);
        loaded.memory.rows.reset();
        auto heights = image::heightsFromPixels(rows.get(), p.width, p.height, p.stride);
        benchmark::DoNotOptimize(heights.get());
    }
    state.SetLabel(std::string(kindName(state.range(0))) + " to heights");
}
BENCHMARK(Skin)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
