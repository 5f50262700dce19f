// The text's glyph quads, exact to the bit: axis-aligned textured quads drawn with the column
// table and with the four-pixel lanes come out as the general per-pixel path draws them, and
// 1:1 glyphs come out as texel * diffuse blended over what was there.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "render/software_device.h"
#include "render/vertex_types.h"

namespace lapquill::software {
// Defined in software_raster.cpp: 0 every shortcut, 1 no column table, 2 DrawGeneral.
void SetModulatedTexturePathForTesting(int path);
}  // namespace lapquill::software

namespace lapquill {
namespace {

constexpr int kWidth = 96, kHeight = 72;
constexpr int kTexWidth = 16, kTexHeight = 12;

std::string Hex(std::uint32_t c) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", c);
    return text;
}

std::uint32_t Mul8(std::uint32_t a, std::uint32_t b) {
    return (2 * a * b + 255) / 510;  // round(a * b / 255); never a half, 255 being odd
}

// texel * diffuse per channel, alpha included.
std::uint32_t Modulate(std::uint32_t texel, std::uint32_t diffuse) {
    std::uint32_t out = 0;
    for (int shift = 0; shift < 32; shift += 8)
        out |= Mul8((texel >> shift) & 0xFF, (diffuse >> shift) & 0xFF) << shift;
    return out;
}

// round((src * a + dst * (255 - a)) / 255) per channel, alpha included (src alpha is a).
std::uint32_t Blend(std::uint32_t src, std::uint32_t dst) {
    const std::uint32_t a = src >> 24;
    std::uint32_t out = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const std::uint32_t sum = ((src >> shift) & 0xFF) * a + ((dst >> shift) & 0xFF) * (255 - a);
        out |= ((2 * sum + 255) / 510) << shift;
    }
    return out;
}

template <typename Vertex>
void Draw(SoftwareDevice& device, std::uint32_t fvf, const std::vector<Vertex>& vertices) {
    const auto bytes = static_cast<std::uint32_t>(vertices.size() * sizeof(Vertex));
    VertexBuffer* buffer = nullptr;
    ASSERT_EQ(device.CreateVertexBuffer(bytes, D3DUSAGE_WRITEONLY, fvf, D3DPOOL_DEFAULT, &buffer),
              D3D_OK);
    std::uint8_t* data = nullptr;
    buffer->Lock(0, 0, &data, 0);
    std::memcpy(data, vertices.data(), bytes);
    buffer->Unlock();
    device.SetVertexShader(fvf);
    device.SetStreamSource(0, buffer, sizeof(Vertex));
    EXPECT_EQ(device.DrawPrimitive(D3DPT_TRIANGLELIST, 0,
                                   static_cast<std::uint32_t>(vertices.size() / 3)),
              D3D_OK);
    device.SetStreamSource(0, nullptr, 0);
    buffer->Release();
}

// A glyph's quad over [x0, x1) x [y0, y1) with texel coordinates (u0, v0) to (u1, v1), as the
// text builds it: two triangles sharing the diagonal.
void AppendGlyph(std::vector<TexturedScreenVertex>& out, float x0, float y0, float x1, float y1,
                 float u0, float v0, float u1, float v1, std::uint32_t colour) {
    const TexturedScreenVertex q[6] = {
        {x0, y0, 0, 1, colour, u0, v0}, {x1, y0, 0, 1, colour, u1, v0},
        {x0, y1, 0, 1, colour, u0, v1}, {x1, y0, 0, 1, colour, u1, v0},
        {x1, y1, 0, 1, colour, u1, v1}, {x0, y1, 0, 1, colour, u0, v1}};
    out.insert(out.end(), std::begin(q), std::end(q));
}

// Random texels, a third of them transparent and whole runs of four and more transparent
// (the left six columns of every other line), a few opaque.
std::vector<std::uint32_t> GlyphTexels(std::mt19937& random) {
    std::uniform_int_distribution<std::uint32_t> any(0, 0xFFFFFFFFu), kind(0, 5);
    std::vector<std::uint32_t> texels(kTexWidth * kTexHeight);
    for (int y = 0; y < kTexHeight; ++y) {
        for (int x = 0; x < kTexWidth; ++x) {
            std::uint32_t t = any(random);
            const std::uint32_t k = kind(random);
            if (k < 2 || (y % 2 == 0 && x < 6)) t &= 0x00FFFFFFu;
            if (k == 2) t |= 0xFF000000u;
            texels[static_cast<std::size_t>(y) * kTexWidth + x] = t;
        }
    }
    return texels;
}

