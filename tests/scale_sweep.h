// The sweep both sameness checks of image::scaleImage run: natively against
// Mesa's libGLU, and under Wine against glu32. Every pair of a set of awkward
// sides (one pixel, odd, powers of two and their neighbours) for the width,
// each with a height pair drawn from the same set, then the same transposed,
// then the sizes large photographs really have. Pixels are random, pad bytes
// too; both results start from the same sentinel-filled buffer, so a pad
// byte written by one and not the other shows.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "image/scale.h"

namespace plexa::sweep {

struct Sizes {
    int32_t widthIn, heightIn, widthOut, heightOut;
};

inline std::vector<Sizes> sizePairs() {
    const int32_t sides[] = {1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 31, 32, 33, 63, 64, 65, 100, 127, 128, 129, 255, 256, 257};
    const size_t count = sizeof sides / sizeof sides[0];
    std::vector<Sizes> pairs;
    uint32_t pick = 7;
    for (size_t a = 0; a < count; ++a)
        for (size_t b = 0; b < count; ++b) {
            pick = pick * 1103515245u + 12345u;
            const int32_t hIn = sides[(pick >> 8) % count], hOut = sides[(pick >> 20) % count];
            pairs.push_back({sides[a], hIn, sides[b], hOut});
            pairs.push_back({hIn, sides[a], hOut, sides[b]});
        }
    const Sizes photographs[] = {{4000, 3000, 4096, 4096}, {640, 480, 512, 512}, {641, 481, 1024, 512},
                                 {2048, 2048, 1024, 1024}, {5000, 1, 4096, 1},    {1, 3000, 1, 4096},
                                 {1023, 769, 1024, 1024}};
    pairs.insert(pairs.end(), std::begin(photographs), std::end(photographs));
    return pairs;
}

// gluScaleImage (GL_RGB, GL_UNSIGNED_BYTE both ways) with alignment 4 set.
using Reference = int (*)(const uint8_t* in, int32_t widthIn, int32_t heightIn, uint8_t* out, int32_t widthOut,
                          int32_t heightOut);

inline ::testing::AssertionResult sameAsReference(Reference reference, const Sizes& s, uint32_t seed, int threads) {
    std::vector<uint8_t> in(image::paddedStride(s.widthIn) * static_cast<size_t>(s.heightIn));
    for (auto& byte : in) {
        seed = seed * 1664525u + 1013904223u;
        byte = static_cast<uint8_t>(seed >> 24);
    }
    const size_t outBytes = image::paddedStride(s.widthOut) * static_cast<size_t>(s.heightOut);
    std::vector<uint8_t> want(outBytes, 0xAA), got(outBytes, 0xAA);
    if (reference(in.data(), s.widthIn, s.heightIn, want.data(), s.widthOut, s.heightOut) != 0)
        return ::testing::AssertionFailure() << "gluScaleImage failed";
    image::scaleImage(in.data(), s.widthIn, s.heightIn, got.data(), s.widthOut, s.heightOut, threads);
    for (size_t i = 0; i < outBytes; ++i)
        if (got[i] != want[i])
            return ::testing::AssertionFailure()
                   << s.widthIn << "x" << s.heightIn << " -> " << s.widthOut << "x" << s.heightOut << ": byte " << i
                   << " is " << int(got[i]) << ", gluScaleImage gives " << int(want[i]);
    return ::testing::AssertionSuccess();
}

// The whole sweep against `reference`, one thread and two in turn.
inline ::testing::AssertionResult sweepMatches(Reference reference) {
    uint32_t seed = 1;
    for (const Sizes& sizes : sizePairs()) {
        ::testing::AssertionResult same = sameAsReference(reference, sizes, seed, 1 + seed % 2);
        if (!same) return same;
        ++seed;
    }
    return ::testing::AssertionSuccess();
}

}  // namespace plexa::sweep
