// Conformance tests of SoftwareDevice: clear, draw, present, probe pixels. Exact where the
// rasteriser's rules make the answer exact (coverage, fill rule, clipping), within one step of
// 8-bit rounding where colours are interpolated, blended or filtered.
#include "render/software_device.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <numbers>
#include <random>
#include <vector>

#include "math/math3d.h"
#include "support/compare.h"
#include "support/frame_hash.h"

namespace lapquill {
namespace {

constexpr std::uint32_t kBlack = 0xFF000000;
constexpr std::uint32_t kRed = 0xFFFF0000;
constexpr std::uint32_t kGreen = 0xFF00FF00;
constexpr std::uint32_t kBlue = 0xFF0000FF;
constexpr std::uint32_t kWhite = 0xFFFFFFFF;

std::unique_ptr<SoftwareDevice> MakeDevice(int width = 64, int height = 64, int threads = 1) {
    SoftwareDeviceOptions options;
    options.threadCount = threads;
    return std::make_unique<SoftwareDevice>(width, height, options);
}

std::uint32_t Pixel(const RenderDevice& device, int x, int y) {
    const PresentedFrame f = device.GetPresentedFrame();
    return f.pixels[static_cast<std::size_t>(y) * (f.pitch / 4) + x];
}

std::string Hex(std::uint32_t c) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", c);
    return text;
}

// Every channel within `tolerance` of the expected one; both colours printed on failure.
::testing::AssertionResult ColourNear(std::uint32_t actual, std::uint32_t expected,
                                      int tolerance = test::kColourChannelTolerance) {
    for (int shift = 0; shift < 32; shift += 8) {
        const int a = static_cast<int>((actual >> shift) & 0xFF);
        const int e = static_cast<int>((expected >> shift) & 0xFF);
        if (std::abs(a - e) > tolerance) {
            return ::testing::AssertionFailure() << "got " << Hex(actual) << ", expected "
                                                 << Hex(expected) << " within " << tolerance;
        }
    }
    return ::testing::AssertionSuccess();
}

// Fills a new vertex buffer, binds it as stream 0 with format `fvf`, draws all of it as a
// triangle list and releases it (the queued draw keeps its memory).
template <typename Vertex>
HRESULT Draw(RenderDevice& device, std::uint32_t fvf, const std::vector<Vertex>& vertices) {
    const auto bytes = static_cast<std::uint32_t>(vertices.size() * sizeof(Vertex));
    VertexBuffer* buffer = nullptr;
    if (device.CreateVertexBuffer(bytes, D3DUSAGE_WRITEONLY, fvf, D3DPOOL_DEFAULT, &buffer) !=
        D3D_OK) {
        return E_FAIL;
    }
    std::uint8_t* data = nullptr;
    buffer->Lock(0, 0, &data, 0);
    std::memcpy(data, vertices.data(), bytes);
    buffer->Unlock();
    device.SetVertexShader(fvf);
    device.SetStreamSource(0, buffer, sizeof(Vertex));
    const HRESULT hr = device.DrawPrimitive(D3DPT_TRIANGLELIST, 0,
                                            static_cast<std::uint32_t>(vertices.size() / 3));
    device.SetStreamSource(0, nullptr, 0);
    buffer->Release();
    return hr;
}

// A screen quad as the overlay builds it: top-left, bottom-left, top-right, then top-right,
// bottom-left, bottom-right (counter-clockwise on the screen). Colours per corner.
std::vector<ScreenVertex> Quad(float x0, float y0, float x1, float y1, std::uint32_t topLeft,
                               std::uint32_t topRight, std::uint32_t bottomLeft,
                               std::uint32_t bottomRight) {
    return {{x0, y0, 0, 1, topLeft},  {x0, y1, 0, 1, bottomLeft}, {x1, y0, 0, 1, topRight},
            {x1, y0, 0, 1, topRight}, {x0, y1, 0, 1, bottomLeft}, {x1, y1, 0, 1, bottomRight}};
}
std::vector<ScreenVertex> Quad(float x0, float y0, float x1, float y1, std::uint32_t colour) {
    return Quad(x0, y0, x1, y1, colour, colour, colour, colour);
}

// Starts a frame cleared to `background` with culling off.
void BeginFrame(RenderDevice& device, std::uint32_t background = kBlack) {
    device.Clear(0, nullptr, D3DCLEAR_TARGET, background, 1.0f, 0);
    device.BeginScene();
    device.SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
}

void EndFrame(RenderDevice& device) {
    device.EndScene();
    ASSERT_EQ(device.Present(), D3D_OK);
}

// Additive blending of 1/255 per draw: each pixel then counts how often it was covered.
void CountCoverage(RenderDevice& device) {
    device.SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
    device.SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
    device.SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
}

int Coverage(const RenderDevice& device, int x, int y) {
    return static_cast<int>(Pixel(device, x, y) & 0xFF);
}

// ---------------------------------------------------------------------------------------------
// Clear and presentation

TEST(SoftwareDeviceClear, FillsWholeBufferOrOnlyTheGivenRects) {
    auto device = MakeDevice(32, 16);
    device->Clear(0, nullptr, D3DCLEAR_TARGET, kBlue, 1.0f, 0);
    const D3DRECT rects[] = {{2, 3, 5, 4}, {30, 14, 40, 20}};  // the second is clipped
    ASSERT_EQ(device->Clear(2, rects, D3DCLEAR_TARGET, kRed, 1.0f, 0), D3D_OK);
    ASSERT_EQ(device->Present(), D3D_OK);
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 32; ++x) {
            const bool inFirst = x >= 2 && x < 5 && y == 3;
            const bool inSecond = x >= 30 && y >= 14;
            ASSERT_EQ(Pixel(*device, x, y), inFirst || inSecond ? kRed : kBlue) << x << "," << y;
        }
    }
}

TEST(SoftwareDeviceClear, RejectsDepthAndStencilWithoutSuchBuffers) {
    auto device = MakeDevice();
    EXPECT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, kRed, 1.0f, 0),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(device->Clear(1, nullptr, D3DCLEAR_TARGET, kRed, 1.0f, 0), D3DERR_INVALIDCALL);
}