struct TextState {
    std::uint32_t address;    // both directions
    std::uint32_t alphaFunc;  // D3DCMP_ALWAYS: no alpha test
    std::uint32_t alphaRef;
    bool blended;
};

// Draws a background that differs from pixel to pixel, then the glyphs modulated by their
// colours under `state`, and returns the picture.
std::vector<std::uint32_t> DrawText(const std::vector<std::uint32_t>& texels,
                                    const std::vector<ScreenVertex>& background,
                                    const std::vector<TexturedScreenVertex>& glyphs,
                                    const TextState& state, int threads) {
    SoftwareDeviceOptions options;
    options.threadCount = threads;
    SoftwareDevice device(kWidth, kHeight, options);
    Texture* texture = nullptr;
    EXPECT_EQ(device.CreateTexture(kTexWidth, kTexHeight, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED,
                                   &texture),
              D3D_OK);
    D3DLOCKED_RECT locked{};
    EXPECT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3D_OK);
    for (int y = 0; y < kTexHeight; ++y) {
        std::memcpy(static_cast<std::uint8_t*>(locked.pBits) + y * locked.Pitch,
                    &texels[static_cast<std::size_t>(y) * kTexWidth], kTexWidth * 4);
    }
    texture->UnlockRect(0);
    device.Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000u, 1.0f, 0);
    device.BeginScene();
    device.SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device.SetRenderState(D3DRS_ALPHABLENDENABLE, 0);
    Draw(device, kScreenVertexFvf, background);
    device.SetTexture(0, texture);
    device.SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device.SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device.SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    device.SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    device.SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    device.SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    device.SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTEXF_POINT);
    device.SetTextureStageState(0, D3DTSS_MINFILTER, D3DTEXF_POINT);
    device.SetTextureStageState(0, D3DTSS_ADDRESSU, state.address);
    device.SetTextureStageState(0, D3DTSS_ADDRESSV, state.address);
    device.SetRenderState(D3DRS_ALPHATESTENABLE, state.alphaFunc != D3DCMP_ALWAYS ? 1 : 0);
    device.SetRenderState(D3DRS_ALPHAFUNC, state.alphaFunc);
    device.SetRenderState(D3DRS_ALPHAREF, state.alphaRef);
    device.SetRenderState(D3DRS_ALPHABLENDENABLE, state.blended ? 1 : 0);
    device.SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device.SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    if (!glyphs.empty()) Draw(device, kTexturedScreenVertexFvf, glyphs);
    device.EndScene();
    EXPECT_EQ(device.Present(), D3D_OK);
    const PresentedFrame frame = device.GetPresentedFrame();
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(kWidth) * kHeight);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x)
            pixels[static_cast<std::size_t>(y) * kWidth + x] =
                frame.pixels[static_cast<std::size_t>(y) * (frame.pitch / 4) + x];
    }
    device.SetTexture(0, nullptr);
    texture->Release();
    return pixels;
}

// The first pixel where two pictures differ, as text; empty when they are equal.
std::string FirstDifference(const std::vector<std::uint32_t>& actual,
                            const std::vector<std::uint32_t>& expected) {
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (actual[i] != expected[i]) {
            return "at (" + std::to_string(i % kWidth) + ", " + std::to_string(i / kWidth) +
                   "): got " + Hex(actual[i]) + ", expected " + Hex(expected[i]);
        }
    }
    return {};
}

class SoftwareTextPaths : public ::testing::Test {
  protected:
    void TearDown() override { software::SetModulatedTexturePathForTesting(0); }
};

