// The geometry stage of SoftwareDevice: vertices fetched from the draw's memory, transformed by
// world * view * projection (or taken as pixels when pre-transformed), clipped in homogeneous
// space where needed, projected onto the viewport, snapped to 24.8 fixed point, culled and
// bounded. Nothing here allocates except the growth of the output list.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "render/software_pipeline.h"

#if defined(__SSE2__)
#include <emmintrin.h>
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

// Culls, bounds and stores one screen triangle whose corners are snapped to (x[i], y[i]).
// vertex(i) gives corner i's other attributes; it is called only for triangles that are kept.
template <typename VertexFn>
void EmitSnapped(const std::int32_t x[3], const std::int32_t y[3], VertexFn&& vertex,
                 const RasterState& state, std::uint32_t stateIndex, bool textured,
                 std::vector<RasterTriangle>& out) {
    // Pixels whose sample point lies inside the bounding box, clamped to the viewport. Most
    // ribbon triangles hold none, so this comes before everything else.
    const std::int32_t minX = std::min({x[0], x[1], x[2]}) - kPixelCentreOffset;
    const std::int32_t maxX = std::max({x[0], x[1], x[2]}) - kPixelCentreOffset;
    const std::int32_t minY = std::min({y[0], y[1], y[2]}) - kPixelCentreOffset;
    const std::int32_t maxY = std::max({y[0], y[1], y[2]}) - kPixelCentreOffset;
    const std::int32_t left = std::max((minX + kSubpixelScale - 1) >> kSubpixelBits, 0);
    const std::int32_t right = std::min(maxX >> kSubpixelBits, state.width - 1);
    const std::int32_t top = std::max((minY + kSubpixelScale - 1) >> kSubpixelBits, 0);
    const std::int32_t bottom = std::min(maxY >> kSubpixelBits, state.height - 1);
    if (left > right || top > bottom) return;

    // Twice the signed area in subpixels; positive means clockwise on the screen (y down).
    const std::int64_t area =
        static_cast<std::int64_t>(x[1] - x[0]) * static_cast<std::int64_t>(y[2] - y[0]) -
        static_cast<std::int64_t>(y[1] - y[0]) * static_cast<std::int64_t>(x[2] - x[0]);
    if (area == 0) return;
    if (state.cullMode == D3DCULL_CW && area > 0) return;
    if (state.cullMode == D3DCULL_CCW && area < 0) return;

    const int order[3] = {0, area > 0 ? 1 : 2, area > 0 ? 2 : 1};
    // Most ribbon triangles are thinner than a pixel: test their few samples here and keep only
    // those that cover one.
    std::uint32_t tinyFlags = 0;
    const std::int32_t vertexWidth = maxX - minX, vertexHeight = maxY - minY;
    if (right - left <= 1 && bottom - top <= 1) {
        const std::int32_t ox[3] = {x[order[0]], x[order[1]], x[order[2]]};
        const std::int32_t oy[3] = {y[order[0]], y[order[1]], y[order[2]]};
        const std::uint32_t mask =
            FitsNarrowBox(right - left, vertexWidth, vertexHeight, kNarrowSpanColumns)
                ? TinyCoverage32(ox, oy, left, top, right - left, bottom - top)
                : TinyCoverage(ox, oy, left, top, right - left, bottom - top);
        if (mask == 0) return;
        tinyFlags = kTiny | mask << kCoverageShift;
    }
    const ProjectedVertex v[3] = {vertex(0), vertex(1), vertex(2)};
    RasterTriangle& t = out.emplace_back();
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
        for (int i = 0; i < 3; ++i) {
            t.u[i] = v[order[i]].u;
            t.v[i] = v[order[i]].v;
            t.rhw[i] = v[order[i]].rhw;
        }
        if (t.rhw[0] == t.rhw[1] && t.rhw[1] == t.rhw[2]) flags |= kConstantRhw;
    } else {
        for (int i = 0; i < 3; ++i) t.u[i] = t.v[i] = t.rhw[i] = 0.0f;
        flags |= kConstantRhw;
    }
    if (FitsNarrowBox(right - left, vertexWidth, vertexHeight, kNarrowTriangle)) flags |= kSmall;
    if (FitsNarrowBox(right - left, vertexWidth, vertexHeight, kNarrowSpanColumns)) {
        flags |= kNarrowSpans;
    }
    t.flags = flags;
}

