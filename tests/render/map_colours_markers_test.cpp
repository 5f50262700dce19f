// The map's ribbon colours, their legend, the car-marker geometry and the whole-track framing.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "math/math3d.h"
#include "render/camera.h"
#include "render/car_markers.h"
#include "render/ribbon_colours.h"

namespace lapquill {
namespace {

// A lap along +x at 25 m/s and 75 % throttle that brakes to 15 m/s over records [100, 200).
ReplayFile StraightLap(int records) {
    ReplayFile lap;
    for (int i = 0; i < records; ++i) {
        ReplayRecord r;
        r.throttle = 0.75f;
        r.speed = i < 100 ? 25.0f : (i < 200 ? 25.0f - 0.1f * static_cast<float>(i - 100) : 15.0f);
        r.position = {0.25f * static_cast<float>(i), 0, 0};
        r.lateralAxis = {0, 0.5f, 0};
        r.forwardAxis = {0.5f, 0, 0};
        lap.records.push_back(r);
    }
    return lap;
}

int Luma(std::uint32_t c) {
    return (299 * static_cast<int>((c >> 16) & 0xFF) + 587 * static_cast<int>((c >> 8) & 0xFF) +
            114 * static_cast<int>(c & 0xFF)) / 1000;
}

TEST(SpeedMapColour, RunsFromDarkVioletToYellowGettingLighterAllTheWay) {
    EXPECT_EQ(SpeedMapColour(0.0f), 0xFF440154u);
    EXPECT_EQ(SpeedMapColour(1.0f), 0xFFFDE725u);
    EXPECT_EQ(SpeedMapColour(-3.0f), SpeedMapColour(0.0f));
    EXPECT_EQ(SpeedMapColour(7.0f), SpeedMapColour(1.0f));
    EXPECT_EQ(SpeedMapColour(std::numeric_limits<float>::quiet_NaN()), SpeedMapColour(0.0f));
    // Equal steps of speed never step back in lightness, so the map reads as an ordering.
    int previous = -1;
    for (int k = 0; k <= 64; ++k) {
        const std::uint32_t c = SpeedMapColour(static_cast<float>(k) / 64.0f);
        EXPECT_EQ(c >> 24, 0xFFu);
        EXPECT_GE(Luma(c), previous) << k;
        previous = Luma(c);
    }
}

TEST(PedalColour, BrakeWinsOverThrottleAboveTheThreshold) {
    EXPECT_EQ(PedalColour(0.0f, 0.0f), kCoastColour);
    EXPECT_EQ(PedalColour(1.0f, 0.0f), kThrottleColour);
    EXPECT_EQ(PedalColour(1.0f, 1.0f), kBrakeColour);  // both pressed: braking
    EXPECT_EQ(PedalColour(0.0f, 4.0f), kBrakeColour);  // clamped
    // A brake resting below the threshold does not hide the throttle.
    EXPECT_EQ(PedalColour(1.0f, kBrakeThreshold / 2), kThrottleColour);
    const std::uint32_t half = PedalColour(0.0f, 0.5f);
    EXPECT_GT((half >> 16) & 0xFF, (kCoastColour >> 16) & 0xFF);
    EXPECT_LT((half >> 16) & 0xFF, (kBrakeColour >> 16) & 0xFF);
}

TEST(RibbonRecordColours, EachColouringGivesOneColourPerRecord) {
    ReplayFile lap = StraightLap(300);
    lap.records[5].speed = std::numeric_limits<float>::infinity();  // a damaged sample
    lap.records[200].brake = 1.0f;
    const ReplayFile laps[] = {lap};
    const SpeedRange range = LapsSpeedRange(laps);
    EXPECT_FLOAT_EQ(range.hi, 25.0f);
    EXPECT_FLOAT_EQ(range.lo, 15.0f);

    const auto byLap = RibbonRecordColours(lap, RibbonColouring::ByLap, 0x800000FFu, range);
    ASSERT_EQ(byLap.size(), 300u);
    for (std::uint32_t c : byLap) ASSERT_EQ(c, 0x800000FFu);

    const auto bySpeed = RibbonRecordColours(lap, RibbonColouring::BySpeed, 0, range);
    ASSERT_EQ(bySpeed.size(), 300u);
    EXPECT_EQ(bySpeed[0], SpeedMapColour(1.0f));    // the fastest record
    EXPECT_EQ(bySpeed[299], SpeedMapColour(0.0f));  // the slowest, after the braking
    EXPECT_EQ(bySpeed[5], SpeedMapColour(0.0f));    // a non-finite speed has no place on the map

    const auto byPedals = RibbonRecordColours(lap, RibbonColouring::ByPedals, 0, range);
    EXPECT_EQ(byPedals[0], PedalColour(0.75f, 0.0f));
    EXPECT_EQ(byPedals[200], kBrakeColour);

    // No finite speed at all: an empty range, every record at the map's start.
    EXPECT_EQ(SpeedFraction(20.0f, SpeedRange{}), 0.0f);
    EXPECT_EQ(LapsSpeedRange({}).hi, 0.0f);
}

TEST(BuildRibbonVertices, ThePairOfEachRecordTakesThatRecordsColour) {
    const ReplayFile lap = StraightLap(4);
    const std::uint32_t colours[] = {1, 2, 3, 4};
    const std::vector<MapVertex> v = BuildRibbonVertices(lap, colours);
    ASSERT_EQ(v.size(), 24u);
    for (std::size_t i = 0; i < v.size(); ++i) EXPECT_EQ(v[i].colour, colours[i / 6]) << i;
    // One colour for the whole ribbon gives the same geometry.
    const std::vector<MapVertex> plain = BuildRibbonVertices(lap, 9u);
    ASSERT_EQ(plain.size(), v.size());
    for (std::size_t i = 0; i < v.size(); ++i) {
        EXPECT_EQ(plain[i].x, v[i].x);
        EXPECT_EQ(plain[i].y, v[i].y);
        EXPECT_EQ(plain[i].colour, 9u);
    }
}

TEST(RibbonLegend, NamesWhatEachColouringMeans) {
    const std::string titles[] = {"Anna", "Ben"};
    const std::uint32_t colours[] = {0x800000FFu, 0x80FF0000u};
    const SpeedRange range{10.0f, 50.0f};
    const auto laps = RibbonLegend(RibbonColouring::ByLap, titles, colours, range, {});
    ASSERT_EQ(laps.size(), 2u);
    EXPECT_EQ(laps[1].text, "Ben");
    EXPECT_EQ(laps[1].colour, 0xFFFF0000u);

    const auto kmh = RibbonLegend(RibbonColouring::BySpeed, titles, colours, range, {});
    ASSERT_EQ(kmh.size(), 5u);
    EXPECT_EQ(kmh.front().text, "180 km/h");  // fastest on top
    EXPECT_EQ(kmh.front().colour, SpeedMapColour(1.0f));
    EXPECT_EQ(kmh.back().text, "36 km/h");
    DisplayUnits mph;
    mph.speedUnit = 1;
    EXPECT_EQ(RibbonLegend(RibbonColouring::BySpeed, titles, colours, range, mph).front().text,
              "112 mph");

    const auto pedals = RibbonLegend(RibbonColouring::ByPedals, titles, colours, range, {});
    ASSERT_EQ(pedals.size(), 3u);
    EXPECT_EQ(pedals.front().colour, kThrottleColour);
    EXPECT_EQ(pedals.back().text, "Brake");

    for (RibbonColouring c :
         {RibbonColouring::ByLap, RibbonColouring::BySpeed, RibbonColouring::ByPedals}) {
        EXPECT_EQ(ParseRibbonColouring(RibbonColouringName(c)), c);
    }
    EXPECT_FALSE(ParseRibbonColouring("delta-ish"));
}

TEST(CarArrowAt, PointsAlongTheHeadingWithTheTailAcrossIt) {
    const CarArrow a = CarArrowAt({100, 50, 3}, {0.5f, 0, 0}, 10.0f);  // heading +x
    EXPECT_FLOAT_EQ(a.nose.x, 106.0f);
    EXPECT_FLOAT_EQ(a.nose.y, 50.0f);
    EXPECT_FLOAT_EQ(a.left.x, 96.0f);
    EXPECT_FLOAT_EQ(a.left.y, 54.0f);  // left of +x with Z up is +y
    EXPECT_FLOAT_EQ(a.right.y, 46.0f);
    EXPECT_FLOAT_EQ(a.nose.z, 3.0f);

    const CarArrow north = CarArrowAt({0, 0, 0}, {0, -2.0f, 0}, 10.0f);  // heading -y
    EXPECT_NEAR(north.nose.x, 0.0f, 1e-6f);
    EXPECT_FLOAT_EQ(north.nose.y, -6.0f);
    EXPECT_FLOAT_EQ(north.left.x, 4.0f);
    // A missing heading still gives an arrow, pointing along +y.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (const Vector3 f : {Vector3{0, 0, 1}, Vector3{nan, 0, 0}}) {
        const CarArrow z = CarArrowAt({0, 0, 0}, f, 10.0f);
        EXPECT_FLOAT_EQ(z.nose.y, 6.0f);
        EXPECT_FLOAT_EQ(z.nose.x, 0.0f);
    }
}

TEST(AppendCarMarker, DarkOutlineFirstThenTheArrowInsideIt) {
    std::vector<MapVertex> v;
    AppendCarMarker({10, 0, 1}, {1, 0, 0}, 10.0f, 0x800000FFu, &v);
    AppendCarMarker({20, 0, 1}, {1, 0, 0}, 10.0f, 0x80FF0000u, &v);
    ASSERT_EQ(v.size(), 2u * kCarMarkerVertices);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(v[static_cast<std::size_t>(i)].colour, kCarOutlineColour);
    for (int i = 3; i < 6; ++i) EXPECT_EQ(v[static_cast<std::size_t>(i)].colour, 0x800000FFu);
    EXPECT_EQ(v[9].colour, 0x80FF0000u);
    EXPECT_FLOAT_EQ(v[0].x, 10.0f + 6.0f * kCarOutlineScale);  // the outline's nose
    EXPECT_FLOAT_EQ(v[3].x, 16.0f);                            // the arrow's nose
    EXPECT_FLOAT_EQ(v[1].y, 4.0f * kCarOutlineScale);
    for (const MapVertex& p : v) EXPECT_FLOAT_EQ(p.z, 1.0f + kCarMarkerLift);

    EXPECT_FLOAT_EQ(CarMarkerLength(1.0f), kCarMarkerPixels);
    EXPECT_FLOAT_EQ(CarMarkerLength(0.01f), kCarMarkerMinLength);
    EXPECT_FLOAT_EQ(CarMarkerLength(std::numeric_limits<float>::infinity()), kCarMarkerMinLength);
    EXPECT_FLOAT_EQ(CarMarkerLength(-1.0f), kCarMarkerMinLength);

    // Beside a circuit: 22 px at 5 m/px would be 110 m, an eighth of a 900 m circuit; it is
    // held to a twelfth of it, never below a car, and only a usable span limits it.
    EXPECT_FLOAT_EQ(CarMarkerLength(5.0f, 900.0f), 75.0f);
    EXPECT_FLOAT_EQ(CarMarkerLength(1.0f, 900.0f), kCarMarkerPixels);
    EXPECT_FLOAT_EQ(CarMarkerLength(5.0f, 30.0f), kCarMarkerMinLength);
    EXPECT_FLOAT_EQ(CarMarkerLength(5.0f, 0.0f), 110.0f);
    EXPECT_FLOAT_EQ(CarMarkerLength(5.0f, std::numeric_limits<float>::quiet_NaN()), 110.0f);
}

// The framed box's corners all land inside the picture, and it fills most of one side.
// The eight corners of the box in clip space, seen from the framing's top-down camera.
std::array<Vector3, 8> ClipCorners(const MapExtent& box, const ClientRect& rc,
                                   const WholeTrackView& w) {
    CameraState s;
    s.cameraTarget = w.target;
    s.cameraHeight = w.height;
    Matrix4 vp;
    const Matrix4 view = TopDownViewMatrix(s);
    const Matrix4 proj = ProjectionMatrix(rc);
    D3DXMatrixMultiply(&vp, &view, &proj);
    std::array<Vector3, 8> out;
    for (int i = 0; i < 8; ++i) {
        const Vector3 p{(i & 1) ? box.max.x : box.min.x, (i & 2) ? box.max.y : box.min.y,
                        (i & 4) ? box.max.z : box.min.z};
        D3DXVec3TransformCoord(&out[static_cast<std::size_t>(i)], &p, &vp);
    }
    return out;
}

void ExpectFramed(const MapExtent& box, const ClientRect& rc) {
    const std::array<Vector3, 8> corners = ClipCorners(box, rc, WholeTrackFraming(box, rc));
    float widest = 0;
    for (int i = 0; i < 8; ++i) {
        const Vector3& clip = corners[static_cast<std::size_t>(i)];
        EXPECT_LE(std::fabs(clip.x), 1.0f) << i;
        EXPECT_LE(std::fabs(clip.y), 1.0f) << i;
        EXPECT_GT(clip.z, 0.0f) << i;
        EXPECT_LT(clip.z, 1.0f) << i;
        widest = std::max({widest, std::fabs(clip.x), std::fabs(clip.y)});
    }
    EXPECT_GT(widest, 0.85f);
}

TEST(WholeTrackFraming, FitsWideAndTallCircuitsInAnyWindow) {
    const MapExtent wide{{-1000, 200, 0}, {600, 700, 12}};
    const MapExtent tall{{0, -900, -5}, {300, 400, 5}};
    for (const ClientRect& rc : {ClientRect{0, 0, 1280, 800}, ClientRect{0, 0, 400, 900}}) {
        ExpectFramed(wide, rc);
        ExpectFramed(tall, rc);
    }
    const WholeTrackView w = WholeTrackFraming(wide, {0, 0, 1280, 800});
    EXPECT_FLOAT_EQ(w.target.x, -200.0f);
    EXPECT_FLOAT_EQ(w.target.y, 450.0f);
    EXPECT_FLOAT_EQ(w.target.z, 12.0f + w.height);
}

}  // namespace
}  // namespace lapquill