TEST_F(SoftwareTextPaths, GlyphQuadsMatchTheGeneralPathToTheBit) {
    std::mt19937 random(2718);
    std::uniform_int_distribution<std::uint32_t> any(0, 0xFFFFFFFFu);
    const std::vector<std::uint32_t> texels = GlyphTexels(random);
    // Gouraud corners with every alpha, so that each pixel blends over a different colour.
    std::vector<ScreenVertex> background;
    const float w = kWidth, h = kHeight;
    const std::uint32_t c[4] = {any(random), any(random), any(random), any(random)};
    for (const auto& v : {ScreenVertex{0, 0, 0, 1, c[0]}, ScreenVertex{w, 0, 0, 1, c[1]},
                          ScreenVertex{0, h, 0, 1, c[2]}, ScreenVertex{w, 0, 0, 1, c[1]},
                          ScreenVertex{w, h, 0, 1, c[3]}, ScreenVertex{0, h, 0, 1, c[2]}})
        background.push_back(v);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Glyph {
        float x0, y0, x1, y1, u0, v0, u1, v1;
    };
    const Glyph cases[] = {
        {3.5f, 2.5f, 19.5f, 14.5f, 0, 0, 1, 1},                 // 1:1, as the text draws
        {-6.5f, -4.5f, 9.5f, 7.5f, 0, 0, 1, 1},                 // off the left and top
        {86.5f, 64.5f, 102.5f, 76.5f, 0, 0, 1, 1},              // off the right and bottom
        {22.25f, 3.75f, 49.45f, 24.15f, 0, 0, 1, 1},            // magnified, not 1:1
        {52.5f, 2.5f, 62.5f, 9.5f, 0, 0, 1, 1},                 // minified
        {64.5f, 4.5f, 80.5f, 16.5f, 1, 1, 0, 0},                // mirrored both ways
        {4.5f, 30.5f, 40.5f, 52.5f, -1.3f, -0.6f, 2.2f, 1.9f},  // beyond 0..1
        {0.5f, 56.5f, 95.5f, 70.5f, 0, 0, 3, 1},                // wider than the column table
        {44.5f, 20.5f, 60.5f, 70.5f, 0, 0, 1, 4},               // tall: several bands
        {88.5f, -0.5f, 95.5f, 71.5f, 0, 0, 0.5f, 6},            // taller than the span table
        {60, 24, 92, 36, 0, -0.5f, 1, 0.5f},                    // samples on texel edges and zero
        {4.5f, 58.5f, 44.5f, 70.5f, 3000, 100, 3003, 102},      // far out: coarse floats
        {66.5f, 40.5f, 90.5f, 52.5f, -3e38f, 0, 3e38f, 1},      // coordinates that overflow
        {66.5f, 54.5f, 82.5f, 60.5f, nan, 0, 1, 1},             // no number at all
    };
    std::vector<TexturedScreenVertex> glyphs;
    for (const Glyph& g : cases) {
        // Half opaque colours, half with some alpha of their own.
        std::uint32_t colour = any(random);
        if (glyphs.size() % 12 == 0) colour |= 0xFF000000u;
        AppendGlyph(glyphs, g.x0, g.y0, g.x1, g.y1, g.u0, g.v0, g.u1, g.v1, colour);
    }
    // Glyphs of random places, sizes and texel ranges, whose samples fall anywhere in a texel.
    std::uniform_real_distribution<float> place(-8, 90), size(2, 40), coordinate(-2, 3);
    for (int i = 0; i < 40; ++i) {
        const float x0 = place(random), y0 = place(random) * 0.75f;
        AppendGlyph(glyphs, x0, y0, x0 + size(random), y0 + size(random) * 0.75f,
                    coordinate(random), coordinate(random), coordinate(random), coordinate(random),
                    any(random) | (i % 2 == 0 ? 0xFF000000u : 0));
    }
    // A turned triangle, and sheared ones where only u or only v keeps to one axis: not the
    // glyphs' case, so drawn the general way in every mode.
    const std::uint32_t white = 0xFFFFFFFFu;
    const TexturedScreenVertex others[9] = {
        {30, 40, 0, 1, white, 0, 0},          {50, 46, 0, 1, white, 1, 0.2f},
        {26, 60, 0, 1, white, -0.1f, 1},      {10.5f, 20.5f, 0, 1, white, 0, 0},
        {30.5f, 20.5f, 0, 1, white, 1, 0.7f}, {10.5f, 40.5f, 0, 1, white, 0, 1},
        {70.5f, 20.5f, 0, 1, white, 0, 0},    {90.5f, 20.5f, 0, 1, white, 1, 0},
        {70.5f, 40.5f, 0, 1, white, 0.6f, 1}};
    glyphs.insert(glyphs.end(), std::begin(others), std::end(others));

    const std::vector<std::uint32_t> plain =
        DrawText(texels, background, {}, TextState{D3DTADDRESS_WRAP, D3DCMP_ALWAYS, 0, false}, 1);
    for (std::uint32_t address : {D3DTADDRESS_WRAP, D3DTADDRESS_CLAMP}) {
        for (std::uint32_t func : {D3DCMP_ALWAYS, D3DCMP_GREATEREQUAL, D3DCMP_LESS}) {
            for (bool blended : {false, true}) {
                const TextState state{address, func, func == D3DCMP_LESS ? 200u : 8u, blended};
                const std::string name =
                    std::string(address == D3DTADDRESS_WRAP ? "wrap" : "clamp") + ", alpha func " +
                    std::to_string(func) + (blended ? ", blended" : ", opaque");
                software::SetModulatedTexturePathForTesting(2);
                const std::vector<std::uint32_t> general =
                    DrawText(texels, background, glyphs, state, 1);
                // The comparison means something only if the glyphs drew.
                std::size_t drawn = 0;
                for (std::size_t i = 0; i < plain.size(); ++i) drawn += general[i] != plain[i];
                EXPECT_GT(drawn, plain.size() / 4) << name;
                for (int path : {0, 1}) {
                    for (int threads : {1, 2}) {
                        software::SetModulatedTexturePathForTesting(path);
                        EXPECT_EQ(
                            FirstDifference(DrawText(texels, background, glyphs, state, threads),
                                            general),
                            "")
                            << name << ", path " << path << ", threads " << threads;
                    }
                }
            }
        }
    }
}

