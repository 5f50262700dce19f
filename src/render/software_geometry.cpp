// The geometry stage of SoftwareDevice: vertices fetched from the draw's memory, transformed by
// world * view * projection (or taken as pixels when pre-transformed), clipped in homogeneous
// space where needed, projected onto the viewport, snapped to 24.8 fixed point, culled and
// bounded. Nothing here allocates except the growth of the output list.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "render/software_pipeline.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
// The AVX2 path is compiled for its own functions only and taken where the processor has it.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define LAPQUILL_WIDE_VECTORS 1
#include <immintrin.h>
#endif

namespace lapquill::software {
namespace {

// Homogeneous w below this counts as behind the eye even for projections without a near plane.
constexpr float kMinW = 1e-6f;

enum PlaneBit : unsigned {
    kNear = 1,  // z >= 0
    kFar = 2,   // z <= w
    kLeft = 4,  // guard band
    kRight = 8,
    kBottom = 16,
    kTop = 32,
    kPositiveW = 64,
};
constexpr int kPlaneCount = 7;

// distance = a*x + b*y + c*z + d*w + e; inside when >= 0.
struct Plane {
    float a, b, c, d, e;
};

struct ClipVertex {
    float x, y, z, w;
    float colour[4];  // a, r, g, b, 0..255
    float u, v;
    float rhw;  // pre-transformed vertices only: their own 1/w
};

// A vertex on the screen, before snapping.
struct ProjectedVertex {
    float x, y;  // pixels
    float rhw;
    std::uint32_t colour;
    float u, v;
};

inline float Distance(const Plane& p, const ClipVertex& v) {
    return p.a * v.x + p.b * v.y + p.c * v.z + p.d * v.w + p.e;
}

inline void UnpackColour(std::uint32_t c, float out[4]) {
    out[0] = static_cast<float>(c >> 24);
    out[1] = static_cast<float>((c >> 16) & 0xFF);
    out[2] = static_cast<float>((c >> 8) & 0xFF);
    out[3] = static_cast<float>(c & 0xFF);
}

inline std::uint32_t PackColour(const float c[4]) {
    std::uint32_t out = 0;
    for (int i = 0; i < 4; ++i) {
        const float clamped = std::clamp(c[i], 0.0f, 255.0f);
        out = (out << 8) | static_cast<std::uint32_t>(RoundToInt(clamped));
    }
    return out;
}

inline ClipVertex Lerp(const ClipVertex& inside, const ClipVertex& outside, float t) {
    ClipVertex r;
    r.x = inside.x + (outside.x - inside.x) * t;
    r.y = inside.y + (outside.y - inside.y) * t;
    r.z = inside.z + (outside.z - inside.z) * t;
    r.w = inside.w + (outside.w - inside.w) * t;
    for (int i = 0; i < 4; ++i)
        r.colour[i] = inside.colour[i] + (outside.colour[i] - inside.colour[i]) * t;
    r.u = inside.u + (outside.u - inside.u) * t;
    r.v = inside.v + (outside.v - inside.v) * t;
    r.rhw = inside.rhw + (outside.rhw - inside.rhw) * t;
    return r;
}

// Sutherland-Hodgman against the planes in `mask`. New vertices are always interpolated from the
// inside end of an edge, so two triangles sharing a clipped edge get the same point and no crack.
int ClipPolygon(ClipVertex* polygon, int count, unsigned mask, const Plane* planes,
                ClipVertex* scratch) {
    ClipVertex* in = polygon;
    ClipVertex* out = scratch;
    for (int p = 0; p < kPlaneCount && count > 0; ++p) {
        if ((mask & (1u << p)) == 0) continue;
        const Plane& plane = planes[p];
        int n = 0;
        for (int i = 0; i < count; ++i) {
            const ClipVertex& a = in[i];
            const ClipVertex& b = in[(i + 1) % count];
            const float da = Distance(plane, a);
            const float db = Distance(plane, b);
            if (da >= 0.0f) out[n++] = a;
            if ((da >= 0.0f) != (db >= 0.0f)) {
                out[n++] = da >= 0.0f ? Lerp(a, b, da / (da - db)) : Lerp(b, a, db / (db - da));
            }
        }
        count = n;
        std::swap(in, out);
    }
    if (in != polygon) std::copy(in, in + count, polygon);
    return count;
}

// Which of the (at most) 2 x 2 samples from pixel (left, top) a clockwise triangle covers: bit
// (dy * 2 + dx) for pixel (left + dx, top + dy), dx <= columns, dy <= rows.
std::uint32_t TinyCoverage(const std::int32_t x[3], const std::int32_t y[3], std::int32_t left,
                           std::int32_t top, int columns, int rows) {
    Edges e;
    SetupEdges(x, y, left, top, e);
    std::uint32_t mask = 0;
    for (int dy = 0; dy <= rows; ++dy) {
        for (int dx = 0; dx <= columns; ++dx) {
            bool inside = true;
            for (int i = 0; i < 3; ++i) {
                inside = inside && e.atOrigin[i] + e.stepX[i] * dx + e.stepY[i] * dy >= 0;
            }
            if (inside) mask |= 1u << (dy * 2 + dx);
        }
    }
    return mask;
}

// The same for a triangle that fits kNarrowSpanColumns, whose edge functions are exact in 32
// bits: the four samples of each edge in one register.
std::uint32_t TinyCoverage32(const std::int32_t x[3], const std::int32_t y[3], std::int32_t left,
                             std::int32_t top, int columns, int rows) {
    Edges32 e;
    SetupEdges32(x, y, left, top, e);
    const std::uint32_t candidates = (columns > 0 ? 0x3u : 0x1u) * (rows > 0 ? 0x5u : 0x1u);
#if defined(__SSE2__)
    __m128i any = _mm_setzero_si128();
    for (int i = 0; i < 3; ++i) {
        const auto at = static_cast<std::int32_t>(e.atOrigin[i]);
        const auto sx = static_cast<std::int32_t>(e.stepX[i]);
        const auto sy = static_cast<std::int32_t>(e.stepY[i]);
        // Lanes (dx, dy) = (0, 0), (1, 0), (0, 1), (1, 1), added in 32 bits with their wrap.
        const __m128i offsets =
            _mm_add_epi32(_mm_setr_epi32(0, sx, 0, sx), _mm_setr_epi32(0, 0, sy, sy));
        any = _mm_or_si128(any, _mm_add_epi32(_mm_set1_epi32(at), offsets));
    }
    const auto outside = static_cast<std::uint32_t>(_mm_movemask_ps(_mm_castsi128_ps(any)));
    return ~outside & candidates;
#else
    std::uint32_t mask = 0;
    for (int k = 0; k < 4; ++k) {
        const std::uint32_t dx = k & 1, dy = k >> 1;
        bool inside = true;
        for (int i = 0; i < 3; ++i) {
            const std::uint32_t v = e.atOrigin[i] + e.stepX[i] * dx + e.stepY[i] * dy;
            inside = inside && (v >> 31) == 0;
        }
        if (inside) mask |= 1u << k;
    }
    return mask & candidates;
#endif
}

// What bounding and culling find out about a snapped triangle before it is stored.
struct SnappedBox {
    std::int32_t left, right, top, bottom;  // pixels whose sample may be covered, in the viewport
    std::int32_t vertexWidth, vertexHeight;  // extents of the corners, 24.8
    bool clockwise;                          // positive area, y down
};

// Coverage of a tiny triangle not found yet: StoreSnapped tests its samples itself.
constexpr std::uint32_t kCoverageUnknown = 0xFFFFFFFFu;

// Bounds and culls a screen triangle whose corners are snapped to (x[i], y[i]); false when it
// can cover no pixel: no sample inside its box, no area, or facing the culled way.
inline bool BoundSnapped(const std::int32_t x[3], const std::int32_t y[3],
                         const RasterState& state, SnappedBox* box) {
    // Pixels whose sample point lies inside the bounding box, clamped to the viewport. Most
    // ribbon triangles hold none, so this comes before everything else.
    const std::int32_t minX = std::min({x[0], x[1], x[2]}) - kPixelCentreOffset;
    const std::int32_t maxX = std::max({x[0], x[1], x[2]}) - kPixelCentreOffset;
    const std::int32_t minY = std::min({y[0], y[1], y[2]}) - kPixelCentreOffset;
    const std::int32_t maxY = std::max({y[0], y[1], y[2]}) - kPixelCentreOffset;
    box->left = std::max((minX + kSubpixelScale - 1) >> kSubpixelBits, 0);
    box->right = std::min(maxX >> kSubpixelBits, state.width - 1);
    box->top = std::max((minY + kSubpixelScale - 1) >> kSubpixelBits, 0);
    box->bottom = std::min(maxY >> kSubpixelBits, state.height - 1);
    if (box->left > box->right || box->top > box->bottom) return false;

    // Twice the signed area in subpixels; positive means clockwise on the screen (y down).
    const std::int64_t area =
        static_cast<std::int64_t>(x[1] - x[0]) * static_cast<std::int64_t>(y[2] - y[0]) -
        static_cast<std::int64_t>(y[1] - y[0]) * static_cast<std::int64_t>(x[2] - x[0]);
    if (area == 0) return false;
    if (state.cullMode == D3DCULL_CW && area > 0) return false;
    if (state.cullMode == D3DCULL_CCW && area < 0) return false;
    box->vertexWidth = maxX - minX;
    box->vertexHeight = maxY - minY;
    box->clockwise = area > 0;
    return true;
}

// Stores a triangle that BoundSnapped kept, clockwise. vertex(i) gives corner i's other
// attributes; it is called only for triangles that are kept. `coverage` is the sample mask of
// a tiny triangle when the caller has tested it already.
template <typename VertexFn>
void StoreSnapped(const std::int32_t x[3], const std::int32_t y[3], const SnappedBox& box,
                  VertexFn&& vertex, const RasterState& state, std::uint32_t stateIndex,
                  bool textured, TriangleList& out,
                  std::uint32_t coverage = kCoverageUnknown) {
    const std::int32_t left = box.left, right = box.right, top = box.top, bottom = box.bottom;
    const std::int32_t vertexWidth = box.vertexWidth, vertexHeight = box.vertexHeight;
    const int order[3] = {0, box.clockwise ? 1 : 2, box.clockwise ? 2 : 1};
    // Most ribbon triangles are thinner than a pixel: test their few samples here and keep only
    // those that cover one.
    std::uint32_t tinyFlags = 0;
    if (right - left <= 1 && bottom - top <= 1) {
        std::uint32_t mask = coverage;
        if (mask == kCoverageUnknown) {
            const std::int32_t ox[3] = {x[order[0]], x[order[1]], x[order[2]]};
            const std::int32_t oy[3] = {y[order[0]], y[order[1]], y[order[2]]};
            mask = FitsNarrowBox(right - left, vertexWidth, vertexHeight, kNarrowSpanColumns)
                       ? TinyCoverage32(ox, oy, left, top, right - left, bottom - top)
                       : TinyCoverage(ox, oy, left, top, right - left, bottom - top);
        }
        if (mask == 0) return;
        tinyFlags = kTiny | mask << kCoverageShift;
    }
    const ProjectedVertex v[3] = {vertex(0), vertex(1), vertex(2)};
    RasterTriangle& t = out.triangles.emplace_back();
    for (int i = 0; i < 3; ++i) {
        t.x[i] = x[order[i]];
        t.y[i] = y[order[i]];
        t.colour[i] = v[order[i]].colour;
    }
    if (state.flatShade) t.colour[1] = t.colour[2] = t.colour[0] = v[0].colour;
    t.minX = static_cast<std::int16_t>(left);
    t.maxX = static_cast<std::int16_t>(right);
    t.minY = static_cast<std::int16_t>(top);
    t.maxY = static_cast<std::int16_t>(bottom);
    t.state = stateIndex;
    std::uint32_t flags = tinyFlags;
    if (t.colour[0] == t.colour[1] && t.colour[1] == t.colour[2]) flags |= kFlatColour;
    if ((t.colour[0] & t.colour[1] & t.colour[2]) >= 0xFF000000u) flags |= kOpaqueAlpha;
    if (textured) {
        t.textured = static_cast<std::uint32_t>(out.textured.size());
        TexturedCorners& corners = out.textured.emplace_back();
        for (int i = 0; i < 3; ++i) {
            corners.u[i] = v[order[i]].u;
            corners.v[i] = v[order[i]].v;
            corners.rhw[i] = v[order[i]].rhw;
        }
        if (corners.rhw[0] == corners.rhw[1] && corners.rhw[1] == corners.rhw[2]) {
            flags |= kConstantRhw;
        }
    } else {
        t.textured = 0;
        flags |= kConstantRhw;
    }
    if (FitsNarrowBox(right - left, vertexWidth, vertexHeight, kNarrowTriangle)) flags |= kSmall;
    if (FitsNarrowBox(right - left, vertexWidth, vertexHeight, kNarrowSpanColumns)) {
        flags |= kNarrowSpans;
    }
    t.flags = flags;
}

// Culls, bounds and stores one screen triangle whose corners are snapped to (x[i], y[i]).
template <typename VertexFn>
void EmitSnapped(const std::int32_t x[3], const std::int32_t y[3], VertexFn&& vertex,
                 const RasterState& state, std::uint32_t stateIndex, bool textured,
                 TriangleList& out) {
    SnappedBox box;
    if (!BoundSnapped(x, y, state, &box)) return;
    StoreSnapped(x, y, box, vertex, state, stateIndex, textured, out);
}

// Snaps, culls, bounds and stores one screen triangle.
void EmitTriangle(const ProjectedVertex* v0, const ProjectedVertex* v1, const ProjectedVertex* v2,
                  const RasterState& state, std::uint32_t stateIndex, bool textured,
                  TriangleList& out) {
    const ProjectedVertex* v[3] = {v0, v1, v2};
    for (int i = 0; i < 3; ++i) {
        if (!std::isfinite(v[i]->x) || !std::isfinite(v[i]->y)) return;
    }
    std::int32_t x[3], y[3];
    for (int i = 0; i < 3; ++i) {
        x[i] = RoundToInt(v[i]->x * static_cast<float>(kSubpixelScale));
        y[i] = RoundToInt(v[i]->y * static_cast<float>(kSubpixelScale));
    }
    EmitSnapped(
        x, y, [&v](int i) { return *v[i]; }, state, stateIndex, textured, out);
}

inline float ReadFloat(const std::uint8_t* p) {
    float f;
    std::memcpy(&f, p, sizeof f);
    return f;
}

inline std::uint32_t ReadColour(const std::uint8_t* vertex, std::int32_t offset) {
    if (offset < 0) return 0xFFFFFFFFu;
    std::uint32_t c;
    std::memcpy(&c, vertex + offset, sizeof c);
    return c;
}

// Fan-triangulates a clipped polygon and emits it.
void EmitPolygon(const ClipVertex* polygon, int count, const RasterState& state,
                 std::uint32_t stateIndex, bool textured, TriangleList& out) {
    ProjectedVertex projected[16];
    const float halfWidth = static_cast<float>(state.width) * 0.5f;
    const float halfHeight = static_cast<float>(state.height) * 0.5f;
    for (int i = 0; i < count; ++i) {
        const ClipVertex& c = polygon[i];
        ProjectedVertex& p = projected[i];
        if (state.pretransformed) {
            p.x = c.x;
            p.y = c.y;
            p.rhw = c.rhw;
        } else {
            const float rhw = 1.0f / c.w;
            p.x = (c.x * rhw + 1.0f) * halfWidth;
            p.y = (1.0f - c.y * rhw) * halfHeight;
            p.rhw = rhw;
        }
        p.colour = PackColour(c.colour);
        p.u = c.u;
        p.v = c.v;
    }
    for (int i = 1; i + 1 < count; ++i) {
        EmitTriangle(&projected[0], &projected[i], &projected[i + 1], state, stateIndex, textured,
                     out);
    }
}

// Vertices are transformed a block of triangles at a time, four at once where SSE is there and
// eight with AVX2, into clip space, their clip codes and their snapped screen positions; the
// triangles then read them back. The block keeps each corner's values together: corner c of
// the block's triangle t is at [c][t], so that lane k of a register holds triangle t + k.
constexpr int kBlockTriangles = 64;
// Set in VertexBlock::code when the projection of an otherwise inside vertex is not finite
// (an infinite w, say). It is not a plane: ClipPolygon skips it.
constexpr unsigned kProjectionNotFinite = 128;

struct alignas(32) VertexBlock {
    float x[3][kBlockTriangles], y[3][kBlockTriangles];  // clip space
    float z[3][kBlockTriangles], w[3][kBlockTriangles];
    float rhw[3][kBlockTriangles];        // 1 / w
    std::int32_t sx[3][kBlockTriangles];  // 24.8 fixed-point pixels; meaningful where code is 0
    std::int32_t sy[3][kBlockTriangles];
    std::uint32_t code[3][kBlockTriangles];  // PlaneBit outside, kProjectionNotFinite
};

struct BlockTransform {
    float m[4][4];
    float gx, gy;  // guard band in x and y, as multiples of w
    float halfWidth, halfHeight;
    explicit BlockTransform(const RasterState& state) {
        std::memcpy(m, state.wvp, sizeof m);
        const float width = static_cast<float>(state.width);
        const float height = static_cast<float>(state.height);
        gx = 1.0f + 2.0f * kGuardBandPixels / width;
        gy = 1.0f + 2.0f * kGuardBandPixels / height;
        halfWidth = width * 0.5f;
        halfHeight = height * 0.5f;
    }
};

// The vertices of triangles [0, triangles) from `base` (triangles <= kBlockTriangles). Each
// value is computed with the same operations in the same order as one vertex at a time would,
// so every path agrees to the bit: products summed left to right, a true division for 1 / w.
void TransformBlock(const BlockTransform& tr, const std::uint8_t* base, std::uint32_t stride,
                    int triangles, VertexBlock& out) {
    const auto& m = tr.m;
#if defined(__SSE2__)
    const __m128 m00 = _mm_set1_ps(m[0][0]), m10 = _mm_set1_ps(m[1][0]),
                 m20 = _mm_set1_ps(m[2][0]), m30 = _mm_set1_ps(m[3][0]);
    const __m128 m01 = _mm_set1_ps(m[0][1]), m11 = _mm_set1_ps(m[1][1]),
                 m21 = _mm_set1_ps(m[2][1]), m31 = _mm_set1_ps(m[3][1]);
    const __m128 m02 = _mm_set1_ps(m[0][2]), m12 = _mm_set1_ps(m[1][2]),
                 m22 = _mm_set1_ps(m[2][2]), m32 = _mm_set1_ps(m[3][2]);
    const __m128 m03 = _mm_set1_ps(m[0][3]), m13 = _mm_set1_ps(m[1][3]),
                 m23 = _mm_set1_ps(m[2][3]), m33 = _mm_set1_ps(m[3][3]);
    const __m128 zero = _mm_setzero_ps(), one = _mm_set1_ps(1.0f);
    const __m128 gx = _mm_set1_ps(tr.gx), negGx = _mm_set1_ps(-tr.gx);
    const __m128 gy = _mm_set1_ps(tr.gy), negGy = _mm_set1_ps(-tr.gy);
    const __m128 minW = _mm_set1_ps(kMinW);
    const __m128 halfWidth = _mm_set1_ps(tr.halfWidth), halfHeight = _mm_set1_ps(tr.halfHeight);
    const __m128 subpixels = _mm_set1_ps(static_cast<float>(kSubpixelScale));
    const __m128 infinity = _mm_set1_ps(std::numeric_limits<float>::infinity());
    const __m128 absMask = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
    // The bit of a plane where the comparison "inside" failed (NaN fails every one).
    auto outside = [](__m128 inside, unsigned bit) {
        return _mm_andnot_si128(_mm_castps_si128(inside), _mm_set1_epi32(static_cast<int>(bit)));
    };
    const std::size_t triangleBytes = 3u * static_cast<std::size_t>(stride);
    for (int t = 0; t < triangles; t += 4) {
        // The last group repeats the last triangle rather than read past the draw.
        const std::uint8_t* first[4];
        for (int k = 0; k < 4; ++k) {
            first[k] = base + static_cast<std::size_t>(std::min(t + k, triangles - 1)) * triangleBytes;
        }
        for (int c = 0; c < 3; ++c) {
            const std::uint8_t* p[4];
            for (int k = 0; k < 4; ++k) p[k] = first[k] + static_cast<std::size_t>(c) * stride;
            __m128 px, py, pz;
            if (stride == 16) {
                __m128 r0 = _mm_loadu_ps(reinterpret_cast<const float*>(p[0]));
                __m128 r1 = _mm_loadu_ps(reinterpret_cast<const float*>(p[1]));
                __m128 r2 = _mm_loadu_ps(reinterpret_cast<const float*>(p[2]));
                __m128 r3 = _mm_loadu_ps(reinterpret_cast<const float*>(p[3]));
                _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
                px = r0;
                py = r1;
                pz = r2;
            } else {
                px = _mm_setr_ps(ReadFloat(p[0]), ReadFloat(p[1]), ReadFloat(p[2]),
                                 ReadFloat(p[3]));
                py = _mm_setr_ps(ReadFloat(p[0] + 4), ReadFloat(p[1] + 4), ReadFloat(p[2] + 4),
                                 ReadFloat(p[3] + 4));
                pz = _mm_setr_ps(ReadFloat(p[0] + 8), ReadFloat(p[1] + 8), ReadFloat(p[2] + 8),
                                 ReadFloat(p[3] + 8));
            }
            auto row = [&](__m128 a, __m128 b, __m128 c, __m128 d) {
                return _mm_add_ps(
                    _mm_add_ps(_mm_add_ps(_mm_mul_ps(px, a), _mm_mul_ps(py, b)), _mm_mul_ps(pz, c)),
                    d);
            };
            const __m128 x = row(m00, m10, m20, m30);
            const __m128 y = row(m01, m11, m21, m31);
            const __m128 z = row(m02, m12, m22, m32);
            const __m128 w = row(m03, m13, m23, m33);
            __m128i code = outside(_mm_cmpge_ps(z, zero), kNear);
            code = _mm_or_si128(code, outside(_mm_cmple_ps(z, w), kFar));
            code = _mm_or_si128(code, outside(_mm_cmpge_ps(x, _mm_mul_ps(negGx, w)), kLeft));
            code = _mm_or_si128(code, outside(_mm_cmple_ps(x, _mm_mul_ps(gx, w)), kRight));
            code = _mm_or_si128(code, outside(_mm_cmpge_ps(y, _mm_mul_ps(negGy, w)), kBottom));
            code = _mm_or_si128(code, outside(_mm_cmple_ps(y, _mm_mul_ps(gy, w)), kTop));
            code = _mm_or_si128(code, outside(_mm_cmpge_ps(w, minW), kPositiveW));
            const __m128 rhw = _mm_div_ps(one, w);
            const __m128 sx = _mm_mul_ps(_mm_add_ps(_mm_mul_ps(x, rhw), one), halfWidth);
            const __m128 sy = _mm_mul_ps(_mm_sub_ps(one, _mm_mul_ps(y, rhw)), halfHeight);
            const __m128 finite = _mm_and_ps(_mm_cmplt_ps(_mm_and_ps(sx, absMask), infinity),
                                             _mm_cmplt_ps(_mm_and_ps(sy, absMask), infinity));
            code = _mm_or_si128(code, outside(finite, kProjectionNotFinite));
            _mm_store_ps(out.x[c] + t, x);
            _mm_store_ps(out.y[c] + t, y);
            _mm_store_ps(out.z[c] + t, z);
            _mm_store_ps(out.w[c] + t, w);
            _mm_store_ps(out.rhw[c] + t, rhw);
            _mm_store_si128(reinterpret_cast<__m128i*>(out.sx[c] + t),
                            _mm_cvtps_epi32(_mm_mul_ps(sx, subpixels)));
            _mm_store_si128(reinterpret_cast<__m128i*>(out.sy[c] + t),
                            _mm_cvtps_epi32(_mm_mul_ps(sy, subpixels)));
            _mm_store_si128(reinterpret_cast<__m128i*>(out.code[c] + t), code);
        }
    }
#else
    for (int t = 0; t < triangles; ++t) {
        for (int c = 0; c < 3; ++c) {
            const std::uint8_t* vertex =
                base + (3u * static_cast<std::size_t>(t) + static_cast<std::size_t>(c)) * stride;
            const float px = ReadFloat(vertex);
            const float py = ReadFloat(vertex + 4);
            const float pz = ReadFloat(vertex + 8);
            const float x = px * m[0][0] + py * m[1][0] + pz * m[2][0] + m[3][0];
            const float y = px * m[0][1] + py * m[1][1] + pz * m[2][1] + m[3][1];
            const float z = px * m[0][2] + py * m[1][2] + pz * m[2][2] + m[3][2];
            const float w = px * m[0][3] + py * m[1][3] + pz * m[2][3] + m[3][3];
            // NaN fails every comparison, so test for "not inside" to send it to the clipper,
            // which drops it.
            unsigned code = (!(z >= 0.0f) ? kNear : 0u) | (!(z <= w) ? kFar : 0u) |
                            (!(x >= -tr.gx * w) ? kLeft : 0u) | (!(x <= tr.gx * w) ? kRight : 0u) |
                            (!(y >= -tr.gy * w) ? kBottom : 0u) | (!(y <= tr.gy * w) ? kTop : 0u) |
                            (!(w >= kMinW) ? kPositiveW : 0u);
            const float rhw = 1.0f / w;
            const float sx = (x * rhw + 1.0f) * tr.halfWidth;
            const float sy = (1.0f - y * rhw) * tr.halfHeight;
            if (!std::isfinite(sx) || !std::isfinite(sy)) code |= kProjectionNotFinite;
            out.x[c][t] = x;
            out.y[c][t] = y;
            out.z[c][t] = z;
            out.w[c][t] = w;
            out.rhw[c][t] = rhw;
            out.sx[c][t] = code == 0 ? RoundToInt(sx * static_cast<float>(kSubpixelScale)) : 0;
            out.sy[c][t] = code == 0 ? RoundToInt(sy * static_cast<float>(kSubpixelScale)) : 0;
            out.code[c][t] = code;
        }
    }
#endif
}

#if defined(LAPQUILL_WIDE_VECTORS)
// What the AVX2 path finds out about the triangles of a block before any is stored.
struct alignas(32) BlockTests {
    std::uint64_t store = 0;  // bit t: triangle t lies in the guard band and BoundSnapped keeps it
    std::uint64_t clip = 0;   // bit t: triangle t crosses a plane, and not wholly outside one
    alignas(32) std::int32_t left[kBlockTriangles];  // SnappedBox, where store is set
    std::int32_t right[kBlockTriangles];
    std::int32_t top[kBlockTriangles], bottom[kBlockTriangles];
    std::int32_t vertexWidth[kBlockTriangles], vertexHeight[kBlockTriangles];
    std::int32_t clockwise[kBlockTriangles];  // all bits set where clockwise
    std::uint32_t coverage[kBlockTriangles];  // a tiny triangle's sample mask, or kCoverageUnknown
};

[[gnu::target("avx2")]] inline __m256 TransformRow8(__m256 px, __m256 py, __m256 pz, __m256 a,
                                                    __m256 b, __m256 c, __m256 d) {
    return _mm256_add_ps(
        _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(px, a), _mm256_mul_ps(py, b)),
                      _mm256_mul_ps(pz, c)),
        d);
}

