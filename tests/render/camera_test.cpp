#include "render/camera.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "math/math3d.h"
#include "support/compare.h"

namespace lapquill {
namespace {

using test::kFloatTolerance;
using test::kMetreTolerance;
using test::kPixelTolerance;

constexpr ClientRect kClient{0, 0, 1280, 800};
constexpr float kDegree = 3.14159265f / 180.0f;

// The tests keep each record's heading in its distance field, so that the averaging can be
// checked on chosen headings.
float HeadingInDistance(const ReplayRecord& r) {
    return r.distance;
}

std::vector<ReplayRecord> RecordsWithHeadings(const std::vector<float>& headings) {
    std::vector<ReplayRecord> out(headings.size());
    for (std::size_t i = 0; i < headings.size(); ++i) {
        out[i].distance = headings[i];
        out[i].position = {static_cast<float>(i), 2.0f * static_cast<float>(i), 1.0f};
    }
    return out;
}

struct Screen {
    float x, y;   // pixels
    float depth;  // 0 at the near plane, 1 at the far plane
};

Screen Project(const Vector3& p, const Matrix4& view, const Matrix4& projection) {
    Matrix4 vp;
    D3DXMatrixMultiply(&vp, &view, &projection);
    const auto& m = vp.m;
    const float x = p.x * m[0][0] + p.y * m[1][0] + p.z * m[2][0] + m[3][0];
    const float y = p.x * m[0][1] + p.y * m[1][1] + p.z * m[2][1] + m[3][1];
    const float z = p.x * m[0][2] + p.y * m[1][2] + p.z * m[2][2] + m[3][2];
    const float w = p.x * m[0][3] + p.y * m[1][3] + p.z * m[2][3] + m[3][3];
    return {(x / w + 1) * kClient.right / 2.0f, (1 - y / w) * kClient.bottom / 2.0f, z / w};
}

// Where the ray meets the ground plane z = 0.
Vector3 GroundHit(const Ray& r) {
    const float t = -r.origin.z / r.direction.z;
    return {r.origin.x + r.direction.x * t, r.origin.y + r.direction.y * t, 0};
}

CameraState TopDownAt(float x, float y, float groundZ = 0) {
    CameraState s;
    s.cameraTarget = {x, y, groundZ + s.cameraHeight};
    return s;
}

TEST(VisibleGroundRect, DefaultHeightShows414MetresTopToBottom) {
    const Matrix4 p = ProjectionMatrix(kClient);
    const CameraState s = TopDownAt(30, -40);
    const GroundRect g = VisibleGroundRect(p, TopDownViewMatrix(s), kClient);
    const float height = 2 * 500 * std::tan(3.14159265f / 8);  // 414.21 m
    EXPECT_NEAR(g.y0 - g.y1, height, kMetreTolerance);
    EXPECT_NEAR(g.x1 - g.x0, height * 1.6f, kMetreTolerance);  // aspect 1280 / 800
    // Centred on the target, +X to the right and +Y up.
    EXPECT_NEAR((g.x0 + g.x1) / 2, 30, kMetreTolerance);
    EXPECT_NEAR((g.y0 + g.y1) / 2, -40, kMetreTolerance);
    EXPECT_LT(g.x0, g.x1);
    EXPECT_GT(g.y0, g.y1);
}

TEST(PickRay, GroundPointsProjectBackToTheirPixel) {
    const Matrix4 p = ProjectionMatrix(kClient);
    CameraState top = TopDownAt(1234.5f, -678.25f, 12);
    CameraState chase;
    chase.followCar = true;
    chase.followPoint = {100, 200, 0};
    struct Row {
        const char* name;
        Matrix4 view;
    };
    const Row rows[] = {{"top-down", TopDownViewMatrix(top)},
                        {"chase", ChaseViewMatrix(chase, 1.0f)}};
    // Pixels in the lower part of the window: under the chase camera they see the ground.
    const int pixels[][2] = {{0, 500}, {640, 400}, {1279, 799}, {17, 611}, {1100, 450}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        for (const auto& px : pixels) {
            const Ray ray = PickRay(p, row.view, kClient, px[0], px[1]);
            const Screen s = Project(GroundHit(ray), row.view, p);
            EXPECT_NEAR(s.x, px[0], kPixelTolerance);
            EXPECT_NEAR(s.y, px[1], kPixelTolerance);
        }
    }
}

TEST(ChaseViewMatrix, EyeSitsBehindAndAboveTheCar) {
    CameraState s;
    s.followPoint = {100, 200, 5};
    const Matrix4 p = ProjectionMatrix(kClient);
    for (const float heading : {0.0f, 1.0f, 4.0f}) {
        SCOPED_TRACE(heading);
        const Matrix4 v = ChaseViewMatrix(s, heading);
        Matrix4 placement;
        ASSERT_NE(D3DXMatrixInverse(&placement, nullptr, &v), nullptr);
        const Vector3 eye{placement.m[3][0], placement.m[3][1], placement.m[3][2]};
        const float dx = eye.x - 100, dy = eye.y - 200, dz = eye.z - 5;
        EXPECT_NEAR(std::hypot(dx, dy), 263.27f, 0.01f);  // 300 cos 0.5
        EXPECT_NEAR(dz, 143.83f, 0.01f);                  // 300 sin 0.5
        // The car's forward direction on the ground is (-sin h, -cos h); the eye is behind.
        const float along = -dx * std::sin(heading) - dy * std::cos(heading);
        EXPECT_NEAR(along, -263.27f, 0.01f);
        const Screen car = Project(s.followPoint, v, p);
        EXPECT_NEAR(car.x, 640, kPixelTolerance);
        EXPECT_NEAR(car.y, 400, kPixelTolerance);
    }
}

TEST(SmoothedHeading, AveragesAcrossNorth) {
    const std::vector<ReplayRecord> r = RecordsWithHeadings({340 * kDegree, 10 * kDegree});
    EXPECT_NEAR(SmoothedHeading(r, 0, 50, HeadingInDistance), 355 * kDegree, kFloatTolerance);
    EXPECT_NEAR(SmoothedHeading(r, 1, 50, HeadingInDistance), 355 * kDegree, kFloatTolerance);
}

TEST(SmoothedHeading, WindowIsClippedToTheReplay) {
    // Heading 1 for records 0..25, 2 afterwards: a window of 50 centred on c covers c - 24 ..
    // c + 25.
    std::vector<float> h(100, 2.0f);
    for (int i = 0; i <= 25; ++i) h[i] = 1.0f;
    const std::vector<ReplayRecord> r = RecordsWithHeadings(h);
    EXPECT_NEAR(SmoothedHeading(r, 0, 50, HeadingInDistance), 1.0f, kFloatTolerance);
    EXPECT_NEAR(SmoothedHeading(r, 50, 50, HeadingInDistance), 2.0f, kFloatTolerance);
    EXPECT_NEAR(SmoothedHeading(r, 49, 50, HeadingInDistance), 1.98f, kFloatTolerance);
    EXPECT_NEAR(SmoothedHeading(r, 99, 50, HeadingInDistance), 2.0f, kFloatTolerance);
    EXPECT_EQ(SmoothedHeading({}, 0, 50, HeadingInDistance), 0.0f);
    EXPECT_EQ(SmoothedHeading(r, 200, 50, HeadingInDistance), 0.0f);  // beyond the last record
}

TEST(ComputeCameraFrame, ChaseCameraOnlyWithACarToFollow) {
    const Matrix4 p = ProjectionMatrix(kClient);
    CameraState s = TopDownAt(0, 0);
    s.followCar = true;
    s.followPoint = {10, 20, 0};
    CameraState copy = s;
    const CameraFrame none = ComputeCameraFrame(&copy, nullptr, p, kClient, ChaseCar{});
    const Matrix4 topDown = TopDownViewMatrix(s);
    EXPECT_EQ(std::memcmp(&none.view, &topDown, sizeof topDown), 0);

    // Under the chase camera the heading is averaged around the car's own record.
    std::vector<float> h(200, 0.5f);
    for (int i = 100; i < 200; ++i) h[i] = 2.5f;
    const std::vector<ReplayRecord> r = RecordsWithHeadings(h);
    const CameraFrame chase =
        ComputeCameraFrame(&copy, nullptr, p, kClient, ChaseCar{r, 150, HeadingInDistance});
    const Matrix4 expected = ChaseViewMatrix(s, 2.5f);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) EXPECT_NEAR(chase.view.m[i][j], expected.m[i][j], 1e-4f);
}

TEST(ZoomTopDown, TwentyFiveStepsOutPutTheGroundBeyondTheFarPlane) {
    CameraState s = TopDownAt(0, 0, 12);
    for (int i = 0; i < 25; ++i) EXPECT_EQ(ZoomOut(&s), CameraFollowUp::UpdateCamera);
    EXPECT_NEAR(s.cameraHeight / (500 * std::pow(1.1f, 25.0f)), 1.0f, kFloatTolerance);
    EXPECT_NEAR(s.cameraTarget.z - s.cameraHeight, 12, kMetreTolerance);
    const Matrix4 p = ProjectionMatrix(kClient);
    EXPECT_GT(Project({0, 0, 12}, TopDownViewMatrix(s), p).depth, 1.0f);

    CameraState in = TopDownAt(0, 0, 12);
    for (int i = 0; i < 66; ++i) EXPECT_EQ(ZoomIn(&in), CameraFollowUp::UpdateCamera);
    EXPECT_LT(in.cameraHeight, 1.0f);
    EXPECT_NEAR(in.cameraTarget.z - in.cameraHeight, 12, kMetreTolerance);
    EXPECT_LT(Project({0, 0, 12}, TopDownViewMatrix(in), p).depth, 0.0f);
}

TEST(ZoomChase, StepsByThreePercentAtLeastOneMetre) {
    struct Row {
        std::int32_t from, in, out;
    };
    const Row rows[] = {{300, 291, 309},
                        {20, 19, 21},
                        {1, 1, 2},
                        {34, 33, 35},
                        {std::numeric_limits<std::int32_t>::max(), 2083059138,
                         std::numeric_limits<std::int32_t>::max()}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.from);
        CameraState s;
        s.followCar = true;
        s.followDistance = row.from;
        EXPECT_EQ(ZoomIn(&s), CameraFollowUp::ApplyPlaybackTime);
        EXPECT_EQ(s.followDistance, row.in);
        s.followDistance = row.from;
        EXPECT_EQ(ZoomOut(&s), CameraFollowUp::ApplyPlaybackTime);
        EXPECT_EQ(s.followDistance, row.out);
        EXPECT_FLOAT_EQ(s.cameraHeight, 500);
    }
}

