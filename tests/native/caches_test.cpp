// The caches are shared by every instance for the life of the library: their
// growth, their keys and ids, the texture sizes and the heights they derive
// decide what every block shows.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/library_state.h"
#include "image/caches.h"
#include "render/gl.h"
#include "tests/native/gl_recorder.h"
#include "tests/native/test_support.h"

#ifndef GL_BGR_EXT
#define GL_BGR_EXT 0x80E0
#endif

namespace plexa::testing {
namespace {

using image::roundToPowerOfTwo;

TEST(RoundToPowerOfTwo, TheTableOfExamples) {
    const struct {
        int32_t size, rounded;
    } table[] = {{1, 1},     {2, 2},     {3, 4},     {5, 4},     {6, 8},     {10, 8},     {11, 16},  {80, 64},
                 {81, 128},  {100, 128}, {320, 256}, {321, 512}, {640, 512}, {641, 1024}, {800, 1024},
                 // Sizes of the sample materials.
                 {480, 512}, {481, 512}, {101, 128}, {37, 32},   {4, 4},     {16384, 16384}};
    for (const auto& row : table) EXPECT_EQ(roundToPowerOfTwo(row.size), row.rounded) << row.size;
}

// The rule stated the other way round: with P the largest power of two not
// above the size, 2P when the size exceeds 1.25 P, else P.
TEST(RoundToPowerOfTwo, AgreesWithTheQuarterRuleUpToTheLargestSide) {
    for (int32_t size = 1; size <= 16384; ++size) {
        int32_t p = 1;
        while (p * 2 <= size) p *= 2;
        const int32_t want = size * 4 > p * 5 ? 2 * p : p;
        ASSERT_EQ(roundToPowerOfTwo(size), want) << size;
    }
}

TEST(HeightsFromPixels, MeanOfTheThreeBytesSkippingRowPadding) {
    // Two rows of three pixels: 9 bytes each, padded to 12 with bytes that
    // would show if they were read as pixels.
    const uint8_t rows[24] = {
        255, 255, 255, 0, 0, 0, 0, 0, 255, 0xEE, 0xEE, 0xEE,   // white, black, pure red (B, G, R order)
        10, 20, 30, 255, 0, 0, 1, 1, 1, 0xEE, 0xEE, 0xEE,      // a grey, pure blue, almost black
    };
    const auto heights = image::heightsFromPixels(rows, 3, 2, 12);
    EXPECT_EQ(heights[0], 1.0f);
    EXPECT_EQ(heights[1], 0.0f);
    EXPECT_EQ(heights[2], static_cast<float>(255.0 / 765.0));
    EXPECT_EQ(heights[3], static_cast<float>(60.0 / 765.0));
    EXPECT_EQ(heights[4], static_cast<float>(255.0 / 765.0));
    EXPECT_EQ(heights[5], static_cast<float>(3.0 / 765.0));
}

TEST(Cache, GrowsByTenAtEveryTenthEntry) {
    image::Cache cache(false);
    EXPECT_EQ(cache.capacity(), 10u);
    for (uint32_t i = 1; i <= 30; ++i) {
        addCacheEntry(cache, ("skin" + std::to_string(i) + ".bmp").c_str(), i);
        if (i < 10) EXPECT_EQ(cache.capacity(), 10u) << i;
        if (i >= 10 && i < 20) EXPECT_EQ(cache.capacity(), 20u) << i;
        if (i >= 20 && i < 30) EXPECT_EQ(cache.capacity(), 30u) << i;
    }
    EXPECT_EQ(cache.capacity(), 40u);
    EXPECT_EQ(cache.count(), 30);
}

TEST(Cache, LooksUpByExactNameAndById) {
    image::Cache cache(false);
    addCacheEntry(cache, "tex\\Wood.bmp", 5);
    addCacheEntry(cache, "tex\\wood.bmp", 9);
    addCacheEntry(cache, "tex\\wood.bmp", 12);   // never happens in use; the first one wins
    ASSERT_NE(cache.findByName("tex\\wood.bmp"), nullptr);
    EXPECT_EQ(cache.findByName("tex\\wood.bmp")->id, 9u);
    EXPECT_EQ(cache.findByName("tex\\Wood.bmp")->id, 5u);
    EXPECT_EQ(cache.findByName("tex\\wood.bmp "), nullptr);
    EXPECT_EQ(cache.findByName("wood.bmp"), nullptr);
    EXPECT_STREQ(cache.findById(12)->name, "tex\\wood.bmp");
    EXPECT_EQ(cache.findById(0), nullptr);   // 0 means none, whatever an entry holds
    EXPECT_EQ(cache.findById(7), nullptr);
}

TEST(Cache, EntryNamesAreCutTo259Characters) {
    const std::string longName(400, 'n');
    const auto entry = image::makeEntry(longName.c_str(), 3, 4);
    EXPECT_EQ(std::strlen(entry->name), 259u);
    EXPECT_EQ(entry->width, 3);
    EXPECT_EQ(entry->height, 4);
}

class Textures : public InTempDir {};

TEST_F(Textures, CreateTextureUploadsOnceAndUnbinds) {
    const uint8_t pixels[4 * 12] = {};
    const auto entry = image::createTexture("quad.bmp", 4, 4, pixels, GL_BGR_EXT);
    EXPECT_NE(entry->id, 0u);
    EXPECT_STREQ(entry->name, "quad.bmp");
    EXPECT_EQ(entry->heights, nullptr);
    const double id = entry->id;
    const std::vector<GlCall> want = {
        {"glGenTextures", {1}},
        {"glBindTexture", {GL_TEXTURE_2D, id}},
        {"glTexParameteri", {GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR}},
        {"glTexParameteri", {GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR}},
        {"glTexParameteri", {GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT}},
        {"glTexParameteri", {GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT}},
        {"glTexImage2D", {GL_TEXTURE_2D, 0, GL_RGB, 4, 4, 0, GL_BGR_EXT, GL_UNSIGNED_BYTE}},
        {"glBindTexture", {GL_TEXTURE_2D, 0}},
    };
    ASSERT_EQ(gl().calls.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(gl().calls[i], want[i]) << toString(gl().calls[i]);

    clearCalls();
    const auto jpeg = image::createTexture("quad.jpg", 2, 1, pixels, GL_RGB);
    EXPECT_NE(jpeg->id, entry->id);
    EXPECT_EQ(countCalls("glTexImage2D"), 1u);
    EXPECT_EQ(gl().calls[6].args[6], GL_RGB);
}

TEST_F(Textures, ACacheOfTexturesDeletesThemWhenDestroyed) {
    const uint8_t pixels[12] = {};
    {
        image::Cache cache(true);
        cache.append(image::createTexture("a.bmp", 1, 1, pixels, GL_RGB));
        cache.append(image::createTexture("b.bmp", 1, 1, pixels, GL_RGB));
        EXPECT_EQ(gl().liveTextures.size(), 2u);
    }
    EXPECT_TRUE(gl().liveTextures.empty());
}

// Keys: a drive name is stored relative to the plug-in directory, anything
// else is the key as it is; a name that cannot be held is refused.
TEST(CacheKey, DriveNamesBecomeTheirStoredForm) {
    char saved[sizeof host::library().pluginDirectory];
    std::memcpy(saved, host::library().pluginDirectory, sizeof saved);
    std::strcpy(host::library().pluginDirectory, "C:\\Tools\\Plug\\");

    char key[scene::kNameCapacity];
    ASSERT_TRUE(image::cacheKey("C:\\Tools\\Plug\\tex\\wood.bmp", key));
    EXPECT_STREQ(key, "tex\\wood.bmp");
    ASSERT_TRUE(image::cacheKey("c:\\tools\\pic.jpg", key));
    EXPECT_STREQ(key, "..\\pic.jpg");
    ASSERT_TRUE(image::cacheKey("D:\\pic.jpg", key));
    EXPECT_STREQ(key, "D:\\pic.jpg");
    ASSERT_TRUE(image::cacheKey("..\\hills.jpg", key));
    EXPECT_STREQ(key, "..\\hills.jpg");
    ASSERT_TRUE(image::cacheKey("x", key));
    EXPECT_STREQ(key, "x");

    const std::string tooLong(260, 'a');
    EXPECT_FALSE(image::cacheKey(tooLong.c_str(), key));
    EXPECT_STREQ(key, "");
    // Fits as given (257 characters), but its stored form climbs four levels
    // and would take 264.
    std::strcpy(host::library().pluginDirectory, "C:\\A\\B\\C\\D\\E\\");
    const std::string deep = "C:\\A\\Z\\" + std::string(250, 'y');
    EXPECT_FALSE(image::cacheKey(deep.c_str(), key));
    EXPECT_STREQ(key, "");

    std::memcpy(host::library().pluginDirectory, saved, sizeof saved);
}

// Without a window system nothing is decoded, but the same key finds what a
// load put in the cache, and an unknown name gives 0.
TEST(CacheKey, TheNativeLoadersFindWhatIsCached) {
    addCacheEntry(image::textureCache(), "native-known.bmp", 4242);
    EXPECT_EQ(image::loadMaterial("native-known.bmp", nullptr), 4242u);
    EXPECT_EQ(image::loadMaterial("Native-known.bmp", nullptr), 0u);
    EXPECT_EQ(image::loadSkin("native-known.bmp", nullptr), 0u);
    EXPECT_EQ(image::chooseMaterial(nullptr), -1);
}

}  // namespace
}  // namespace plexa::testing
