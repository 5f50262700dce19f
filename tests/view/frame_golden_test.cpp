// Whole frames of the software device pinned to the pictures it drew when these hashes were
// taken: the terrain-and-ribbons scene of the benchmarks under several states and thread counts,
// and the view's demo frame from both cameras. A change to the rasteriser that moves a single
// pixel, or a single bit of one, fails here; a deliberate change of the picture must renew the
// hashes (the failure message prints the new one).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "render/software_device.h"
#include "render/software_peer_scene.h"
#include "support/demo_folder.h"
#include "support/fake_window.h"
#include "support/frame_hash.h"
#include "tools/demo_data.h"
#include "view/analysis_view.h"

namespace lapquill {
namespace {

struct PeerVariant {
    int threads = 1;
    bool blend = true;
    std::uint32_t terrainCull = D3DCULL_CW;
    bool lowCamera = false;  // across the terrain from just above it: the near plane cuts it
    bool wideVectors = true;  // the AVX2 set-up where the processor has it
};

// The benchmarks' scene, by default at 320 x 180 with ribbons of 6000 records.
std::string PeerFrameHash(const PeerVariant& variant, int width = 320, int height = 180,
                          int ribbonRecords = 6000) {
    SoftwareDeviceOptions options;
    options.threadCount = variant.threads;
    options.wideVectors = variant.wideVectors;
    SoftwareDevice device(width, height, options);
    const std::vector<MapVertex> terrainVertices = peer::Terrain();
    VertexBuffer* terrain = peer::MakeBuffer(device, terrainVertices);
    std::vector<VertexBuffer*> ribbons;
    std::uint32_t ribbonTriangles = 0;
    for (int i = 0; i < 6; ++i) {
        const std::vector<MapVertex> v = peer::RibbonNumber(i, ribbonRecords);
        ribbons.push_back(peer::MakeBuffer(device, v));
        ribbonTriangles = static_cast<std::uint32_t>(v.size() / 3);
    }
    Matrix4 view, projection;
    peer::Camera(width, height, &view, &projection);
    if (variant.lowCamera) {
        const Vector3 eye{-700, -500, 12}, at{0, 0, 0}, up{0, 0, 1};
        D3DXMatrixLookAtRH(&view, &eye, &at, &up);
    }
    device.SetTransform(D3DTS_VIEW, &view);
    device.SetTransform(D3DTS_PROJECTION, &projection);
    device.SetRenderState(D3DRS_LIGHTING, 0);
    device.SetRenderState(D3DRS_ALPHABLENDENABLE, variant.blend ? 1 : 0);
    device.SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device.SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    peer::DrawFrame(device, terrain, static_cast<std::uint32_t>(terrainVertices.size() / 3),
                    ribbons, ribbonTriangles, variant.terrainCull);
    device.SetStreamSource(0, nullptr, 0);
    terrain->Release();
    for (VertexBuffer* r : ribbons) r->Release();
    const PresentedFrame f = device.GetPresentedFrame();
    return test::FrameHash(f.pixels, f.width, f.height);
}

TEST(FrameGolden, PeerSceneUnderEachStateAndThreadCount) {
    struct Case {
        const char* name;
        PeerVariant variant;
        const char* golden;
    };
    const Case cases[] = {
        {"blended, 1 thread", {1, true, D3DCULL_CW, false}, "0x7F44EEDD6BD0282A"},
        {"blended, 2 threads", {2, true, D3DCULL_CW, false}, "0x7F44EEDD6BD0282A"},
        {"blended, 3 threads", {3, true, D3DCULL_CW, false}, "0x7F44EEDD6BD0282A"},
        {"opaque, terrain unculled", {2, false, D3DCULL_NONE, false}, "0x08EDA68E31393877"},
        {"terrain culled CCW", {1, true, D3DCULL_CCW, false}, "0x5CDBFB998CC86C7E"},
        {"low camera, near plane cuts", {2, true, D3DCULL_CW, true}, "0xC096D01F51D978FC"},
        {"blended, SSE2 set-up", {2, true, D3DCULL_CW, false, false}, "0x7F44EEDD6BD0282A"},
        {"culled CCW, SSE2 set-up", {1, true, D3DCULL_CCW, false, false}, "0x5CDBFB998CC86C7E"},
        {"low camera, SSE2 set-up", {2, true, D3DCULL_CW, true, false}, "0xC096D01F51D978FC"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PeerFrameHash(c.variant), c.golden) << c.name;
    }
}

// The view (by default at 480 x 270) with the demo's six replays at the end of replay 0, the
// frame-rate readout on, from the top-down or the chase camera.
std::string DemoFrameHash(int threads, bool chase, int width = 480, int height = 270,
                          bool wideVectors = true) {
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(test::DemoFolder());
    const std::vector<std::string> files = test::DemoLapPaths();
    test::FakeWindow window;
    window.client = {0, 0, width, height};
    window.deviceOptions.threadCount = threads;
    window.deviceOptions.wideVectors = wideVectors;
    window.AnswerDialog(files);
    double now = 0;
    std::string hash;
    {
        CAnalysisView view(window, [&now] { return now; });
        view.OnSize(width, height);
        view.OnPaint();
        view.OpenReplays(true);
        view.HandleKeyAction(VK_OEM_5);
        view.HandleKeyAction(VK_END);
        if (chase) view.HandleKeyAction('T');
        for (int i = 0; i < 3; ++i) {
            now += 0.01;
            view.RenderFrame();
        }
        EXPECT_EQ(view.ReplayCount(), 6);
        hash = test::FrameHash(window.lastFrame.data(), width, height);
    }
    std::filesystem::current_path(previous);
    return hash;
}

TEST(FrameGolden, DemoViewFromBothCamerasWithOneAndTwoThreads) {
    const std::string topDown = "0xD113BC40DF37EB7E";
    const std::string chase = "0x97B12F732FE61CBA";
    for (int threads : {1, 2}) {
        EXPECT_EQ(DemoFrameHash(threads, false), topDown) << threads << " threads";
        EXPECT_EQ(DemoFrameHash(threads, true), chase) << threads << " threads";
    }
    EXPECT_EQ(DemoFrameHash(2, false, 480, 270, false), topDown) << "SSE2 set-up";
    EXPECT_EQ(DemoFrameHash(1, true, 480, 270, false), chase) << "SSE2 set-up";
}

// The same frames at the sizes users run: the benchmarks' full scene at full HD, where terrain
// triangles cover several pixels and cross the threads' boundaries, and the demo view at full HD
// and 4K, where the table's panels and the text are wide triangles.
TEST(FrameGolden, FullSizeFramesWithEveryThreadCount) {
    struct Case {
        const char* name;
        PeerVariant variant;
        const char* golden;
    };
    const Case cases[] = {
        {"blended, 1 thread", {1, true, D3DCULL_CW, false}, "0x48E8E9E6EC11928A"},
        {"blended, 2 threads", {2, true, D3DCULL_CW, false}, "0x48E8E9E6EC11928A"},
        {"blended, 3 threads", {3, true, D3DCULL_CW, false}, "0x48E8E9E6EC11928A"},
        {"opaque, terrain unculled", {2, false, D3DCULL_NONE, false}, "0x85887607EDB7AD09"},
        {"low camera, near plane cuts", {2, true, D3DCULL_CW, true}, "0xBEB7A623F0883D7A"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PeerFrameHash(c.variant, 1920, 1080, 60000), c.golden) << c.name;
    }
    for (int threads : {1, 2}) {
        EXPECT_EQ(DemoFrameHash(threads, false, 1920, 1080), "0x1AE6F76EC262AF8C") << threads << " threads";
        EXPECT_EQ(DemoFrameHash(threads, true, 1920, 1080), "0x2A3C22CCDADCEDFD") << threads << " threads";
    }
    EXPECT_EQ(DemoFrameHash(2, false, 3840, 2160), "0x44780CA5E7991FF5");
    EXPECT_EQ(DemoFrameHash(2, true, 3840, 2160), "0xC6199FE39DAA50B7");
    EXPECT_EQ(PeerFrameHash({2, true, D3DCULL_CW, true, false}, 1920, 1080, 60000),
              "0xBEB7A623F0883D7A")
        << "low camera, SSE2 set-up";
    EXPECT_EQ(DemoFrameHash(2, true, 1920, 1080, false), "0x2A3C22CCDADCEDFD") << "SSE2 set-up";
}

}  // namespace
}  // namespace lapquill