namespace lapquill {
namespace {

TEST(DeltaRateColour, GreenWhileGainingRedWhileLosingGreyWhenEven) {
    EXPECT_EQ(DeltaRateColour(0.0), kCoastColour);
    EXPECT_EQ(DeltaRateColour(kDeltaRateFull), kBrakeColour);
    EXPECT_EQ(DeltaRateColour(10 * kDeltaRateFull), kBrakeColour);
    EXPECT_EQ(DeltaRateColour(-kDeltaRateFull), kThrottleColour);
    EXPECT_EQ(DeltaRateColour(std::numeric_limits<double>::quiet_NaN()), kCoastColour);
    const std::uint32_t slightLoss = DeltaRateColour(kDeltaRateFull / 4);
    EXPECT_GT((slightLoss >> 16) & 0xFF, (kCoastColour >> 16) & 0xFF);
    EXPECT_LT((slightLoss >> 16) & 0xFF, (kBrakeColour >> 16) & 0xFF);
    const double rates[] = {-1.0, 0.0, 1.0};
    EXPECT_EQ(DeltaRecordColours(rates),
              (std::vector<std::uint32_t>{kThrottleColour, kCoastColour, kBrakeColour}));
    const std::string titles[] = {"Anna"};
    const std::uint32_t colours[] = {1};
    const auto legend = RibbonLegend(RibbonColouring::ByDelta, titles, colours, {}, {});
    ASSERT_EQ(legend.size(), 4u);
    EXPECT_EQ(legend.back().text, "against Anna");
    EXPECT_EQ(ParseRibbonColouring("delta"), RibbonColouring::ByDelta);
}

}  // namespace
}  // namespace lapquill