TEST(SoftwareDevicePresent, ResetResizesTheBackBuffer) {
    auto device = MakeDevice(64, 64);
    ASSERT_EQ(device->Reset(40, 24), D3D_OK);
    device->Clear(0, nullptr, D3DCLEAR_TARGET, kGreen, 1.0f, 0);
    device->Present();
    const PresentedFrame f = device->GetPresentedFrame();
    EXPECT_EQ(f.width, 40);
    EXPECT_EQ(f.height, 24);
    EXPECT_EQ(f.pitch, 160);
    EXPECT_EQ(Pixel(*device, 39, 23), kGreen);
    EXPECT_EQ(device->Reset(0, 10), D3DERR_INVALIDCALL);
}

// ---------------------------------------------------------------------------------------------
// Coverage: pixel centres and the fill rule

TEST(SoftwareDeviceCoverage, QuadOnIntegerCoordinatesCoversExactlyItsPixels) {
    auto device = MakeDevice(16, 16);
    BeginFrame(*device);
    ASSERT_EQ(Draw(*device, kScreenVertexFvf, Quad(2, 3, 7, 9, kWhite)), D3D_OK);
    EndFrame(*device);
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            const bool inside = x >= 2 && x < 7 && y >= 3 && y < 9;
            ASSERT_EQ(Pixel(*device, x, y), inside ? kWhite : kBlack) << x << "," << y;
        }
    }
}

TEST(SoftwareDeviceCoverage, HalfPixelShiftedQuadStillCoversItsPixels) {
    // The glyph quads run from x - 0.5 to x + w - 0.5: pixel centres x .. x + w - 1 inside.
    auto device = MakeDevice(16, 16);
    BeginFrame(*device);
    Draw(*device, kScreenVertexFvf, Quad(1.5f, 1.5f, 5.5f, 3.5f, kWhite));
    EndFrame(*device);
    for (int y = 0; y < 6; ++y) {
        for (int x = 0; x < 8; ++x) {
            const bool inside = x >= 2 && x <= 5 && y >= 2 && y <= 3;
            ASSERT_EQ(Pixel(*device, x, y), inside ? kWhite : kBlack) << x << "," << y;
        }
    }
}

TEST(SoftwareDeviceCoverage, SharedEdgesCoverEachPixelOnce) {
    // A jittered grid of triangles and a fan around an off-grid centre, all with fractional
    // corners: every pixel inside the outline is covered exactly once.
    auto device = MakeDevice(64, 64);
    BeginFrame(*device, 0xFF000000);
    CountCoverage(*device);
    std::mt19937 random(7);
    std::uniform_real_distribution<float> jitter(-0.2f, 0.2f);  // cells stay convex
    constexpr int kCells = 6;
    float gx[kCells + 1][kCells + 1], gy[kCells + 1][kCells + 1];
    for (int j = 0; j <= kCells; ++j) {
        for (int i = 0; i <= kCells; ++i) {
            const bool border = i == 0 || j == 0 || i == kCells || j == kCells;
            gx[j][i] = 2.0f + 5.0f * i + (border ? 0.0f : jitter(random) * 5.0f);
            gy[j][i] = 2.0f + 5.0f * j + (border ? 0.0f : jitter(random) * 5.0f);
        }
    }
    std::vector<ScreenVertex> v;
    const std::uint32_t one = 0xFF010101;
    for (int j = 0; j < kCells; ++j) {
        for (int i = 0; i < kCells; ++i) {
            auto at = [&](int a, int b) { return ScreenVertex{gx[b][a], gy[b][a], 0, 1, one}; };
            v.insert(v.end(), {at(i, j), at(i + 1, j), at(i + 1, j + 1)});
            v.insert(v.end(), {at(i, j), at(i + 1, j + 1), at(i, j + 1)});
        }
    }
    // Fan over [34, 62) x [2, 32) around (47.3, 16.7), its rim cut at fractional points.
    const float rim[][2] = {{34, 2},  {41.37f, 2},  {50.5f, 2},  {62, 2},  {62, 13.21f},
                            {62, 32}, {55.75f, 32}, {45.1f, 32}, {34, 32}, {34, 19.9f}};
    constexpr int kRim = sizeof rim / sizeof rim[0];
    for (int k = 0; k < kRim; ++k) {
        const float* a = rim[k];
        const float* b = rim[(k + 1) % kRim];
        v.insert(v.end(),
                 {ScreenVertex{47.3f, 16.7f, 0, 1, one}, ScreenVertex{a[0], a[1], 0, 1, one},
                  ScreenVertex{b[0], b[1], 0, 1, one}});
    }
    ASSERT_EQ(Draw(*device, kScreenVertexFvf, v), D3D_OK);
    EndFrame(*device);
    for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 64; ++x) {
            const bool grid = x >= 2 && x < 32 && y >= 2 && y < 32;
            const bool fan = x >= 34 && x < 62 && y >= 2 && y < 32;
            ASSERT_EQ(Coverage(*device, x, y), grid || fan ? 1 : 0) << x << "," << y;
        }
    }
}

TEST(SoftwareDeviceCoverage, GuardBorderStaysUntouchedAroundHugeTriangles) {
    // Vertices far outside the viewport are clipped, never written outside it: the quad
    // covering [1, w-1) x [1, h-1) and one reaching 10^6 pixels away leave the rim alone when
    // the second is scissored by a smaller clear-free region.
    auto device = MakeDevice(24, 20);
    BeginFrame(*device);
    Draw(*device, kScreenVertexFvf, Quad(1, 1, 23, 19, kWhite));
    EndFrame(*device);
    for (int y = 0; y < 20; ++y) {
        for (int x = 0; x < 24; ++x) {
            const bool border = x == 0 || y == 0 || x == 23 || y == 19;
            ASSERT_EQ(Pixel(*device, x, y), border ? kBlack : kWhite) << x << "," << y;
        }
    }
    BeginFrame(*device);
    Draw(*device, kScreenVertexFvf, Quad(-1e6f, -1e6f, 1e6f, 1e6f, kGreen));
    EndFrame(*device);
    for (int y = 0; y < 20; ++y) {
        for (int x = 0; x < 24; ++x) ASSERT_EQ(Pixel(*device, x, y), kGreen) << x << "," << y;
    }
}

