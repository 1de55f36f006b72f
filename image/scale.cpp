#include "image/scale.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace plexa::image {

namespace {

// One pixel as GLU holds it while filtering: the three channels widened to
// 16 bits (v * 257) as floats, and 1 in the fourth lane, so that the box's
// area is summed by the very same multiply and add as the channels are.
using Lanes = float __attribute__((vector_size(16)));

// The boxes of one axis: for output position i, terms first[i] up to
// first[i + 1], each a source position and the share of it the box covers,
// in the order GLU visits them (wrapping around the far edge as it does).
struct Axis {
    std::vector<int32_t> first;
    std::vector<int32_t> source;
    std::vector<float> weight;
    std::vector<int32_t> start;    // per output position: its first term's source before wrapping
    int32_t mostTerms = 0;
    int32_t lowest = 0, highest = 0;   // the range of sources before wrapping
};

// Every expression keeps GLU's types: the centre is a double product stored
// as a float, an enlarging box's edges a double sum stored as a float, the
// rest single precision.
Axis boxes(int32_t in, int32_t out) {
    Axis axis;
    axis.first.reserve(static_cast<size_t>(out) + 1);
    const float conv = static_cast<float>(in) / static_cast<float>(out);
    const float half = conv / 2;
    for (int32_t i = 0; i < out; ++i) {
        const auto first = static_cast<int32_t>(axis.source.size());
        axis.first.push_back(first);
        const float centre = static_cast<float>(conv * (i + 0.5));
        float low, high;
        if (in > out) {
            high = centre + half;
            low = centre - half;
        } else {
            high = static_cast<float>(centre + 0.5);
            low = static_cast<float>(centre - 0.5);
        }
        float at = low;
        auto whole = static_cast<int32_t>(std::floor(at));
        axis.start.push_back(whole);
        axis.lowest = std::min(axis.lowest, whole);
        while (at < high) {
            axis.highest = std::max(axis.highest, whole);
            axis.source.push_back((whole + in) % in);
            const auto next = static_cast<float>(whole + 1);
            axis.weight.push_back(high < next ? high - at : next - at);
            ++whole;
            at = static_cast<float>(whole);
        }
        axis.mostTerms = std::max(axis.mostTerms, static_cast<int32_t>(axis.source.size()) - first);
    }
    axis.first.push_back(static_cast<int32_t>(axis.source.size()));
    return axis;
}

// The column terms again, every column given as many as the widest has, so
// that the inner loop has a fixed length: the extra terms weigh 0, and adding
// 0 to a sum that is never -0 leaves it exactly as it was. A column's terms
// are neighbours in a widened row that repeats the far edges beyond the near
// ones, so GLU's wrap-around needs no index of its own.
struct Columns {
    int32_t terms = 0;
    int32_t before = 0;               // widened pixels ahead of source pixel 0
    int32_t span = 0;                 // widened pixels in all
    std::vector<int32_t> first;       // per column: its first widened pixel
    std::vector<Lanes> weight;        // terms per column, each in all four lanes
};

Columns padded(const Axis& axis) {
    Columns columns;
    columns.terms = axis.mostTerms;
    columns.before = -axis.lowest;
    columns.span = axis.highest + columns.terms + columns.before;
    const size_t count = axis.first.size() - 1;
    columns.weight.assign(count * static_cast<size_t>(columns.terms), Lanes{0, 0, 0, 0});
    for (size_t j = 0; j < count; ++j) {
        columns.first.push_back(axis.start[j] + columns.before);
        for (int32_t t = axis.first[j]; t < axis.first[j + 1]; ++t) {
            const float w = axis.weight[static_cast<size_t>(t)];
            columns.weight[j * static_cast<size_t>(columns.terms) + static_cast<size_t>(t - axis.first[j])] =
                Lanes{w, w, w, w};
        }
    }
    return columns;
}

// GLU's (sum + 0.5) / area stored into 16 bits through a 32-bit truncation
// (what the compiled conversion does: values from 65536 wrap to 0, and a
// quotient out of range or not a number becomes 0), then its top byte.
inline uint8_t channelByte(float sum, float area) {
    const double quotient = (static_cast<double>(sum) + 0.5) / static_cast<double>(area);
    int32_t whole = INT32_MIN;
    if (quotient > -2147483649.0 && quotient < 2147483648.0) whole = static_cast<int32_t>(quotient);
    return static_cast<uint8_t>((static_cast<uint32_t>(whole) & 0xFFFFu) >> 8);
}

// The three bytes of a pixel from its sums. GLU divides in double precision,
// three divisions a pixel; one single-precision division of all lanes comes
// within 1/128 of its quotients (two roundings of 2^-24 each, on quotients
// below 65536), which settles the top byte unless a quotient lies within that
// of a multiple of 256, or the area is not a plain positive number. Those
// few go GLU's way.
inline void storePixel(const Lanes& sum, uint8_t* pixel) {
    using Whole = int32_t __attribute__((vector_size(16)));
    constexpr float kMargin = 1.0f / 32;
    const float area = sum[3];
    const Lanes quotient = (sum + 0.5f) / area;
    const Whole high = __builtin_convertvector((quotient + kMargin) * (1.0f / 256), Whole);
    const Whole low = __builtin_convertvector((quotient - kMargin) * (1.0f / 256), Whole);
    const Whole settled = (high == low) & (high >= 0) & (high < 256);
    if (area > 0 && settled[0] && settled[1] && settled[2]) {
        pixel[0] = static_cast<uint8_t>(high[0]);
        pixel[1] = static_cast<uint8_t>(high[1]);
        pixel[2] = static_cast<uint8_t>(high[2]);
        return;
    }
    for (int k = 0; k < 3; ++k) pixel[k] = channelByte(sum[k], area);
}

#if defined(__SSE2__)
// Four pixels' twelve bytes at once, by the same test as storePixel.
inline void storeFour(const Lanes* sums, uint8_t* pixels) {
    constexpr float kMargin = 1.0f / 32;
    __m128i high[4], unsettled = _mm_setzero_si128();
    // Enlarging, the boxes' areas come to exactly 1, and GLU's quotient is
    // then the sum plus a half, which single precision holds exactly below
    // 2^22: no division, no margin, only GLU's 16-bit wrap.
    const __m128 areas = _mm_movehl_ps(_mm_unpackhi_ps(sums[2], sums[3]), _mm_unpackhi_ps(sums[0], sums[1]));
    const bool unitAreas = _mm_movemask_ps(_mm_cmpeq_ps(areas, _mm_set1_ps(1.0f))) == 0xF;
    for (int p = 0; p < 4 && unitAreas; ++p) {
        const __m128i whole = _mm_cvttps_epi32(_mm_add_ps(sums[p], _mm_set1_ps(0.5f)));
        high[p] = _mm_srli_epi32(_mm_and_si128(whole, _mm_set1_epi32(0xFFFF)), 8);
        // A sum that is not a plain number below 2^22 converts to INT32_MIN
        // or beyond the exact range: GLU's way for the four, as below.
        unsettled = _mm_or_si128(unsettled, _mm_cmpgt_epi32(_mm_srli_epi32(whole, 22), _mm_setzero_si128()));
    }
    for (int p = 0; p < 4 && !unitAreas; ++p) {
        const __m128 sum = sums[p];
        const __m128 area = _mm_shuffle_ps(sum, sum, _MM_SHUFFLE(3, 3, 3, 3));
        const __m128 quotient = _mm_div_ps(_mm_add_ps(sum, _mm_set1_ps(0.5f)), area);
        high[p] = _mm_cvttps_epi32(_mm_mul_ps(_mm_add_ps(quotient, _mm_set1_ps(kMargin)), _mm_set1_ps(1.0f / 256)));
        const __m128i low =
            _mm_cvttps_epi32(_mm_mul_ps(_mm_sub_ps(quotient, _mm_set1_ps(kMargin)), _mm_set1_ps(1.0f / 256)));
        // Any lane whose two ends differ, or that is not a byte (a negative
        // or unordered quotient converts to INT32_MIN), and the four go GLU's way.
        unsettled = _mm_or_si128(unsettled, _mm_xor_si128(high[p], low));
        unsettled = _mm_or_si128(unsettled, _mm_andnot_si128(_mm_set1_epi32(255), high[p]));
    }
    if (_mm_movemask_epi8(_mm_cmpeq_epi32(unsettled, _mm_setzero_si128())) != 0xFFFF) {
        for (int p = 0; p < 4; ++p) storePixel(sums[p], pixels + 3 * p);
        return;
    }
    const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(high[0], high[1]), _mm_packs_epi32(high[2], high[3]));
    alignas(16) uint64_t halves[2];
    _mm_store_si128(reinterpret_cast<__m128i*>(halves), bytes);
    // r g b a r g b a | r g b a r g b a, the fourth bytes dropped
    const uint64_t first = (halves[0] & 0xFFFFFF) | ((halves[0] >> 32) & 0xFFFFFF) << 24 | (halves[1] & 0xFFFF) << 48;
    const uint32_t second = static_cast<uint32_t>(((halves[1] >> 16) & 0xFF) | ((halves[1] >> 32) & 0xFFFFFF) << 8);
    std::memcpy(pixels, &first, 8);
    std::memcpy(pixels + 8, &second, 4);
}
#endif

