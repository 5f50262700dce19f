// The raster stage of SoftwareDevice: integer edge functions over 24.8 fixed-point vertices, one
// exact span per row (read off 4 to 16 samples tested at once in 32 bits for triangles up to 16
// pixels wide, found by division for wider ones), Gouraud colour in 16.16 fixed point, and span
// loops of their own for what the map draws most: opaque flat or shaded triangles, source-alpha
// blending and the text's modulated texture. Other textures, alpha test and blend factors take
// the general per-pixel path. Each call draws the rows of a range of bands.
#include <algorithm>
#include <atomic>
#include <bit>
#include <climits>
#include <cmath>
#include <cstddef>

#include "render/software_pipeline.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
// The AVX2 spans are compiled for their own functions only and taken where the device's state
// says the processor has it.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define LAPQUILL_WIDE_VECTORS 1
#include <immintrin.h>
#endif

namespace lapquill::software {

// For the tests, which compare the text's pixels drawn each way: 0 takes every shortcut, 1
// leaves out DrawModulatedTexture's column table, 2 draws with DrawGeneral instead.
void SetModulatedTexturePathForTesting(int path);

namespace {

std::atomic<int> modulatedTexturePath{0};

// round(x / 255) for 0 <= x <= 65025, exactly.
inline std::uint32_t Div255(std::uint32_t x) {
    x += 128;
    return (x + (x >> 8)) >> 8;
}

inline std::uint32_t Mul8(std::uint32_t a, std::uint32_t b) {
    return Div255(a * b);
}

#if defined(__SSE2__)
// A value of 0..65535 as the bits of a 16-bit lane.
inline short Lane16(std::uint32_t v) {
    return static_cast<short>(static_cast<std::uint16_t>(v));
}

// dst * (255 - a) + src * a, rounded by Div255, for two pixels in 16-bit lanes (b, g, r, a).
// Div255's rounding half is folded into the source term, and (v + (v >> 8)) >> 8 is taken as
// the high half of v * 257: writing v = 256 a + b, both come to a + (a + b) / 256 rounded down,
// since a + b stays below 511.
struct FlatBlend16 {
    __m128i sourceAndHalf, inverse, times257;
    // For source colour c (ARGB) with alpha a: each channel times a, alpha included (a * a),
    // plus the rounding half; the byte lanes of c widened to 16 bits are b, g, r, a already.
    explicit FlatBlend16(std::uint32_t c)
        : sourceAndHalf(_mm_add_epi16(
              _mm_mullo_epi16(
                  _mm_unpacklo_epi8(_mm_set1_epi32(static_cast<int>(c)), _mm_setzero_si128()),
                  _mm_set1_epi16(Lane16(c >> 24))),
              _mm_set1_epi16(128))),
          inverse(_mm_set1_epi16(Lane16(255 - (c >> 24)))),
          times257(_mm_set1_epi16(257)) {}
    __m128i Apply(__m128i d) const {
        const __m128i v = _mm_add_epi16(_mm_mullo_epi16(d, inverse), sourceAndHalf);
        return _mm_mulhi_epu16(v, times257);
    }
};
#endif

// pixels[0..count) = colour, four at a time where SSE2 is there.
inline void FillPixels(std::uint32_t* pixels, int count, std::uint32_t colour) {
    int i = 0;
#if defined(__SSE2__)
    const __m128i c = _mm_set1_epi32(static_cast<int>(colour));
    for (; i + 8 <= count; i += 8) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pixels + i), c);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pixels + i + 4), c);
    }
    if (i + 4 <= count) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pixels + i), c);
        i += 4;
    }
    // The last one to three pixels in at most two stores.
    if (i + 2 <= count) {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(pixels + i), c);
        i += 2;
    }
    if (i < count) pixels[i] = colour;
    return;
#endif
    for (; i < count; ++i) pixels[i] = colour;
}

struct Rgba {
    std::uint32_t a, r, g, b;  // 0..255
};

inline Rgba Unpack(std::uint32_t c) {
    return Rgba{c >> 24, (c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF};
}
inline std::uint32_t Pack(const Rgba& c) {
    return (c.a << 24) | (c.r << 16) | (c.g << 8) | c.b;
}

// The covered pixels of one row as [first, last] offsets from minX; false when none. Narrow
// triangles test their few samples; wide ones solve each edge for its crossing with a
// reciprocal and settle the rounding with exact integer tests.
inline bool RowSpan(const std::int64_t value[3], const Edges& e, int width, int* first, int* last) {
    if (width <= kNarrowTriangle) {
        std::int64_t e0 = value[0], e1 = value[1], e2 = value[2];
        int lo = -1, hi = -1;
        for (int k = 0; k < width; ++k) {
            if ((e0 | e1 | e2) >= 0) {
                if (lo < 0) lo = k;
                hi = k;
            } else if (lo >= 0) {
                break;  // triangles are convex: the run has ended
            }
            e0 += e.stepX[0];
            e1 += e.stepX[1];
            e2 += e.stepX[2];
        }
        *first = lo;
        *last = hi;
        return lo >= 0;
    }
    std::int64_t lo = 0;
    std::int64_t hi = width - 1;
    for (int i = 0; i < 3; ++i) {
        const std::int64_t v = value[i];
        const std::int64_t a = e.stepX[i];
        if (a > 0) {
            if (v < 0) {
                // The first k with v + a k >= 0, from the ceiling of a positive estimate
                // (truncation, plus one below it; no library call).
                const double estimate = static_cast<double>(-v) * e.inverseStepX[i];
                auto k = static_cast<std::int64_t>(estimate);
                if (static_cast<double>(k) < estimate) ++k;
                while (k > 0 && v + a * (k - 1) >= 0) --k;
                while (v + a * k < 0) ++k;
                lo = std::max(lo, k);
            }
        } else if (a < 0) {
            if (v < 0) return false;
            // The last k with v + a k >= 0.
            auto k = static_cast<std::int64_t>(static_cast<double>(v) * -e.inverseStepX[i]);
            while (v + a * k < 0) --k;
            while (v + a * (k + 1) >= 0) ++k;
            hi = std::min(hi, k);
        } else if (v < 0) {
            return false;
        }
        if (lo > hi) return false;
    }
    *first = static_cast<int>(lo);
    *last = static_cast<int>(hi);
    return true;
}

#if defined(__SSE2__)
// The spans of a triangle with kNarrowSpans in rows [y0, y1], its edge functions set up and
// stepped in 32 bits (SetupEdges32). Each edge keeps its samples at the row's first
// 4 * kRegisters columns in kRegisters registers, stepped down a row with one addition each; a
// row's span is read off the sign bits (triangles are convex, so the covered run is
// contiguous).
template <int kRegisters, typename SpanFn>
inline void NarrowTriangleSpans(const RasterTriangle& t, int y0, int y1, SpanFn&& span) {
    Edges32 e;
    SetupEdges32(t.x, t.y, t.minX, y0, e);
    __m128i samples[3][kRegisters], down[3];
    for (int i = 0; i < 3; ++i) {
        const __m128i step = _mm_set1_epi32(static_cast<std::int32_t>(e.stepX[i]));
        const __m128i step2 = _mm_add_epi32(step, step);
        const __m128i step4 = _mm_add_epi32(step2, step2);
        // at + k stepX for k = 0..3: (0, 0, 2s, 2s) + (0, s, 0, s).
        samples[i][0] = _mm_add_epi32(_mm_set1_epi32(static_cast<std::int32_t>(e.atOrigin[i])),
                                      _mm_add_epi32(_mm_unpacklo_epi64(_mm_setzero_si128(), step2),
                                                    _mm_unpacklo_epi32(_mm_setzero_si128(), step)));
        for (int r = 1; r < kRegisters; ++r)
            samples[i][r] = _mm_add_epi32(samples[i][r - 1], step4);
        down[i] = _mm_set1_epi32(static_cast<std::int32_t>(e.stepY[i]));
    }
    const unsigned columns = (1u << (t.maxX - t.minX + 1)) - 1;
    for (int y = y0; y <= y1; ++y) {
        unsigned outside = 0;
        for (int r = 0; r < kRegisters; ++r) {
            const __m128i any =
                _mm_or_si128(_mm_or_si128(samples[0][r], samples[1][r]), samples[2][r]);
            outside |= static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(any))) << (4 * r);
        }
        const unsigned inside = ~outside & columns;
        if (inside != 0) {
            span(y, t.minX + std::countr_zero(inside), t.minX + std::bit_width(inside) - 1);
        }
        for (int i = 0; i < 3; ++i) {
            for (int r = 0; r < kRegisters; ++r)
                samples[i][r] = _mm_add_epi32(samples[i][r], down[i]);
        }
    }
}
#endif

