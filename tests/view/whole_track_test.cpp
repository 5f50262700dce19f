// The map seen from far out, with the demo's six laps: the ribbons keep a width a driver can see
// and are built again only when the zoom reaches another step, the default view keeps its
// ribbons exactly, and Whole Track puts the whole circuit where neither the table nor the
// legend covers it, at 100 % and 200 %, with the table shown and hidden.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "math/math3d.h"
#include "render/car_markers.h"
#include "support/demo_folder.h"
#include "support/fake_window.h"
#include "view/analysis_view.h"

namespace lapquill {
namespace {

// The demo's laps loaded into a view of the given size and dpi, at the end of replay 0's lap.
class FarMapTest : public ::testing::Test {
  protected:
    void Open(int width, int height, int dpi = 96) {
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(test::DemoFolder());
        window_.client = {0, 0, width, height};
        window_.dpi = dpi;
        window_.AnswerDialog(test::DemoLapPaths());
        view_ = std::make_unique<CAnalysisView>(window_, [this] { return now_; });
        view_->OnSize(width, height);
        view_->OnPaint();
        view_->OpenReplays(true);
        view_->HandleKeyAction(VK_END);
        ASSERT_EQ(view_->ReplayCount(), 6);
        ASSERT_NE(view_->TrackBounds(), nullptr);
    }
    ~FarMapTest() override {
        view_.reset();
        if (!previous_.empty()) std::filesystem::current_path(previous_);
    }

    // The vertices of slot i's ribbon as the device holds them.
    std::vector<MapVertex> Ribbon(int slot) const {
        const SceneBuffer& path = view_->SceneBuffers().paths[static_cast<std::size_t>(slot)];
        std::vector<MapVertex> out(static_cast<std::size_t>(path.triangleCount) * 3);
        std::uint8_t* bytes = nullptr;
        const auto size = static_cast<std::uint32_t>(out.size() * sizeof(MapVertex));
        EXPECT_GE(path.buffer->Lock(0, size, &bytes, D3DLOCK_READONLY), 0);
        std::memcpy(out.data(), bytes, size);
        path.buffer->Unlock();
        return out;
    }

    // Where a world point lands on the client, pixels.
    Vector3 OnScreen(const Vector3& p) const {
        Matrix4 vp;
        D3DXMatrixMultiply(&vp, &view_->ViewMatrix(), &view_->Projection());
        Vector3 clip;
        D3DXVec3TransformCoord(&clip, &p, &vp);
        const ClientRect rc = window_.client;
        return {(clip.x + 1) / 2 * static_cast<float>(rc.right),
                (1 - clip.y) / 2 * static_cast<float>(rc.bottom), clip.z};
    }

    // The narrowest on-screen width of slot i's ribbon across its records (A_k to B_k are the
    // second and first vertex of record k's pair).
    float NarrowestPixels(int slot) const {
        const std::vector<MapVertex> v = Ribbon(slot);
        float narrowest = 1e30f;
        for (std::size_t k = 6; k + 6 <= v.size(); k += 600) {
            const Vector3 b = OnScreen({v[k].x, v[k].y, v[k].z});
            const Vector3 a = OnScreen({v[k + 1].x, v[k + 1].y, v[k + 1].z});
            narrowest = std::min(narrowest, std::hypot(a.x - b.x, a.y - b.y));
        }
        return narrowest;
    }