// The bit of a plane where the comparison "inside" failed (NaN fails every one).
[[gnu::target("avx2")]] inline __m256i Outside8(__m256 inside, unsigned bit) {
    return _mm256_andnot_si256(_mm256_castps_si256(inside),
                               _mm256_set1_epi32(static_cast<int>(bit)));
}

// Vertex `low`'s first four floats in the low half, `high`'s in the high one.
[[gnu::target("avx2")]] inline __m256 LoadPair(const std::uint8_t* low, const std::uint8_t* high) {
    return _mm256_insertf128_ps(
        _mm256_castps128_ps256(_mm_loadu_ps(reinterpret_cast<const float*>(low))),
        _mm_loadu_ps(reinterpret_cast<const float*>(high)), 1);
}

// Bit k set where lane k of the mask is.
[[gnu::target("avx2")]] inline std::uint64_t LaneBits(__m256i mask) {
    return static_cast<std::uint64_t>(_mm256_movemask_ps(_mm256_castsi256_ps(mask)));
}

// 1 in the lanes whose sign bit is clear.
[[gnu::target("avx2")]] inline __m256i NotNegative8(__m256i v) {
    return _mm256_srli_epi32(_mm256_andnot_si256(v, _mm256_set1_epi32(-1)), 31);
}

// TransformBlock eight triangles at a time, each value computed as the SSE2 path computes it,
// followed by what BoundSnapped and the tiny triangles' sample test find, in integer lanes that
// give the same answers: the area's sign from exact 64-bit products, the edge functions of the
// samples in 32 bits where TinyCoverage32 would take them. Vertices are read ahead up to
// readableBytes from `base`.
[[gnu::target("avx2")]] void TransformAndTestBlock(const BlockTransform& tr,
                                                   const RasterState& state,
                                                   const std::uint8_t* base, std::uint32_t stride,
                                                   int triangles, std::size_t readableBytes,
                                                   VertexBlock& out, BlockTests& tests) {
    __m256 m[4][4];
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) m[i][j] = _mm256_set1_ps(tr.m[i][j]);
    }
    const __m256 zero = _mm256_setzero_ps(), one = _mm256_set1_ps(1.0f);
    const __m256 gx = _mm256_set1_ps(tr.gx), negGx = _mm256_set1_ps(-tr.gx);
    const __m256 gy = _mm256_set1_ps(tr.gy), negGy = _mm256_set1_ps(-tr.gy);
    const __m256 minW = _mm256_set1_ps(kMinW);
    const __m256 halfWidth = _mm256_set1_ps(tr.halfWidth);
    const __m256 halfHeight = _mm256_set1_ps(tr.halfHeight);
    const __m256 subpixels = _mm256_set1_ps(static_cast<float>(kSubpixelScale));
    const __m256 infinity = _mm256_set1_ps(std::numeric_limits<float>::infinity());
    const __m256 absMask = _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF));
    const __m256i zeroI = _mm256_setzero_si256(), ones = _mm256_set1_epi32(-1);
    const __m256i centre = _mm256_set1_epi32(kPixelCentreOffset);
    const __m256i lastColumn = _mm256_set1_epi32(state.width - 1);
    const __m256i lastRow = _mm256_set1_epi32(state.height - 1);
    const __m256i roundUp = _mm256_set1_epi32(kSubpixelScale - 1);
    const __m256i two = _mm256_set1_epi32(2);
    const __m256i narrowWidth = _mm256_set1_epi32(kNarrowSpanColumns * kSubpixelScale);
    const __m256i narrowHeight = _mm256_set1_epi32((kSmallTriangleRows - 1) * kSubpixelScale);
    const __m256i notFinite = _mm256_set1_epi32(static_cast<int>(~kProjectionNotFinite));
    tests.store = tests.clip = 0;
    const std::size_t triangleBytes = 3u * static_cast<std::size_t>(stride);
    for (int t = 0; t < triangles; t += 8) {
        // The last group repeats the last triangle rather than read past the draw.
        const std::uint8_t* first[8];
        for (int k = 0; k < 8; ++k) {
            first[k] = base + static_cast<std::size_t>(std::min(t + k, triangles - 1)) * triangleBytes;
        }
        // The vertices are read once per frame, from memory, and the hardware's own prefetch
        // leaves the loads waiting: ask for those of the group four groups ahead.
        const std::size_t aheadFrom = static_cast<std::size_t>(t + 32) * triangleBytes;
        const std::size_t aheadTo = std::min(aheadFrom + 8u * triangleBytes, readableBytes);
        for (std::size_t b = aheadFrom; b < aheadTo; b += 64) {
            _mm_prefetch(reinterpret_cast<const char*>(base + b), _MM_HINT_T0);
        }
        __m256i sx[3], sy[3], code[3];
        for (int c = 0; c < 3; ++c) {
            const std::uint8_t* p[8];
            for (int k = 0; k < 8; ++k) p[k] = first[k] + static_cast<std::size_t>(c) * stride;
            __m256 px, py, pz;
            if (stride == 16) {
                const __m256 r0 = LoadPair(p[0], p[4]), r1 = LoadPair(p[1], p[5]);
                const __m256 r2 = LoadPair(p[2], p[6]), r3 = LoadPair(p[3], p[7]);
                const __m256 t0 = _mm256_unpacklo_ps(r0, r1), t1 = _mm256_unpackhi_ps(r0, r1);
                const __m256 t2 = _mm256_unpacklo_ps(r2, r3), t3 = _mm256_unpackhi_ps(r2, r3);
                px = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(1, 0, 1, 0));
                py = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(3, 2, 3, 2));
                pz = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(1, 0, 1, 0));
            } else {
                float lanes[3][8];
                for (int k = 0; k < 8; ++k) {
                    for (int i = 0; i < 3; ++i) lanes[i][k] = ReadFloat(p[k] + 4 * i);
                }
                px = _mm256_loadu_ps(lanes[0]);
                py = _mm256_loadu_ps(lanes[1]);
                pz = _mm256_loadu_ps(lanes[2]);
            }
            const __m256 x = TransformRow8(px, py, pz, m[0][0], m[1][0], m[2][0], m[3][0]);
            const __m256 y = TransformRow8(px, py, pz, m[0][1], m[1][1], m[2][1], m[3][1]);
            const __m256 z = TransformRow8(px, py, pz, m[0][2], m[1][2], m[2][2], m[3][2]);
            const __m256 w = TransformRow8(px, py, pz, m[0][3], m[1][3], m[2][3], m[3][3]);
            __m256i k = Outside8(_mm256_cmp_ps(z, zero, _CMP_GE_OS), kNear);
            k = _mm256_or_si256(k, Outside8(_mm256_cmp_ps(z, w, _CMP_LE_OS), kFar));
            k = _mm256_or_si256(
                k, Outside8(_mm256_cmp_ps(x, _mm256_mul_ps(negGx, w), _CMP_GE_OS), kLeft));
            k = _mm256_or_si256(
                k, Outside8(_mm256_cmp_ps(x, _mm256_mul_ps(gx, w), _CMP_LE_OS), kRight));
            k = _mm256_or_si256(
                k, Outside8(_mm256_cmp_ps(y, _mm256_mul_ps(negGy, w), _CMP_GE_OS), kBottom));
            k = _mm256_or_si256(
                k, Outside8(_mm256_cmp_ps(y, _mm256_mul_ps(gy, w), _CMP_LE_OS), kTop));
            k = _mm256_or_si256(k, Outside8(_mm256_cmp_ps(w, minW, _CMP_GE_OS), kPositiveW));
            const __m256 rhw = _mm256_div_ps(one, w);
            const __m256 screenX =
                _mm256_mul_ps(_mm256_add_ps(_mm256_mul_ps(x, rhw), one), halfWidth);
            const __m256 screenY =
                _mm256_mul_ps(_mm256_sub_ps(one, _mm256_mul_ps(y, rhw)), halfHeight);
            const __m256 finite = _mm256_and_ps(
                _mm256_cmp_ps(_mm256_and_ps(screenX, absMask), infinity, _CMP_LT_OS),
                _mm256_cmp_ps(_mm256_and_ps(screenY, absMask), infinity, _CMP_LT_OS));
            code[c] = _mm256_or_si256(k, Outside8(finite, kProjectionNotFinite));
            sx[c] = _mm256_cvtps_epi32(_mm256_mul_ps(screenX, subpixels));
            sy[c] = _mm256_cvtps_epi32(_mm256_mul_ps(screenY, subpixels));
            _mm256_store_ps(out.x[c] + t, x);
            _mm256_store_ps(out.y[c] + t, y);
            _mm256_store_ps(out.z[c] + t, z);
            _mm256_store_ps(out.w[c] + t, w);
            _mm256_store_ps(out.rhw[c] + t, rhw);
            _mm256_store_si256(reinterpret_cast<__m256i*>(out.sx[c] + t), sx[c]);
            _mm256_store_si256(reinterpret_cast<__m256i*>(out.sy[c] + t), sy[c]);
            _mm256_store_si256(reinterpret_cast<__m256i*>(out.code[c] + t), code[c]);
        }

        // Clipped triangles go on unless one plane has all three corners outside it.
        const __m256i anyCode = _mm256_or_si256(_mm256_or_si256(code[0], code[1]), code[2]);
        const __m256i allCode = _mm256_and_si256(
            _mm256_and_si256(_mm256_and_si256(code[0], code[1]), code[2]), notFinite);
        const __m256i inBand = _mm256_cmpeq_epi32(anyCode, zeroI);
        const __m256i clip = _mm256_andnot_si256(inBand, _mm256_cmpeq_epi32(allCode, zeroI));

        // BoundSnapped: the box of candidate pixels.
        const __m256i minX = _mm256_sub_epi32(
            _mm256_min_epi32(_mm256_min_epi32(sx[0], sx[1]), sx[2]), centre);
        const __m256i maxX = _mm256_sub_epi32(
            _mm256_max_epi32(_mm256_max_epi32(sx[0], sx[1]), sx[2]), centre);
        const __m256i minY = _mm256_sub_epi32(
            _mm256_min_epi32(_mm256_min_epi32(sy[0], sy[1]), sy[2]), centre);
        const __m256i maxY = _mm256_sub_epi32(
            _mm256_max_epi32(_mm256_max_epi32(sy[0], sy[1]), sy[2]), centre);
        const __m256i left = _mm256_max_epi32(
            _mm256_srai_epi32(_mm256_add_epi32(minX, roundUp), kSubpixelBits), zeroI);
        const __m256i right = _mm256_min_epi32(_mm256_srai_epi32(maxX, kSubpixelBits), lastColumn);
        const __m256i top = _mm256_max_epi32(
            _mm256_srai_epi32(_mm256_add_epi32(minY, roundUp), kSubpixelBits), zeroI);
        const __m256i bottom = _mm256_min_epi32(_mm256_srai_epi32(maxY, kSubpixelBits), lastRow);
        const __m256i empty =
            _mm256_or_si256(_mm256_cmpgt_epi32(left, right), _mm256_cmpgt_epi32(top, bottom));

        // Twice the signed area, as 64-bit products of the even and of the odd lanes. Corners
        // inside the guard band keep every difference within 32 bits.
        const __m256i dx1 = _mm256_sub_epi32(sx[1], sx[0]), dy1 = _mm256_sub_epi32(sy[1], sy[0]);
        const __m256i dx2 = _mm256_sub_epi32(sx[2], sx[0]), dy2 = _mm256_sub_epi32(sy[2], sy[0]);
        const __m256i areaEven =
            _mm256_sub_epi64(_mm256_mul_epi32(dx1, dy2), _mm256_mul_epi32(dy1, dx2));
        const __m256i areaOdd = _mm256_sub_epi64(
            _mm256_mul_epi32(_mm256_srli_epi64(dx1, 32), _mm256_srli_epi64(dy2, 32)),
            _mm256_mul_epi32(_mm256_srli_epi64(dy1, 32), _mm256_srli_epi64(dx2, 32)));
        const __m256i clockwise = _mm256_blend_epi32(_mm256_cmpgt_epi64(areaEven, zeroI),
                                                     _mm256_cmpgt_epi64(areaOdd, zeroI), 0xAA);
        const __m256i anticlockwise = _mm256_blend_epi32(
            _mm256_cmpgt_epi64(zeroI, areaEven), _mm256_cmpgt_epi64(zeroI, areaOdd), 0xAA);
        const __m256i facing = state.cullMode == D3DCULL_CW    ? anticlockwise
                               : state.cullMode == D3DCULL_CCW ? clockwise
                                                               : _mm256_or_si256(clockwise,
                                                                                 anticlockwise);
        __m256i store = _mm256_andnot_si256(empty, _mm256_and_si256(inBand, facing));

        // StoreSnapped's sample test of tiny triangles that fit 32-bit edge functions, with the
        // corners in clockwise order and each edge set up as SetupEdges32 does.
        const __m256i columns = _mm256_sub_epi32(right, left);
        const __m256i rows = _mm256_sub_epi32(bottom, top);
        const __m256i vertexWidth = _mm256_sub_epi32(maxX, minX);
        const __m256i vertexHeight = _mm256_sub_epi32(maxY, minY);
        const __m256i tested = _mm256_and_si256(
            _mm256_and_si256(_mm256_cmpgt_epi32(two, columns), _mm256_cmpgt_epi32(two, rows)),
            _mm256_and_si256(_mm256_cmpgt_epi32(narrowWidth, vertexWidth),
                             _mm256_cmpgt_epi32(narrowHeight, vertexHeight)));
        const __m256i ox[3] = {sx[0], _mm256_blendv_epi8(sx[2], sx[1], clockwise),
                               _mm256_blendv_epi8(sx[1], sx[2], clockwise)};
        const __m256i oy[3] = {sy[0], _mm256_blendv_epi8(sy[2], sy[1], clockwise),
                               _mm256_blendv_epi8(sy[1], sy[2], clockwise)};
        const __m256i sampleX = _mm256_add_epi32(_mm256_slli_epi32(left, kSubpixelBits), centre);
        const __m256i sampleY = _mm256_add_epi32(_mm256_slli_epi32(top, kSubpixelBits), centre);
        __m256i s00 = zeroI, s10 = zeroI, s01 = zeroI, s11 = zeroI;
        for (int i = 0; i < 3; ++i) {
            const int b = i == 2 ? 0 : i + 1;
            const __m256i dx = _mm256_sub_epi32(ox[b], ox[i]);
            const __m256i dy = _mm256_sub_epi32(oy[b], oy[i]);
            const __m256i topLeft = _mm256_or_si256(
                _mm256_cmpgt_epi32(zeroI, dy),
                _mm256_and_si256(_mm256_cmpeq_epi32(dy, zeroI), _mm256_cmpgt_epi32(dx, zeroI)));
            const __m256i at = _mm256_add_epi32(
                _mm256_sub_epi32(_mm256_mullo_epi32(dx, _mm256_sub_epi32(sampleY, oy[i])),
                                 _mm256_mullo_epi32(dy, _mm256_sub_epi32(sampleX, ox[i]))),
                _mm256_xor_si256(topLeft, ones));
            const __m256i stepX = _mm256_sub_epi32(zeroI, _mm256_slli_epi32(dy, kSubpixelBits));
            const __m256i stepY = _mm256_slli_epi32(dx, kSubpixelBits);
            s00 = _mm256_or_si256(s00, at);
            s10 = _mm256_or_si256(s10, _mm256_add_epi32(at, stepX));
            s01 = _mm256_or_si256(s01, _mm256_add_epi32(at, stepY));
            s11 = _mm256_or_si256(s11, _mm256_add_epi32(_mm256_add_epi32(at, stepX), stepY));
        }
        const __m256i wide = _mm256_cmpgt_epi32(columns, zeroI);
        const __m256i tall = _mm256_cmpgt_epi32(rows, zeroI);
        const __m256i candidates = _mm256_or_si256(
            _mm256_or_si256(_mm256_set1_epi32(1), _mm256_and_si256(wide, two)),
            _mm256_or_si256(_mm256_and_si256(tall, _mm256_set1_epi32(4)),
                            _mm256_and_si256(_mm256_and_si256(wide, tall), _mm256_set1_epi32(8))));
        const __m256i covered = _mm256_and_si256(
            candidates,
            _mm256_or_si256(
                _mm256_or_si256(NotNegative8(s00), _mm256_slli_epi32(NotNegative8(s10), 1)),
                _mm256_or_si256(_mm256_slli_epi32(NotNegative8(s01), 2),
                                _mm256_slli_epi32(NotNegative8(s11), 3))));
        store = _mm256_andnot_si256(_mm256_and_si256(tested, _mm256_cmpeq_epi32(covered, zeroI)),
                                    store);

        _mm256_store_si256(reinterpret_cast<__m256i*>(tests.left + t), left);
        _mm256_store_si256(reinterpret_cast<__m256i*>(tests.right + t), right);
        _mm256_store_si256(reinterpret_cast<__m256i*>(tests.top + t), top);
        _mm256_store_si256(reinterpret_cast<__m256i*>(tests.bottom + t), bottom);
        _mm256_store_si256(reinterpret_cast<__m256i*>(tests.vertexWidth + t), vertexWidth);
        _mm256_store_si256(reinterpret_cast<__m256i*>(tests.vertexHeight + t), vertexHeight);
        _mm256_store_si256(reinterpret_cast<__m256i*>(tests.clockwise + t), clockwise);
        _mm256_store_si256(reinterpret_cast<__m256i*>(tests.coverage + t),
                           _mm256_blendv_epi8(ones, covered, tested));
        const unsigned lanes = triangles - t >= 8 ? 0xFFu : (1u << (triangles - t)) - 1u;
        tests.store |= (LaneBits(store) & lanes) << t;
        tests.clip |= (LaneBits(clip) & lanes) << t;
    }
}
#endif