TEST(SoftwareDeviceCoverage, DropsDegenerateTrianglesButNotThinOnes) {
    auto device = MakeDevice(32, 32);
    BeginFrame(*device);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    std::vector<ScreenVertex> v = {{2, 2, 0, 1, kRed},
                                   {20, 20, 0, 1, kRed},
                                   {11, 11, 0, 1, kRed},  // collinear
                                   {2, 2, 0, 1, kRed},
                                   {nan, 20, 0, 1, kRed},
                                   {2, 20, 0, 1, kRed},  // NaN corner
                                   {2, 2, 0, 1, kRed},
                                   {inf, 20, 0, 1, kRed},
                                   {2, 20, 0, 1, kRed},  // infinite corner
                                   // A sliver 0.04 px wide around the column of centres x = 25.
                                   {24.98f, 1, 0, 1, kGreen},
                                   {25.02f, 1, 0, 1, kGreen},
                                   {25, 30, 0, 1, kGreen}};
    ASSERT_EQ(Draw(*device, kScreenVertexFvf, v), D3D_OK);
    EndFrame(*device);
    int green = 0;
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            const std::uint32_t p = Pixel(*device, x, y);
            ASSERT_NE(p, kRed) << x << "," << y;
            if (p == kGreen) {
                EXPECT_EQ(x, 25);
                ++green;
            }
        }
    }
    EXPECT_GE(green, 20);  // most of the 29 rows the sliver crosses
}

// ---------------------------------------------------------------------------------------------
// Culling, decided on the screen

TEST(SoftwareDeviceCulling, ScreenWindingDecidesUnderEachMode) {
    struct Row {
        const char* name;
        std::uint32_t cullMode;
        bool counterClockwiseShows;
        bool clockwiseShows;
    };
    const Row rows[] = {{"none", D3DCULL_NONE, true, true},
                        {"cw", D3DCULL_CW, true, false},
                        {"ccw", D3DCULL_CCW, false, true}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto device = MakeDevice(32, 16);
        BeginFrame(*device);
        device->SetRenderState(D3DRS_CULLMODE, row.cullMode);
        const std::vector<ScreenVertex> ccw = Quad(0, 0, 16, 16, kRed);  // the overlay's order
        std::vector<ScreenVertex> cw = Quad(16, 0, 32, 16, kGreen);
        std::swap(cw[1], cw[2]);
        std::swap(cw[4], cw[5]);
        Draw(*device, kScreenVertexFvf, ccw);
        Draw(*device, kScreenVertexFvf, cw);
        EndFrame(*device);
        EXPECT_EQ(Pixel(*device, 8, 8), row.counterClockwiseShows ? kRed : kBlack);
        EXPECT_EQ(Pixel(*device, 24, 8), row.clockwiseShows ? kGreen : kBlack);
    }
}

// World triangle in the z = 0 plane, seen from above by a top-down camera.
std::vector<MapVertex> GroundTriangle(std::uint32_t colour) {
    return {{-5, -5, 0, colour}, {5, -5, 0, colour}, {0, 5, 0, colour}};
}

void SetTopDownCamera(RenderDevice& device, float height, float mirrorX = 1.0f) {
    Matrix4 view, projection;
    const Vector3 eye{0, 0, height}, at{0, 0, 0}, up{0, 1, 0};
    D3DXMatrixLookAtRH(&view, &eye, &at, &up);
    D3DXMatrixPerspectiveFovRH(&projection, std::numbers::pi_v<float> / 4, 1.0f, 1.0f, 5000.0f);
    projection.m[0][0] *= mirrorX;
    device.SetTransform(D3DTS_VIEW, &view);
    device.SetTransform(D3DTS_PROJECTION, &projection);
}

TEST(SoftwareDeviceCulling, MirroredProjectionFlipsTheDecision) {
    // Counter-clockwise seen from above is counter-clockwise on the screen, so CULL_CW keeps
    // it; mirroring the projection makes it clockwise on the screen and culled.
    for (float mirror : {1.0f, -1.0f}) {
        auto device = MakeDevice(32, 32);
        BeginFrame(*device);
        device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
        SetTopDownCamera(*device, 20.0f, mirror);
        Draw(*device, kMapVertexFvf, GroundTriangle(kRed));
        EndFrame(*device);
        EXPECT_EQ(Pixel(*device, 16, 16), mirror > 0 ? kRed : kBlack) << "mirror " << mirror;
    }
}

// ---------------------------------------------------------------------------------------------
// Transform and clipping

TEST(SoftwareDeviceTransform, ProjectsWorldTriangleThroughWorldViewProjection) {
    auto device = MakeDevice(64, 64);
    BeginFrame(*device);
    SetTopDownCamera(*device, 10.0f);
    // Moved 3 m east by the world transform: the picture shifts right.
    Matrix4 world;
    D3DXMatrixIdentity(&world);
    world.m[3][0] = 3.0f;
    device->SetTransform(D3DTS_WORLD, &world);
    const std::vector<MapVertex> square = {{-1, -1, 0, kBlue}, {1, -1, 0, kBlue},
                                           {1, 1, 0, kBlue},   {-1, -1, 0, kBlue},
                                           {1, 1, 0, kBlue},   {-1, 1, 0, kBlue}};
    ASSERT_EQ(Draw(*device, kMapVertexFvf, square), D3D_OK);
    EndFrame(*device);
    // At 10 m with a 45 degree field, 1 m is 32 / (10 tan 22.5) = 7.73 pixels.
    const float metre = 32.0f / (10.0f * std::tan(std::numbers::pi_v<float> / 8));
    const int centreX = static_cast<int>(32 + 3 * metre);
    EXPECT_EQ(Pixel(*device, centreX, 32), kBlue);
    EXPECT_EQ(Pixel(*device, centreX - static_cast<int>(metre) - 2, 32), kBlack);
    EXPECT_EQ(Pixel(*device, centreX + static_cast<int>(metre) + 2, 32), kBlack);
    EXPECT_EQ(Pixel(*device, 32, 32), kBlack);
}