TEST_F(SoftwareTextPaths, OneToOneGlyphsShowTheirTexelsTimesTheColour) {
    // Glyphs one texel a pixel, shifted by a quarter of the texture and cut by the picture's
    // left and top edges: pixel i of a glyph shows texel i - 4, wrapped or clamped. Each is
    // drawn over a clear colour, opaque or blended, with and without the text's alpha test.
    std::mt19937 random(31415);
    const std::vector<std::uint32_t> texels = GlyphTexels(random);
    const std::uint32_t clear = 0xFF204060u, colour = 0xE0F0A0C8u;
    std::vector<ScreenVertex> background;
    const float w = kWidth, h = kHeight;
    for (const auto& v : {ScreenVertex{0, 0, 0, 1, clear}, ScreenVertex{w, 0, 0, 1, clear},
                          ScreenVertex{0, h, 0, 1, clear}, ScreenVertex{w, 0, 0, 1, clear},
                          ScreenVertex{w, h, 0, 1, clear}, ScreenVertex{0, h, 0, 1, clear}})
        background.push_back(v);
    struct Placed {
        int x, y;  // the pixel of texel coordinate (-0.25, 0)
    };
    const Placed at[] = {{-5, -3}, {30, 20}, {70, 50}};
    std::vector<TexturedScreenVertex> glyphs;
    for (const Placed& p : at) {
        AppendGlyph(glyphs, p.x - 0.5f, p.y - 0.5f, p.x + kTexWidth - 0.5f, p.y + kTexHeight - 0.5f,
                    -0.25f, 0, 0.75f, 1, colour);
    }
    for (std::uint32_t address : {D3DTADDRESS_WRAP, D3DTADDRESS_CLAMP}) {
        for (std::uint32_t func : {D3DCMP_ALWAYS, D3DCMP_GREATEREQUAL}) {
            for (bool blended : {false, true}) {
                const TextState state{address, func, 0x60, blended};
                const std::vector<std::uint32_t> pixels =
                    DrawText(texels, background, glyphs, state, 2);
                for (int y = 0; y < kHeight; ++y) {
                    for (int x = 0; x < kWidth; ++x) {
                        std::uint32_t expected = clear;
                        for (const Placed& p : at) {
                            const int i = x - p.x, j = y - p.y;
                            if (i < 0 || i >= kTexWidth || j < 0 || j >= kTexHeight) continue;
                            const int tx = address == D3DTADDRESS_WRAP ? (i + 12) % kTexWidth
                                                                       : std::max(i - 4, 0);
                            const std::uint32_t m = Modulate(
                                texels[static_cast<std::size_t>(j) * kTexWidth + tx], colour);
                            const std::uint32_t a = m >> 24;
                            if (func == D3DCMP_GREATEREQUAL && a < state.alphaRef) continue;
                            expected = blended ? Blend(m, clear) : m;
                        }
                        const std::uint32_t actual =
                            pixels[static_cast<std::size_t>(y) * kWidth + x];
                        ASSERT_EQ(actual, expected)
                            << (address == D3DTADDRESS_WRAP ? "wrap" : "clamp") << ", func " << func
                            << (blended ? ", blended" : ", opaque") << " at (" << x << ", " << y
                            << "): got " << Hex(actual) << ", expected " << Hex(expected);
                    }
                }
            }
        }
    }
}

}  // namespace
}  // namespace lapquill