#if defined(LAPQUILL_WIDE_VECTORS)
// A flat colour written over eight pixels with AVX2: the colour itself when opaque, else
// FlatBlend16's source-alpha blend in sixteen 16-bit lanes, the same to the bit.
struct FlatColour8 {
    __m256i colour, sourceAndHalf, inverse, times257;
    bool opaque;
    [[gnu::target("avx2")]] FlatColour8(std::uint32_t c, bool isOpaque)
        : colour(_mm256_set1_epi32(static_cast<std::int32_t>(c))),
          sourceAndHalf(_mm256_add_epi16(
              _mm256_mullo_epi16(_mm256_unpacklo_epi8(colour, _mm256_setzero_si256()),
                                 _mm256_set1_epi16(static_cast<short>(c >> 24))),
              _mm256_set1_epi16(128))),
          inverse(_mm256_set1_epi16(static_cast<short>(255 - (c >> 24)))),
          times257(_mm256_set1_epi16(257)),
          opaque(isOpaque) {}
    // d where `covered` is clear, the drawn value where it is set.
    [[gnu::target("avx2")]] __m256i Over(__m256i d, __m256i covered) const {
        if (opaque) return _mm256_blendv_epi8(d, colour, covered);
        const __m256i zero = _mm256_setzero_si256();
        const __m256i low = _mm256_mulhi_epu16(
            _mm256_add_epi16(_mm256_mullo_epi16(_mm256_unpacklo_epi8(d, zero), inverse),
                             sourceAndHalf),
            times257);
        const __m256i high = _mm256_mulhi_epu16(
            _mm256_add_epi16(_mm256_mullo_epi16(_mm256_unpackhi_epi8(d, zero), inverse),
                             sourceAndHalf),
            times257);
        return _mm256_blendv_epi8(d, _mm256_packus_epi16(low, high), covered);
    }
};

// The sign bits of the three edge functions, as all-ones lanes where every one is clear.
[[gnu::target("avx2")]] inline __m256i Inside8(const __m256i samples[3], __m256i lanes) {
    const __m256i outside = _mm256_or_si256(_mm256_or_si256(samples[0], samples[1]), samples[2]);
    return _mm256_andnot_si256(_mm256_srai_epi32(outside, 31), lanes);
}

// SetupEdges32 for the three edges at once, edge i in lane i of each register and broadcast to
// eight lanes: the same wrapped values, since the narrow triangles' corner differences fit in
// 32 bits. The loads read one int past x and past y, which RasterTriangle holds (y[0] and
// colour[0]); their lanes are not used.
struct EdgeLanes8 {
    __m256i atOrigin[3], stepX[3], stepY[3];
    [[gnu::target("avx2")]] EdgeLanes8(const RasterTriangle& t, int minX, int minY) {
        static_assert(offsetof(RasterTriangle, y) == offsetof(RasterTriangle, x) + 12 &&
                      offsetof(RasterTriangle, colour) == offsetof(RasterTriangle, y) + 12);
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t.x));
        const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t.y));
        const __m128i dx = _mm_sub_epi32(_mm_shuffle_epi32(x, _MM_SHUFFLE(3, 0, 2, 1)), x);
        const __m128i dy = _mm_sub_epi32(_mm_shuffle_epi32(y, _MM_SHUFFLE(3, 0, 2, 1)), y);
        const __m128i zero = _mm_setzero_si128();
        // The clockwise triangle's top edge runs to the right and its left edges upwards.
        const __m128i topLeft = _mm_or_si128(
            _mm_cmpgt_epi32(zero, dy), _mm_and_si128(_mm_cmpeq_epi32(dy, zero),
                                                     _mm_cmpgt_epi32(dx, zero)));
        const __m128i sampleX = _mm_set1_epi32(minX * kSubpixelScale + kPixelCentreOffset);
        const __m128i sampleY = _mm_set1_epi32(minY * kSubpixelScale + kPixelCentreOffset);
        const __m128i at = _mm_add_epi32(
            _mm_sub_epi32(_mm_mullo_epi32(dx, _mm_sub_epi32(sampleY, y)),
                          _mm_mullo_epi32(dy, _mm_sub_epi32(sampleX, x))),
            _mm_xor_si128(topLeft, _mm_set1_epi32(-1)));
        const __m256i a = _mm256_castsi128_si256(at);
        const __m256i sx = _mm256_castsi128_si256(_mm_sub_epi32(zero, _mm_slli_epi32(dy, kSubpixelBits)));
        const __m256i sy = _mm256_castsi128_si256(_mm_slli_epi32(dx, kSubpixelBits));
        for (int i = 0; i < 3; ++i) {
            const __m256i pick = _mm256_set1_epi32(i);
            atOrigin[i] = _mm256_permutevar8x32_epi32(a, pick);
            stepX[i] = _mm256_permutevar8x32_epi32(sx, pick);
            stepY[i] = _mm256_permutevar8x32_epi32(sy, pick);
        }
    }
};

// DrawNarrowFlatRows for a triangle at most kColumns (2 or 4) pixels wide: one register holds
// kColumns columns of 8 / kColumns rows, lane j sampling column j % kColumns of row j /
// kColumns, so that a sliver a few rows tall takes one or two steps. Only the rows of [y0, y1]
// are read and written; the box must leave kColumns pixels to the right edge.
template <int kColumns>
[[gnu::target("avx2")]] void DrawNarrowFlatStack(const RasterTriangle& t, const EdgeLanes8& e,
                                                 const FlatColour8& colour, const Target& target,
                                                 int y0, int y1) {
    constexpr int kRows = 8 / kColumns;
    const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256i column = _mm256_and_si256(lane, _mm256_set1_epi32(kColumns - 1));
    const __m256i row = _mm256_srli_epi32(lane, kColumns == 2 ? 1 : 2);
    __m256i samples[3], down[3];
    for (int i = 0; i < 3; ++i) {
        samples[i] = _mm256_add_epi32(
            e.atOrigin[i], _mm256_add_epi32(_mm256_mullo_epi32(column, e.stepX[i]),
                                            _mm256_mullo_epi32(row, e.stepY[i])));
        down[i] = _mm256_slli_epi32(e.stepY[i], kColumns == 2 ? 2 : 1);  // kRows rows
    }
    const __m256i columns = _mm256_cmpgt_epi32(_mm256_set1_epi32(t.maxX - t.minX + 1), column);
    const std::size_t pitch = static_cast<std::size_t>(target.width);
    std::uint32_t* first = target.pixels + static_cast<std::size_t>(y0) * pitch + t.minX;
    for (int y = y0; y <= y1; y += kRows, first += kRows * pitch) {
        const int rows = std::min(kRows, y1 - y + 1);
        const __m256i lanes =
            _mm256_and_si256(columns, _mm256_cmpgt_epi32(_mm256_set1_epi32(rows), row));
        const __m256i covered = Inside8(samples, lanes);
        for (int i = 0; i < 3; ++i) samples[i] = _mm256_add_epi32(samples[i], down[i]);
        if (_mm256_testz_si256(covered, covered)) continue;
        // Rows past the last are neither read nor written: another thread may own them.
        __m128i part[kRows];
        for (int r = 0; r < kRows; ++r) {
            const auto* at = reinterpret_cast<const __m128i*>(first + r * pitch);
            if (kColumns == 2) {
                part[r] = r < rows ? _mm_loadl_epi64(at) : _mm_setzero_si128();
            } else {
                part[r] = r < rows ? _mm_loadu_si128(at) : _mm_setzero_si128();
            }
        }
        __m128i low = part[0], high = part[1];
        if (kColumns == 2) {
            low = _mm_unpacklo_epi64(part[0], part[1]);
            high = _mm_unpacklo_epi64(part[kRows - 2], part[kRows - 1]);
        }
        const __m256i drawn = colour.Over(_mm256_set_m128i(high, low), covered);
        const __m128i halves[2] = {_mm256_castsi256_si128(drawn),
                                   _mm256_extracti128_si256(drawn, 1)};
        for (int r = 0; r < rows; ++r) {
            auto* at = reinterpret_cast<__m128i*>(first + r * pitch);
            if (kColumns == 2) {
                const __m128i half = halves[r / 2];
                _mm_storel_epi64(at, (r & 1) != 0 ? _mm_unpackhi_epi64(half, half) : half);
            } else {
                _mm_storeu_si128(at, halves[r]);
            }
        }
    }
}

