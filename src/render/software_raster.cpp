// The raster stage of SoftwareDevice: integer edge functions over 24.8 fixed-point vertices, one
// exact span per row (found by division, not by testing every pixel), Gouraud colour in 16.16
// fixed point, and span loops specialised for what the map draws most: opaque flat or shaded
// triangles and source-alpha blending. Textures, alpha test and other blend factors take the
// general per-pixel path. Each thread draws only the rows of its bands.
#include <algorithm>
#include <cmath>

#include "render/software_pipeline.h"

namespace lapquill::software {
namespace {

// round(x / 255) for 0 <= x <= 65025, exactly.
inline std::uint32_t Div255(std::uint32_t x) {
    x += 128;
    return (x + (x >> 8)) >> 8;
}

inline std::uint32_t Mul8(std::uint32_t a, std::uint32_t b) {
    return Div255(a * b);
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

// Edge functions of one triangle and the rows this thread draws of it.
struct Edges {
    std::int64_t atOrigin[3];  // value at the sample of pixel (minX, minY), bias included
    std::int64_t stepX[3];     // change per pixel to the right
    std::int64_t stepY[3];     // change per pixel down
};

void SetupEdges(const RasterTriangle& t, Edges& e) {
    const std::int64_t sampleX =
        static_cast<std::int64_t>(t.minX) * kSubpixelScale + kPixelCentreOffset;
    const std::int64_t sampleY =
        static_cast<std::int64_t>(t.minY) * kSubpixelScale + kPixelCentreOffset;
    for (int i = 0; i < 3; ++i) {
        const int a = i;
        const int b = (i + 1) % 3;
        const std::int64_t dx = static_cast<std::int64_t>(t.x[b]) - t.x[a];
        const std::int64_t dy = static_cast<std::int64_t>(t.y[b]) - t.y[a];
        // The triangle is clockwise on the screen, so its top edge runs to the right and its
        // left edges run upwards.
        const bool topLeft = dy < 0 || (dy == 0 && dx > 0);
        e.atOrigin[i] =
            dx * (sampleY - t.y[a]) - dy * (sampleX - t.x[a]) + (topLeft ? 0 : kNonTopLeftEdgeBias);
        e.stepX[i] = -dy * kSubpixelScale;
        e.stepY[i] = dx * kSubpixelScale;
    }
}

// The covered pixels of one row as [first, last] offsets from minX; false when none.
inline bool RowSpan(const std::int64_t value[3], const std::int64_t stepX[3], int width, int* first,
                    int* last) {
    std::int64_t lo = 0;
    std::int64_t hi = width - 1;
    for (int i = 0; i < 3; ++i) {
        const std::int64_t e = value[i];
        const std::int64_t a = stepX[i];
        if (a > 0) {
            if (e < 0) lo = std::max(lo, (-e + a - 1) / a);
        } else if (a < 0) {
            if (e < 0) return false;
            hi = std::min(hi, e / -a);
        } else if (e < 0) {
            return false;
        }
    }
    if (lo > hi) return false;
    *first = static_cast<int>(lo);
    *last = static_cast<int>(hi);
    return true;
}

// Calls span(y, x0, x1) for every covered run of pixels in the rows this thread owns.
template <typename SpanFn>
void ForEachSpan(const RasterTriangle& t, int thread, int threadCount, SpanFn&& span) {
    Edges e;
    SetupEdges(t, e);
    const int width = t.maxX - t.minX + 1;
    for (int band = t.minY / kBandRows; band <= t.maxY / kBandRows; ++band) {
        if (band % threadCount != thread) continue;
        const int y0 = std::max<int>(t.minY, band * kBandRows);
        const int y1 = std::min<int>(t.maxY, band * kBandRows + kBandRows - 1);
        std::int64_t value[3];
        for (int i = 0; i < 3; ++i) value[i] = e.atOrigin[i] + e.stepY[i] * (y0 - t.minY);
        for (int y = y0; y <= y1; ++y) {
            int first, last;
            if (RowSpan(value, e.stepX, width, &first, &last)) {
                span(y, t.minX + first, t.minX + last);
            }
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

// Gouraud colour in 16.16 fixed point. Unsigned so that the wild gradients of slivers wrap
// instead of overflowing; the values at covered samples stay in range.
struct ColourStepper {
    Plane channel[4];  // a, r, g, b
    std::uint32_t step[4];

    ColourStepper(const RasterTriangle& t, const PlaneSetup& s) {
        const Rgba c0 = Unpack(t.colour[0]), c1 = Unpack(t.colour[1]), c2 = Unpack(t.colour[2]);
        const std::uint32_t v0[4] = {c0.a, c0.r, c0.g, c0.b};
        const std::uint32_t v1[4] = {c1.a, c1.r, c1.g, c1.b};
        const std::uint32_t v2[4] = {c2.a, c2.r, c2.g, c2.b};
        for (int i = 0; i < 4; ++i) {
            channel[i] = s.Fit(static_cast<float>(v0[i]), static_cast<float>(v1[i]),
                               static_cast<float>(v2[i]));
            channel[i].dx = std::clamp(channel[i].dx, -4096.0f, 4096.0f);
            channel[i].dy = std::clamp(channel[i].dy, -4096.0f, 4096.0f);
            step[i] = static_cast<std::uint32_t>(
                static_cast<std::int32_t>(std::lrint(channel[i].dx * 65536.0f)));
        }
    }
    void Start(const PlaneSetup& s, int x, int y, std::uint32_t value[4]) const {
        for (int i = 0; i < 4; ++i) {
            const float v = std::clamp(s.At(channel[i], x, y), -1024.0f, 1024.0f);
            value[i] =
                static_cast<std::uint32_t>(static_cast<std::int32_t>(std::lrint(v * 65536.0f)));
        }
    }
    static std::uint32_t Channel(std::uint32_t fixed) {
        const std::int32_t v = static_cast<std::int32_t>(fixed + 0x8000u) >> 16;
        return static_cast<std::uint32_t>(std::clamp(v, 0, 255));
    }
    static std::uint32_t PackFixed(const std::uint32_t value[4]) {
        return (Channel(value[0]) << 24) | (Channel(value[1]) << 16) | (Channel(value[2]) << 8) |
               Channel(value[3]);
    }
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

std::uint32_t SamplePoint(const TextureImage& image, float u, float v, const RasterState& s) {
    const int x = Address(static_cast<int>(std::floor(TexelCoordinate(u, image.width))),
                          image.width, s.addressU);
    const int y = Address(static_cast<int>(std::floor(TexelCoordinate(v, image.height))),
                          image.height, s.addressV);
    return image.texels[static_cast<std::size_t>(y) * image.width + x];
}

// Bilinear between the four texels around (u, v); texel centres lie at (i + 0.5) / size.
std::uint32_t SampleLinear(const TextureImage& image, float u, float v, const RasterState& s) {
    const float fu = TexelCoordinate(u, image.width) - 0.5f;
    const float fv = TexelCoordinate(v, image.height) - 0.5f;
    const float iu = std::floor(fu);
    const float iv = std::floor(fv);
    const std::uint32_t wx = static_cast<std::uint32_t>(std::lrint((fu - iu) * 256.0f));
    const std::uint32_t wy = static_cast<std::uint32_t>(std::lrint((fv - iv) * 256.0f));
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

    TextureStepper(const RasterTriangle& t, const PlaneSetup& s, const RasterState& state) {
        perspective = (t.flags & kConstantRhw) == 0;
        if (perspective) {
            u = s.Fit(t.u[0] * t.rhw[0], t.u[1] * t.rhw[1], t.u[2] * t.rhw[2]);
            v = s.Fit(t.v[0] * t.rhw[0], t.v[1] * t.rhw[1], t.v[2] * t.rhw[2]);
            q = s.Fit(t.rhw[0], t.rhw[1], t.rhw[2]);
        } else {
            u = s.Fit(t.u[0], t.u[1], t.u[2]);
            v = s.Fit(t.v[0], t.v[1], t.v[2]);
            q = Plane{1.0f, 0.0f, 0.0f};
        }
        // Magnification when a pixel step covers at most one texel, else minification.
        float scale = 0.0f;
        if (state.texture) {
            const Plane au = s.Fit(t.u[0], t.u[1], t.u[2]);
            const Plane av = s.Fit(t.v[0], t.v[1], t.v[2]);
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

void DrawGeneral(const RasterTriangle& t, const RasterState& s, const Target& target, int thread,
                 int threadCount) {
    const PlaneSetup setup(t);
    const ColourStepper colour(t, setup);
    const bool flat = (t.flags & kFlatColour) != 0;
    const bool sampled = !s.stagePassThrough && s.texture != nullptr;
    const TextureStepper texture(t, setup, s);
    const Rgba white{255, 255, 255, 255};
    const std::uint32_t alphaRef = s.alphaRef & 0xFF;
    ForEachSpan(t, thread, threadCount, [&](int y, int x0, int x1) {
        std::uint32_t* row = target.pixels + static_cast<std::size_t>(y) * target.width;
        std::uint32_t value[4];
        colour.Start(setup, x0, y, value);
        for (int x = x0; x <= x1; ++x) {
            const std::uint32_t diffuseArgb = flat ? t.colour[0] : ColourStepper::PackFixed(value);
            for (int i = 0; i < 4; ++i) value[i] += colour.step[i];
            Rgba src = Unpack(diffuseArgb);
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
                    texel = Unpack(texture.linear ? SampleLinear(*s.texture, u, v, s)
                                                  : SamplePoint(*s.texture, u, v, s));
                }
                src = RunStage(s, src, texel);
            }
            if (s.alphaTest && !AlphaTestPasses(s.alphaFunc, src.a, alphaRef)) continue;
            const std::uint32_t packed = Pack(src);
            if (s.opaque) {
                row[x] = packed;
            } else if (s.srcAlphaBlend) {
                row[x] = BlendSrcAlpha(packed, row[x]);
            } else {
                row[x] = BlendGeneral(s, packed, row[x]);
            }
        }
    });
}

void DrawTriangle(const RasterTriangle& t, const RasterState& s, const Target& target, int thread,
                  int threadCount) {
    const bool general = !s.stagePassThrough || s.alphaTest || (!s.opaque && !s.srcAlphaBlend);
    if (general) {
        DrawGeneral(t, s, target, thread, threadCount);
        return;
    }
    const bool flat = (t.flags & kFlatColour) != 0;
    // Source-alpha blending of a fully opaque colour writes the colour itself.
    const bool opaque = s.opaque || (t.flags & kOpaqueAlpha) != 0;
    std::uint32_t* pixels = target.pixels;
    const std::size_t pitch = static_cast<std::size_t>(target.width);
    if (flat) {
        const std::uint32_t c = t.colour[0];
        if (opaque) {
            ForEachSpan(t, thread, threadCount, [&](int y, int x0, int x1) {
                std::fill(pixels + y * pitch + x0, pixels + y * pitch + x1 + 1, c);
            });
        } else {
            // dst * (255 - a) + src * a with the source half computed once.
            const std::uint32_t a = c >> 24, ia = 255 - a;
            const std::uint32_t sa = a * a, sr = ((c >> 16) & 0xFF) * a, sg = ((c >> 8) & 0xFF) * a,
                                sb = (c & 0xFF) * a;
            ForEachSpan(t, thread, threadCount, [&](int y, int x0, int x1) {
                std::uint32_t* row = pixels + y * pitch;
                for (int x = x0; x <= x1; ++x) {
                    const std::uint32_t d = row[x];
                    row[x] = (Div255(sa + (d >> 24) * ia) << 24) |
                             (Div255(sr + ((d >> 16) & 0xFF) * ia) << 16) |
                             (Div255(sg + ((d >> 8) & 0xFF) * ia) << 8) |
                             Div255(sb + (d & 0xFF) * ia);
                }
            });
        }
        return;
    }
    const PlaneSetup setup(t);
    const ColourStepper colour(t, setup);
    ForEachSpan(t, thread, threadCount, [&](int y, int x0, int x1) {
        std::uint32_t* row = pixels + y * pitch;
        std::uint32_t value[4];
        colour.Start(setup, x0, y, value);
        const std::uint32_t s0 = colour.step[0], s1 = colour.step[1], s2 = colour.step[2],
                            s3 = colour.step[3];
        if (opaque) {
            for (int x = x0; x <= x1; ++x) {
                row[x] = ColourStepper::PackFixed(value);
                value[0] += s0;
                value[1] += s1;
                value[2] += s2;
                value[3] += s3;
            }
        } else {
            for (int x = x0; x <= x1; ++x) {
                row[x] = BlendSrcAlpha(ColourStepper::PackFixed(value), row[x]);
                value[0] += s0;
                value[1] += s1;
                value[2] += s2;
                value[3] += s3;
            }
        }
    });
}

}  // namespace

void RasterTriangles(const RasterTriangle* triangles, std::size_t count, const RasterState* states,
                     const Target& target, int thread, int threadCount) {
    for (std::size_t i = 0; i < count; ++i) {
        const RasterTriangle& t = triangles[i];
        if (threadCount > 1) {
            // Skip quickly what lies wholly in other threads' bands.
            const int firstBand = t.minY / kBandRows;
            const int lastBand = t.maxY / kBandRows;
            if (lastBand - firstBand + 1 < threadCount) {
                bool mine = false;
                for (int band = firstBand; band <= lastBand; ++band) {
                    mine = mine || band % threadCount == thread;
                }
                if (!mine) continue;
            }
        }
        DrawTriangle(t, states[t.state], target, thread, threadCount);
    }
}

void ClearRows(const D3DRECT& rect, std::uint32_t colour, const Target& target, int thread,
               int threadCount) {
    for (int y = rect.y1; y < rect.y2; ++y) {
        if (!ThreadOwnsRow(y, thread, threadCount)) continue;
        std::uint32_t* row = target.pixels + static_cast<std::size_t>(y) * target.width;
        std::fill(row + rect.x1, row + rect.x2, colour);
    }
}

}  // namespace lapquill::software
