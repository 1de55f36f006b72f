// PNG decoding as the loader drives it, against the libpng and zlib source
// the DLL ships: every form the format has must give the pixels an
// independent decoder (stb_image) gives, composited as a material or a skin,
// and no damaged or malicious file may crash, hang or take memory before its
// size has been judged.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#include <stb/stb_image.h>

#include "image/bitmap_file.h"
#include "image/png_decode.h"
#include "tools/make-samples/sample_images.h"

namespace plexa::image {
namespace {

using samples::Bytes;
using samples::Outcome;

// The platform's side, recorded: boxes, and pixel memory pre-filled with 0xAA.
struct Platform {
    std::vector<std::pair<std::string, std::string>> boxes;
    std::vector<uint8_t> memory;
    int allocations = 0, releases = 0;
    int32_t width = 0, height = 0;
    size_t stride = 0;
    bool refuse = false;

    PngTarget target() {
        PngTarget t;
        t.context = this;
        t.message = [](void* self, const char* caption, const char* text) {
            static_cast<Platform*>(self)->boxes.emplace_back(caption, text);
        };
        t.allocate = [](void* self, int32_t w, int32_t h, size_t s) -> uint8_t* {
            Platform& p = *static_cast<Platform*>(self);
            ++p.allocations;
            p.width = w, p.height = h, p.stride = s;
            if (p.refuse) return nullptr;
            p.memory.assign(s * static_cast<size_t>(h), 0xAA);
            return p.memory.data();
        };
        t.release = [](void* self) { ++static_cast<Platform*>(self)->releases; };
        return t;
    }
    // Picture pixel (x, y), y from the top: red, green, blue.
    const uint8_t* at(int x, int y) const { return &memory[static_cast<size_t>(height - 1 - y) * stride + x * 3]; }
};

bool decode(const Bytes& file, uint8_t background, Platform& platform) {
    std::FILE* stream = file.empty() ? std::fopen("/dev/null", "rb")
                                     : fmemopen(const_cast<uint8_t*>(file.data()), file.size(), "rb");
    PngPicture picture;
    const bool ok = decodePngStream(stream, "Z:\\leaf.png", background, platform.target(), picture);
    std::fclose(stream);
    EXPECT_EQ(ok, picture.rows != nullptr);
    return ok;
}

Bytes readAll(const std::filesystem::path& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    Bytes bytes;
    for (int c; f && (c = std::fgetc(f)) != EOF;) bytes.push_back(static_cast<uint8_t>(c));
    if (f) std::fclose(f);
    return bytes;
}

// stb_image's RGBA, 16-bit samples rounded to 8 bits as libpng's scale-16
// does, composited by the same rule.
std::vector<uint8_t> reference(const Bytes& file, uint8_t background, int& width, int& height) {
    std::vector<uint8_t> rgb;
    int channels = 0;
    const bool sixteen = stbi_is_16_bit_from_memory(file.data(), static_cast<int>(file.size()));
    void* pixels = sixteen ? static_cast<void*>(stbi_load_16_from_memory(file.data(), static_cast<int>(file.size()),
                                                                          &width, &height, &channels, 4))
                           : static_cast<void*>(stbi_load_from_memory(file.data(), static_cast<int>(file.size()),
                                                                       &width, &height, &channels, 4));
    if (!pixels) return rgb;
    for (size_t i = 0; i < static_cast<size_t>(width) * height; ++i) {
        uint8_t rgba[4];
        for (int c = 0; c < 4; ++c)
            rgba[c] = sixteen ? static_cast<uint8_t>((static_cast<uint16_t*>(pixels)[i * 4 + c] * 255u + 32767) / 65535)
                              : static_cast<uint8_t*>(pixels)[i * 4 + c];
        for (int c = 0; c < 3; ++c) rgb.push_back(composite(rgba[c], rgba[3], background));
    }
    stbi_image_free(pixels);
    return rgb;
}

// Exactly, not within one: 16-bit samples cut instead of rounded differ by one.
TEST(PngDecode, PngSuiteGivesStbImagesPixelsAsMaterialAndSkin) {
    int files = 0;
    for (const char* folder : {"contrib/pngsuite", "contrib/pngsuite/interlaced"}) {
        for (const auto& entry : std::filesystem::directory_iterator(std::string(PLEXA_PNG_SOURCE_DIR) + "/" + folder)) {
            if (entry.path().extension() != ".png") continue;
            ++files;
            const Bytes file = readAll(entry.path());
            for (uint8_t background : {kMaterialBackground, kSkinBackground}) {
                int width = 0, height = 0;
                const std::vector<uint8_t> want = reference(file, background, width, height);
                ASSERT_FALSE(want.empty()) << entry.path();
                Platform platform;
                ASSERT_TRUE(decode(file, background, platform)) << entry.path();
                ASSERT_EQ(platform.width, width);
                ASSERT_EQ(platform.height, height);
                int worst = 0;
                for (int y = 0; y < height; ++y)
                    for (int x = 0; x < width; ++x)
                        for (int c = 0; c < 3; ++c)
                            worst = std::max(worst, std::abs(platform.at(x, y)[c] - want[(static_cast<size_t>(y) * width + x) * 3 + c]));
                EXPECT_EQ(worst, 0) << entry.path() << " over " << int(background);
                EXPECT_TRUE(platform.boxes.empty()) << entry.path();
            }
        }
    }
    EXPECT_EQ(files, 60);
}

// Pictures of known pixels in every form the writer makes: exact, and the
// rows upright, padded, the padding untouched.
TEST(PngDecode, EveryFormGivesItsPixelsExactly) {
    samples::Picture picture = samples::quadrants(37, 21);
    std::vector<uint8_t> alpha(picture.pixels.size());
    for (size_t i = 0; i < alpha.size(); ++i) alpha[i] = static_cast<uint8_t>(i * 13);
    samples::Picture grey = samples::greyGradient(37, 21);
    const struct {
        int type, depth;
        bool interlaced, key;
    } forms[] = {{0, 1, false, false}, {0, 2, true, false},  {0, 4, false, true},  {0, 8, false, false},
                 {0, 16, true, true},  {2, 8, false, true},  {2, 16, false, false}, {2, 8, true, false},
                 {3, 2, false, false}, {3, 4, true, false},  {3, 8, false, false}, {4, 8, false, false},
                 {4, 16, true, false}, {6, 8, false, false}, {6, 16, false, false}, {6, 8, true, false}};
    for (const auto& f : forms) {
        const bool isGrey = f.type == 0 || f.type == 4;
        const samples::Picture& p = isGrey ? grey : picture;
        const bool withAlpha = f.type >= 4 || f.type == 3;
        const Bytes file = samples::encodePng(p, {f.type, f.depth, f.interlaced, f.key, -1},
                                              withAlpha ? alpha : std::vector<uint8_t>{});
        ASSERT_FALSE(file.empty()) << f.type << "/" << f.depth;
        for (uint8_t background : {kMaterialBackground, kSkinBackground}) {
            Platform platform;
            ASSERT_TRUE(decode(file, background, platform)) << f.type << "/" << f.depth;
            EXPECT_EQ(platform.stride, 112u);
            for (int y = 0; y < p.height; ++y) {
                for (int x = 0; x < p.width; ++x) {
                    const size_t i = static_cast<size_t>(y) * p.width + x;
                    const samples::Rgb c = p.at(x, y);
                    // Grey below 8 bits keeps its top bits, repeated.
                    const int v = f.depth >= 8 || !isGrey ? c.r : (c.r >> (8 - f.depth)) * 255 / ((1 << f.depth) - 1);
                    const uint8_t want[3] = {static_cast<uint8_t>(isGrey ? v : c.r), isGrey ? static_cast<uint8_t>(v) : c.g,
                                             isGrey ? static_cast<uint8_t>(v) : c.b};
                    uint8_t a = withAlpha ? alpha[i] : 255;
                    if (f.type == 3) a = alpha[p.width * (y < p.height / 2 ? 0 : p.height / 2) + (x < p.width / 2 ? 0 : p.width / 2)];
                    const int v0 = isGrey && f.depth < 8 ? (p.pixels[0].r >> (8 - f.depth)) * 255 / ((1 << f.depth) - 1) : p.pixels[0].r;
                    if (f.key && (isGrey ? v == v0 : c == p.pixels[0])) a = 0;
                    for (int ch = 0; ch < 3; ++ch)
                        ASSERT_EQ(platform.at(x, y)[ch], composite(want[ch], a, background))
                            << f.type << "/" << f.depth << (f.interlaced ? " interlaced" : "") << " at " << x << "," << y;
                }
                EXPECT_EQ(platform.memory[static_cast<size_t>(y) * 112 + 111], 0xAA);
            }
        }
    }
}

// Every refusal is one box naming the file; nothing taken is kept.
TEST(PngDecode, HostileFilesGiveTheirOutcomes) {
    std::vector<samples::HostileFile> files = samples::hostilePngs();
    // libpng's own collection of files that once crashed decoders. Each
    // huge_*.png declares a chunk of 1 GiB in a file of 57 bytes (79 for the
    // IDAT one): refused at the end of the file, nothing the size of the
    // chunk ever taken. bad_iCCP.png has a wrong IHDR CRC; badadler.png and
    // badcrc.png damaged rows. Only empty_ancillary_chunks.png, a sound
    // picture among dozens of empty chunks, is a picture.
    std::map<std::string, Outcome> crashers = {{"bad_iCCP.png", Outcome::Refused},
                                               {"badadler.png", Outcome::Refused},
                                               {"badcrc.png", Outcome::Refused},
                                               {"empty_ancillary_chunks.png", Outcome::Accepted}};
    for (const char* type : {"IDAT", "bKGD_chunk", "cHRM_chunk", "eXIf_chunk", "gAMA_chunk", "hIST_chunk", "iCCP_chunk",
                             "iTXt_chunk", "juNK_unsafe_to_copy", "juNk_safe_to_copy", "pCAL_chunk", "pHYs_chunk",
                             "sCAL_chunk", "sPLT_chunk", "sRGB_chunk", "sTER_chunk", "tEXt_chunk", "tIME_chunk", "zTXt_chunk"})
        crashers[std::string("huge_") + type + ".png"] = Outcome::Refused;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::string(PLEXA_PNG_SOURCE_DIR) + "/contrib/testpngs/crashers")) {
        const std::string name = entry.path().filename().string();
        ASSERT_EQ(crashers.count(name), 1u) << "no outcome listed for " << name;
        files.push_back({"crashers/" + name, readAll(entry.path()), crashers.at(name)});
    }
    for (const auto& file : files) {
        Platform platform;
        const auto start = std::chrono::steady_clock::now();
        const bool ok = decode(file.bytes, kMaterialBackground, platform);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << file.name;
        if (platform.allocations)
            EXPECT_LE(static_cast<int64_t>(platform.width) * platform.height, kMaxImagePixels) << file.name;
        if (file.outcome == Outcome::Refused) EXPECT_FALSE(ok) << file.name;
        if (file.outcome == Outcome::Accepted)
            EXPECT_TRUE(ok) << file.name << ": " << (platform.boxes.empty() ? "" : platform.boxes[0].second);
        if (ok) {
            EXPECT_TRUE(platform.boxes.empty()) << file.name;
        } else {
            ASSERT_EQ(platform.boxes.size(), 1u) << file.name;
            EXPECT_EQ(platform.boxes[0].first, "can't read png-file") << file.name;
            EXPECT_EQ(platform.boxes[0].second.rfind("Z:\\leaf.png\n", 0), 0u) << platform.boxes[0].second;
            EXPECT_EQ(platform.allocations, platform.releases) << file.name;
        }
        // Sizes beyond the ceiling are refused from the header alone.
        if (file.name.find("16384x") == 0 || file.name.find("-16385") != std::string::npos ||
            file.name.find("2to31") != std::string::npos) {
            EXPECT_EQ(platform.allocations, 0) << file.name;
            EXPECT_NE(platform.boxes.at(0).second.find("too large"), std::string::npos) << platform.boxes[0].second;
        }
    }
}

TEST(PngDecode, AMissingFileAndNoPixelMemoryGiveTheirBoxes) {
    Platform missing;
    PngPicture picture;
    EXPECT_FALSE(decodePngFile("/nonexistent/leaf.png", kSkinBackground, missing.target(), picture));
    ASSERT_EQ(missing.boxes.size(), 1u);
    EXPECT_EQ(missing.boxes[0], std::make_pair(std::string("can't open png-file"), std::string("/nonexistent/leaf.png")));

    Platform refusing;
    refusing.refuse = true;
    EXPECT_FALSE(decode(samples::encodePng(samples::quadrants(8, 8)), kSkinBackground, refusing));
    ASSERT_EQ(refusing.boxes.size(), 1u);
    EXPECT_EQ(refusing.boxes[0], std::make_pair(std::string("couldn't create bitmap-handle"), std::string("Z:\\leaf.png")));
    EXPECT_EQ(refusing.releases, 0);
}

}  // namespace
}  // namespace plexa::image