// A flat triangle with kNarrowSpans whose box starts at least 16 pixels left of the picture's
// right edge, drawn in rows [y0, y1] eight columns at a time with AVX2: each edge keeps its
// samples at the row's first 8 or 16 columns in one or two registers (SetupEdges32's values,
// stepped in 32 bits as NarrowTriangleSpans steps them), and their signs select, lane by lane,
// which of the eight pixels loaded take the colour or the blend and which are stored back as
// they were. A thread owns whole rows, so storing a pixel it read, unchanged, is safe.
[[gnu::target("avx2")]] void DrawNarrowFlatRows(const RasterTriangle& t, bool opaque,
                                                const Target& target, int y0, int y1) {
    if (y0 > y1) return;
    const EdgeLanes8 e(t, t.minX, y0);
    const FlatColour8 colour(t.colour[0], opaque);
    const int width = t.maxX - t.minX + 1;
    if (y1 > y0 && width <= 4) {
        if (width <= 2) {
            DrawNarrowFlatStack<2>(t, e, colour, target, y0, y1);
        } else {
            DrawNarrowFlatStack<4>(t, e, colour, target, y0, y1);
        }
        return;
    }
    const int registers = width > 8 ? 2 : 1;
    const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    __m256i samples[2][3], down[3];
    for (int i = 0; i < 3; ++i) {
        samples[0][i] = _mm256_add_epi32(e.atOrigin[i], _mm256_mullo_epi32(lane, e.stepX[i]));
        samples[1][i] = _mm256_add_epi32(samples[0][i], _mm256_slli_epi32(e.stepX[i], 3));
        down[i] = e.stepY[i];
    }
    const __m256i columns[2] = {_mm256_cmpgt_epi32(_mm256_set1_epi32(width), lane),
                                _mm256_cmpgt_epi32(_mm256_set1_epi32(width - 8), lane)};
    std::uint32_t* row = target.pixels + static_cast<std::size_t>(y0) * target.width + t.minX;
    for (int y = y0; y <= y1; ++y, row += target.width) {
        for (int r = 0; r < registers; ++r) {
            const __m256i covered = Inside8(samples[r], columns[r]);
            if (_mm256_testz_si256(covered, covered)) continue;
            auto* at = reinterpret_cast<__m256i*>(row + 8 * r);
            _mm256_storeu_si256(at, colour.Over(_mm256_loadu_si256(at), covered));
        }
        for (int r = 0; r < registers; ++r) {
            for (int i = 0; i < 3; ++i) samples[r][i] = _mm256_add_epi32(samples[r][i], down[i]);
        }
    }
}
#endif

// Calls span(y, x0, x1) for every covered run of pixels in bands [firstBand, lastBand].
template <typename SpanFn>
void ForEachSpan(const RasterTriangle& t, int firstBand, int lastBand, SpanFn&& span) {
#if defined(__SSE2__)
    if ((t.flags & kNarrowSpans) != 0) {
        const int y0 = std::max<int>(t.minY, firstBand * kBandRows);
        const int y1 = std::min<int>(t.maxY, lastBand * kBandRows + kBandRows - 1);
        const int width = t.maxX - t.minX + 1;
        if (width <= 4) {
            NarrowTriangleSpans<1>(t, y0, y1, span);
        } else if (width <= 8) {
            NarrowTriangleSpans<2>(t, y0, y1, span);
        } else {
            NarrowTriangleSpans<4>(t, y0, y1, span);
        }
        return;
    }
#endif
    Edges e;
    SetupEdges(t.x, t.y, t.minX, t.minY, e);
    const int width = t.maxX - t.minX + 1;
    if (width > kNarrowTriangle) {
        for (int i = 0; i < 3; ++i) {
            e.inverseStepX[i] = e.stepX[i] != 0 ? 1.0 / static_cast<double>(e.stepX[i]) : 0.0;
        }
    }
    const int bandEnd = std::min<int>(t.maxY / kBandRows, lastBand);
    for (int band = std::max<int>(t.minY / kBandRows, firstBand); band <= bandEnd; ++band) {
        const int y0 = std::max<int>(t.minY, band * kBandRows);
        const int y1 = std::min<int>(t.maxY, band * kBandRows + kBandRows - 1);
        std::int64_t value[3];
        for (int i = 0; i < 3; ++i) value[i] = e.atOrigin[i] + e.stepY[i] * (y0 - t.minY);
        for (int y = y0; y <= y1; ++y) {
            int first, last;
            if (RowSpan(value, e, width, &first, &last)) span(y, t.minX + first, t.minX + last);
            for (int i = 0; i < 3; ++i) value[i] += e.stepY[i];
        }
    }
}

// A linear function of the pixel position, fitted through the three vertices.
struct Plane {
    float atVertex0;
    float dx;  // per pixel
    float dy;
};

struct PlaneSetup {
    float x0, y0;              // vertex 0 relative to the sample point, pixels
    float dx1, dy1, dx2, dy2;  // vertex 1 and 2 relative to vertex 0, pixels
    float inverseArea;
    explicit PlaneSetup(const RasterTriangle& t) {
        const float scale = 1.0f / static_cast<float>(kSubpixelScale);
        x0 = static_cast<float>(t.x[0] - kPixelCentreOffset) * scale;
        y0 = static_cast<float>(t.y[0] - kPixelCentreOffset) * scale;
        dx1 = static_cast<float>(t.x[1] - t.x[0]) * scale;
        dy1 = static_cast<float>(t.y[1] - t.y[0]) * scale;
        dx2 = static_cast<float>(t.x[2] - t.x[0]) * scale;
        dy2 = static_cast<float>(t.y[2] - t.y[0]) * scale;
        inverseArea = 1.0f / (dx1 * dy2 - dy1 * dx2);
    }
    Plane Fit(float v0, float v1, float v2) const {
        const float d1 = v1 - v0;
        const float d2 = v2 - v0;
        return Plane{v0, (d1 * dy2 - d2 * dy1) * inverseArea, (d2 * dx1 - d1 * dx2) * inverseArea};
    }
    float At(const Plane& p, int x, int y) const {
        return p.atVertex0 + p.dx * (static_cast<float>(x) - x0) +
               p.dy * (static_cast<float>(y) - y0);
    }
};

// Gouraud colour in 16.16 fixed point with the rounding half (0x8000) added in. Values are
// 32-bit and wrap: at a covered sample the true value is within 0..255, so it comes out right
// even when the value at the corner of a sliver's bounding box would not fit. Small triangles
// step whole rows from the first row of each band; wide ones start each span in double
// precision at its first (covered) pixel. Either way a pixel's value depends only on the
// triangle, its band and the pixel, never on the thread.
struct ColourLanes {
    std::uint32_t a, r, g, b;
};

