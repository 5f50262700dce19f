// The span loops of flat-coloured triangles, exact to the bit: opaque fills and source-alpha
// blends of every run length from 1 to 40 pixels at every offset within a register, over a
// background that differs from column to column, and nothing written beside the run.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "render/software_device.h"
#include "render/vertex_types.h"

namespace lapquill {
namespace {

constexpr int kWidth = 56, kHeight = 12;

// round((src * a + dst * (255 - a)) / 255) per channel, alpha included (src alpha is a). 255 is
// odd, so the quotient is never a half and rounding is plain.
std::uint32_t ExpectedBlend(std::uint32_t src, std::uint32_t dst) {
    const std::uint32_t a = src >> 24;
    std::uint32_t out = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const std::uint32_t s = (src >> shift) & 0xFF, d = (dst >> shift) & 0xFF;
        const std::uint32_t sum = s * a + d * (255 - a);
        out |= ((2 * sum + 255) / 510) << shift;
    }
    return out;
}

std::string Hex(std::uint32_t c) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", c);
    return text;
}

void DrawQuads(SoftwareDevice& device, const std::vector<ScreenVertex>& vertices) {
    const auto bytes = static_cast<std::uint32_t>(vertices.size() * sizeof(ScreenVertex));
    VertexBuffer* buffer = nullptr;
    ASSERT_EQ(device.CreateVertexBuffer(bytes, D3DUSAGE_WRITEONLY, kScreenVertexFvf,
                                        D3DPOOL_DEFAULT, &buffer),
              D3D_OK);
    std::uint8_t* data = nullptr;
    buffer->Lock(0, 0, &data, 0);
    std::memcpy(data, vertices.data(), bytes);
    buffer->Unlock();
    device.SetVertexShader(kScreenVertexFvf);
    device.SetStreamSource(0, buffer, sizeof(ScreenVertex));
    EXPECT_EQ(device.DrawPrimitive(D3DPT_TRIANGLELIST, 0,
                                   static_cast<std::uint32_t>(vertices.size() / 3)),
              D3D_OK);
    device.SetStreamSource(0, nullptr, 0);
    buffer->Release();
}

// A flat quad over pixels [x0, x1) x [y0, y1), clockwise, as two triangles.
void AppendQuad(std::vector<ScreenVertex>& out, float x0, float y0, float x1, float y1,
                std::uint32_t colour) {
    const ScreenVertex v[6] = {{x0, y0, 0, 1, colour}, {x1, y0, 0, 1, colour},
                               {x0, y1, 0, 1, colour}, {x1, y0, 0, 1, colour},
                               {x1, y1, 0, 1, colour}, {x0, y1, 0, 1, colour}};
    out.insert(out.end(), std::begin(v), std::end(v));
}

struct SpanRun {
    int y, x0, length;
    std::uint32_t colour;
};

TEST(SoftwareDeviceSpans, FlatRunsOfEveryLengthFillAndBlendExactly) {
    std::mt19937 random(1512);
    std::uniform_int_distribution<std::uint32_t> channel(0, 255);
    auto colourWithAlpha = [&](std::uint32_t a) {
        return a << 24 | channel(random) << 16 | channel(random) << 8 | channel(random);
    };
    for (int threads : {1, 2}) {
        SoftwareDeviceOptions options;
        options.threadCount = threads;
        SoftwareDevice device(kWidth, kHeight, options);
        for (int length = 1; length <= 40; ++length) {
            for (bool blended : {false, true}) {
                // One column after another in a random colour and alpha, drawn opaque.
                std::vector<std::uint32_t> background(kWidth);
                std::vector<ScreenVertex> columns;
                for (int x = 0; x < kWidth; ++x) {
                    background[x] = colourWithAlpha(channel(random));
                    AppendQuad(columns, static_cast<float>(x), 0, static_cast<float>(x + 1),
                               kHeight, background[x]);
                }
                // One run a row, starting one pixel further right each row, with alphas from
                // transparent to opaque among them.
                std::vector<SpanRun> runs;
                std::vector<ScreenVertex> spans;
                for (int y = 0; y < kHeight; ++y) {
                    const std::uint32_t alpha = y == 0 ? 0 : y == 1 ? 255 : channel(random);
                    const SpanRun run{y, 1 + y, length, colourWithAlpha(blended ? alpha : 255)};
                    runs.push_back(run);
                    AppendQuad(spans, static_cast<float>(run.x0), static_cast<float>(y),
                               static_cast<float>(run.x0 + length), static_cast<float>(y + 1),
                               run.colour);
                }
                device.Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000u, 1.0f, 0);
                device.BeginScene();
                device.SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
                device.SetRenderState(D3DRS_ALPHABLENDENABLE, 0);
                DrawQuads(device, columns);
                device.SetRenderState(D3DRS_ALPHABLENDENABLE, blended ? 1 : 0);
                device.SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
                device.SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
                DrawQuads(device, spans);
                device.EndScene();
                ASSERT_EQ(device.Present(), D3D_OK);
                const PresentedFrame frame = device.GetPresentedFrame();
                for (const SpanRun& run : runs) {
                    for (int x = 0; x < kWidth; ++x) {
                        const std::uint32_t dst = background[x];
                        const bool inside = x >= run.x0 && x < run.x0 + run.length;
                        const std::uint32_t expected =
                            !inside ? dst : blended ? ExpectedBlend(run.colour, dst) : run.colour;
                        const std::uint32_t actual =
                            frame.pixels[static_cast<std::size_t>(run.y) * (frame.pitch / 4) + x];
                        ASSERT_EQ(actual, expected)
                            << "threads " << threads << ", length " << length
                            << (blended ? ", blended " : ", opaque ") << Hex(run.colour)
                            << " at (" << x << ", " << run.y << "): got " << Hex(actual)
                            << ", expected " << Hex(expected) << " over " << Hex(dst);
                    }
                }
            }
        }
    }
}

}  // namespace
}  // namespace lapquill