// A camera 2 m above flat ground looking north and slightly down, as the chase camera does.
void SetChaseCamera(RenderDevice& device) {
    Matrix4 view, projection;
    const Vector3 eye{0, 0, 2}, at{0, 10, 0}, up{0, 0, 1};
    D3DXMatrixLookAtRH(&view, &eye, &at, &up);
    D3DXMatrixPerspectiveFovRH(&projection, std::numbers::pi_v<float> / 4, 1.0f, 1.0f, 5000.0f);
    device.SetTransform(D3DTS_VIEW, &view);
    device.SetTransform(D3DTS_PROJECTION, &projection);
}

TEST(SoftwareDeviceClipping, GroundReachingBehindTheEyeIsClippedAtTheNearPlane) {
    // One big triangle with a corner 50 m behind the camera: without near clipping it would
    // project through infinity and wrap around. Clipped, it fills the bottom of the view and
    // nothing above the horizon.
    auto device = MakeDevice(64, 64);
    BeginFrame(*device);
    SetChaseCamera(*device);
    const std::vector<MapVertex> ground = {
        {-100, -50, 0, kGreen}, {100, -50, 0, kGreen}, {0, 200, 0, kGreen}};
    ASSERT_EQ(Draw(*device, kMapVertexFvf, ground), D3D_OK);
    EndFrame(*device);
    for (int x = 0; x < 64; x += 7) {
        EXPECT_EQ(Pixel(*device, x, 63), kGreen) << x;
        EXPECT_EQ(Pixel(*device, x, 0), kBlack) << x;
    }
}

TEST(SoftwareDeviceClipping, TrianglesWhollyBehindTheEyeOrBeyondFarAreNotDrawn) {
    auto device = MakeDevice(32, 32);
    BeginFrame(*device);
    SetTopDownCamera(*device, 20.0f);
    // Above the camera (behind it), and 6000 m below it (beyond the far plane at 5000).
    std::vector<MapVertex> v = {{-50, -50, 30, kRed},       {50, -50, 30, kRed},
                                {0, 50, 30, kRed},          {-5e4f, -5e4f, -6000, kRed},
                                {5e4f, -5e4f, -6000, kRed}, {0, 5e4f, -6000, kRed}};
    // One crossing the far plane: half of it shows.
    v.insert(v.end(), {{-100, -100, 0, kBlue}, {100, -100, 0, kBlue}, {0, 100, -8000, kBlue}});
    ASSERT_EQ(Draw(*device, kMapVertexFvf, v), D3D_OK);
    EndFrame(*device);
    int blue = 0;
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            const std::uint32_t p = Pixel(*device, x, y);
            ASSERT_NE(p, kRed) << x << "," << y;
            blue += p == kBlue;
        }
    }
    EXPECT_GT(blue, 0);
}

TEST(SoftwareDeviceClipping, NearPlaneCutsLeaveNoCracksBetweenNeighbours) {
    // A ground grid crossing the near plane, counted: nothing covered twice, the near part of
    // the view covered once.
    auto device = MakeDevice(48, 48);
    BeginFrame(*device);
    SetChaseCamera(*device);
    CountCoverage(*device);
    std::vector<MapVertex> v;
    const std::uint32_t one = 0xFF010101;
    for (int j = -10; j < 30; ++j) {
        for (int i = -15; i < 15; ++i) {
            const float x0 = i * 1.37f, x1 = (i + 1) * 1.37f, y0 = j * 0.91f, y1 = (j + 1) * 0.91f;
            v.insert(v.end(), {{x0, y0, 0, one}, {x1, y0, 0, one}, {x1, y1, 0, one}});
            v.insert(v.end(), {{x0, y0, 0, one}, {x1, y1, 0, one}, {x0, y1, 0, one}});
        }
    }
    ASSERT_EQ(Draw(*device, kMapVertexFvf, v), D3D_OK);
    EndFrame(*device);
    for (int y = 0; y < 48; ++y) {
        for (int x = 0; x < 48; ++x) ASSERT_LE(Coverage(*device, x, y), 1) << x << "," << y;
    }
    for (int x = 0; x < 48; ++x) ASSERT_EQ(Coverage(*device, x, 47), 1) << x;
}

// ---------------------------------------------------------------------------------------------
// Pixel pipeline: Gouraud, blending, alpha test (four quadrants under different states)

TEST(SoftwareDevicePixels, FourQuadrantsUnderDifferentStates) {
    auto device = MakeDevice(64, 64);
    BeginFrame(*device, kRed);
    // Top left: opaque Gouraud from green at the left to blue at the right.
    Draw(*device, kScreenVertexFvf, Quad(0, 0, 32, 32, kGreen, kBlue, kGreen, kBlue));
    // Top right: half-transparent white over the red background.
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    Draw(*device, kScreenVertexFvf, Quad(32, 0, 64, 32, 0x80FFFFFF));
    // Bottom: alpha test GREATEREQUAL 0x80 passes 0xC0 (left) and rejects 0x40 (right).
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, 0);
    device->SetRenderState(D3DRS_ALPHATESTENABLE, 1);
    device->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL);
    device->SetRenderState(D3DRS_ALPHAREF, 0x80);
    Draw(*device, kScreenVertexFvf, Quad(0, 32, 32, 64, 0xC000FF00));
    Draw(*device, kScreenVertexFvf, Quad(32, 32, 64, 64, 0x400000FF));
    EndFrame(*device);

    // The colour runs from x = 0 to x = 32: half-way at pixel 16, 31/32 of the way at 31.
    EXPECT_TRUE(ColourNear(Pixel(*device, 16, 16), 0xFF008080));
    EXPECT_TRUE(ColourNear(Pixel(*device, 0, 16), kGreen));
    EXPECT_TRUE(ColourNear(Pixel(*device, 31, 16), 0xFF000000 | 8 << 8 | 0xF7));
    // 0x80 of white over red: red stays 255, green and blue 128; alpha 0x80^2 + 0xFF * 0x7F.
    EXPECT_TRUE(ColourNear(Pixel(*device, 48, 16), 0xBFFF8080));
    EXPECT_EQ(Pixel(*device, 16, 48), 0xC000FF00u);
    EXPECT_EQ(Pixel(*device, 48, 48), kRed);
}