struct ColourStepper {
    double atVertex0[4];   // a, r, g, b
    double dx[4], dy[4];   // per pixel
    double x0, y0;         // vertex 0 relative to the sample point, pixels
    ColourLanes step;      // per pixel to the right
    ColourLanes stepDown;  // per row
    bool incremental;
    int minX, minY;
    int bandRow = INT_MIN;   // the row bandBase belongs to
    ColourLanes bandBase{};  // at (minX, bandRow)

    ColourStepper(const RasterTriangle& t, bool small)
        : incremental(small), minX(t.minX), minY(t.minY) {
        const double scale = 1.0 / kSubpixelScale;
        x0 = (t.x[0] - kPixelCentreOffset) * scale;
        y0 = (t.y[0] - kPixelCentreOffset) * scale;
        const double dx1 = (t.x[1] - t.x[0]) * scale, dy1 = (t.y[1] - t.y[0]) * scale;
        const double dx2 = (t.x[2] - t.x[0]) * scale, dy2 = (t.y[2] - t.y[0]) * scale;
        const double inverseArea = 1.0 / (dx1 * dy2 - dy1 * dx2);
        std::uint32_t right[4], down[4];
        for (int i = 0; i < 4; ++i) {
            const int shift = 24 - 8 * i;
            const double c0 = (t.colour[0] >> shift) & 0xFF;
            const double d1 = static_cast<double>((t.colour[1] >> shift) & 0xFF) - c0;
            const double d2 = static_cast<double>((t.colour[2] >> shift) & 0xFF) - c0;
            atVertex0[i] = c0;
            dx[i] = (d1 * dy2 - d2 * dy1) * inverseArea;
            dy[i] = (d2 * dx1 - d1 * dx2) * inverseArea;
            right[i] = Fixed(dx[i]);
            down[i] = Fixed(dy[i]);
        }
        step = ColourLanes{right[0], right[1], right[2], right[3]};
        stepDown = ColourLanes{down[0], down[1], down[2], down[3]};
    }
    // v in 16.16, reduced modulo 2^32; exact for any |v| below 2^47.
    static std::uint32_t Fixed(double v) {
        double scaled = v * 65536.0 + 0.5;
        if (!(std::fabs(scaled) < 1.4e14)) scaled = 0.0;  // only at corners of absurd slivers
        // Truncation rounds negative halves up instead of down: harmless at 1/65536.
        return static_cast<std::uint32_t>(static_cast<std::int64_t>(scaled));
    }
    ColourLanes Evaluate(int x, int y) const {
        const double ox = x - x0, oy = y - y0;
        auto at = [&](int i) { return Fixed(atVertex0[i] + dx[i] * ox + dy[i] * oy) + 0x8000u; };
        return ColourLanes{at(0), at(1), at(2), at(3)};
    }
    ColourLanes Start(int x, int y) {
        if (!incremental) return Evaluate(x, y);
        const int row = std::max(minY, y / kBandRows * kBandRows);
        if (row != bandRow) {
            bandRow = row;
            bandBase = Evaluate(minX, row);
        }
        const auto down = static_cast<std::uint32_t>(y - row);
        const auto across = static_cast<std::uint32_t>(x - minX);
        return ColourLanes{bandBase.a + stepDown.a * down + step.a * across,
                           bandBase.r + stepDown.r * down + step.r * across,
                           bandBase.g + stepDown.g * down + step.g * across,
                           bandBase.b + stepDown.b * down + step.b * across};
    }
    void Advance(ColourLanes& c) const {
        c.a += step.a;
        c.r += step.r;
        c.g += step.g;
        c.b += step.b;
    }
    static std::uint32_t Channel(std::uint32_t biased) {
        return static_cast<std::uint32_t>(
            std::clamp(static_cast<std::int32_t>(biased) >> 16, 0, 255));
    }
    static std::uint32_t Pack(const ColourLanes& c) {
        return (Channel(c.a) << 24) | (Channel(c.r) << 16) | (Channel(c.g) << 8) | Channel(c.b);
    }
    std::uint32_t At(int x, int y) const { return Pack(Evaluate(x, y)); }
};

inline std::uint32_t BlendSrcAlpha(std::uint32_t src, std::uint32_t dst) {
    const std::uint32_t a = src >> 24;
    const std::uint32_t ia = 255 - a;
    const std::uint32_t outA = Div255(a * a + (dst >> 24) * ia);
    const std::uint32_t outR = Div255(((src >> 16) & 0xFF) * a + ((dst >> 16) & 0xFF) * ia);
    const std::uint32_t outG = Div255(((src >> 8) & 0xFF) * a + ((dst >> 8) & 0xFF) * ia);
    const std::uint32_t outB = Div255((src & 0xFF) * a + (dst & 0xFF) * ia);
    return (outA << 24) | (outR << 16) | (outG << 8) | outB;
}

std::uint32_t BlendFactor(std::uint32_t factor, std::uint32_t srcChannel, std::uint32_t srcAlpha,
                          std::uint32_t dstChannel, std::uint32_t dstAlpha) {
    switch (factor) {
        case D3DBLEND_ZERO:
            return 0;
        case D3DBLEND_ONE:
            return 255;
        case D3DBLEND_SRCCOLOR:
            return srcChannel;
        case D3DBLEND_INVSRCCOLOR:
            return 255 - srcChannel;
        case D3DBLEND_SRCALPHA:
            return srcAlpha;
        case D3DBLEND_INVSRCALPHA:
            return 255 - srcAlpha;
        case D3DBLEND_DESTALPHA:
            return dstAlpha;
        case D3DBLEND_INVDESTALPHA:
            return 255 - dstAlpha;
        case D3DBLEND_DESTCOLOR:
            return dstChannel;
        case D3DBLEND_INVDESTCOLOR:
            return 255 - dstChannel;
        default:
            return 0;
    }
}

// Any blend: src * srcFactor + dst * dstFactor, rounded once, saturated.
std::uint32_t BlendGeneral(const RasterState& s, std::uint32_t src, std::uint32_t dst) {
    const std::uint32_t sa = src >> 24, da = dst >> 24;
    std::uint32_t out = 0;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const std::uint32_t sc = (src >> shift) & 0xFF;
        const std::uint32_t dc = (dst >> shift) & 0xFF;
        const std::uint32_t sum = sc * BlendFactor(s.srcBlend, sc, sa, dc, da) +
                                  dc * BlendFactor(s.dstBlend, sc, sa, dc, da);
        out |= Div255(std::min<std::uint32_t>(sum, 65025)) << shift;
    }
    return out;
}

bool AlphaTestPasses(std::uint32_t func, std::uint32_t alpha, std::uint32_t ref) {
    switch (func) {
        case D3DCMP_NEVER:
            return false;
        case D3DCMP_LESS:
            return alpha < ref;
        case D3DCMP_EQUAL:
            return alpha == ref;
        case D3DCMP_LESSEQUAL:
            return alpha <= ref;
        case D3DCMP_GREATER:
            return alpha > ref;
        case D3DCMP_NOTEQUAL:
            return alpha != ref;
        case D3DCMP_GREATEREQUAL:
            return alpha >= ref;
        default:
            return true;
    }
}

inline int Address(int i, int size, std::uint32_t mode) {
    // Inside the texture every mode keeps the texel: no division for the common case.
    if (static_cast<unsigned>(i) < static_cast<unsigned>(size)) return i;
    if (mode == D3DTADDRESS_WRAP) {
        i %= size;
        return i < 0 ? i + size : i;
    }
    return std::clamp(i, 0, size - 1);
}

// Texel coordinates are kept within a range where float-to-int conversions are defined; far
// outside the texture every address mode gives the same texel again anyway.
inline float TexelCoordinate(float t, int size) {
    return std::clamp(t * static_cast<float>(size), -16777216.0f, 16777216.0f);
}

// floor(t) as an int for the range TexelCoordinate leaves, without a library call: truncation
// rounds a negative value with a fraction one too high.
inline int FloorToInt(float t) {
    const int i = static_cast<int>(t);
    return i - (static_cast<float>(i) > t ? 1 : 0);
}