// Snaps, culls, bounds and stores one screen triangle.
void EmitTriangle(const ProjectedVertex* v0, const ProjectedVertex* v1, const ProjectedVertex* v2,
                  const RasterState& state, std::uint32_t stateIndex, bool textured,
                  std::vector<RasterTriangle>& out) {
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
                 std::uint32_t stateIndex, bool textured, std::vector<RasterTriangle>& out) {
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

// Vertices are transformed a block at a time, four at once where SSE is there, into clip space,
// their clip codes and their snapped screen positions; the triangles then read them back.
constexpr std::uint32_t kBlockTriangles = 64;
constexpr int kBlockVertices = 3 * kBlockTriangles;
// Set in VertexBlock::code when the projection of an otherwise inside vertex is not finite
// (an infinite w, say). It is not a plane: ClipPolygon skips it.
constexpr unsigned kProjectionNotFinite = 128;

struct alignas(16) VertexBlock {
    float x[kBlockVertices], y[kBlockVertices], z[kBlockVertices], w[kBlockVertices];  // clip
    float rhw[kBlockVertices];        // 1 / w
    std::int32_t sx[kBlockVertices];  // 24.8 fixed-point pixels; meaningful where code is 0
    std::int32_t sy[kBlockVertices];
    std::uint32_t code[kBlockVertices];  // PlaneBit outside, kProjectionNotFinite
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

// Vertices [0, count) from `base` (count <= kBlockVertices). Each value is computed with the
// same operations in the same order as one vertex at a time would, so both paths agree to the
// bit: products summed left to right, a true division for 1 / w.
void TransformBlock(const BlockTransform& tr, const std::uint8_t* base, std::uint32_t stride,
                    int count, VertexBlock& out) {
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
    for (int j = 0; j < count; j += 4) {
        // The last group repeats the last vertex rather than read past the draw.
        const std::uint8_t* p[4];
        for (int k = 0; k < 4; ++k) {
            p[k] = base + static_cast<std::size_t>(std::min(j + k, count - 1)) * stride;
        }
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
            px = _mm_setr_ps(ReadFloat(p[0]), ReadFloat(p[1]), ReadFloat(p[2]), ReadFloat(p[3]));
            py = _mm_setr_ps(ReadFloat(p[0] + 4), ReadFloat(p[1] + 4), ReadFloat(p[2] + 4),
                             ReadFloat(p[3] + 4));
            pz = _mm_setr_ps(ReadFloat(p[0] + 8), ReadFloat(p[1] + 8), ReadFloat(p[2] + 8),
                             ReadFloat(p[3] + 8));
        }
        auto row = [&](__m128 a, __m128 b, __m128 c, __m128 d) {
            return _mm_add_ps(
                _mm_add_ps(_mm_add_ps(_mm_mul_ps(px, a), _mm_mul_ps(py, b)), _mm_mul_ps(pz, c)), d);
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
        _mm_store_ps(out.x + j, x);
        _mm_store_ps(out.y + j, y);
        _mm_store_ps(out.z + j, z);
        _mm_store_ps(out.w + j, w);
        _mm_store_ps(out.rhw + j, rhw);
        _mm_store_si128(reinterpret_cast<__m128i*>(out.sx + j),
                        _mm_cvtps_epi32(_mm_mul_ps(sx, subpixels)));
        _mm_store_si128(reinterpret_cast<__m128i*>(out.sy + j),
                        _mm_cvtps_epi32(_mm_mul_ps(sy, subpixels)));
        _mm_store_si128(reinterpret_cast<__m128i*>(out.code + j), code);
    }
#else
    for (int j = 0; j < count; ++j) {
        const std::uint8_t* vertex = base + static_cast<std::size_t>(j) * stride;
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
        out.x[j] = x;
        out.y[j] = y;
        out.z[j] = z;
        out.w[j] = w;
        out.rhw[j] = rhw;
        out.sx[j] = code == 0 ? RoundToInt(sx * static_cast<float>(kSubpixelScale)) : 0;
        out.sy[j] = code == 0 ? RoundToInt(sy * static_cast<float>(kSubpixelScale)) : 0;
        out.code[j] = code;
    }
#endif
}

}  // namespace

void SetupTriangles(const RasterState& state, std::uint32_t stateIndex, const DrawCommand& draw,
                    std::uint32_t first, std::uint32_t count, std::vector<RasterTriangle>& out) {
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
    const BlockTransform transform(state);
    for (std::uint32_t done = 0; done < count; done += kBlockTriangles) {
        const int n = static_cast<int>(std::min<std::uint32_t>(kBlockTriangles, count - done));
        TransformBlock(transform, base, stride, 3 * n, block);
        for (int t = 0; t < n; ++t, base += 3u * stride) {
            const int k0 = 3 * t;
            const unsigned c0 = block.code[k0], c1 = block.code[k0 + 1], c2 = block.code[k0 + 2];
            if ((c0 | c1 | c2) == 0) {
                EmitSnapped(
                    &block.sx[k0], &block.sy[k0],
                    [&](int k) {
                        const std::uint8_t* vertex = base + k * stride;
                        ProjectedVertex p;
                        p.x = p.y = 0.0f;  // already snapped
                        p.rhw = block.rhw[k0 + k];
                        p.colour = ReadColour(vertex, state.diffuseOffset);
                        p.u = texOffset >= 0 ? ReadFloat(vertex + texOffset) : 0.0f;
                        p.v = texOffset >= 0 ? ReadFloat(vertex + texOffset + 4) : 0.0f;
                        return p;
                    },
                    state, stateIndex, textured, out);
                continue;
            }
            if ((c0 & c1 & c2 & ~kProjectionNotFinite) != 0) continue;
            bool finite = true;
            for (int k = 0; k < 3; ++k) {
                const std::uint8_t* vertex = base + k * stride;
                const float cx = block.x[k0 + k], cy = block.y[k0 + k];
                const float cz = block.z[k0 + k], cw = block.w[k0 + k];
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
            if (!finite) continue;
            // The clipper ignores the bit for a projection that is not finite. Without a plane
            // bit such a vertex has a clip position that is not finite, which the test above
            // dropped.
            const int clipped = ClipPolygon(polygon, 3, c0 | c1 | c2, planes, scratch);
            EmitPolygon(polygon, clipped, state, stateIndex, textured, out);
        }
    }
}

}  // namespace lapquill::software