TEST(SoftwareDevicePixels, OpaqueVertexAlphaUnderSourceAlphaBlendWritesTheColour) {
    // The track mesh is drawn with blending on; its opaque colours must come out unchanged,
    // and half-transparent ribbons mix with it.
    auto device = MakeDevice(32, 32);
    BeginFrame(*device, 0xFF123456);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    Draw(*device, kScreenVertexFvf,
         Quad(0, 0, 16, 32, 0xFF3A7B2C, 0xFF3A7B2C, 0xFF102030, 0xFF102030));
    Draw(*device, kScreenVertexFvf, Quad(16, 0, 32, 32, 0xFF808080));
    Draw(*device, kScreenVertexFvf, Quad(16, 0, 32, 32, 0x80FF0000));
    EndFrame(*device);
    EXPECT_EQ(Pixel(*device, 5, 0), 0xFF3A7B2Cu);
    EXPECT_TRUE(ColourNear(Pixel(*device, 5, 31), 0xFF112131, 2));
    // 0x80 * 0xFF + 0x7F * 0x80 over 255 = 0xC0 red; 0x7F * 0x80 / 255 = 0x40 green and blue;
    // alpha blends like a colour: 0x80 * 0x80 + 0x7F * 0xFF over 255 = 0xBF.
    EXPECT_TRUE(ColourNear(Pixel(*device, 24, 16), 0xBFC04040));
}

// ---------------------------------------------------------------------------------------------
// Textures

// A texture of A4R4G4B4 texels given row by row.
Texture* MakeTexture(RenderDevice& device, int width, int height,
                     const std::vector<std::uint16_t>& texels) {
    Texture* texture = nullptr;
    EXPECT_EQ(device.CreateTexture(width, height, 1, 0, D3DFMT_A4R4G4B4, D3DPOOL_MANAGED, &texture),
              D3D_OK);
    D3DLOCKED_RECT locked{};
    EXPECT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3D_OK);
    for (int y = 0; y < height; ++y) {
        std::memcpy(static_cast<std::uint8_t*>(locked.pBits) + y * locked.Pitch,
                    &texels[static_cast<std::size_t>(y) * width], width * 2);
    }
    texture->UnlockRect(0);
    return texture;
}

std::vector<TexturedScreenVertex> TexturedQuad(float x0, float y0, float x1, float y1, float u0,
                                               float v0, float u1, float v1,
                                               std::uint32_t colour = kWhite) {
    return {{x0, y0, 0, 1, colour, u0, v0}, {x0, y1, 0, 1, colour, u0, v1},
            {x1, y0, 0, 1, colour, u1, v0}, {x1, y0, 0, 1, colour, u1, v0},
            {x0, y1, 0, 1, colour, u0, v1}, {x1, y1, 0, 1, colour, u1, v1}};
}

void SetTextureOnly(RenderDevice& device, Texture* texture, std::uint32_t filter) {
    device.SetTexture(0, texture);
    device.SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device.SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device.SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    device.SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    device.SetTextureStageState(0, D3DTSS_MAGFILTER, filter);
    device.SetTextureStageState(0, D3DTSS_MINFILTER, filter);
}

TEST(SoftwareDeviceTexture, PointSamplingCopiesTexelsOneToOne) {
    // A 4 x 3 texture drawn at (5, 7) the way glyphs are: quad corners half a pixel up-left.
    auto device = MakeDevice(16, 16);
    std::vector<std::uint16_t> texels(12);
    for (int i = 0; i < 12; ++i) texels[i] = static_cast<std::uint16_t>(0xF000 | (i * 0x135));
    Texture* texture = MakeTexture(*device, 4, 3, texels);
    BeginFrame(*device);
    SetTextureOnly(*device, texture, D3DTEXF_POINT);
    Draw(*device, kTexturedScreenVertexFvf, TexturedQuad(4.5f, 6.5f, 8.5f, 9.5f, 0, 0, 1, 1));
    EndFrame(*device);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 4; ++x) {
            const std::uint32_t t = texels[y * 4 + x];
            const std::uint32_t expected = 0xFF000000 | ((t >> 8) & 0xF) * 17 << 16 |
                                           ((t >> 4) & 0xF) * 17 << 8 | (t & 0xF) * 17;
            EXPECT_EQ(Pixel(*device, 5 + x, 7 + y), expected) << x << "," << y;
        }
    }
    EXPECT_EQ(Pixel(*device, 4, 7), kBlack);
    EXPECT_EQ(Pixel(*device, 9, 7), kBlack);
    texture->Release();
}

