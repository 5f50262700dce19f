// Which pixels a triangle covers, whichever of the rasteriser's ways finds its rows: tiny ones
// tested at set-up, narrow ones 4, 8 or 16 samples at a time in 32 bits, wide ones by division.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <utility>

#include "render/software_device.h"
#include "render/vertex_types.h"

namespace lapquill {
namespace {

constexpr int kWidth = 61, kHeight = 45;

// Direct3D's rule, sample by sample: pixel (i, j) is sampled at (i, j); a sample on an edge
// belongs to the triangle only for a top or a left edge. Corners in 1/256 pixel.
bool Covers(std::int64_t x[3], std::int64_t y[3], std::int64_t px, std::int64_t py) {
    for (int a = 0; a < 3; ++a) {
        const int b = (a + 1) % 3;
        const std::int64_t dx = x[b] - x[a], dy = y[b] - y[a];
        const std::int64_t e = dx * (py - y[a]) - dy * (px - x[a]);
        const bool topLeft = dy < 0 || (dy == 0 && dx > 0);
        if (e < 0 || (e == 0 && !topLeft)) return false;
    }
    return true;
}

TEST(SoftwareDeviceCoverage, TrianglesOfEveryWidthCoverWhatTheFillRuleSays) {
    std::mt19937 random(15);
    std::uniform_int_distribution<int> corner(-2 * 256, (kHeight + 2) * 256);
    std::uniform_int_distribution<int> sizes(0, 4);
    const int spans[] = {200, 900, 1900, 3900, 7000};  // up to 1, 4, 8, 16, 28 pixels
    for (int threads : {1, 2}) {
        SoftwareDeviceOptions options;
        options.threadCount = threads;
        SoftwareDevice d(kWidth, kHeight, options);
        d.SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        VertexBuffer* buffer = nullptr;
        ASSERT_EQ(d.CreateVertexBuffer(3 * sizeof(ScreenVertex), 0, kScreenVertexFvf,
                                       D3DPOOL_DEFAULT, &buffer),
                  D3D_OK);
        int drawnPixels = 0;
        for (int n = 0; n < 300; ++n) {
            const int span = spans[sizes(random)];
            std::uniform_int_distribution<int> offset(-span, span);
            std::int64_t x[3], y[3];
            const int cx = corner(random), cy = corner(random);
            ScreenVertex v[3];
            for (int k = 0; k < 3; ++k) {
                x[k] = cx + offset(random);
                y[k] = cy + offset(random);
                v[k] = ScreenVertex{static_cast<float>(x[k]) / 256.0f,
                                    static_cast<float>(y[k]) / 256.0f, 0.0f, 1.0f, 0xFFFFFFFFu};
            }
            std::uint8_t* data = nullptr;
            ASSERT_EQ(buffer->Lock(0, 0, &data, D3DLOCK_DISCARD), D3D_OK);
            std::memcpy(data, v, sizeof v);
            buffer->Unlock();
            d.Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000u, 1.0f, 0);
            d.BeginScene();
            d.SetVertexShader(kScreenVertexFvf);
            d.SetStreamSource(0, buffer, sizeof(ScreenVertex));
            ASSERT_EQ(d.DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3D_OK);
            d.EndScene();
            d.Present();
            // The reference wants the corners clockwise on the screen, as the device turns them.
            const std::int64_t area = (x[1] - x[0]) * (y[2] - y[0]) - (y[1] - y[0]) * (x[2] - x[0]);
            if (area < 0) {
                std::swap(x[1], x[2]);
                std::swap(y[1], y[2]);
            }
            const PresentedFrame f = d.GetPresentedFrame();
            for (int j = 0; j < kHeight; ++j) {
                for (int i = 0; i < kWidth; ++i) {
                    const bool expected = area != 0 && Covers(x, y, i * 256, j * 256);
                    const bool drawn = f.pixels[j * kWidth + i] == 0xFFFFFFFFu;
                    drawnPixels += drawn ? 1 : 0;
                    ASSERT_EQ(drawn, expected) << "triangle " << n << " pixel (" << i << ", " << j
                                               << "), " << threads << " threads";
                }
            }
        }
        EXPECT_GT(drawnPixels, 10000);  // the triangles did reach the picture
        d.SetStreamSource(0, nullptr, 0);
        buffer->Release();
    }
}

}  // namespace
}  // namespace lapquill
