// The geometry stage of SoftwareDevice: vertices fetched from the draw's memory, transformed by
// world * view * projection (or taken as pixels when pre-transformed), clipped in homogeneous
// space where needed, projected onto the viewport, snapped to 24.8 fixed point, culled and
// bounded. Nothing here allocates except the growth of the output list.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "render/software_pipeline.h"

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
    // Twice the signed area in subpixels; positive means clockwise on the screen (y down).
    const std::int64_t area =
        static_cast<std::int64_t>(x[1] - x[0]) * static_cast<std::int64_t>(y[2] - y[0]) -
        static_cast<std::int64_t>(y[1] - y[0]) * static_cast<std::int64_t>(x[2] - x[0]);
    if (area == 0) return;
    if (state.cullMode == D3DCULL_CW && area > 0) return;
    if (state.cullMode == D3DCULL_CCW && area < 0) return;

    // Pixels whose sample point lies inside the bounding box, clamped to the viewport.
    const std::int32_t minX = std::min({x[0], x[1], x[2]}) - kPixelCentreOffset;
    const std::int32_t maxX = std::max({x[0], x[1], x[2]}) - kPixelCentreOffset;
    const std::int32_t minY = std::min({y[0], y[1], y[2]}) - kPixelCentreOffset;
    const std::int32_t maxY = std::max({y[0], y[1], y[2]}) - kPixelCentreOffset;
    const std::int32_t left = std::max((minX + kSubpixelScale - 1) >> kSubpixelBits, 0);
    const std::int32_t right = std::min(maxX >> kSubpixelBits, state.width - 1);
    const std::int32_t top = std::max((minY + kSubpixelScale - 1) >> kSubpixelBits, 0);
    const std::int32_t bottom = std::min(maxY >> kSubpixelBits, state.height - 1);
    if (left > right || top > bottom) return;

    const int order[3] = {0, area > 0 ? 1 : 2, area > 0 ? 2 : 1};
    // Most ribbon triangles are thinner than a pixel: test their few samples here and keep only
    // those that cover one.
    std::uint32_t tinyFlags = 0;
    if (right - left <= 1 && bottom - top <= 1) {
        const std::int32_t ox[3] = {x[order[0]], x[order[1]], x[order[2]]};
        const std::int32_t oy[3] = {y[order[0]], y[order[1]], y[order[2]]};
        Edges e;
        SetupEdges(ox, oy, left, top, e);
        std::uint32_t mask = 0;
        for (int dy = 0; dy <= bottom - top; ++dy) {
            for (int dx = 0; dx <= right - left; ++dx) {
                bool inside = true;
                for (int i = 0; i < 3; ++i) {
                    inside = inside && e.atOrigin[i] + e.stepX[i] * dx + e.stepY[i] * dy >= 0;
                }
                if (inside) mask |= 1u << (dy * 2 + dx);
            }
        }
        if (mask == 0) return;
        tinyFlags = kTiny | mask << kCoverageShift;
    }
    RasterTriangle& t = out.emplace_back();
    for (int i = 0; i < 3; ++i) {
        t.x[i] = x[order[i]];
        t.y[i] = y[order[i]];
        t.colour[i] = v[order[i]]->colour;
    }
    if (state.flatShade) t.colour[1] = t.colour[2] = t.colour[0] = v0->colour;
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
            t.u[i] = v[order[i]]->u;
            t.v[i] = v[order[i]]->v;
            t.rhw[i] = v[order[i]]->rhw;
        }
        if (t.rhw[0] == t.rhw[1] && t.rhw[1] == t.rhw[2]) flags |= kConstantRhw;
    } else {
        flags |= kConstantRhw;
    }
    t.flags = flags;
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

    const auto& m = state.wvp;
    const float gx = 1.0f + 2.0f * kGuardBandPixels / width;
    const float gy = 1.0f + 2.0f * kGuardBandPixels / height;
    const float halfWidth = width * 0.5f;
    const float halfHeight = height * 0.5f;
    float cx[3], cy[3], cz[3], cw[3];
    std::uint32_t colour[3];
    float tu[3], tv[3];
    for (std::uint32_t t = 0; t < count; ++t, base += 3u * stride) {
        for (int k = 0; k < 3; ++k) {
            const std::uint8_t* vertex = base + k * stride;
            const float px = ReadFloat(vertex);
            const float py = ReadFloat(vertex + 4);
            const float pz = ReadFloat(vertex + 8);
            const float x = px * m[0][0] + py * m[1][0] + pz * m[2][0] + m[3][0];
            const float y = px * m[0][1] + py * m[1][1] + pz * m[2][1] + m[3][1];
            const float z = px * m[0][2] + py * m[1][2] + pz * m[2][2] + m[3][2];
            const float w = px * m[0][3] + py * m[1][3] + pz * m[2][3] + m[3][3];
            cx[k] = x;
            cy[k] = y;
            cz[k] = z;
            cw[k] = w;
            // NaN fails every comparison, so test for "not inside" to send it to the clipper,
            // which drops it.
            codes[k] = (!(z >= 0.0f) ? kNear : 0u) | (!(z <= w) ? kFar : 0u) |
                       (!(x >= -gx * w) ? kLeft : 0u) | (!(x <= gx * w) ? kRight : 0u) |
                       (!(y >= -gy * w) ? kBottom : 0u) | (!(y <= gy * w) ? kTop : 0u) |
                       (!(w >= kMinW) ? kPositiveW : 0u);
            colour[k] = ReadColour(vertex, state.diffuseOffset);
            if (texOffset >= 0) {
                tu[k] = ReadFloat(vertex + texOffset);
                tv[k] = ReadFloat(vertex + texOffset + 4);
            } else {
                tu[k] = tv[k] = 0.0f;
            }
        }
        const unsigned any = codes[0] | codes[1] | codes[2];
        if (any == 0) {
            for (int k = 0; k < 3; ++k) {
                const float rhw = 1.0f / cw[k];
                ProjectedVertex& p = projected[k];
                p.x = (cx[k] * rhw + 1.0f) * halfWidth;
                p.y = (1.0f - cy[k] * rhw) * halfHeight;
                p.rhw = rhw;
                p.colour = colour[k];
                p.u = tu[k];
                p.v = tv[k];
            }
            EmitTriangle(&projected[0], &projected[1], &projected[2], state, stateIndex, textured,
                         out);
            continue;
        }
        if ((codes[0] & codes[1] & codes[2]) != 0) continue;
        bool finite = true;
        for (int k = 0; k < 3; ++k) {
            ClipVertex& c = polygon[k];
            c = ClipVertex{cx[k], cy[k], cz[k], cw[k], {}, tu[k], tv[k], 0.0f};
            UnpackColour(colour[k], c.colour);
            finite = finite && std::isfinite(cx[k]) && std::isfinite(cy[k]) &&
                     std::isfinite(cz[k]) && std::isfinite(cw[k]);
        }
        if (!finite) continue;
        const int n = ClipPolygon(polygon, 3, any, planes, scratch);
        EmitPolygon(polygon, n, state, stateIndex, textured, out);
    }
}

}  // namespace lapquill::software