// The geometry of triangle t of the block that crosses a plane: clipped, then emitted as a fan.
void ClipBlockTriangle(const VertexBlock& block, int t, const std::uint8_t* triangle,
                       const Plane* planes, const RasterState& state, std::uint32_t stateIndex,
                       bool textured, TriangleList& out) {
    ClipVertex polygon[16];
    ClipVertex scratch[16];
    const std::uint32_t stride = state.stride;
    const std::int32_t texOffset = state.texOffset;
    bool finite = true;
    for (int k = 0; k < 3; ++k) {
        const std::uint8_t* vertex = triangle + k * stride;
        const float cx = block.x[k][t], cy = block.y[k][t];
        const float cz = block.z[k][t], cw = block.w[k][t];
        ClipVertex& c = polygon[k];
        c = ClipVertex{cx, cy, cz, cw, {}, 0.0f, 0.0f, 0.0f};
        if (texOffset >= 0) {
            c.u = ReadFloat(vertex + texOffset);
            c.v = ReadFloat(vertex + texOffset + 4);
        }
        UnpackColour(ReadColour(vertex, state.diffuseOffset), c.colour);
        finite = finite && std::isfinite(cx) && std::isfinite(cy) && std::isfinite(cz) &&
                 std::isfinite(cw);
    }
    if (!finite) return;
    // The clipper ignores the bit for a projection that is not finite. Without a plane bit such
    // a vertex has a clip position that is not finite, which the test above dropped.
    const unsigned codes = block.code[0][t] | block.code[1][t] | block.code[2][t];
    const int clipped = ClipPolygon(polygon, 3, codes, planes, scratch);
    EmitPolygon(polygon, clipped, state, stateIndex, textured, out);
}

}  // namespace