    test::FakeWindow window_;
    std::unique_ptr<CAnalysisView> view_;
    double now_ = 0;
    std::filesystem::path previous_;
};

TEST_F(FarMapTest, RibbonsAreAsTheirOffsetsMakeThemAtTheDefaultHeightAndInTheChaseCamera) {
    Open(1280, 800);
    EXPECT_EQ(view_->CameraHeight(), kDefaultCameraHeight);
    EXPECT_EQ(view_->RibbonWidthStepBuilt(), 0);
    const std::vector<std::uint32_t> colours(view_->Replays().replays[2].records.size(),
                                             kReplayColours[2]);
    const std::vector<MapVertex> expected = BuildRibbonVertices(view_->Replays().replays[2], colours);
    const std::vector<MapVertex> drawn = Ribbon(2);
    ASSERT_EQ(drawn.size(), expected.size());
    EXPECT_EQ(std::memcmp(drawn.data(), expected.data(), drawn.size() * sizeof(MapVertex)), 0);

    // Far out the ribbons widen; the chase camera from there draws them as at the default.
    view_->FrameWholeTrack();
    EXPECT_GT(view_->RibbonWidthStepBuilt(), 0);
    view_->HandleKeyAction('T');
    ASSERT_TRUE(view_->FollowCar());
    EXPECT_EQ(view_->RibbonWidthStepBuilt(), 0);
    const std::vector<MapVertex> chase = Ribbon(2);
    ASSERT_EQ(chase.size(), expected.size());
    EXPECT_EQ(std::memcmp(chase.data(), expected.data(), chase.size() * sizeof(MapVertex)), 0);
}

TEST_F(FarMapTest, FarOutTheRibbonsKeepTheirMinimumWidthOnScreenAndRebuildOnlyAtASteps) {
    for (int dpi : {96, 192}) {
        SCOPED_TRACE(dpi);
        Open(1280, 800, dpi);
        const float scale = static_cast<float>(dpi) / 96.0f;
        const std::vector<MapVertex> atDefault = Ribbon(0);
        view_->FrameWholeTrack();
        ASSERT_GT(view_->CameraHeight(), 4 * kDefaultCameraHeight);
        for (int slot = 0; slot < 6; ++slot) {
            // Within a step the width on screen falls by at most one step's rise.
            EXPECT_GE(NarrowestPixels(slot),
                      kRibbonMinPixels * scale / std::exp2(1.0f / kRibbonStepsPerDoubling) - 0.05f)
                << slot;
        }
        // Zooming out further widens them again in metres but keeps them about as wide on screen.
        const int resets = view_->ResetDeviceCalls();
        for (int i = 0; i < 8; ++i) view_->HandleKeyAction('X');
        EXPECT_GE(NarrowestPixels(0), kRibbonMinPixels * scale / 1.3f);
        EXPECT_LE(NarrowestPixels(0), kRibbonMinPixels * scale * 1.05f);
        // A rebuild of the ribbons is no reset of the device.
        EXPECT_EQ(view_->ResetDeviceCalls(), resets);
        // Back below the first step the ribbons are again exactly as their offsets make them.
        for (int i = 0; i < 200 && view_->CameraHeight() > kDefaultCameraHeight * 1.01f; ++i) {
            view_->HandleKeyAction('Z');
        }
        EXPECT_EQ(view_->RibbonWidthStepBuilt(), 0);
        const std::vector<MapVertex> back = Ribbon(0);
        ASSERT_EQ(back.size(), atDefault.size());
        EXPECT_EQ(std::memcmp(back.data(), atDefault.data(), back.size() * sizeof(MapVertex)), 0);
        view_.reset();
        std::filesystem::current_path(previous_);
        previous_.clear();
    }
}

TEST_F(FarMapTest, ZoomingBuildsTheRibbonsOnlyWhenTheStepChanges) {
    Open(1280, 800);
    VertexBuffer* before = view_->SceneBuffers().paths[0].buffer;
    view_->HandleKeyAction('X');  // 550 m: still the first step
    EXPECT_EQ(view_->RibbonWidthStepBuilt(), 0);
    EXPECT_EQ(view_->SceneBuffers().paths[0].buffer, before);
    view_->HandleKeyAction('X');
    view_->HandleKeyAction('X');  // 665.5 m, past 500 x 2^(1/3)
    EXPECT_EQ(view_->RibbonWidthStepBuilt(), 1);
    // Frames of playback at the same height build nothing.
    VertexBuffer* stepOne = view_->SceneBuffers().paths[0].buffer;
    view_->HandleKeyAction(VK_HOME);
    view_->HandleKeyAction('S');
    for (int i = 0; i < 5; ++i) {
        now_ += 0.01;
        view_->RenderFrame();
    }
    EXPECT_EQ(view_->SceneBuffers().paths[0].buffer, stepOne);
}

// Every corner of the track's box lands inside the client and outside everything drawn over
// the map.
void ExpectClear(const std::vector<ClientRect>& covered, const ClientRect& rc, const MapExtent& box,
                 const std::function<Vector3(const Vector3&)>& onScreen) {
    for (int i = 0; i < 8; ++i) {
        const Vector3 p = onScreen({(i & 1) ? box.max.x : box.min.x,
                                    (i & 2) ? box.max.y : box.min.y,
                                    (i & 4) ? box.max.z : box.min.z});
        EXPECT_GE(p.x, 0.0f) << i;
        EXPECT_LE(p.x, static_cast<float>(rc.right)) << i;
        EXPECT_GE(p.y, 0.0f) << i;
        EXPECT_LE(p.y, static_cast<float>(rc.bottom)) << i;
    }
    // The box's outline on screen (its top and bottom) stays clear of every covered part.
    float x0 = 1e30f, x1 = -1e30f, y0 = 1e30f, y1 = -1e30f;
    for (int i = 0; i < 8; ++i) {
        const Vector3 p = onScreen({(i & 1) ? box.max.x : box.min.x,
                                    (i & 2) ? box.max.y : box.min.y,
                                    (i & 4) ? box.max.z : box.min.z});
        x0 = std::min(x0, p.x);
        x1 = std::max(x1, p.x);
        y0 = std::min(y0, p.y);
        y1 = std::max(y1, p.y);
    }
    for (const ClientRect& c : covered) {
        const bool apart = x1 <= static_cast<float>(c.left) || x0 >= static_cast<float>(c.right) ||
                           y1 <= static_cast<float>(c.top) || y0 >= static_cast<float>(c.bottom);
        EXPECT_TRUE(apart) << "box " << x0 << ".." << x1 << " x " << y0 << ".." << y1
                           << " under " << c.left << ".." << c.right << " x " << c.top << ".."
                           << c.bottom;
    }
}

TEST_F(FarMapTest, WholeTrackKeepsTheCircuitClearOfTheTableAndLegend) {
    struct Case {
        const char* name;
        int width, height, dpi;
    };
    const Case cases[] = {{"1280 x 800", 1280, 800, 96},
                          {"map pane of 1920 x 1200", 1150, 760, 96},
                          {"large map pane at 200 %", 2300, 1500, 192},
                          {"tall window", 700, 1000, 96}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Open(c.width, c.height, c.dpi);
        view_->FrameWholeTrack();
        const MapExtent box = *view_->TrackBounds();
        const auto onScreen = [this](const Vector3& p) { return OnScreen(p); };
        const std::vector<ClientRect> covered = view_->MapCoveredNow();
        ASSERT_EQ(covered.size(), 2u);  // the table and the legend
        EXPECT_EQ(covered[0].right, c.width);
        EXPECT_EQ(covered[0].top, 0);
        EXPECT_EQ(covered[1].bottom, c.height - (c.dpi == 96 ? 8 : 16));
        ExpectClear(covered, window_.client, box, onScreen);
        // The table hidden, the circuit takes the room it leaves and shows larger.
        const float framedHeight = view_->CameraHeight();
        view_->HandleKeyAction('Q');
        ASSERT_FALSE(view_->StatsVisible());
        EXPECT_EQ(view_->MapCoveredNow().size(), 1u);
        EXPECT_LT(view_->CameraHeight(), framedHeight);
        ExpectClear(view_->MapCoveredNow(), window_.client, box, onScreen);
        view_->HandleKeyAction('Q');
        EXPECT_FLOAT_EQ(view_->CameraHeight(), framedHeight);
        // A new window size frames it again.
        window_.client = {0, 0, c.width - 100, c.height};
        view_->OnSize(c.width - 100, c.height);
        ExpectClear(view_->MapCoveredNow(), window_.client, box, onScreen);
        // A pan ends the framing.
        view_->HandleKeyAction(VK_LEFT);
        EXPECT_FALSE(view_->WholeTrackFramed());
        view_.reset();
        std::filesystem::current_path(previous_);
        previous_.clear();
    }
}

// Where the framing leaves the target beside the map (the table covers the top right, so the
// circuit is centred lower left), whatever moves the camera next starts from the picture as it
// is: a drag moves the ground under the pointer by the drag, a pan key by its 5 % of the
// client, a zoom keeps the ground under the client's centre, a scroll bar's line step moves
// like the pan. Once pans bring the target onto the map it is kept there as ever. (Before,
// the first move snapped the target onto the map's box, and the picture jumped.)
TEST_F(FarMapTest, AfterWholeTrackTheCameraMovesOnFromTheFramedPictureWithoutAJump) {
    struct Case {
        const char* name;
        int width, height, dpi;
    };
    const Case cases[] = {{"map pane of 1920 x 1200", 1150, 760, 96},
                          {"wide window", 1600, 600, 96},
                          {"large map pane at 200 %", 2300, 1500, 192}};
    // A move counts as continuous when every point lands within this of where the move alone
    // puts it: the framing's own rounding is far below a pixel, a snap onto the map is tens.
    constexpr float kPixelSlack = 0.75f;
    bool someOffMap = false;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Open(c.width, c.height, c.dpi);
        const MapExtent box = *view_->TrackBounds();
        const auto offMap = [&box](const Vector3& t) {
            return t.x < box.min.x || t.x > box.max.x || t.y < box.min.y || t.y > box.max.y;
        };
        // Ground points at z = 0, the plane the drags and pan steps are measured on.
        const Vector3 corner{box.min.x, box.min.y, 0.0f};
        const Vector3 opposite{box.max.x, box.max.y, 0.0f};
        const auto expectAt = [&](const Vector3& p, float x, float y, const char* what) {
            const Vector3 s = OnScreen(p);
            EXPECT_NEAR(s.x, x, kPixelSlack) << what;
            EXPECT_NEAR(s.y, y, kPixelSlack) << what;
        };

        // The framing centres the circuit away from the table, so the target lies on the far
        // side of the circuit's centre: the moves below go back towards the circuit, the way
        // a driver who wants a closer look goes.
        view_->FrameWholeTrack();
        const Vector3 framed = view_->CameraTarget();
        someOffMap = someOffMap || offMap(framed);
        const bool rightOfCentre = framed.x > (box.min.x + box.max.x) / 2;
        const bool aboveCentre = framed.y > (box.min.y + box.max.y) / 2;
        // Client pixels the picture moves by: right when the camera goes left, and so on.
        const float step = 0.05f * static_cast<float>(c.width);
        const float shift = rightOfCentre ? step : -step;

        // A drag.
        const std::int32_t dx = rightOfCentre ? 12 : -12, dy = aboveCentre ? -9 : 9;
        Vector3 a = OnScreen(corner), b = OnScreen(opposite);
        view_->DragMap(dx, dy);
        EXPECT_FALSE(view_->WholeTrackFramed());
        expectAt(corner, a.x + static_cast<float>(dx), a.y + static_cast<float>(dy), "drag, near corner");
        expectAt(opposite, b.x + static_cast<float>(dx), b.y + static_cast<float>(dy), "drag, far corner");

        // A pan key: the ground shifts by 5 % of the client's width.
        view_->FrameWholeTrack();
        a = OnScreen(corner);
        view_->HandleKeyAction(rightOfCentre ? VK_LEFT : VK_RIGHT);
        expectAt(corner, a.x + shift, a.y, "pan");

        // A zoom: the ground under the centre stays, every point moves straight away from it.
        view_->FrameWholeTrack();
        a = OnScreen(corner);
        const float cx = static_cast<float>(c.width) / 2, cy = static_cast<float>(c.height) / 2;
        view_->HandleKeyAction('X');
        EXPECT_FLOAT_EQ(view_->CameraTarget().x, framed.x);
        EXPECT_FLOAT_EQ(view_->CameraTarget().y, framed.y);
        const Vector3 z = OnScreen(corner);
        // (a - centre) and (z - centre) point the same way.
        EXPECT_NEAR((a.x - cx) * (z.y - cy) - (a.y - cy) * (z.x - cx), 0.0f,
                    kPixelSlack * std::hypot(a.x - cx, a.y - cy)) << "zoom out";

        // A line step of the horizontal bar, which also moves by 5 % of the visible ground.
        view_->FrameWholeTrack();
        a = OnScreen(corner);
        view_->OnHScroll(rightOfCentre ? SB_LINELEFT : SB_LINERIGHT);
        expectAt(corner, a.x + shift, a.y, "scroll line");
        // The bar's thumb stands where the camera is.
        const ScrollInfo bar = window_.GetScrollInfo(ScrollBarId::Horizontal);
        EXPECT_EQ(bar.nPos, static_cast<std::int32_t>(view_->CameraTarget().x));

        // Panned across the map, the target is kept on it as ever: panning on stops at the
        // map's edges, and the room beside it is not given back.
        view_->FrameWholeTrack();
        const CameraPan towards = rightOfCentre ? CameraPan::Left : CameraPan::Right;
        const CameraPan back = rightOfCentre ? CameraPan::Right : CameraPan::Left;
        for (int i = 0; i < 400; ++i) view_->PanCamera(towards);
        EXPECT_FLOAT_EQ(view_->CameraTarget().x, rightOfCentre ? box.min.x : box.max.x);
        for (int i = 0; i < 400; ++i) view_->PanCamera(back);
        EXPECT_FLOAT_EQ(view_->CameraTarget().x, rightOfCentre ? box.max.x : box.min.x);
        view_.reset();
        std::filesystem::current_path(previous_);
        previous_.clear();
    }
    // Without a framing beside the map this test would prove nothing.
    EXPECT_TRUE(someOffMap);
}

// The map at 200 % in the default layout on a 1920 x 1200 screen: Whole Track draws the circuit
// small, and the cars' arrows, at their usual 22 (96-dpi) pixels, would cover a fifth of it.
// They are held to a twelfth of the circuit there; close up they keep their usual size.
TEST_F(FarMapTest, CarArrowsStaySmallBesideAWholeCircuitOnASmallMap) {
    Open(1880, 620, 192);
    // The on-screen length of the first car's arrow, nose to the middle of its tail, pixels.
    const auto arrowPixels = [this] {
        const std::vector<MapVertex> m = view_->CarMarkersNow();
        EXPECT_EQ(m.size(), 6u * kCarMarkerVertices);
        const Vector3 nose = OnScreen({m[3].x, m[3].y, m[3].z});
        const Vector3 l = OnScreen({m[4].x, m[4].y, m[4].z});
        const Vector3 r = OnScreen({m[5].x, m[5].y, m[5].z});
        return std::hypot(nose.x - (l.x + r.x) / 2, nose.y - (l.y + r.y) / 2);
    };
    // Close up, at the default height: the usual size.
    EXPECT_NEAR(arrowPixels(), kCarMarkerPixels * 2.0f, 1.0f);
    view_->FrameWholeTrack();
    const MapExtent box = *view_->TrackBounds();
    const Vector3 a = OnScreen({box.min.x, box.min.y, box.max.z});
    const Vector3 b = OnScreen({box.max.x, box.max.y, box.max.z});
    const float circuit = std::max(std::fabs(b.x - a.x), std::fabs(b.y - a.y));
    ASSERT_LT(circuit * kCarMarkerTrackShare, kCarMarkerPixels * 2.0f) << "the circuit is not small";
    EXPECT_LE(arrowPixels(), circuit * kCarMarkerTrackShare + 1.0f);
}

}  // namespace
}  // namespace lapquill