TEST(SoftwareDeviceTexture, LinearSamplingBlendsNeighboursPointDoesNot) {
    // A 2 x 1 texture, red then green, magnified to 8 x 8 pixels with clamping.
    for (std::uint32_t filter : {D3DTEXF_POINT, D3DTEXF_LINEAR}) {
        auto device = MakeDevice(8, 8);
        Texture* texture = MakeTexture(*device, 2, 1, {0xFF00, 0xF0F0});
        BeginFrame(*device);
        SetTextureOnly(*device, texture, filter);
        device->SetTextureStageState(0, D3DTSS_ADDRESSU, D3DTADDRESS_CLAMP);
        device->SetTextureStageState(0, D3DTSS_ADDRESSV, D3DTADDRESS_CLAMP);
        Draw(*device, kTexturedScreenVertexFvf, TexturedQuad(-0.5f, -0.5f, 7.5f, 7.5f, 0, 0, 1, 1));
        EndFrame(*device);
        EXPECT_EQ(Pixel(*device, 0, 4), kRed);
        EXPECT_EQ(Pixel(*device, 7, 4), kGreen);
        // Pixel 3 samples u = 3.5 / 8: 0.375 of the way from the red texel centre to the green.
        if (filter == D3DTEXF_POINT) {
            EXPECT_EQ(Pixel(*device, 3, 4), kRed);
            EXPECT_EQ(Pixel(*device, 4, 4), kGreen);
        } else {
            EXPECT_TRUE(ColourNear(Pixel(*device, 3, 4), 0xFF9F6000));
            EXPECT_TRUE(ColourNear(Pixel(*device, 4, 4), 0xFF609F00));
        }
        texture->Release();
    }
}

TEST(SoftwareDeviceTexture, WrapRepeatsAndClampExtendsTheEdge) {
    for (std::uint32_t address : {D3DTADDRESS_WRAP, D3DTADDRESS_CLAMP}) {
        auto device = MakeDevice(8, 2);
        Texture* texture = MakeTexture(*device, 2, 1, {0xFF00, 0xF00F});
        BeginFrame(*device);
        SetTextureOnly(*device, texture, D3DTEXF_POINT);
        device->SetTextureStageState(0, D3DTSS_ADDRESSU, address);
        // u from 0 to 2 over 8 pixels: texels 0 0 1 1 then 0 0 1 1 again, or 1 1 1 1.
        Draw(*device, kTexturedScreenVertexFvf, TexturedQuad(-0.5f, -0.5f, 7.5f, 1.5f, 0, 0, 2, 1));
        EndFrame(*device);
        const bool wrap = address == D3DTADDRESS_WRAP;
        EXPECT_EQ(Pixel(*device, 1, 0), kRed);
        EXPECT_EQ(Pixel(*device, 3, 0), kBlue);
        EXPECT_EQ(Pixel(*device, 5, 0), wrap ? kRed : kBlue);
        texture->Release();
    }
}

TEST(SoftwareDeviceTexture, ModulateAndAlphaTestAsTheTextRendererSetsThem) {
    // White texels with 4-bit alpha, modulated by a green diffuse colour, alpha-tested at 8
    // and blended: alpha 0 is rejected, 0x8 blends to half green.
    auto device = MakeDevice(8, 4);
    Texture* texture = MakeTexture(*device, 2, 1, {0x0FFF, 0x8FFF});
    BeginFrame(*device);
    device->SetTexture(0, texture);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    device->SetRenderState(D3DRS_ALPHATESTENABLE, 1);
    device->SetRenderState(D3DRS_ALPHAREF, 8);
    device->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    Draw(*device, kTexturedScreenVertexFvf,
         TexturedQuad(-0.5f, -0.5f, 1.5f, 0.5f, 0, 0, 1, 1, kGreen));
    EndFrame(*device);
    EXPECT_EQ(Pixel(*device, 0, 0), kBlack);
    // Alpha 0x88: green 0x88, alpha 0x88^2/255 + 0xFF * 0x77/255 = 0x48 + 0x77.
    EXPECT_TRUE(ColourNear(Pixel(*device, 1, 0), 0xBF008800));
    texture->Release();
}

TEST(SoftwareDeviceTexture, WithoutATextureTheDefaultStageKeepsVertexColourAndAlpha) {
    // The map draws untextured under the default stage states (MODULATE and SELECTARG1 of
    // the texture): the ribbons' vertex alpha must still blend.
    auto device = MakeDevice(8, 8);
    BeginFrame(*device, kBlue);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    Draw(*device, kScreenVertexFvf, Quad(0, 0, 8, 8, 0x80FF0000));
    EndFrame(*device);
    EXPECT_TRUE(ColourNear(Pixel(*device, 4, 4), 0xBF80007F));
}

TEST(SoftwareDeviceTexture, DrawsKeepTheTexelsTheySawWhenTheTextureChangesLater) {
    auto device = MakeDevice(8, 4);
    Texture* texture = MakeTexture(*device, 1, 1, {0xFF00});
    BeginFrame(*device);
    SetTextureOnly(*device, texture, D3DTEXF_POINT);
    Draw(*device, kTexturedScreenVertexFvf, TexturedQuad(0, 0, 4, 4, 0, 0, 1, 1));
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3D_OK);
    const std::uint16_t blue = 0xF00F;
    std::memcpy(locked.pBits, &blue, 2);
    texture->UnlockRect(0);
    Draw(*device, kTexturedScreenVertexFvf, TexturedQuad(4, 0, 8, 4, 0, 0, 1, 1));
    EndFrame(*device);
    EXPECT_EQ(Pixel(*device, 1, 1), kRed);
    EXPECT_EQ(Pixel(*device, 5, 1), kBlue);
    texture->Release();
}

// ---------------------------------------------------------------------------------------------
// Vertex buffers

TEST(SoftwareDeviceVertexBuffer, QueuedDrawsKeepTheVerticesTheySaw) {
    // Relocking a buffer after a draw (plainly or with DISCARD) must not change that draw.
    for (std::uint32_t flags : {0u, D3DLOCK_DISCARD}) {
        auto device = MakeDevice(16, 8);
        VertexBuffer* buffer = nullptr;
        ASSERT_EQ(device->CreateVertexBuffer(6 * sizeof(ScreenVertex), 0, kScreenVertexFvf,
                                             D3DPOOL_DEFAULT, &buffer),
                  D3D_OK);
        auto fill = [&](const std::vector<ScreenVertex>& quad, std::uint32_t lockFlags) {
            std::uint8_t* data = nullptr;
            ASSERT_EQ(buffer->Lock(0, 0, &data, lockFlags), D3D_OK);
            std::memcpy(data, quad.data(), quad.size() * sizeof(ScreenVertex));
            buffer->Unlock();
        };
        BeginFrame(*device);
        device->SetVertexShader(kScreenVertexFvf);
        device->SetStreamSource(0, buffer, sizeof(ScreenVertex));
        fill(Quad(0, 0, 8, 8, kRed), 0);
        device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 2);
        fill(Quad(8, 0, 16, 8, kGreen), flags);
        device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 2);
        EndFrame(*device);
        EXPECT_EQ(Pixel(*device, 4, 4), kRed) << "flags " << flags;
        EXPECT_EQ(Pixel(*device, 12, 4), kGreen) << "flags " << flags;
        device->SetStreamSource(0, nullptr, 0);
        buffer->Release();
    }
}