TEST(TrackCar, CentresOnTheCarOrLagsBehindWhileFollowing) {
    std::vector<ReplayRecord> r = RecordsWithHeadings(std::vector<float>(1000, 0.0f));
    CameraState s;
    TrackCar(&s, r, 400);
    EXPECT_FLOAT_EQ(s.cameraTarget.x, 400);
    EXPECT_FLOAT_EQ(s.cameraTarget.y, 800);
    EXPECT_FLOAT_EQ(s.cameraTarget.z, 501);

    s.followCar = true;
    TrackCar(&s, r, 400);
    EXPECT_FLOAT_EQ(s.followPoint.x, 400);
    EXPECT_FLOAT_EQ(s.cameraTarget.x, 100);  // 300 records earlier
    TrackCar(&s, r, 120);
    EXPECT_FLOAT_EQ(s.followPoint.x, 120);
    EXPECT_FLOAT_EQ(s.cameraTarget.x, 0);  // not before the first record
}

TEST(PanCamera, TopDownMovesFivePercentChaseChangesHeight) {
    const GroundRect g{-100, 50, 300, -150};  // 400 m wide, 200 m high
    CameraState s = TopDownAt(10, 20, 3);
    PanCamera(&s, CameraPan::Left, g);
    EXPECT_FLOAT_EQ(s.cameraTarget.x, -10);
    PanCamera(&s, CameraPan::Up, g);
    EXPECT_FLOAT_EQ(s.cameraTarget.y, 30);
    EXPECT_FLOAT_EQ(s.cameraHeight, 500);

    s.followCar = true;  // left and right do nothing; up and down move the top-down height
    PanCamera(&s, CameraPan::Right, g);
    EXPECT_FLOAT_EQ(s.cameraTarget.x, -10);
    PanCamera(&s, CameraPan::Up, g);
    EXPECT_FLOAT_EQ(s.cameraHeight, 550);
    EXPECT_NEAR(s.cameraTarget.z, 553, kMetreTolerance);
    PanCamera(&s, CameraPan::Down, g);
    EXPECT_NEAR(s.cameraTarget.z, 503, kMetreTolerance);
    EXPECT_FLOAT_EQ(s.cameraTarget.y, 30);
}