// Source rows widened to Lanes, the most recently used kept: neighbouring
// output rows share their edge rows.
class WidenedRows {
public:
    static constexpr int kSlots = 4;

    WidenedRows(const uint8_t* in, int32_t width, int32_t before, int32_t span)
        : in_(in), width_(width), before_(before), span_(span) {
        for (auto& slot : slots_) slot.lanes.resize(static_cast<size_t>(span));
    }
    const Lanes* row(int32_t index) {
        ++clock_;
        Slot* oldest = &slots_[0];
        for (auto& slot : slots_) {
            if (slot.index == index) {
                slot.used = clock_;
                return slot.lanes.data();
            }
            if (slot.used < oldest->used) oldest = &slot;
        }
        widen(index, oldest->lanes.data());
        oldest->index = index;
        oldest->used = clock_;
        return oldest->lanes.data();
    }

private:
    using Bytes = uint8_t __attribute__((vector_size(4)));

    void widen(int32_t index, Lanes* lanes) const {
        const uint8_t* row = in_ + static_cast<size_t>(index) * paddedStride(width_);
        const Lanes scale = {257, 257, 257, 0}, one = {0, 0, 0, 1};
        // Four bytes at a time; the last pixel's fourth byte may lie past the
        // buffer, so it is read alone.
        Lanes* inside = lanes + before_;
        const uint8_t* pixel = row;
        for (int32_t x = 0; x + 1 < width_; ++x, pixel += 3) {
            int32_t bytes;
            std::memcpy(&bytes, pixel, sizeof bytes);
#if defined(__SSE2__)
            const __m128i zero = _mm_setzero_si128();
            const __m128i words = _mm_unpacklo_epi8(_mm_cvtsi32_si128(bytes), zero);
            inside[x] = _mm_cvtepi32_ps(_mm_unpacklo_epi16(words, zero)) * scale + one;
#else
            Bytes vector;
            std::memcpy(&vector, &bytes, sizeof vector);
            inside[x] = __builtin_convertvector(vector, Lanes) * scale + one;
#endif
        }
        inside[width_ - 1] = Lanes{static_cast<float>(pixel[0] * 257), static_cast<float>(pixel[1] * 257),
                                   static_cast<float>(pixel[2] * 257), 1.0f};
        for (int32_t x = -before_; x < 0; ++x) inside[x] = inside[(x % width_ + width_) % width_];
        for (int32_t x = width_; x < span_ - before_; ++x) inside[x] = inside[x % width_];
    }