TEST(SoftwareDeviceVertexBuffer, LockChecksItsRangeAndDrawChecksTheBuffer) {
    auto device = MakeDevice();
    VertexBuffer* buffer = nullptr;
    ASSERT_EQ(device->CreateVertexBuffer(60, 0, 0, D3DPOOL_DEFAULT, &buffer), D3D_OK);
    std::uint8_t* data = nullptr;
    EXPECT_EQ(buffer->Lock(40, 21, &data, 0), D3DERR_INVALIDCALL);
    ASSERT_EQ(buffer->Lock(40, 20, &data, 0), D3D_OK);
    device->BeginScene();
    device->SetVertexShader(kScreenVertexFvf);
    device->SetStreamSource(0, buffer, sizeof(ScreenVertex));
    EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3DERR_INVALIDCALL);  // locked
    buffer->Unlock();
    EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3D_OK);
    EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLELIST, 1, 1), D3DERR_INVALIDCALL);  // past end
    EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 1), D3DERR_INVALIDCALL);
    device->SetStreamSource(0, buffer, 12);  // narrower than the format
    EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3DERR_INVALIDCALL);
    device->EndScene();
    EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3DERR_INVALIDCALL);  // no scene
    device->SetStreamSource(0, nullptr, 0);
    buffer->Release();
}

// ---------------------------------------------------------------------------------------------
// State blocks

TEST(SoftwareDeviceStateBlock, RecordingDoesNotChangeTheDevice) {
    auto device = MakeDevice();
    ASSERT_EQ(device->BeginStateBlock(), D3D_OK);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
    device->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTEXF_LINEAR);
    EXPECT_EQ(device->BeginStateBlock(), D3DERR_INVALIDCALL);
    std::uint32_t token = 0;
    ASSERT_EQ(device->EndStateBlock(&token), D3D_OK);
    EXPECT_NE(token, 0u);
    std::uint32_t value = 0;
    device->GetRenderState(D3DRS_CULLMODE, &value);
    EXPECT_EQ(value, D3DCULL_CCW);  // the default
    device->GetTextureStageState(0, D3DTSS_MAGFILTER, &value);
    EXPECT_EQ(value, D3DTEXF_POINT);
    ASSERT_EQ(device->ApplyStateBlock(token), D3D_OK);
    device->GetRenderState(D3DRS_CULLMODE, &value);
    EXPECT_EQ(value, D3DCULL_CW);
    device->GetTextureStageState(0, D3DTSS_MAGFILTER, &value);
    EXPECT_EQ(value, D3DTEXF_LINEAR);
}

TEST(SoftwareDeviceStateBlock, CaptureAndApplyRestoreEveryRecordedState) {
    // What the text renderer does around each string: capture the saved block, apply the draw
    // block, change a filter, apply the saved block.
    auto device = MakeDevice();
    Texture* texture = nullptr;
    ASSERT_EQ(device->CreateTexture(4, 4, 1, 0, D3DFMT_A4R4G4B4, D3DPOOL_MANAGED, &texture),
              D3D_OK);
    auto record = [&] {
        std::uint32_t token = 0;
        device->BeginStateBlock();
        device->SetTexture(0, texture);
        device->SetRenderState(D3DRS_ALPHATESTENABLE, 1);
        device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
        device->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTEXF_POINT);
        device->EndStateBlock(&token);
        return token;
    };
    const std::uint32_t saved = record();
    const std::uint32_t draw = record();
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
    device->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTEXF_LINEAR);

    ASSERT_EQ(device->CaptureStateBlock(saved), D3D_OK);
    ASSERT_EQ(device->ApplyStateBlock(draw), D3D_OK);
    Texture* bound = nullptr;
    device->GetTexture(0, &bound);
    EXPECT_EQ(bound, texture);
    bound->Release();
    device->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTEXF_LINEAR);
    ASSERT_EQ(device->ApplyStateBlock(saved), D3D_OK);

    std::uint32_t value = 0;
    device->GetRenderState(D3DRS_CULLMODE, &value);
    EXPECT_EQ(value, D3DCULL_CW);
    device->GetRenderState(D3DRS_ALPHATESTENABLE, &value);
    EXPECT_EQ(value, 0u);
    device->GetTextureStageState(0, D3DTSS_MAGFILTER, &value);
    EXPECT_EQ(value, D3DTEXF_LINEAR);
    device->GetTexture(0, &bound);
    EXPECT_EQ(bound, nullptr);

    EXPECT_EQ(device->DeleteStateBlock(saved), D3D_OK);
    EXPECT_EQ(device->ApplyStateBlock(saved), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->DeleteStateBlock(saved), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->DeleteStateBlock(draw), D3D_OK);
    texture->Release();
}

// ---------------------------------------------------------------------------------------------
// Counters, device loss, threads

TEST(SoftwareDeviceCounters, CountAcceptedDrawsAndTheirTriangles) {
    auto device = MakeDevice();
    device->recordDrawCalls = true;
    BeginFrame(*device);
    Draw(*device, kScreenVertexFvf, Quad(0, 0, 4, 4, kRed));
    std::vector<ScreenVertex> nine(27, ScreenVertex{0, 0, 0, 1, kRed});
    Draw(*device, kScreenVertexFvf, nine);
    device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1);  // no stream: refused, not counted
    EndFrame(*device);
    EXPECT_EQ(device->counters.drawCalls, 2);
    EXPECT_EQ(device->counters.triangles, 11);
    ASSERT_EQ(device->drawCallLog.size(), 2u);
    EXPECT_EQ(device->drawCallLog[1].primitiveCount, 9u);
    EXPECT_EQ(device->drawCallLog[1].fvf, kScreenVertexFvf);
    EXPECT_EQ(device->drawCallLog[1].cullMode, D3DCULL_NONE);
    device->ResetCounters();
    EXPECT_EQ(device->counters.drawCalls, 0);
    EXPECT_TRUE(device->drawCallLog.empty());
}