std::uint32_t SamplePoint(const TextureImage& image, float u, float v, const RasterState& s) {
    const int x = Address(FloorToInt(TexelCoordinate(u, image.width)), image.width, s.addressU);
    const int y = Address(FloorToInt(TexelCoordinate(v, image.height)), image.height, s.addressV);
    return image.texels[static_cast<std::size_t>(y) * image.width + x];
}

// Bilinear between the four texels around (u, v); texel centres lie at (i + 0.5) / size.
std::uint32_t SampleLinear(const TextureImage& image, float u, float v, const RasterState& s) {
    const float fu = TexelCoordinate(u, image.width) - 0.5f;
    const float fv = TexelCoordinate(v, image.height) - 0.5f;
    const float iu = std::floor(fu);
    const float iv = std::floor(fv);
    const std::uint32_t wx = static_cast<std::uint32_t>(RoundToInt((fu - iu) * 256.0f));
    const std::uint32_t wy = static_cast<std::uint32_t>(RoundToInt((fv - iv) * 256.0f));
    const int x0 = Address(static_cast<int>(iu), image.width, s.addressU);
    const int x1 = Address(static_cast<int>(iu) + 1, image.width, s.addressU);
    const int y0 = Address(static_cast<int>(iv), image.height, s.addressV);
    const int y1 = Address(static_cast<int>(iv) + 1, image.height, s.addressV);
    const std::size_t w = static_cast<std::size_t>(image.width);
    const std::uint32_t t00 = image.texels[y0 * w + x0], t10 = image.texels[y0 * w + x1];
    const std::uint32_t t01 = image.texels[y1 * w + x0], t11 = image.texels[y1 * w + x1];
    std::uint32_t out = 0;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const std::uint32_t top =
            ((t00 >> shift) & 0xFF) * (256 - wx) + ((t10 >> shift) & 0xFF) * wx;
        const std::uint32_t bottom =
            ((t01 >> shift) & 0xFF) * (256 - wx) + ((t11 >> shift) & 0xFF) * wx;
        out |= ((top * (256 - wy) + bottom * wy + 32768) >> 16) << shift;
    }
    return out;
}

inline Rgba ReadArg(const StageArg& arg, const Rgba& diffuse, const Rgba& texel,
                    const Rgba& factor) {
    Rgba c = arg.source == StageSource::Texture  ? texel
             : arg.source == StageSource::Factor ? factor
                                                 : diffuse;
    if (arg.complement) c = Rgba{255 - c.a, 255 - c.r, 255 - c.g, 255 - c.b};
    if (arg.alphaReplicate) c.r = c.g = c.b = c.a;
    return c;
}

inline std::uint32_t Combine(StageOp op, std::uint32_t a, std::uint32_t b) {
    switch (op) {
        case StageOp::SelectArg1:
            return a;
        case StageOp::SelectArg2:
            return b;
        case StageOp::Modulate:
            return Mul8(a, b);
        case StageOp::Add:
            return std::min<std::uint32_t>(a + b, 255);
        default:
            return a;
    }
}

// Texture stage 0: the colour and alpha operations on diffuse, texel and texture factor.
Rgba RunStage(const RasterState& s, const Rgba& diffuse, const Rgba& texel) {
    if (s.colorOp == StageOp::Disable) return diffuse;
    const Rgba factor = Unpack(s.textureFactor);
    const Rgba c1 = ReadArg(s.colorArg1, diffuse, texel, factor);
    const Rgba c2 = ReadArg(s.colorArg2, diffuse, texel, factor);
    Rgba out{diffuse.a, Combine(s.colorOp, c1.r, c2.r), Combine(s.colorOp, c1.g, c2.g),
             Combine(s.colorOp, c1.b, c2.b)};
    if (s.alphaOp != StageOp::Disable) {
        const Rgba a1 = ReadArg(s.alphaArg1, diffuse, texel, factor);
        const Rgba a2 = ReadArg(s.alphaArg2, diffuse, texel, factor);
        out.a = Combine(s.alphaOp, a1.a, a2.a);
    }
    return out;
}

// Texture coordinates of a triangle: affine, or divided by the interpolated rhw per pixel.
struct TextureStepper {
    Plane u, v, q;
    bool perspective;
    bool linear;  // the filter for this triangle's scale

    TextureStepper(const RasterTriangle& t, const TexturedCorners& c, const PlaneSetup& s,
                   const RasterState& state) {
        perspective = (t.flags & kConstantRhw) == 0;
        if (perspective) {
            u = s.Fit(c.u[0] * c.rhw[0], c.u[1] * c.rhw[1], c.u[2] * c.rhw[2]);
            v = s.Fit(c.v[0] * c.rhw[0], c.v[1] * c.rhw[1], c.v[2] * c.rhw[2]);
            q = s.Fit(c.rhw[0], c.rhw[1], c.rhw[2]);
        } else {
            u = s.Fit(c.u[0], c.u[1], c.u[2]);
            v = s.Fit(c.v[0], c.v[1], c.v[2]);
            q = Plane{1.0f, 0.0f, 0.0f};
        }
        // Magnification when a pixel step covers at most one texel, else minification.
        float scale = 0.0f;
        if (state.texture) {
            const Plane au = s.Fit(c.u[0], c.u[1], c.u[2]);
            const Plane av = s.Fit(c.v[0], c.v[1], c.v[2]);
            const float w = static_cast<float>(state.texture->width);
            const float h = static_cast<float>(state.texture->height);
            const float sx = (au.dx * w) * (au.dx * w) + (av.dx * h) * (av.dx * h);
            const float sy = (au.dy * w) * (au.dy * w) + (av.dy * h) * (av.dy * h);
            scale = std::max(sx, sy);
        }
        const std::uint32_t filter = scale > 1.0f ? state.minFilter : state.magFilter;
        linear = filter == D3DTEXF_LINEAR;
    }
};

// The colour `packed` written over `pixel` as the state's blend says.
inline void WritePixel(const RasterState& s, std::uint32_t packed, std::uint32_t& pixel) {
    if (s.opaque) {
        pixel = packed;
    } else if (s.srcAlphaBlend) {
        pixel = BlendSrcAlpha(packed, pixel);
    } else {
        pixel = BlendGeneral(s, packed, pixel);
    }
}

// Calls shade(x, y, diffuse, pixel) for every covered pixel with its diffuse colour, flat or
// Gouraud, and the pixel it is drawn over.
template <typename ShadeFn>
void ForEachShadedPixel(const RasterTriangle& t, const Target& target, int firstBand, int lastBand,
                        ShadeFn&& shade) {
    if ((t.flags & kFlatColour) != 0) {
        const std::uint32_t diffuse = t.colour[0];
        ForEachSpan(t, firstBand, lastBand, [&](int y, int x0, int x1) {
            std::uint32_t* row = target.pixels + static_cast<std::size_t>(y) * target.width;
            for (int x = x0; x <= x1; ++x) shade(x, y, diffuse, row[x]);
        });
        return;
    }
    ColourStepper colour(t, false);
    ForEachSpan(t, firstBand, lastBand, [&](int y, int x0, int x1) {
        std::uint32_t* row = target.pixels + static_cast<std::size_t>(y) * target.width;
        ColourLanes value = colour.Start(x0, y);
        for (int x = x0; x <= x1; ++x) {
            const std::uint32_t diffuse = ColourStepper::Pack(value);
            colour.Advance(value);
            shade(x, y, diffuse, row[x]);
        }
    });
}

void DrawGeneral(const RasterTriangle& t, const TexturedCorners& corners, const RasterState& s,
                 const Target& target, int firstBand, int lastBand) {
    const PlaneSetup setup(t);
    const bool sampled = !s.stagePassThrough && s.texture != nullptr;
    const TextureStepper texture(t, corners, setup, s);
    const Rgba white{255, 255, 255, 255};
    const std::uint32_t alphaRef = s.alphaRef & 0xFF;
    ForEachShadedPixel(t, target, firstBand, lastBand,
                       [&](int x, int y, std::uint32_t diffuse, std::uint32_t& pixel) {
                           Rgba src = Unpack(diffuse);
                           if (!s.stagePassThrough) {
                               Rgba texel = white;
                               if (sampled) {
                                   float u = setup.At(texture.u, x, y);
                                   float v = setup.At(texture.v, x, y);
                                   if (texture.perspective) {
                                       const float q = 1.0f / setup.At(texture.q, x, y);
                                       u *= q;
                                       v *= q;
                                   }
                                   texel =
                                       Unpack(texture.linear ? SampleLinear(*s.texture, u, v, s)
                                                             : SamplePoint(*s.texture, u, v, s));
                               }
                               src = RunStage(s, src, texel);
                           }
                           if (s.alphaTest && !AlphaTestPasses(s.alphaFunc, src.a, alphaRef))
                               return;
                           WritePixel(s, Pack(src), pixel);
                       });
}