namespace lapquill {
namespace {

TEST(WidenedRange, GrowsAboutTheMiddleUpToTheMinimumButNoMoreThanTheScaleAllows) {
    const LateralRange offsets{-0.2f, 1.0f};  // 1.2 m, its middle at 0.4
    const LateralRange same = WidenedRange(offsets, RibbonWidening{});
    EXPECT_EQ(same.lo, offsets.lo);
    EXPECT_EQ(same.hi, offsets.hi);
    const LateralRange wide = WidenedRange(offsets, {6.0f, 10.0f});
    EXPECT_FLOAT_EQ(wide.lo, 0.4f - 3.0f);
    EXPECT_FLOAT_EQ(wide.hi, 0.4f + 3.0f);
    const LateralRange capped = WidenedRange(offsets, {6.0f, 2.0f});
    EXPECT_FLOAT_EQ(capped.hi - capped.lo, 2.4f);
    EXPECT_FLOAT_EQ(capped.lo + capped.hi, 0.8f);
    // Already wide enough, or a widening that is not a number: as it was.
    EXPECT_EQ(WidenedRange(offsets, {1.0f, 10.0f}).hi, offsets.hi);
    EXPECT_EQ(WidenedRange(offsets, {std::nanf(""), 10.0f}).hi, offsets.hi);
    EXPECT_EQ(WidenedRange(offsets, {6.0f, std::numeric_limits<float>::infinity()}).hi, offsets.hi);
}

TEST(RibbonWidthStep, NoneUpToTheDefaultHeightThenOneEveryThirdOfADoubling) {
    EXPECT_EQ(RibbonWidthStep(kDefaultCameraHeight), 0);
    EXPECT_EQ(RibbonWidthStep(10.0f), 0);
    EXPECT_EQ(RibbonWidthStep(kDefaultCameraHeight * 1.25f), 0);
    EXPECT_EQ(RibbonWidthStep(kDefaultCameraHeight * 1.27f), 1);
    EXPECT_EQ(RibbonWidthStep(kDefaultCameraHeight * 2.01f), kRibbonStepsPerDoubling);
    EXPECT_EQ(RibbonWidthStep(kDefaultCameraHeight * 8.1f), 3 * kRibbonStepsPerDoubling);
    EXPECT_EQ(RibbonWidthStep(std::nanf("")), 0);
    EXPECT_EQ(RibbonWidthStep(std::numeric_limits<float>::infinity()), 0);

    EXPECT_EQ(RibbonWideningAt(0, 800, 1.0f).maxScale, 1.0f);
    EXPECT_EQ(RibbonWideningAt(5, 0, 1.0f).maxScale, 1.0f);
    // At step 6 (four times the default height) the minimum is kRibbonMinPixels seen from
    // there, twice as many metres on a screen of twice the density.
    const float metresPerPixel = 2.0f * 4 * kDefaultCameraHeight * std::tan(kFieldOfView / 2) / 800;
    const RibbonWidening w = RibbonWideningAt(2 * kRibbonStepsPerDoubling, 800, 1.0f);
    EXPECT_NEAR(w.minWidth, kRibbonMinPixels * metresPerPixel, 1e-3f);
    EXPECT_NEAR(w.maxScale, 16.0f, 1e-4f);
    EXPECT_NEAR(RibbonWideningAt(2 * kRibbonStepsPerDoubling, 800, 2.0f).minWidth, 2 * w.minWidth,
                1e-3f);
}

// Every corner of the box, projected from the framing's camera, inside `free` and the client.
void ExpectInside(const MapExtent& box, const ClientRect& rc, const WholeTrackView& w,
                  const ClientRect& free) {
    const std::array<Vector3, 8> corners = ClipCorners(box, rc, w);
    for (int i = 0; i < 8; ++i) {
        const Vector3& clip = corners[static_cast<std::size_t>(i)];
        const float x = (clip.x + 1) / 2 * static_cast<float>(rc.right);
        const float y = (1 - clip.y) / 2 * static_cast<float>(rc.bottom);
        EXPECT_GE(x, static_cast<float>(free.left)) << i;
        EXPECT_LE(x, static_cast<float>(free.right)) << i;
        EXPECT_GE(y, static_cast<float>(free.top)) << i;
        EXPECT_LE(y, static_cast<float>(free.bottom)) << i;
    }
}

TEST(WholeTrackFraming, FramesIntoTheRoomTheCoveredPartsLeave) {
    const ClientRect rc{0, 0, 1280, 800};
    // Flat, and with lower corners 400 m below the top, which the eye sees nearer the centre.
    const MapExtent flat{{-1000, 200, 0}, {600, 1500, 12}};
    const MapExtent deep{{-1000, 200, -400}, {600, 1500, 12}};
    const ClientRect table{570, 0, 1280, 400};
    const ClientRect legend{8, 700, 80, 792};
    const ClientRect covered[] = {table, legend};
    for (const MapExtent& box : {flat, deep}) {
        const WholeTrackView w = WholeTrackFraming(box, rc, covered);
        // Left of the table (down to the legend) is 570 x 700; below it 1280 x 300: the box
        // of 1600 x 1300 m shows larger on the left.
        EXPECT_EQ(w.free.left, 0);
        EXPECT_EQ(w.free.right, 570);
        EXPECT_EQ(w.free.top, 0);
        EXPECT_EQ(w.free.bottom, 700);
        ExpectInside(box, rc, w, w.free);
        // It fills most of the room: it is not framed from needlessly high.
        const float metresPerPixel = 2.0f * w.height * std::tan(kFieldOfView / 2) / 800;
        EXPECT_GT((box.max.x - box.min.x) / metresPerPixel, 570 * 0.85f);
    }
    // A wide box goes below the table instead.
    const MapExtent wide{{-2000, 0, 0}, {2000, 300, 5}};
    const WholeTrackView below = WholeTrackFraming(wide, rc, covered);
    // Between the table and the legend: 1280 x 300 holds it larger than 1200 x 400 beside the
    // legend.
    EXPECT_EQ(below.free.top, 400);
    EXPECT_EQ(below.free.bottom, 700);
    EXPECT_EQ(below.free.left, 0);
    ExpectInside(wide, rc, below, below.free);

    // Nothing covered, or every part of the client covered: the whole client, as before.
    const WholeTrackView plain = WholeTrackFraming(flat, rc);
    const ClientRect all[] = {{-5, -5, 2000, 2000}};
    const WholeTrackView under = WholeTrackFraming(flat, rc, all);
    for (const WholeTrackView& v : {plain, under}) {
        EXPECT_EQ(v.free.right, 1280);
        EXPECT_EQ(v.free.bottom, 800);
        EXPECT_FLOAT_EQ(v.target.x, -200.0f);
        EXPECT_FLOAT_EQ(v.target.y, 850.0f);
        ExpectInside(flat, rc, v, rc);
    }
    // Empty covered parts are ignored.
    const ClientRect empty[] = {{300, 300, 300, 500}};
    EXPECT_EQ(WholeTrackFraming(flat, rc, empty).height, plain.height);
}

}  // namespace
}  // namespace lapquill