TEST(ComputeCameraFrame, PanStopsAtTheMapEdgeOnlyWithAMap) {
    const MapExtent extent{{-100, -200, 0}, {900, 300, 10}};
    const Matrix4 p = ProjectionMatrix(kClient);
    CameraState s = TopDownAt(-90, 290);
    for (int i = 0; i < 3; ++i) {
        const GroundRect g = VisibleGroundRect(p, TopDownViewMatrix(s), kClient);
        PanCamera(&s, CameraPan::Left, g);
        PanCamera(&s, CameraPan::Up, g);
        ComputeCameraFrame(&s, &extent, p, kClient, ChaseCar{});
    }
    EXPECT_FLOAT_EQ(s.cameraTarget.x, -100);
    EXPECT_FLOAT_EQ(s.cameraTarget.y, 300);
    EXPECT_FLOAT_EQ(s.cameraTarget.z, 500);  // height is never clamped

    CameraState free = TopDownAt(-90, 290);
    const GroundRect g = VisibleGroundRect(p, TopDownViewMatrix(free), kClient);
    PanCamera(&free, CameraPan::Left, g);
    ComputeCameraFrame(&free, nullptr, p, kClient, ChaseCar{});
    EXPECT_NEAR(free.cameraTarget.x, -90 - 0.05f * (g.x1 - g.x0), kMetreTolerance);
}

