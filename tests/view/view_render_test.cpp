// The view on a SoftwareDevice: what a frame draws and in which order, when device objects are
// released and rebuilt, failures of buffers, the fonts, the scroll bars and the chase camera.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "analysis/channels.h"
#include "math/math3d.h"
#include "support/compare.h"
#include "support/fake_window.h"
#include "support/replay_builder.h"
#include "view/analysis_view.h"

namespace lapquill {
namespace {

using test::BuildLap;
using test::FakeWindow;
using test::LapPlan;
using test::TestWorld;

constexpr std::uint32_t kMapFvf = 0x42;
constexpr std::uint32_t kScreenFvf = 0x44;
constexpr std::uint32_t kTextFvf = 0x144;
constexpr const char* kBufferMessage = "Could not create vertex buffer!";

// 450 small triangles, counter-clockwise from above, around the start of the straight: all of
// them inside the default top-down view of a car at the origin.
TrackMesh GridMesh450() {
    TrackMesh mesh;
    mesh.header = BuildTrackMeshHeader("Harrow Vale", 20, 60, 20);
    MeshObject o;
    o.centre = {500.0f, 0.0f, 0.0f};
    o.radius = 1000.0f;
    for (int i = 0; i < 450; ++i) {
        const float x = -100.0f + static_cast<float>(i % 30) * 6.0f;
        const float y = -60.0f + static_cast<float>(i / 30) * 6.0f;
        const auto base = static_cast<std::uint16_t>(o.vertices.size());
        o.vertices.push_back({x, y, 0, 0xFF808080u});
        o.vertices.push_back({x + 5, y, 0, 0xFF808080u});
        o.vertices.push_back({x, y + 5, 0, 0xFF808080u});
        o.triangles.push_back(
            {{base, static_cast<std::uint16_t>(base + 1), static_cast<std::uint16_t>(base + 2)}});
    }
    o.vertexCount = static_cast<std::int32_t>(o.vertices.size());
    o.triangleCount = static_cast<std::int32_t>(o.triangles.size());
    mesh.objects = {o};
    return mesh;
}

class ViewRenderTest : public ::testing::Test {
  protected:
    ViewRenderTest() {
        world.AddTrack("Harrow Vale", "harrow.smx");
        world.AddSegments(
            "Harrow Vale", "GP",
            test::MarkersAt({{"Turn 1", 50.0f}, {"Chicane", 150.0f}, {"Hairpin", 300.0f}}));
    }

    CAnalysisView& View() {
        if (!view) view = std::make_unique<CAnalysisView>(window, [this] { return now; });
        return *view;
    }
    // Sized and painted, then one lap loaded: the device and all its objects exist.
    CAnalysisView& LoadedView(const ReplayFile& lap = BuildLap({})) {
        View().OnSize(window.client.right, window.client.bottom);
        View().OnPaint();
        EXPECT_TRUE(View().AddReplay(world.AddLap("a", lap)));
        return *view;
    }
    std::vector<DrawCallRecord> DrawsOfOneFrame() {
        window.device->ResetCounters();
        window.device->recordDrawCalls = true;
        View().OnPaint();
        window.device->recordDrawCalls = false;
        return window.device->drawCallLog;
    }

