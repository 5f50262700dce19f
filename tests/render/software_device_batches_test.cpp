// SoftwareDevice cuts a flush into batches of triangles set up by whichever thread is free,
// transforms vertices in blocks, and sorts triangles into bands. None of that may show in the
// picture: how draws are split, how wide the vertices are, how many threads draw, and which
// vertices are degenerate must leave exactly the pixels one call on one thread gives.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "math/math3d.h"
#include "render/software_device.h"
#include "render/software_pipeline.h"
#include "render/vertex_types.h"
#include "support/frame_hash.h"
#include "support/triangle_soup.h"

namespace lapquill {
namespace {

constexpr int kWidth = 131, kHeight = 77;  // not a multiple of the bands or of SIMD widths

struct TexturedMapVertex {
    float x, y, z;
    std::uint32_t colour;
    float u, v;
};
constexpr std::uint32_t kTexturedMapVertexFvf = 0x142;  // XYZ | DIFFUSE | TEX1

// Some of the triangles also reach far outside the picture.
std::vector<MapVertex> Soup(int triangles, unsigned seed) {
    std::mt19937 random(seed);
    return test::TriangleSoup(triangles, random, 30.0f, 7);
}

std::unique_ptr<SoftwareDevice> Device(int threads, bool wideVectors = true,
                                       std::uint32_t cull = D3DCULL_NONE) {
    SoftwareDeviceOptions options;
    options.threadCount = threads;
    options.wideVectors = wideVectors;
    auto d = std::make_unique<SoftwareDevice>(kWidth, kHeight, options);
    Matrix4 view, projection;
    const Vector3 eye{0, -40, 100}, at{0, 0, 0}, up{0, 0, 1};
    D3DXMatrixLookAtRH(&view, &eye, &at, &up);
    D3DXMatrixPerspectiveFovRH(&projection, 1.0f, static_cast<float>(kWidth) / kHeight, 1.0f, 500);
    d->SetTransform(D3DTS_VIEW, &view);
    d->SetTransform(D3DTS_PROJECTION, &projection);
    d->SetRenderState(D3DRS_LIGHTING, 0);
    d->SetRenderState(D3DRS_CULLMODE, cull);
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
    d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF203040, 1.0f, 0);
    d->BeginScene();
    return d;
}

// Draws `vertices` in calls of the sizes in `calls` (repeated; 0 means one call for all).
template <typename Vertex>
void DrawInCalls(SoftwareDevice& d, std::uint32_t fvf, const std::vector<Vertex>& vertices,
                 const std::vector<std::uint32_t>& calls) {
    const auto bytes = static_cast<std::uint32_t>(vertices.size() * sizeof(Vertex));
    VertexBuffer* buffer = nullptr;
    ASSERT_EQ(d.CreateVertexBuffer(bytes, 0, fvf, D3DPOOL_DEFAULT, &buffer), D3D_OK);
    std::uint8_t* data = nullptr;
    buffer->Lock(0, bytes, &data, 0);
    std::memcpy(data, vertices.data(), bytes);
    buffer->Unlock();
    d.SetVertexShader(fvf);
    d.SetStreamSource(0, buffer, sizeof(Vertex));
    const auto triangles = static_cast<std::uint32_t>(vertices.size() / 3);
    std::size_t next = 0;
    for (std::uint32_t first = 0; first < triangles;) {
        std::uint32_t count = calls.empty() ? 0 : calls[next++ % calls.size()];
        if (count == 0 || count > triangles - first) count = triangles - first;
        ASSERT_EQ(d.DrawPrimitive(D3DPT_TRIANGLELIST, 3 * first, count), D3D_OK);
        first += count;
    }
    d.SetStreamSource(0, nullptr, 0);
    buffer->Release();
}

std::string Finish(SoftwareDevice& d) {
    d.EndScene();
    d.Present();
    const PresentedFrame f = d.GetPresentedFrame();
    return test::FrameHash(f.pixels, f.width, f.height);
}

template <typename Vertex>
std::string Picture(const std::vector<Vertex>& vertices, std::uint32_t fvf, int threads,
                    const std::vector<std::uint32_t>& calls) {
    auto d = Device(threads);
    DrawInCalls(*d, fvf, vertices, calls);
    return Finish(*d);
}

TEST(SoftwareDeviceBatches, SplitsOfTheDrawsAndThreadCountsGiveTheSamePicture) {
    // More than one batch of triangles, so that batches and bins are exercised too.
    const std::vector<MapVertex> soup = Soup(5000, 7);
    const std::string one = Picture(soup, kMapVertexFvf, 1, {});
    ASSERT_NE(one, Finish(*Device(1)));  // the soup is in the picture
    const std::vector<std::vector<std::uint32_t>> splits = {
        {1}, {2, 3, 5}, {63, 64, 65}, {200}, {2047, 1, 2049}};
    for (const auto& split : splits) {
        EXPECT_EQ(Picture(soup, kMapVertexFvf, 1, split), one) << "calls of " << split[0];
    }
    for (int threads : {2, 3, 8}) {
        EXPECT_EQ(Picture(soup, kMapVertexFvf, threads, {}), one) << threads << " threads";
        EXPECT_EQ(Picture(soup, kMapVertexFvf, threads, {3, 61}), one) << threads << " threads";
    }
}

TEST(SoftwareDeviceBatches, WiderVerticesTransformLikePackedOnes) {
    const std::vector<MapVertex> soup = Soup(777, 11);
    std::vector<TexturedMapVertex> wide;
    for (const MapVertex& v : soup) wide.push_back({v.x, v.y, v.z, v.colour, 0.25f, 0.75f});
    for (int threads : {1, 2}) {
        EXPECT_EQ(Picture(wide, kTexturedMapVertexFvf, threads, {5}),
                  Picture(soup, kMapVertexFvf, threads, {5}))
            << threads << " threads";
    }
}

TEST(SoftwareDeviceBatches, VerticesAtInfinityOrNaNTakeOnlyTheirTriangles) {
    const std::vector<MapVertex> soup = Soup(90, 3);
    std::vector<MapVertex> spoiled = soup;
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float bad[] = {inf, -inf, nan, 1e38f};
    for (std::size_t t = 0; t < soup.size() / 3; ++t) {
        if (t % 4 != 1) continue;
        // One coordinate of one corner (x, y or z in turn) becomes unusable.
        MapVertex& corner = spoiled[3 * t + t % 3];
        float* coordinate[] = {&corner.x, &corner.y, &corner.z};
        *coordinate[(t / 4) % 3] = bad[(t / 3) % 4];
    }
    // A triangle with a corner at infinity or NaN is dropped whole; 1e38 is finite, so that
    // triangle is clipped like any other. Drawn in the original order, so that blending agrees.
    std::vector<MapVertex> ordered;
    for (std::size_t t = 0; t < soup.size() / 3; ++t) {
        if (t % 4 == 1 && bad[(t / 3) % 4] != 1e38f) continue;
        ordered.insert(ordered.end(), spoiled.begin() + 3 * t, spoiled.begin() + 3 * t + 3);
    }
    for (int threads : {1, 2}) {
        EXPECT_EQ(Picture(spoiled, kMapVertexFvf, threads, {}),
                  Picture(ordered, kMapVertexFvf, threads, {}))
            << threads << " threads";
    }
}

TEST(SoftwareDeviceBatches, EightWideSetUpKeepsAndDropsWhatTheFourWideOneDoes) {
    if (!software::HasWideVectors()) GTEST_SKIP() << "this processor has no AVX2";
    // Sub-pixel slivers (most of them tiny, many covering no sample), triangles reaching
    // outside the picture and behind the eye, corners at infinity and NaN, and both windings
    // under every cull mode: the eight-wide tests must agree with the one-at-a-time ones on
    // every triangle, and the picture with them.
    std::mt19937 random(5);
    std::vector<MapVertex> soup = test::TriangleSoup(3000, random, 0.6f, 11);
    const std::vector<MapVertex> large = Soup(600, 9);
    soup.insert(soup.end(), large.begin(), large.end());
    const float nan = std::numeric_limits<float>::quiet_NaN();
    soup[3 * 40].x = nan;
    soup[3 * 41 + 1].z = std::numeric_limits<float>::infinity();
    soup[3 * 42 + 2].y = 1e38f;
    std::vector<TexturedMapVertex> textured;
    for (const MapVertex& v : soup) textured.push_back({v.x, v.y, v.z, v.colour, 0.5f, 0.5f});
    for (std::uint32_t cull : {D3DCULL_NONE, D3DCULL_CW, D3DCULL_CCW}) {
        for (int threads : {1, 2}) {
            auto narrow = Device(threads, false, cull);
            auto wide = Device(threads, true, cull);
            // Calls of a few triangles leave blocks whose last group of eight is partly empty.
            DrawInCalls(*narrow, kMapVertexFvf, soup, {13, 5, 300, 1});
            DrawInCalls(*wide, kMapVertexFvf, soup, {13, 5, 300, 1});
            DrawInCalls(*narrow, kTexturedMapVertexFvf, textured, {});
            DrawInCalls(*wide, kTexturedMapVertexFvf, textured, {});
            const std::string picture = Finish(*wide);
            EXPECT_EQ(picture, Finish(*narrow))
                << "cull mode " << cull << ", " << threads << " threads";
            EXPECT_NE(picture, Finish(*Device(threads, true, cull))) << "nothing drawn";
        }
    }
}

TEST(SoftwareDeviceBatches, TheLastOfManyOverlappingTrianglesWins) {
    // 3000 opaque quads over the whole picture, each a different colour, in calls that do not
    // line up with the batches: every pixel must show the last one, however many threads draw.
    std::vector<MapVertex> quads;
    for (std::uint32_t i = 0; i < 3000; ++i) {
        const std::uint32_t colour = 0xFF000000u | (i * 2654435761u >> 8);
        const MapVertex a{-500, -500, 0, colour}, b{500, -500, 0, colour}, c{500, 500, 0, colour},
            e{-500, 500, 0, colour};
        quads.insert(quads.end(), {a, b, c, a, c, e});
    }
    const std::uint32_t last = quads.back().colour;
    for (int threads : {1, 2, 3}) {
        auto d = Device(threads);
        DrawInCalls(*d, kMapVertexFvf, quads, {333});
        d->EndScene();
        d->Present();
        const PresentedFrame f = d->GetPresentedFrame();
        std::size_t wrong = 0;
        for (std::size_t p = 0; p < static_cast<std::size_t>(f.width) * f.height; ++p) {
            wrong += f.pixels[p] != last ? 1 : 0;
        }
        EXPECT_EQ(wrong, 0u) << threads << " threads";
    }
}

}  // namespace
}  // namespace lapquill