// The widest triangle, in pixels, whose texel columns DrawModulatedTexture keeps in a table, and
// the tallest, in rows, whose spans it gathers before drawing them: a glyph's cell is a few dozen
// pixels wide and high at most.
constexpr int kColumnTable = 64;
constexpr int kSpanTable = 64;

struct Span {
    int y, x0, x1;
};

// DrawGeneral's work for the text's state, with the stage's choices made once: affine texture
// coordinates, point sampling, texture * diffuse. Every value is computed as DrawGeneral
// computes it, so the pixels are the same.
void DrawModulatedTexture(const RasterTriangle& t, const RasterState& s,
                          const TextureStepper& texture, const PlaneSetup& setup,
                          const Target& target, int firstBand, int lastBand, bool columnTable) {
    // The state's fields in locals: the pixel stores could otherwise alias them and have them
    // read again for every pixel.
    const std::uint32_t alphaRef = s.alphaRef & 0xFF;
    const bool alphaTest = s.alphaTest;
    const std::uint32_t alphaFunc = s.alphaFunc;
    const bool srcAlphaBlend = s.srcAlphaBlend;
    const std::uint32_t addressU = s.addressU, addressV = s.addressV;
    const TextureImage& image = *s.texture;
    const std::uint32_t* texels = image.texels.data();
    const int width = image.width, height = image.height;
    const Plane u = texture.u, v = texture.v;
    const bool flat = (t.flags & kFlatColour) != 0;
    // The stage and the blend from the sampled texel on.
    auto shadeTexel = [&](std::uint32_t texel, std::uint32_t diffuse, std::uint32_t& pixel) {
        const std::uint32_t a = Mul8(texel >> 24, diffuse >> 24);
        if (alphaTest && !AlphaTestPasses(alphaFunc, a, alphaRef)) return;
        // Source-alpha blending of a transparent texel leaves the pixel as it was (every
        // channel comes back as Div255(d * 255) = d); most of a glyph's cell is such.
        if (a == 0 && srcAlphaBlend) return;
        const std::uint32_t packed = (a << 24) |
                                     Mul8((texel >> 16) & 0xFF, (diffuse >> 16) & 0xFF) << 16 |
                                     Mul8((texel >> 8) & 0xFF, (diffuse >> 8) & 0xFF) << 8 |
                                     Mul8(texel & 0xFF, diffuse & 0xFF);
        WritePixel(s, packed, pixel);
    };
    // The rest of SamplePoint and the stage, from the floored texel coordinates on.
    auto shade = [&](int column, int line, std::uint32_t diffuse, std::uint32_t& pixel) {
        const int tx = Address(column, width, addressU);
        const int ty = Address(line, height, addressV);
        shadeTexel(texels[static_cast<std::size_t>(ty) * width + tx], diffuse, pixel);
    };
    auto shadeAt = [&](int x, int y, std::uint32_t diffuse, std::uint32_t& pixel) {
        shade(FloorToInt(TexelCoordinate(setup.At(u, x, y), width)),
              FloorToInt(TexelCoordinate(setup.At(v, x, y), height)), diffuse, pixel);
    };
#if defined(__SSE2__)
    // Modulate and blend four pixels under a flat diffuse colour in 16-bit lanes. Every product
    // and sum of the scalar formulas stays below 65536, and Div255 is the high half of
    // (v + 128) * 257 as in FlatBlend16, so the results are the same to the bit.
    const std::uint32_t flatDiffuse = t.colour[0];
    const __m128i zero = _mm_setzero_si128();
    const __m128i diffuse16 =
        _mm_unpacklo_epi8(_mm_set1_epi32(static_cast<int>(flatDiffuse)), zero);
    const __m128i half16 = _mm_set1_epi16(128), full16 = _mm_set1_epi16(255);
    const __m128i times257 = _mm_set1_epi16(257);
    const __m128i bits = _mm_setr_epi32(1, 2, 4, 8);
    const __m128i all = _mm_set1_epi32(-1);
    const __m128i diffuseAlpha = _mm_set1_epi32(static_cast<int>(flatDiffuse >> 24));
    // The text's test, alpha >= ref, is alpha > ref - 1 in signed lanes; other tests are made
    // one pixel at a time.
    const bool laneAlphaTest = !alphaTest || alphaFunc == D3DCMP_GREATEREQUAL;
    const __m128i belowRef = _mm_set1_epi32(static_cast<int>(alphaRef) - 1);
    auto blendFour = [&](__m128i t4, std::uint32_t* pixels) {
        unsigned drawn = 0;  // bit k: pixel k passes the alpha test with some alpha
        if (laneAlphaTest) {
            // Mul8 of the two alphas in the low half of each 32-bit lane (the high half is
            // 0 * 0 and rounds to 0), then the test as a comparison.
            const __m128i a = _mm_mulhi_epu16(
                _mm_add_epi16(_mm_mullo_epi16(_mm_srli_epi32(t4, 24), diffuseAlpha), half16),
                times257);
            const __m128i passes = alphaTest ? _mm_cmpgt_epi32(a, belowRef) : all;
            drawn = static_cast<unsigned>(_mm_movemask_ps(
                _mm_castsi128_ps(_mm_andnot_si128(_mm_cmpeq_epi32(a, zero), passes))));
        } else {
            alignas(16) std::uint32_t texel[4];
            _mm_store_si128(reinterpret_cast<__m128i*>(texel), t4);
            for (int k = 0; k < 4; ++k) {
                const std::uint32_t a = Mul8(texel[k] >> 24, flatDiffuse >> 24);
                if (a != 0 && AlphaTestPasses(alphaFunc, a, alphaRef)) drawn |= 1u << k;
            }
        }
        if (drawn == 0) return;
        auto* at = reinterpret_cast<__m128i*>(pixels);
        const __m128i dst = _mm_loadu_si128(at);
        auto blend = [&](__m128i t, __m128i d) {
            const __m128i m =
                _mm_mulhi_epu16(_mm_add_epi16(_mm_mullo_epi16(t, diffuse16), half16), times257);
            __m128i a = _mm_shufflelo_epi16(m, _MM_SHUFFLE(3, 3, 3, 3));
            a = _mm_shufflehi_epi16(a, _MM_SHUFFLE(3, 3, 3, 3));
            const __m128i sum = _mm_add_epi16(
                _mm_add_epi16(_mm_mullo_epi16(m, a), _mm_mullo_epi16(d, _mm_sub_epi16(full16, a))),
                half16);
            return _mm_mulhi_epu16(sum, times257);
        };
        const __m128i blended =
            _mm_packus_epi16(blend(_mm_unpacklo_epi8(t4, zero), _mm_unpacklo_epi8(dst, zero)),
                             blend(_mm_unpackhi_epi8(t4, zero), _mm_unpackhi_epi8(dst, zero)));
        // Pixels that fail the alpha test keep their value; so do transparent ones, which the
        // blend would give back unchanged anyway.
        const __m128i keep =
            _mm_cmpeq_epi32(_mm_and_si128(_mm_set1_epi32(static_cast<int>(drawn)), bits), zero);
        _mm_storeu_si128(at,
                         _mm_or_si128(_mm_and_si128(keep, dst), _mm_andnot_si128(keep, blended)));
    };
#endif
    // The triangles of an axis-aligned quad, as the text draws its glyphs: the plane fit gives
    // u.dy and v.dx as exact zeros, since u changes only across and v only down. A pixel's u,
    // (atU + u.dx * across) + u.dy * down, then adds a zero (u.dy * down, down being finite) to
    // the first sum: that gives the sum back, a NaN or an infinity included, or at most a zero
    // of the other sign, which floors to texel 0 all the same. So each column's texel depends
    // on x alone and is found once for the triangle, with setup.At's operations in its order
    // less the zero; likewise v.dx * across is a zero and each row's texel line is found once
    // from the row's first pixel.
    if (flat && columnTable && u.dy == 0.0f && v.dx == 0.0f && t.maxX - t.minX < kColumnTable &&
        t.maxY - t.minY < kSpanTable) {
        int columnAt[kColumnTable + 3];
        for (int x = t.minX; x <= t.maxX; ++x) {
            const float across = static_cast<float>(x) - setup.x0;
            columnAt[x - t.minX] = Address(
                FloorToInt(TexelCoordinate(u.atVertex0 + u.dx * across, width)), width, addressU);
        }
        // Three more, column 0, for the lanes past the last pixel of a span.
        for (int k = 1; k <= 3; ++k) columnAt[t.maxX - t.minX + k] = 0;
        const int* column = columnAt - t.minX;
#if defined(__SSE2__)
        const __m128i lanes = _mm_setr_epi32(0, 1, 2, 3);
        const __m128i alphaBytes = _mm_set1_epi32(static_cast<int>(0xFF000000u));
        // The last x whose four pixels x..x + 3 all lie within the row.
        const int lastFour = target.width - 4;
#endif
        const std::uint32_t diffuse = t.colour[0];
        // The spans first (at most one a row), then drawn in one loop of this function: drawn
        // by a call for each span instead, every constant would be read again through the
        // call's references for every span.
        Span spans[kSpanTable];
        int spanCount = 0;
        ForEachSpan(t, firstBand, lastBand, [&](int y, int x0, int x1) {
            spans[spanCount++] = Span{y, x0, x1};
        });
        for (int i = 0; i < spanCount; ++i) {
            const int y = spans[i].y, x0 = spans[i].x0, x1 = spans[i].x1;
            std::uint32_t* row = target.pixels + static_cast<std::size_t>(y) * target.width;
            const float across = static_cast<float>(x0) - setup.x0;
            const float down = static_cast<float>(y) - setup.y0;
            const int line = Address(
                FloorToInt(TexelCoordinate(v.atVertex0 + v.dx * across + v.dy * down, height)),
                height, addressV);
            const std::uint32_t* texelRow = texels + static_cast<std::size_t>(line) * width;
            int x = x0;
#if defined(__SSE2__)
            if (srcAlphaBlend) {
                // The last one to three pixels of the span go four at a time too, the lanes
                // past its end given a transparent texel, which leaves their pixels as they
                // were: they are in the same row, drawn by this thread alone, so long as the
                // four pixels stay inside it.
                for (; x <= x1 && x <= lastFour; x += 4) {
                    const __m128i inside = _mm_cmpgt_epi32(_mm_set1_epi32(x1 - x + 1), lanes);
                    const __m128i t4 = _mm_and_si128(
                        inside, _mm_setr_epi32(static_cast<int>(texelRow[column[x]]),
                                               static_cast<int>(texelRow[column[x + 1]]),
                                               static_cast<int>(texelRow[column[x + 2]]),
                                               static_cast<int>(texelRow[column[x + 3]])));
                    // Four transparent texels leave their pixels as they were.
                    if (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_and_si128(t4, alphaBytes),
                                                          _mm_setzero_si128())) == 0xFFFF)
                        continue;
                    blendFour(t4, row + x);
                }
            }
#endif
            for (; x <= x1; ++x) shadeTexel(texelRow[column[x]], diffuse, row[x]);
        }
        return;
    }