TEST(ComputeScrollBars, DescribesTheTargetOverTheMap) {
    const MapExtent extent{{-100.5f, -200.7f, 0}, {900.9f, 300.2f, 10}};
    const Matrix4 p = ProjectionMatrix(kClient);
    CameraState s = TopDownAt(250.7f, 100.5f);
    const CameraFrame f = ComputeCameraFrame(&s, &extent, p, kClient, ChaseCar{});
    ASSERT_TRUE(f.scrollBars.show);
    const ScrollInfo& h = f.scrollBars.horizontal;
    EXPECT_EQ(h.cbSize, 28u);
    EXPECT_EQ(h.fMask, 0x1Fu);
    EXPECT_EQ(h.nPage, 662u);  // 662.74 m visible
    EXPECT_EQ(h.nMin, -100);
    EXPECT_EQ(h.nMax, 900 + 662);
    EXPECT_EQ(h.nPos, 250);
    const ScrollInfo& v = f.scrollBars.vertical;
    EXPECT_EQ(v.fMask, 0x1Fu);
    EXPECT_EQ(v.nPage, 414u);
    EXPECT_EQ(v.nMin, 0);
    EXPECT_EQ(v.nMax, 914);  // trunc(500.9 + 414)
    EXPECT_EQ(v.nPos, 199);  // trunc(300.2 - 100.5): measured down from the top edge

    const ScrollBars hidden = ComputeScrollBars(s, nullptr, f.ground);
    EXPECT_FALSE(hidden.show);
    for (const ScrollInfo& i : {hidden.horizontal, hidden.vertical}) {
        EXPECT_EQ(i.fMask, 0x17u);
        EXPECT_EQ(i.nMin, 0);
        EXPECT_EQ(i.nMax, 1);
        EXPECT_EQ(i.nPage, 2u);
        EXPECT_EQ(i.nPos, 0);
    }
}