    struct Slot {
        int32_t index = -1;
        uint64_t used = 0;
        std::vector<Lanes> lanes;
    };
    const uint8_t* in_;
    int32_t width_, before_, span_;
    Slot slots_[kSlots];
    uint64_t clock_ = 0;
};

struct Job {
    const uint8_t* in;
    int32_t widthIn, heightIn;
    uint8_t* out;
    int32_t widthOut, heightOut;
    Columns columns;
    Axis rows;
};

// One output row whose box spans `count` source rows, few enough to be held
// widened at once: each pixel sums its terms row by row and, within a row,
// left to right, as GLU does (rounding makes the order matter), in registers.
template <int kTerms>
void filterRow(const Job& job, const Lanes* const* sources, const float* rowWeights, int32_t count, uint8_t* pixel) {
    const int32_t terms = kTerms > 0 ? kTerms : job.columns.terms;
    Lanes rowWeight[WidenedRows::kSlots];
    for (int32_t t = 0; t < count; ++t) rowWeight[t] = Lanes{rowWeights[t], rowWeights[t], rowWeights[t], rowWeights[t]};
    const Lanes* weight = job.columns.weight.data();
    auto sumOf = [&](int32_t j) {
        const int32_t first = job.columns.first[static_cast<size_t>(j)];
        const Lanes* w = weight + static_cast<size_t>(j) * static_cast<size_t>(terms);
        // GLU starts from 0; adding the first term to it changes nothing.
        Lanes sum = sources[0][first] * (w[0] * rowWeight[0]);
        for (int32_t s = 1; s < terms; ++s) sum += sources[0][first + s] * (w[s] * rowWeight[0]);
        for (int32_t t = 1; t < count; ++t) {
            const Lanes* source = sources[t] + first;
            for (int32_t s = 0; s < terms; ++s) sum += source[s] * (w[s] * rowWeight[t]);
        }
        return sum;
    };
    int32_t j = 0;
#if defined(__SSE2__)
    for (; j + 4 <= job.widthOut; j += 4, pixel += 12) {
        const Lanes sums[4] = {sumOf(j), sumOf(j + 1), sumOf(j + 2), sumOf(j + 3)};
        storeFour(sums, pixel);
    }
#endif
    for (; j < job.widthOut; ++j, pixel += 3) storePixel(sumOf(j), pixel);
}