#if defined(__SSE2__)
    if (flat) {
        // setup.At, TexelCoordinate and FloorToInt for four pixels at once: the same operations
        // in the same order in each lane, so the same coordinates to the bit (max and min take
        // their operands in the order that lets a NaN through, as std::clamp does).
        const __m128i lanes = _mm_setr_epi32(0, 1, 2, 3);
        const __m128 originX = _mm_set1_ps(setup.x0);
        const __m128 atU = _mm_set1_ps(u.atVertex0), stepU = _mm_set1_ps(u.dx);
        const __m128 atV = _mm_set1_ps(v.atVertex0), stepV = _mm_set1_ps(v.dx);
        const __m128 sizeU = _mm_set1_ps(static_cast<float>(width));
        const __m128 sizeV = _mm_set1_ps(static_cast<float>(height));
        const __m128 lowest = _mm_set1_ps(-16777216.0f), highest = _mm_set1_ps(16777216.0f);
        auto floorLanes = [&](__m128 coordinate, __m128 size) {
            const __m128 c = _mm_min_ps(highest, _mm_max_ps(lowest, _mm_mul_ps(coordinate, size)));
            const __m128i i = _mm_cvttps_epi32(c);
            return _mm_add_epi32(i, _mm_castps_si128(_mm_cmpgt_ps(_mm_cvtepi32_ps(i), c)));
        };
        ForEachSpan(t, firstBand, lastBand, [&](int y, int x0, int x1) {
            std::uint32_t* row = target.pixels + static_cast<std::size_t>(y) * target.width;
            const float down = static_cast<float>(y) - setup.y0;
            const __m128 rowU = _mm_set1_ps(u.dy * down), rowV = _mm_set1_ps(v.dy * down);
            int x = x0;
            for (; x + 3 <= x1; x += 4) {
                const __m128 across =
                    _mm_sub_ps(_mm_cvtepi32_ps(_mm_add_epi32(_mm_set1_epi32(x), lanes)), originX);
                alignas(16) std::int32_t columns[4], lines[4];
                _mm_store_si128(
                    reinterpret_cast<__m128i*>(columns),
                    floorLanes(_mm_add_ps(_mm_add_ps(atU, _mm_mul_ps(stepU, across)), rowU),
                               sizeU));
                _mm_store_si128(
                    reinterpret_cast<__m128i*>(lines),
                    floorLanes(_mm_add_ps(_mm_add_ps(atV, _mm_mul_ps(stepV, across)), rowV),
                               sizeV));
                if (!srcAlphaBlend) {
                    for (int k = 0; k < 4; ++k)
                        shade(columns[k], lines[k], flatDiffuse, row[x + k]);
                    continue;
                }
                alignas(16) std::uint32_t texel[4];
                for (int k = 0; k < 4; ++k) {
                    const int tx = Address(columns[k], width, addressU);
                    const int ty = Address(lines[k], height, addressV);
                    texel[k] = texels[static_cast<std::size_t>(ty) * width + tx];
                }
                blendFour(_mm_load_si128(reinterpret_cast<const __m128i*>(texel)), row + x);
            }
            for (; x <= x1; ++x) shadeAt(x, y, flatDiffuse, row[x]);
        });
        return;
    }
#endif
    ForEachShadedPixel(t, target, firstBand, lastBand, shadeAt);
}