TEST(SoftwareDeviceLoss, NotResetUntilResetAndFramesAreDropped) {
    auto device = MakeDevice(8, 8);
    device->Clear(0, nullptr, D3DCLEAR_TARGET, kGreen, 1.0f, 0);
    device->Present();
    device->SimulateDeviceLost();
    EXPECT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
    EXPECT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, kRed, 1.0f, 0), D3D_OK);
    EXPECT_EQ(device->Present(), D3DERR_DEVICELOST);
    EXPECT_EQ(Pixel(*device, 4, 4), kGreen);
    EXPECT_EQ(device->Reset(8, 8), D3D_OK);
    EXPECT_EQ(device->TestCooperativeLevel(), D3D_OK);
}

TEST(SoftwareDeviceLoss, LostDeviceRefusesResetUntilItMayBeReset) {
    auto device = MakeDevice(8, 8);
    device->SimulateDeviceLost(false);
    EXPECT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICELOST);
    EXPECT_EQ(device->Reset(8, 8), D3DERR_DEVICELOST);
    device->SimulateDeviceLost(true);
    EXPECT_EQ(device->Reset(8, 8), D3D_OK);
}

TEST(SoftwareDeviceLoss, ResetFailsWhileDefaultPoolResourcesLive) {
    auto device = MakeDevice(8, 8);
    VertexBuffer* buffer = nullptr;
    Texture* managed = nullptr;
    device->CreateVertexBuffer(64, 0, 0, D3DPOOL_DEFAULT, &buffer);
    device->CreateTexture(4, 4, 1, 0, D3DFMT_A4R4G4B4, D3DPOOL_MANAGED, &managed);
    device->SetStreamSource(0, buffer, 16);  // the binding alone does not count
    EXPECT_EQ(device->Reset(8, 8), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
    buffer->Release();
    EXPECT_EQ(device->Reset(8, 8), D3D_OK);
    managed->Release();
}

TEST(SoftwareDeviceLoss, CreationFailuresCanBeScripted) {
    auto device = MakeDevice(8, 8);
    device->FailVertexBufferCreationAfter(1);
    VertexBuffer* first = nullptr;
    VertexBuffer* second = nullptr;
    EXPECT_EQ(device->CreateVertexBuffer(16, 0, 0, D3DPOOL_DEFAULT, &first), D3D_OK);
    EXPECT_EQ(device->CreateVertexBuffer(16, 0, 0, D3DPOOL_DEFAULT, &second),
              D3DERR_OUTOFVIDEOMEMORY);
    EXPECT_EQ(second, nullptr);
    first->Release();
    D3DCAPS8 caps{};
    SoftwareDeviceOptions options;
    options.maxTextureWidth = 128;
    SoftwareDevice small(8, 8, options);
    small.GetDeviceCaps(&caps);
    EXPECT_EQ(caps.MaxTextureWidth, 128u);
    Texture* texture = nullptr;
    EXPECT_EQ(small.CreateTexture(256, 256, 1, 0, D3DFMT_A4R4G4B4, D3DPOOL_MANAGED, &texture),
              D3DERR_INVALIDCALL);
}

// Many overlapping blended, shaded, textured and clipped triangles drawn by `threads` threads.
std::vector<std::uint32_t> RenderBusyScene(int threads) {
    auto device = MakeDevice(97, 83, threads);
    Texture* texture = MakeTexture(*device, 2, 2, {0xF800, 0x80F0, 0xF00F, 0x4FFF});
    std::mt19937 random(11);
    std::uniform_real_distribution<float> coordinate(-30.0f, 130.0f);
    std::uniform_int_distribution<std::uint32_t> colour;
    BeginFrame(*device, 0xFF203040);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    std::vector<ScreenVertex> flat(3000);
    for (auto& v : flat)
        v = ScreenVertex{coordinate(random), coordinate(random), 0, 1, colour(random)};
    Draw(*device, kScreenVertexFvf, flat);
    SetChaseCamera(*device);
    std::vector<MapVertex> ground(3000);
    std::uniform_real_distribution<float> world(-20.0f, 40.0f);
    for (auto& v : ground)
        v = MapVertex{world(random), world(random), world(random) * 0.1f, colour(random)};
    Draw(*device, kMapVertexFvf, ground);
    SetTextureOnly(*device, texture, D3DTEXF_LINEAR);
    std::vector<TexturedScreenVertex> textured(300);
    for (auto& v : textured) {
        v = TexturedScreenVertex{
            coordinate(random),         coordinate(random),        0, 1, colour(random),
            coordinate(random) / 50.0f, coordinate(random) / 50.0f};
    }
    Draw(*device, kTexturedScreenVertexFvf, textured);
    device->SetTexture(0, nullptr);
    EndFrame(*device);
    texture->Release();
    const PresentedFrame f = device->GetPresentedFrame();
    return std::vector<std::uint32_t>(f.pixels, f.pixels + f.width * f.height);
}

TEST(SoftwareDeviceThreads, EveryThreadCountDrawsTheSamePicture) {
    const std::vector<std::uint32_t> one = RenderBusyScene(1);
    for (int threads : {2, 3, 5}) {
        EXPECT_TRUE(RenderBusyScene(threads) == one) << threads << " threads";
    }
    // And the picture itself is the one this rasteriser has always drawn.
    EXPECT_EQ(test::FrameHash(one.data(), 97, 83), "0x84D375D9528AA3D4");
}

}  // namespace
}  // namespace lapquill