// Output rows [begin, end).
void filterRows(const Job& job, int32_t begin, int32_t end) {
    WidenedRows widened(job.in, job.widthIn, job.columns.before, job.columns.span);
    std::vector<Lanes> sums;
    for (int32_t i = begin; i < end; ++i) {
        const int32_t first = job.rows.first[static_cast<size_t>(i)];
        const int32_t count = job.rows.first[static_cast<size_t>(i) + 1] - first;
        const int32_t* rowSource = job.rows.source.data() + first;
        const float* rowWeight = job.rows.weight.data() + first;
        uint8_t* pixel = job.out + static_cast<size_t>(i) * paddedStride(job.widthOut);
        if (count <= WidenedRows::kSlots) {
            const Lanes* sources[WidenedRows::kSlots];
            for (int32_t t = 0; t < count; ++t) sources[t] = widened.row(rowSource[t]);
            switch (job.columns.terms) {
                case 1: filterRow<1>(job, sources, rowWeight, count, pixel); break;
                case 2: filterRow<2>(job, sources, rowWeight, count, pixel); break;
                case 3: filterRow<3>(job, sources, rowWeight, count, pixel); break;
                default: filterRow<0>(job, sources, rowWeight, count, pixel); break;
            }
            continue;
        }
        // A tall box: the sums of the whole row are carried from one source
        // row to the next instead.
        sums.assign(static_cast<size_t>(job.widthOut), Lanes{0, 0, 0, 0});
        const int32_t terms = job.columns.terms;
        for (int32_t t = 0; t < count; ++t) {
            const Lanes* source = widened.row(rowSource[t]);
            const Lanes* weight = job.columns.weight.data();
            for (size_t j = 0; j < sums.size(); ++j, weight += terms) {
                const Lanes* from = source + job.columns.first[j];
                for (int32_t s = 0; s < terms; ++s) sums[j] += from[s] * (weight[s] * rowWeight[t]);
            }
        }
        for (const Lanes& sum : sums) {
            storePixel(sum, pixel);
            pixel += 3;
        }
    }
}

// Both sides exactly halved: GLU averages each 2 x 2 block in integers.
void halve(const uint8_t* in, int32_t widthIn, uint8_t* out, int32_t widthOut, int32_t heightOut) {
    const size_t strideIn = paddedStride(widthIn);
    for (int32_t i = 0; i < heightOut; ++i) {
        const uint8_t* top = in + static_cast<size_t>(2 * i) * strideIn;
        const uint8_t* bottom = top + strideIn;
        uint8_t* pixel = out + static_cast<size_t>(i) * paddedStride(widthOut);
        for (int32_t j = 0; j < widthOut * 3; ++j) {
            const int32_t k = (j / 3) * 6 + j % 3;
            const uint32_t sum = 257u * (top[k] + top[k + 3] + bottom[k] + bottom[k + 3]);
            pixel[j] = static_cast<uint8_t>(((sum + 2) / 4) >> 8);
        }
    }
}

}  // namespace

void scaleImage(const uint8_t* in, int32_t widthIn, int32_t heightIn, uint8_t* out, int32_t widthOut,
                int32_t heightOut, int threads) {
    if (widthIn <= 0 || heightIn <= 0 || widthOut <= 0 || heightOut <= 0) return;
    if (widthIn == widthOut * 2 && heightIn == heightOut * 2) return halve(in, widthIn, out, widthOut, heightOut);

    const Job job{in, widthIn, heightIn, out, widthOut, heightOut, padded(boxes(widthIn, widthOut)),
                  boxes(heightIn, heightOut)};
    if (threads < 2 || heightOut < 2) return filterRows(job, 0, heightOut);
    // Output rows are independent; the other thread takes the upper half.
    const int32_t middle = heightOut / 2;
    std::thread upper;
    try {
        upper = std::thread(filterRows, std::cref(job), middle, heightOut);
    } catch (...) {
        return filterRows(job, 0, heightOut);
    }
    filterRows(job, 0, middle);
    upper.join();
}

int scalingThreads() { return std::thread::hardware_concurrency() >= 2 ? 2 : 1; }

}  // namespace plexa::image