TEST(ComputeScrollBars, DegenerateGroundGivesDefinedValues) {
    const MapExtent extent{{0, 0, 0}, {10, 10, 0}};
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const ScrollBars b = ComputeScrollBars(TopDownAt(5, 5), &extent, GroundRect{nan, 0, 1e30f, 0});
    EXPECT_EQ(b.horizontal.nPage, 0u);  // never a negative page shown as a huge unsigned one
    EXPECT_EQ(b.horizontal.nPos, 5);
    const ScrollBars below = ComputeScrollBars(TopDownAt(5, 5), &extent, GroundRect{4, 0, 2, 3});
    EXPECT_EQ(below.horizontal.nPage, 0u);
    EXPECT_EQ(below.vertical.nPage, 0u);
}

TEST(OnScroll, LinePageThumbAndEdges) {
    const MapExtent extent{{-100, -200, 0}, {900, 300, 10}};
    const GroundRect g{0, 100, 400, -100};  // 400 m wide, 200 m high
    ScrollInfo bar;
    struct Row {
        const char* name;
        bool horizontal;
        std::uint32_t code;
        std::int32_t trackPos;
        float expected;  // the target's x or y afterwards, from (50, 60)
    };
    const Row rows[] = {
        {"line left", true, SB_LINELEFT, 0, 30},
        {"line right", true, SB_LINERIGHT, 0, 70},
        {"page left", true, SB_PAGELEFT, 0, -350},
        {"page right", true, SB_PAGERIGHT, 0, 450},
        {"thumb beyond 16 bits", true, SB_THUMBTRACK, 70000, 70000},
        {"thumb negative", true, SB_THUMBPOSITION, -5000, -5000},
        {"left edge", true, SB_LEFT, 0, -100},
        {"right edge", true, SB_RIGHT, 0, 900},
        {"end scroll", true, SB_ENDSCROLL, 0, 50},
        {"line up", false, SB_LINEUP, 0, 70},
        {"line down", false, SB_LINEDOWN, 0, 50},
        {"page up", false, SB_PAGEUP, 0, 260},
        {"page down", false, SB_PAGEDOWN, 0, -140},
        {"thumb at 0 is the top edge", false, SB_THUMBTRACK, 0, 300},
        {"thumb down", false, SB_THUMBPOSITION, 450, -150},
        {"top", false, SB_TOP, 0, 300},
        {"bottom", false, SB_BOTTOM, 0, -200},
        {"unknown", false, 9, 0, 60},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CameraState s = TopDownAt(50, 60);
        bar.nTrackPos = row.trackPos;
        if (row.horizontal) {
            OnHScroll(&s, row.code, bar, extent, g);
            EXPECT_FLOAT_EQ(s.cameraTarget.x, row.expected);
            EXPECT_FLOAT_EQ(s.cameraTarget.y, 60);
        } else {
            OnVScroll(&s, row.code, bar, extent, g);
            EXPECT_FLOAT_EQ(s.cameraTarget.y, row.expected);
            EXPECT_FLOAT_EQ(s.cameraTarget.x, 50);
        }
    }
}

}  // namespace
}  // namespace lapquill