bool HasWideVectors() {
#if defined(LAPQUILL_WIDE_VECTORS)
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
#else
    return false;
#endif
}

void SetupTriangles(const RasterState& state, std::uint32_t stateIndex, const DrawCommand& draw,
                    std::uint32_t first, std::uint32_t count, TriangleList& out) {
    const std::uint32_t stride = state.stride;
    const std::uint8_t* base =
        draw.data.get() + draw.firstByte +
        static_cast<std::size_t>(first) * 3u * static_cast<std::size_t>(stride);
    const bool textured = !state.stagePassThrough;
    const std::int32_t texOffset = state.texOffset;
    const float width = static_cast<float>(state.width);
    const float height = static_cast<float>(state.height);

    Plane planes[kPlaneCount];
    if (state.pretransformed) {
        const float b = kGuardBandPixels;
        planes[0] = planes[1] = planes[6] = Plane{0, 0, 0, 0, 1};  // never used
        planes[2] = Plane{1, 0, 0, 0, b};
        planes[3] = Plane{-1, 0, 0, 0, width + b};
        planes[4] = Plane{0, 1, 0, 0, b};
        planes[5] = Plane{0, -1, 0, 0, height + b};
    } else {
        const float gx = 1.0f + 2.0f * kGuardBandPixels / width;
        const float gy = 1.0f + 2.0f * kGuardBandPixels / height;
        planes[0] = Plane{0, 0, 1, 0, 0};
        planes[1] = Plane{0, 0, -1, 1, 0};
        planes[2] = Plane{1, 0, 0, gx, 0};
        planes[3] = Plane{-1, 0, 0, gx, 0};
        planes[4] = Plane{0, 1, 0, gy, 0};
        planes[5] = Plane{0, -1, 0, gy, 0};
        planes[6] = Plane{0, 0, 0, 1, -kMinW};
    }

    ClipVertex polygon[16];
    ClipVertex scratch[16];
    ProjectedVertex projected[3];
    unsigned codes[3];

    if (state.pretransformed) {
        const float lo = -kGuardBandPixels;
        const float hiX = width + kGuardBandPixels;
        const float hiY = height + kGuardBandPixels;
        for (std::uint32_t t = 0; t < count; ++t, base += 3u * stride) {
            bool finite = true;
            for (int k = 0; k < 3; ++k) {
                const std::uint8_t* vertex = base + k * stride;
                ProjectedVertex& p = projected[k];
                p.x = ReadFloat(vertex);
                p.y = ReadFloat(vertex + 4);
                p.rhw = ReadFloat(vertex + 12);
                p.colour = ReadColour(vertex, state.diffuseOffset);
                if (texOffset >= 0) {
                    p.u = ReadFloat(vertex + texOffset);
                    p.v = ReadFloat(vertex + texOffset + 4);
                } else {
                    p.u = p.v = 0.0f;
                }
                finite = finite && std::isfinite(p.x) && std::isfinite(p.y);
                codes[k] = (p.x < lo ? kLeft : 0u) | (p.x > hiX ? kRight : 0u) |
                           (p.y < lo ? kBottom : 0u) | (p.y > hiY ? kTop : 0u);
            }
            if (!finite) continue;
            const unsigned any = codes[0] | codes[1] | codes[2];
            if (any == 0) {
                EmitTriangle(&projected[0], &projected[1], &projected[2], state, stateIndex,
                             textured, out);
                continue;
            }
            if ((codes[0] & codes[1] & codes[2]) != 0) continue;
            for (int k = 0; k < 3; ++k) {
                const ProjectedVertex& p = projected[k];
                ClipVertex& c = polygon[k];
                c = ClipVertex{p.x, p.y, 0.0f, 1.0f, {}, p.u, p.v, p.rhw};
                UnpackColour(p.colour, c.colour);
            }
            const int n = ClipPolygon(polygon, 3, any, planes, scratch);
            EmitPolygon(polygon, n, state, stateIndex, textured, out);
        }
        return;
    }

    VertexBlock block;
#if defined(LAPQUILL_WIDE_VECTORS)
    BlockTests tests;
#endif
    const BlockTransform transform(state);
    const std::size_t triangleBytes = 3u * static_cast<std::size_t>(stride);
    for (std::uint32_t done = 0; done < count; done += kBlockTriangles) {
        const int n = static_cast<int>(std::min<std::uint32_t>(kBlockTriangles, count - done));
        const std::uint8_t* const blockBase = base;
        base += static_cast<std::size_t>(n) * triangleBytes;
        auto snappedVertex = [&](int t) {
            const std::uint8_t* triangle = blockBase + static_cast<std::size_t>(t) * triangleBytes;
            return [&block, &state, triangle, stride, texOffset, t](int k) {
                const std::uint8_t* vertex = triangle + k * stride;
                ProjectedVertex p;
                p.x = p.y = 0.0f;  // already snapped
                p.rhw = block.rhw[k][t];
                p.colour = ReadColour(vertex, state.diffuseOffset);
                p.u = texOffset >= 0 ? ReadFloat(vertex + texOffset) : 0.0f;
                p.v = texOffset >= 0 ? ReadFloat(vertex + texOffset + 4) : 0.0f;
                return p;
            };
        };
#if defined(LAPQUILL_WIDE_VECTORS)
        if (state.wideVectors) {
            // The first tests are made for the whole block; only the triangles that pass them
            // are visited, in order.
            TransformAndTestBlock(transform, state, blockBase, stride, n,
                                  static_cast<std::size_t>(count - done) * triangleBytes, block,
                                  tests);
            for (std::uint64_t pending = tests.store | tests.clip; pending != 0;
                 pending &= pending - 1) {
                const int t = std::countr_zero(pending);
                if (((tests.clip >> t) & 1u) != 0) {
                    ClipBlockTriangle(block, t,
                                      blockBase + static_cast<std::size_t>(t) * triangleBytes,
                                      planes, state, stateIndex, textured, out);
                    continue;
                }
                const std::int32_t x[3] = {block.sx[0][t], block.sx[1][t], block.sx[2][t]};
                const std::int32_t y[3] = {block.sy[0][t], block.sy[1][t], block.sy[2][t]};
                const SnappedBox box{tests.left[t],        tests.right[t],
                                     tests.top[t],         tests.bottom[t],
                                     tests.vertexWidth[t], tests.vertexHeight[t],
                                     tests.clockwise[t] != 0};
                StoreSnapped(x, y, box, snappedVertex(t), state, stateIndex, textured, out,
                             tests.coverage[t]);
            }
            continue;
        }
#endif
        TransformBlock(transform, blockBase, stride, n, block);
        for (int t = 0; t < n; ++t) {
            const unsigned c0 = block.code[0][t], c1 = block.code[1][t], c2 = block.code[2][t];
            if ((c0 | c1 | c2) == 0) {
                const std::int32_t x[3] = {block.sx[0][t], block.sx[1][t], block.sx[2][t]};
                const std::int32_t y[3] = {block.sy[0][t], block.sy[1][t], block.sy[2][t]};
                EmitSnapped(x, y, snappedVertex(t), state, stateIndex, textured, out);
                continue;
            }
            if ((c0 & c1 & c2 & ~kProjectionNotFinite) != 0) continue;
            ClipBlockTriangle(block, t, blockBase + static_cast<std::size_t>(t) * triangleBytes,
                              planes, state, stateIndex, textured, out);
        }
    }
}

}  // namespace lapquill::software