    TestWorld world;
    FakeWindow window;
    double now = 10.0;
    std::unique_ptr<CAnalysisView> view;
};

TEST_F(ViewRenderTest, FrameDrawsMeshMarkersRibbonsThenTheOverlay) {
    WriteBytesToFile("data/smx/harrow.smx", EncodeTrackMesh(GridMesh450()));
    CAnalysisView& v = LoadedView();
    v.SetPlaybackTime(1000);  // record 1000 at x = 250 m: triangles [0, 2002) of the ribbon
    const std::vector<DrawCallRecord> draws = DrawsOfOneFrame();
    ASSERT_GE(draws.size(), 15u);
    // The mesh in batches of 200 under clockwise culling.
    const std::uint32_t meshCounts[] = {200, 200, 50};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(draws[i].fvf, kMapFvf);
        EXPECT_EQ(draws[i].cullMode, D3DCULL_CW);
        EXPECT_EQ(draws[i].startVertex, 600 * i);
        EXPECT_EQ(draws[i].primitiveCount, meshCounts[i]);
    }
    // Three marker bars in one call, then the ribbon, both seen from either side.
    EXPECT_EQ(draws[3].primitiveCount, 6u);
    EXPECT_EQ(draws[3].cullMode, D3DCULL_NONE);
    std::uint32_t ribbon = 0;
    std::size_t i = 4;
    for (; i + 1 < draws.size() && draws[i + 1].fvf == kMapFvf; ++i) {
        EXPECT_EQ(draws[i].cullMode, D3DCULL_NONE);
        EXPECT_EQ(draws[i].startVertex, 3 * ribbon);
        ribbon += draws[i].primitiveCount;
    }
    EXPECT_EQ(ribbon, 2002u);
    // Then the car: its outline and its arrow, one call from the start of the cars buffer.
    ASSERT_LT(i, draws.size());
    EXPECT_EQ(draws[i].fvf, kMapFvf);
    EXPECT_EQ(draws[i].cullMode, D3DCULL_NONE);
    EXPECT_EQ(draws[i].startVertex, 0u);
    EXPECT_EQ(draws[i].primitiveCount, 2u);
    ++i;
    // The overlay follows under clockwise culling (the fonts draw under their own state and
    // restore it): column lines, texts, then the gauges.
    ASSERT_LT(i, draws.size());
    EXPECT_EQ(draws[i].fvf, kScreenFvf);
    EXPECT_EQ(draws[i].primitiveCount,
              static_cast<std::uint32_t>(v.Overlay().statsPanelTriangleCount));
    bool sawText = false;
    for (; i < draws.size(); ++i) {
        EXPECT_TRUE(draws[i].fvf == kScreenFvf || draws[i].fvf == kTextFvf) << i;
        if (draws[i].fvf == kScreenFvf) {
            EXPECT_EQ(draws[i].cullMode, D3DCULL_CW) << i;
        }
        sawText = sawText || draws[i].fvf == kTextFvf;
    }
    EXPECT_TRUE(sawText);
    // The gauges are the last of the table; the legend follows them: its panel with the lap's
    // colour square (two quads), then its line of text.
    ASSERT_GE(draws.size(), 3u);
    EXPECT_EQ(draws.back().fvf, kTextFvf);
    const DrawCallRecord& legendPanel = draws[draws.size() - 2];
    EXPECT_EQ(legendPanel.fvf, kScreenFvf);
    EXPECT_EQ(legendPanel.primitiveCount, 4u);
    const DrawCallRecord& gauges = draws[draws.size() - 3];
    EXPECT_EQ(gauges.fvf, kScreenFvf);
    EXPECT_EQ(gauges.primitiveCount, 2u * kGaugeQuadsPerColumn);