void DrawTriangle(const RasterTriangle& t, const TexturedCorners& corners, const RasterState& s,
                  const Target& target, int firstBand, int lastBand) {
    const bool general = !s.stagePassThrough || s.alphaTest || (!s.opaque && !s.srcAlphaBlend);
    if (general) {
        if (s.modulateTexture && (t.flags & kConstantRhw) != 0) {
            const int path = modulatedTexturePath.load(std::memory_order_relaxed);
            const PlaneSetup setup(t);
            const TextureStepper texture(t, corners, setup, s);
            if (!texture.linear && path != 2) {
                DrawModulatedTexture(t, s, texture, setup, target, firstBand, lastBand, path == 0);
                return;
            }
        }
        DrawGeneral(t, corners, s, target, firstBand, lastBand);
        return;
    }
    const bool flat = (t.flags & kFlatColour) != 0;
    // Source-alpha blending of a fully opaque colour writes the colour itself.
    const bool opaque = s.opaque || (t.flags & kOpaqueAlpha) != 0;
    std::uint32_t* pixels = target.pixels;
    const std::size_t pitch = static_cast<std::size_t>(target.width);
#if defined(LAPQUILL_WIDE_VECTORS)
    if (s.wideVectors && flat && (t.flags & (kTiny | kNarrowSpans)) == kNarrowSpans &&
        t.minX + 16 <= target.width) {
        DrawNarrowFlatRows(t, opaque, target, std::max<int>(t.minY, firstBand * kBandRows),
                           std::min<int>(t.maxY, lastBand * kBandRows + kBandRows - 1));
        return;
    }
#endif
    if ((t.flags & kTiny) != 0) {
        // The covered pixels were found during set-up; shade each directly.
        const std::uint32_t mask = (t.flags & kCoverageMask) >> kCoverageShift;
        if (flat) {
            const std::uint32_t c = t.colour[0];
            for (int bit = 0; bit < 4; ++bit) {
                if ((mask & (1u << bit)) == 0) continue;
                const int x = t.minX + (bit & 1);
                const int y = t.minY + (bit >> 1);
                if (y / kBandRows < firstBand || y / kBandRows > lastBand) continue;
                std::uint32_t& p = pixels[y * pitch + x];
                p = opaque ? c : BlendSrcAlpha(c, p);
            }
            return;
        }
        // Gouraud: the colour planes are fitted once for the (up to four) pixels.
        const ColourStepper colour(t, false);
        for (int bit = 0; bit < 4; ++bit) {
            if ((mask & (1u << bit)) == 0) continue;
            const int x = t.minX + (bit & 1);
            const int y = t.minY + (bit >> 1);
            if (y / kBandRows < firstBand || y / kBandRows > lastBand) continue;
            const std::uint32_t c = colour.At(x, y);
            std::uint32_t& p = pixels[y * pitch + x];
            p = opaque ? c : BlendSrcAlpha(c, p);
        }
        return;
    }
    if (flat) {
        const std::uint32_t c = t.colour[0];
        if (opaque) {
            ForEachSpan(t, firstBand, lastBand, [&](int y, int x0, int x1) {
                FillPixels(pixels + y * pitch + x0, x1 - x0 + 1, c);
            });
        } else {
            // dst * (255 - a) + src * a with the source half computed once.
#if defined(__SSE2__)
            const FlatBlend16 blend(c);
            const __m128i zero = _mm_setzero_si128();
            ForEachSpan(t, firstBand, lastBand, [&](int y, int x0, int x1) {
                std::uint32_t* row = pixels + y * pitch;
                int x = x0;
                // Four pixels at once in 16-bit lanes: every intermediate of the scalar formula
                // stays below 65536, so the results are the same to the bit.
                for (; x + 3 <= x1; x += 4) {
                    auto* at = reinterpret_cast<__m128i*>(row + x);
                    const __m128i d = _mm_loadu_si128(at);
                    _mm_storeu_si128(at, _mm_packus_epi16(blend.Apply(_mm_unpacklo_epi8(d, zero)),
                                                          blend.Apply(_mm_unpackhi_epi8(d, zero))));
                }
                for (; x + 1 <= x1; x += 2) {
                    auto* at = reinterpret_cast<__m128i*>(row + x);
                    const __m128i d = _mm_unpacklo_epi8(_mm_loadl_epi64(at), zero);
                    _mm_storel_epi64(at, _mm_packus_epi16(blend.Apply(d), zero));
                }
                if (x == x1) {
                    const __m128i d =
                        _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(row[x])), zero);
                    row[x] = static_cast<std::uint32_t>(
                        _mm_cvtsi128_si32(_mm_packus_epi16(blend.Apply(d), zero)));
                }
            });
#else
            const std::uint32_t a = c >> 24, ia = 255 - a;
            const std::uint32_t sa = a * a, sr = ((c >> 16) & 0xFF) * a, sg = ((c >> 8) & 0xFF) * a,
                                sb = (c & 0xFF) * a;
            ForEachSpan(t, firstBand, lastBand, [&](int y, int x0, int x1) {
                std::uint32_t* row = pixels + y * pitch;
                for (int x = x0; x <= x1; ++x) {
                    const std::uint32_t d = row[x];
                    row[x] = (Div255(sa + (d >> 24) * ia) << 24) |
                             (Div255(sr + ((d >> 16) & 0xFF) * ia) << 16) |
                             (Div255(sg + ((d >> 8) & 0xFF) * ia) << 8) |
                             Div255(sb + (d & 0xFF) * ia);
                }
            });
#endif
        }
        return;
    }
    ColourStepper colour(t, (t.flags & kSmall) != 0);
    ForEachSpan(t, firstBand, lastBand, [&](int y, int x0, int x1) {
        std::uint32_t* row = pixels + y * pitch;
        ColourLanes value = colour.Start(x0, y);
        if (opaque) {
#if defined(__SSE2__)
            // b, g, r, a in lanes 0..3, so that packing to bytes gives the ARGB word; the
            // saturating packs clamp exactly as Channel() does.
            __m128i v = _mm_setr_epi32(
                static_cast<std::int32_t>(value.b), static_cast<std::int32_t>(value.g),
                static_cast<std::int32_t>(value.r), static_cast<std::int32_t>(value.a));
            const __m128i step = _mm_setr_epi32(
                static_cast<std::int32_t>(colour.step.b), static_cast<std::int32_t>(colour.step.g),
                static_cast<std::int32_t>(colour.step.r), static_cast<std::int32_t>(colour.step.a));
            for (int x = x0; x <= x1; ++x) {
                __m128i c = _mm_srai_epi32(v, 16);
                c = _mm_packs_epi32(c, c);
                c = _mm_packus_epi16(c, c);
                row[x] = static_cast<std::uint32_t>(_mm_cvtsi128_si32(c));
                v = _mm_add_epi32(v, step);
            }
#else
            for (int x = x0; x <= x1; ++x) {
                row[x] = ColourStepper::Pack(value);
                colour.Advance(value);
            }
#endif
        } else {
            for (int x = x0; x <= x1; ++x) {
                row[x] = BlendSrcAlpha(ColourStepper::Pack(value), row[x]);
                colour.Advance(value);
            }
        }
    });
}

// The corners an untextured triangle reads: the texture stages of such states see zeros.
const TexturedCorners kUntexturedCorners{};

inline void DrawListed(const TriangleList& list, const RasterTriangle& t, const RasterState* states,
                       const Target& target, int firstBand, int lastBand) {
    const RasterState& s = states[t.state];
    const TexturedCorners& corners =
        s.stagePassThrough ? kUntexturedCorners : list.textured[t.textured];
    DrawTriangle(t, corners, s, target, firstBand, lastBand);
}

}  // namespace

void SetModulatedTexturePathForTesting(int path) {
    modulatedTexturePath.store(path, std::memory_order_relaxed);
}

void RasterTriangles(const TriangleList& list, const RasterState* states, const Target& target,
                     int firstBand, int lastBand) {
    for (const RasterTriangle& t : list.triangles) {
        DrawListed(list, t, states, target, firstBand, lastBand);
    }
}

void RasterBin(const TriangleList& list, const std::uint32_t* indices, std::size_t count,
               const RasterState* states, const Target& target, int firstBand, int lastBand) {
    for (std::size_t i = 0; i < count; ++i) {
        DrawListed(list, list.triangles[indices[i]], states, target, firstBand, lastBand);
    }
}

void ClearRows(const D3DRECT& rect, std::uint32_t colour, const Target& target, int firstBand,
               int lastBand) {
    const int y0 = std::max(rect.y1, firstBand * kBandRows);
    const int y1 = std::min(rect.y2, (lastBand + 1) * kBandRows);
    for (int y = y0; y < y1; ++y) {
        std::uint32_t* row = target.pixels + static_cast<std::size_t>(y) * target.width;
        FillPixels(row + rect.x1, rect.x2 - rect.x1, colour);
    }
}

}  // namespace lapquill::software