    // Q hides the table: the frame ends with the ribbon. At time 0 the ribbon is its
    // degenerate first pair only.
    v.HandleKeyAction('Q');
    v.SetPlaybackTime(0);
    const std::vector<DrawCallRecord> plain = DrawsOfOneFrame();
    // The mesh in three batches, the bars, the ribbon, the car, the legend's panel and text.
    ASSERT_EQ(plain.size(), 8u);
    EXPECT_EQ(plain[4].primitiveCount, 2u);
    EXPECT_EQ(plain[5].primitiveCount, 2u);
    EXPECT_EQ(plain[6].fvf, kScreenFvf);
    EXPECT_EQ(plain[6].cullMode, D3DCULL_CW);
    EXPECT_EQ(plain[7].fvf, kTextFvf);
}

TEST_F(ViewRenderTest, FrameClearsToTheTracksBackgroundOrBlack) {
    window.client = {0, 0, 64, 40};
    View().OnSize(64, 40);
    View().OnPaint();
    ASSERT_EQ(window.lastFrame.size(), 64u * 40u);
    EXPECT_EQ(window.lastFrame[0], 0xFF000000u);  // no track loaded
    ASSERT_TRUE(View().AddReplay(world.AddLap("a", BuildLap({}))));
    View().HandleKeyAction('Q');
    View().OnPaint();
    EXPECT_EQ(window.lastFrame[0] & 0xFFFFFFu, 0x143C14u);  // the mesh's 20, 60, 20
}

TEST_F(ViewRenderTest, LegendStandsOnADarkPanelWithTheLapsColourSquare) {
    window.client = {0, 0, 400, 300};
    LoadedView();
    View().HandleKeyAction('Q');
    View().OnPaint();
    ASSERT_EQ(window.lastFrame.size(), 400u * 300u);
    const auto at = [&](int x, int y) {
        return window.lastFrame[static_cast<std::size_t>(y) * 400 + static_cast<std::size_t>(x)] &
               0xFFFFFFu;
    };
    // Outside the panel the mesh's 20, 60, 20; inside its padding the translucent dark grey
    // (alpha 0xB0) over it.
    EXPECT_EQ(at(3, 296), 0x143C14u);
    const std::uint32_t panel = at(9, 290);
    EXPECT_NEAR(static_cast<int>((panel >> 8) & 0xFF), (0x14 * 0xB0 + 0x3C * 0x4F) / 0xFF, 2);
    EXPECT_NEAR(static_cast<int>(panel >> 16), 0x14, 2);
    // The lap's square shows its ribbon colour exactly, opaque.
    int square = 0;
    for (int y = 250; y < 300; ++y) {
        for (int x = 0; x < 40; ++x) square += at(x, y) == 0x0000FFu;
    }
    EXPECT_GE(square, 36);
    EXPECT_LE(square, 100);
}

TEST_F(ViewRenderTest, ObjectsAreRebuiltOnResizeLoadClearAndAfterALostDevice) {
    CAnalysisView& v = LoadedView();
    ASSERT_NE(v.SceneBuffers().track.buffer, nullptr);
    ASSERT_NE(v.SceneBuffers().paths[0].buffer, nullptr);
    const float aspect = v.Projection().m[1][1] / v.Projection().m[0][0];
    EXPECT_NEAR(aspect, 1280.0f / 800.0f, test::kFloatTolerance);

    window.client = {0, 0, 400, 400};
    const int resets = v.ResetDeviceCalls();
    v.OnSize(400, 400);
    EXPECT_EQ(v.ResetDeviceCalls(), resets + 1);
    EXPECT_EQ(window.device->Width(), 400);
    EXPECT_NEAR(v.Projection().m[1][1] / v.Projection().m[0][0], 1.0f, test::kFloatTolerance);
    EXPECT_NE(v.SceneBuffers().track.buffer, nullptr);

    // A device that cannot be reset yet skips frames; the playback step still runs each time.
    v.HandleKeyAction('S');
    window.device->SimulateDeviceLost(false);
    const int presents = window.presents;
    for (int f = 0; f < 3; ++f) {
        now += 0.1;
        v.OnPaint();
    }
    EXPECT_EQ(window.presents, presents);
    EXPECT_EQ(v.Playback().playbackTime, 30);
    // Once it can be reset the next frame resets it, rebuilds everything and draws.
    window.device->SimulateDeviceLost(true);
    v.OnPaint();
    EXPECT_EQ(v.ResetDeviceCalls(), resets + 2);
    EXPECT_EQ(window.presents, presents + 1);
    EXPECT_NE(v.SceneBuffers().paths[0].buffer, nullptr);

    // A clear releases the buffers before the data go and rebuilds without them.
    v.ClearReplays();
    EXPECT_EQ(v.SceneBuffers().track.buffer, nullptr);
    EXPECT_EQ(v.SceneBuffers().paths[0].buffer, nullptr);
    EXPECT_EQ(v.Overlay().statsPanelBuffer, nullptr);
    EXPECT_NE(v.FpsFont().glyphTexture, nullptr);  // the fonts come back with every rebuild
    v.OnDestroy();
    EXPECT_FALSE(v.HasDevice());
}

TEST_F(ViewRenderTest, VertexBufferFailureShowsItsMessageAndStopsTheBuild) {
    CAnalysisView& v = LoadedView();
    const std::size_t scrollCalls = window.scrollInfos.size();
    // Three font buffers, the panel, the markers, then the mesh: the mesh fails.
    window.device->FailVertexBufferCreationAfter(5);
    v.OnSize(1280, 800);
    EXPECT_EQ(window.messages, std::vector<std::string>{kBufferMessage});
    EXPECT_NE(v.SceneBuffers().markers.buffer, nullptr);
    EXPECT_EQ(v.SceneBuffers().track.buffer, nullptr);
    EXPECT_EQ(v.SceneBuffers().paths[0].buffer, nullptr);
    EXPECT_EQ(window.scrollInfos.size(), scrollCalls);  // no camera update after the failure
    // The panel fails: nothing of the map is made.
    window.device->FailVertexBufferCreationAfter(3);
    v.OnSize(1280, 800);
    EXPECT_EQ(window.messages.size(), 2u);
    EXPECT_EQ(v.SceneBuffers().markers.buffer, nullptr);
    // Everything again once buffers can be made.
    window.device->FailVertexBufferCreationAfter(-1);
    v.OnSize(1280, 800);
    EXPECT_EQ(window.messages.size(), 2u);
    EXPECT_NE(v.SceneBuffers().paths[0].buffer, nullptr);
    EXPECT_GT(window.scrollInfos.size(), scrollCalls);
}

TEST_F(ViewRenderTest, FrameWithoutItsBarBufferDrawsTheRestAndStillPlays) {
    CAnalysisView& v = LoadedView();
    v.HandleKeyAction('S');
    window.device->FailVertexBufferCreationAfter(0);  // only the per-frame bar buffer is made now
    const int presents = window.presents;
    now += 0.05;
    const std::vector<DrawCallRecord> draws = DrawsOfOneFrame();
    EXPECT_EQ(window.presents, presents + 1);
    EXPECT_EQ(v.Playback().playbackTime, 5);
    ASSERT_FALSE(draws.empty());
    EXPECT_EQ(draws.back().fvf, kTextFvf);  // the texts were drawn, the gauges were not
    EXPECT_TRUE(window.messages.empty());   // a frame's failure is not reported
}

TEST_F(ViewRenderTest, FontsFollowTheDeviceObjectsInTheirOrder) {
    CAnalysisView& v = LoadedView();
    const TextureFont* fonts[] = {&v.FpsFont(), &v.ValueFont(), &v.LabelFont()};
    EXPECT_STREQ(fonts[0]->fontName, "Arial");
    EXPECT_EQ(fonts[0]->fontHeight, 12u);
    EXPECT_STREQ(fonts[1]->fontName, "Courier New");
    EXPECT_STREQ(fonts[2]->fontName, "Times New Roman");
    for (const TextureFont* f : fonts) {
        EXPECT_EQ(f->fontHeight, f == fonts[0] ? 12u : 9u);
        EXPECT_EQ(f->fontFlags, 0u);
        EXPECT_NE(f->glyphTexture, nullptr);
        EXPECT_NE(f->vertexBuffer, nullptr);
    }
    TextSize size;
    ASSERT_EQ(v.ValueFont().MeasureText("+8888888.81234", &size), S_OK);
    EXPECT_EQ(v.Overlay().numberFieldWidth, size.cx);
    EXPECT_EQ(v.Overlay().lineHeight, size.cy);
    EXPECT_EQ(v.Overlay().columnWidth, size.cx + 3);

    // Only two textures can be made: the Arial and Courier New fonts get them, in that order.
    window.device->FailTextureCreationAfter(2);
    v.OnSize(1280, 800);
    EXPECT_NE(fonts[0]->glyphTexture, nullptr);
    EXPECT_NE(fonts[1]->glyphTexture, nullptr);
    EXPECT_EQ(fonts[2]->glyphTexture, nullptr);
    window.device->FailTextureCreationAfter(-1);

    // At twice the logical DPI the number field is about twice as wide.
    window.dpi = 192;
    v.OnSize(1280, 800);
    EXPECT_NEAR(v.Overlay().numberFieldWidth, 2 * size.cx, 4);
    v.OnDestroy();
    for (const TextureFont* f : fonts) {
        EXPECT_EQ(f->glyphTexture, nullptr);
        EXPECT_EQ(f->vertexBuffer, nullptr);
    }
}

TEST_F(ViewRenderTest, ScrollBarsFollowTheCameraAndMoveIt) {
    CAnalysisView& v = LoadedView();
    // The straight's mesh spans x -500 .. 1500 and y -1000 .. 1000; the car is at the origin
    // and 500 m below the camera, which sees 662.7 m by 414.2 m.
    ASSERT_FALSE(window.shownBars.empty());
    EXPECT_EQ(window.shownBars.back(), std::make_pair(ScrollBarId::Both, true));
    const ScrollInfo h = window.GetScrollInfo(ScrollBarId::Horizontal);
    EXPECT_EQ(h.nMin, -500);
    EXPECT_EQ(h.nPage, 662u);
    EXPECT_EQ(h.nMax, 1500 + 662);
    EXPECT_EQ(h.nPos, 0);
    const ScrollInfo vb = window.GetScrollInfo(ScrollBarId::Vertical);
    EXPECT_EQ(vb.nMin, 0);
    EXPECT_EQ(vb.nPage, 414u);
    EXPECT_EQ(vb.nMax, 2000 + 414);
    EXPECT_EQ(vb.nPos, 1000);

    v.OnHScroll(SB_PAGERIGHT);
    EXPECT_NEAR(v.CameraTarget().x, 662.7417f, test::kMetreTolerance);
    EXPECT_EQ(window.GetScrollInfo(ScrollBarId::Horizontal).nPos, 662);
    v.OnVScroll(SB_LINEDOWN);
    EXPECT_NEAR(v.CameraTarget().y, -0.05f * 414.2136f, test::kMetreTolerance);
    // Thumbs are read from the bars themselves, negative positions included.
    window.DragThumb(ScrollBarId::Horizontal, -300);
    v.OnHScroll(SB_THUMBTRACK);
    EXPECT_FLOAT_EQ(v.CameraTarget().x, -300.0f);
    window.DragThumb(ScrollBarId::Vertical, 0);
    v.OnVScroll(SB_THUMBPOSITION);
    EXPECT_FLOAT_EQ(v.CameraTarget().y, 1000.0f);  // the top edge
    v.OnHScroll(SB_RIGHT);
    EXPECT_FLOAT_EQ(v.CameraTarget().x, 1500.0f);
    v.OnHScroll(SB_PAGERIGHT);  // clamped to the map
    EXPECT_FLOAT_EQ(v.CameraTarget().x, 1500.0f);

    // Behind the car the bars keep the top-down page: the target lags 300 records (here the
    // first record) and the page is what the top-down camera would show.
    v.HandleKeyAction('T');
    const ScrollInfo chase = window.GetScrollInfo(ScrollBarId::Horizontal);
    EXPECT_EQ(chase.nPage, 662u);
    EXPECT_EQ(chase.nPos, 0);
    EXPECT_EQ(window.GetScrollInfo(ScrollBarId::Vertical).nPage, 414u);

    // Without a map the bars get a page larger than their range.
    v.ClearReplays();
    const ScrollInfo hidden = window.GetScrollInfo(ScrollBarId::Horizontal);
    EXPECT_EQ(hidden.nMax - hidden.nMin + 1, 2);
    EXPECT_EQ(hidden.nPage, 2u);
}

// A lap round a circle of 100 m, turning 0.002 rad per record, its distance still 0.25 m per
// record so that the markers stay at records 200, 600 and 1200.
ReplayFile CircleLap() {
    ReplayFile lap = BuildLap({});
    for (std::size_t k = 0; k < lap.records.size(); ++k) {
        const float a = 0.002f * static_cast<float>(k);
        ReplayRecord& r = lap.records[k];
        r.position = {100.0f * std::sin(a), 100.0f * (1.0f - std::cos(a)), 0.0f};
        r.forwardAxis = {0.5f * std::cos(a), 0.5f * std::sin(a), 0.0f};
        r.lateralAxis = {-0.5f * std::sin(a), 0.5f * std::cos(a), 0.0f};
    }
    return lap;
}

TEST_F(ViewRenderTest, ChaseCameraStaysBehindTheCarInEverySyncMode) {
    CAnalysisView& v = LoadedView(CircleLap());
    v.HandleKeyAction('T');
    for (const SyncMode mode : {SyncMode::Lap, SyncMode::SegmentMarker, SyncMode::DetectedCorner}) {
        v.SetSyncMode(mode);
        v.HandleKeyAction(VK_NEXT);  // a later segment, so the car's record is not the time
        v.SetPlaybackTime(100);
        const std::int32_t k = v.RecordIndexAt(0, v.Playback().playbackTime);
        if (mode != SyncMode::Lap) {
            ASSERT_NE(k, v.Playback().playbackTime);
        }
        const ReplayRecord& car = v.Replays().replays[0].records[static_cast<std::size_t>(k)];
        EXPECT_EQ(v.FollowPoint().x, car.position.x);
        // The eye, from the inverse of the view: 300 m from the car, behind it on the ground.
        Matrix4 inverse;
        D3DXMatrixInverse(&inverse, nullptr, &v.ViewMatrix());
        const float ex = inverse.m[3][0] - car.position.x;
        const float ey = inverse.m[3][1] - car.position.y;
        const float back = std::atan2(-ey, -ex);  // the direction from the eye to the car
        const float forward = std::atan2(car.forwardAxis.y, car.forwardAxis.x);
        // The heading is the mean over 50 records round the car's; near the end of the lap the
        // window is cut to one side, at most 25 records of 0.002 rad. A window round the
        // playback time instead would be 600 records (1.2 rad) off.
        EXPECT_NEAR(std::remainder(back - forward, 2.0f * 3.14159265f), 0.0f, 0.05f)
            << static_cast<int>(mode) << " record " << k;
        EXPECT_NEAR(std::hypot(ex, ey), 300.0f * std::cos(0.5f), 0.5f);
    }
}

}  // namespace
}  // namespace lapquill
