#include "render/map_scene.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "math/math3d.h"
#include "render/software_device.h"
#include "support/compare.h"

namespace lapquill {
namespace {

using test::kFloatTolerance;
using test::kMetreTolerance;

ReplayBlock BlockWithOffset(float offset) {
    ReplayBlock b;
    std::memcpy(b.bytes.data(), &offset, sizeof offset);  // little-endian float at offset 0
    return b;
}

// A replay driving along +Y at 1 m per record, its lateral axis (half a unit long, as the files
// store it) pointing to +X.
ReplayFile StraightReplay(int records, std::vector<float> offsets) {
    ReplayFile r;
    for (float o : offsets) r.blocks.push_back(BlockWithOffset(o));
    for (int i = 0; i < records; ++i) {
        ReplayRecord rec;
        rec.position = {10.0f, static_cast<float>(i), 2.0f};
        rec.lateralAxis = {0.5f, 0.0f, 0.0f};
        rec.forwardAxis = {0.0f, 0.5f, 0.0f};
        r.records.push_back(rec);
    }
    return r;
}

// One object of `triangles` right triangles (legs 0.9 m) laid in a row along +X, one metre
// apart, counter-clockwise seen from above, each a different colour so that the order can be
// read back. The indices start at each triangle's second vertex.
MeshObject RowObject(int triangles, float y) {
    MeshObject o;
    for (int t = 0; t < triangles; ++t) {
        const float x = static_cast<float>(t);
        const auto colour = 0xFF000000u | static_cast<std::uint32_t>(t);
        o.vertices.push_back({x, y, 0, colour});
        o.vertices.push_back({x + 0.9f, y, 0, colour});
        o.vertices.push_back({x, y + 0.9f, 0, colour});
        o.triangles.push_back(
            {{static_cast<std::uint16_t>(3 * t + 1), static_cast<std::uint16_t>(3 * t + 2),
              static_cast<std::uint16_t>(3 * t)}});
    }
    o.vertexCount = static_cast<std::int32_t>(o.vertices.size());
    o.triangleCount = triangles;
    o.centre = {static_cast<float>(triangles) / 2, y, 0};
    o.radius = static_cast<float>(triangles) / 2 + 1;
    return o;
}

SegmentMarkerRecord Marker(Vector3 position, float heading, float width) {
    SegmentMarkerRecord m{};
    m.position = position;
    m.heading = heading;
    m.width = width;
    return m;
}

float Width(const MapVertex& a, const MapVertex& b) {
    return std::hypot(a.x - b.x, a.y - b.y, a.z - b.z);
}

TEST(MeshExtent, SpansEveryObjectsSphere) {
    TrackMesh mesh;
    mesh.objects.resize(2);
    mesh.objects[0].radius = 5;
    mesh.objects[1].centre = {100, -50, 2};
    mesh.objects[1].radius = 10;
    MapExtent e{};
    ASSERT_TRUE(MeshExtent(mesh, &e));
    const float got[6] = {e.min.x, e.min.y, e.min.z, e.max.x, e.max.y, e.max.z};
    const float expected[6] = {-5, -60, -8, 110, 5, 12};
    for (int i = 0; i < 6; ++i) EXPECT_FLOAT_EQ(got[i], expected[i]) << i;
    EXPECT_FALSE(MeshExtent(TrackMesh{}, &e));
}

TEST(BuildMeshVertices, ExpandsTrianglesInFileOrder) {
    TrackMesh mesh;
    mesh.objects = {RowObject(2, 0), RowObject(1, 5)};
    ASSERT_EQ(MeshTriangleCount(mesh), 3);
    const std::vector<MapVertex> v = BuildMeshVertices(mesh);
    ASSERT_EQ(v.size(), 9u);
    // The first triangle of the first object, indices 1, 2, 0.
    EXPECT_FLOAT_EQ(v[0].x, 0.9f);
    EXPECT_FLOAT_EQ(v[1].y, 0.9f);
    EXPECT_FLOAT_EQ(v[2].x, 0.0f);
    EXPECT_FLOAT_EQ(v[2].y, 0.0f);
    EXPECT_EQ(v[3].colour, 0xFF000001u);  // second triangle of the first object
    EXPECT_FLOAT_EQ(v[6].x, 0.9f);        // then the second object
    EXPECT_FLOAT_EQ(v[7].y, 5.9f);
    EXPECT_EQ(v[8].colour, 0xFF000000u);
}

TEST(BuildMarkerVertices, HeadingZeroCoversTheBarAcrossY) {
    const SegmentMarkerRecord m = Marker({5, 5, 1}, 0, 10);
    const std::vector<MapVertex> v = BuildMarkerVertices({&m, 1});
    ASSERT_EQ(v.size(), 6u);
    const float expected[6][2] = {{6, 0}, {6, 10}, {4, 10}, {6, 0}, {4, 10}, {4, 0}};
    for (int i = 0; i < 6; ++i) {
        EXPECT_NEAR(v[i].x, expected[i][0], kFloatTolerance) << "vertex " << i;
        EXPECT_NEAR(v[i].y, expected[i][1], kFloatTolerance) << "vertex " << i;
        EXPECT_FLOAT_EQ(v[i].z, 1);
        EXPECT_EQ(v[i].colour, kMarkerColour);
    }
}

TEST(BuildMarkerVertices, QuarterTurnLaysTheBarAlongX) {
    const SegmentMarkerRecord markers[2] = {Marker({0, 0, 0}, 0, 2),
                                            Marker({50, 20, 3}, 1.5707964f, 8)};
    const std::vector<MapVertex> v = BuildMarkerVertices(markers);
    ASSERT_EQ(v.size(), 12u);
    float minX = 1e9f, maxX = -1e9f, minY = 1e9f, maxY = -1e9f;
    for (int i = 6; i < 12; ++i) {
        minX = std::min(minX, v[i].x);
        maxX = std::max(maxX, v[i].x);
        minY = std::min(minY, v[i].y);
        maxY = std::max(maxY, v[i].y);
        EXPECT_FLOAT_EQ(v[i].z, 3);
    }
    EXPECT_NEAR(minX, 46, kMetreTolerance);
    EXPECT_NEAR(maxX, 54, kMetreTolerance);
    EXPECT_NEAR(minY, 19, kMetreTolerance);
    EXPECT_NEAR(maxY, 21, kMetreTolerance);
}

TEST(LateralOffsetRange, TakesSmallestAndLargestBlock) {
    const LateralRange r = LateralOffsetRange(StraightReplay(1, {0.3f, -0.8f, 0.8f, 0.1f}));
    EXPECT_FLOAT_EQ(r.lo, -0.8f);
    EXPECT_FLOAT_EQ(r.hi, 0.8f);
}

// Issue 4: without blocks the range stayed (1e12, -1e12), a ribbon covering the whole map.
TEST(LateralOffsetRange, ReplayWithoutBlocksGetsOneMetreCentredOnTheCar) {
    const LateralRange r = LateralOffsetRange(StraightReplay(1, {}));
    EXPECT_FLOAT_EQ(r.lo, -0.5f);
    EXPECT_FLOAT_EQ(r.hi, 0.5f);

    const std::vector<MapVertex> v = BuildRibbonVertices(StraightReplay(3, {}), 0xFF00FF00u);
    ASSERT_EQ(v.size(), 18u);
    for (const MapVertex& p : v) EXPECT_NEAR(std::fabs(p.x - 10.0f), 0.5f, kFloatTolerance);
    EXPECT_NEAR(Width(v[6], v[7]), 1.0f, kFloatTolerance);
}

TEST(BuildRibbonVertices, SpansTheOffsetsAlongTheNormalisedLateralAxis) {
    struct Row {
        const char* name;
        std::vector<float> offsets;
        float expectedA, expectedB;  // x of A (lo) and B (hi); the car is at x = 10
    };
    const Row rows[] = {
        {"centred", {-0.8f, 0.8f}, 9.2f, 10.8f},
        {"beside", {0.9f, 0.2f}, 10.2f, 10.9f},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::vector<MapVertex> v = BuildRibbonVertices(StraightReplay(4, row.offsets), 7u);
        ASSERT_EQ(v.size(), 24u);
        // Segment 2 joins record 1 to record 2: B2 A2 A1, B1 B2 A1 (the car's y is its record).
        const struct {
            bool b;
            float y;
        } order[6] = {{true, 2}, {false, 2}, {false, 1}, {true, 1}, {true, 2}, {false, 1}};
        const MapVertex* s = &v[12];
        for (int i = 0; i < 6; ++i) {
            EXPECT_NEAR(s[i].x, order[i].b ? row.expectedB : row.expectedA, kFloatTolerance) << i;
            EXPECT_FLOAT_EQ(s[i].y, order[i].y) << i;
            EXPECT_FLOAT_EQ(s[i].z, 2);
            EXPECT_EQ(s[i].colour, 7u);
        }
        EXPECT_NEAR(Width(s[0], s[1]), row.expectedB - row.expectedA, kFloatTolerance);
    }
}

TEST(BuildRibbonVertices, FirstSegmentIsDegenerate) {
    const std::vector<MapVertex> v = BuildRibbonVertices(StraightReplay(2, {-1, 1}), 1u);
    // B0 A0 A0, B0 B0 A0: both triangles repeat a vertex, so they have no area.
    EXPECT_FLOAT_EQ(v[1].x, v[2].x);
    EXPECT_FLOAT_EQ(v[3].x, v[4].x);
    EXPECT_FLOAT_EQ(v[0].x, 11);
    EXPECT_FLOAT_EQ(v[1].x, 9);
    for (int i = 0; i < 6; ++i) EXPECT_FLOAT_EQ(v[i].y, 0);
}

TEST(TriangleBatches, SplitsIntoCallsOfAtMostTwoHundred) {
    const std::vector<DrawBatch> b = TriangleBatches({0, 450});
    ASSERT_EQ(b.size(), 3u);
    EXPECT_EQ(b[0].startVertex, 0u);
    EXPECT_EQ(b[0].primitiveCount, 200u);
    EXPECT_EQ(b[1].startVertex, 600u);
    EXPECT_EQ(b[1].primitiveCount, 200u);
    EXPECT_EQ(b[2].startVertex, 1200u);
    EXPECT_EQ(b[2].primitiveCount, 50u);

    // A ribbon drawn from its sync point: batches count from there.
    const std::vector<DrawBatch> r = TriangleBatches(RibbonDrawRange(150, 300));
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].startVertex, 900u);
    EXPECT_EQ(r[0].primitiveCount, 200u);
    EXPECT_EQ(r[1].startVertex, 1500u);
    EXPECT_EQ(r[1].primitiveCount, 102u);

    EXPECT_TRUE(TriangleBatches({10, 10}).empty());
    EXPECT_TRUE(TriangleBatches({12, 4}).empty());
    // At the sync point only the degenerate pair of the first record is drawn.
    EXPECT_EQ(TriangleBatches(RibbonDrawRange(0, 0))[0].primitiveCount, 2u);
}

// A top-down camera 100 m above (cx, cy), square window.
struct TopDownScene {
    Matrix4 view, projection, viewProjection;
    TopDownScene(float cx, float cy, float height) {
        D3DXMatrixIdentity(&view);
        view.m[3][0] = -cx;
        view.m[3][1] = -cy;
        view.m[3][2] = -height;
        D3DXMatrixPerspectiveFovRH(&projection, 0.7853982f, 1.0f, 1.0f, 5000.0f);
        D3DXMatrixMultiply(&viewProjection, &view, &projection);
    }
};

struct Frame {
    std::vector<std::uint32_t> pixels;
    std::vector<DrawCallRecord> draws;
};

Frame DrawFrame(const TrackMesh& mesh, std::span<const SegmentMarkerRecord> markers,
                const std::vector<ReplayFile>& replays, std::span<const TriangleRange> ranges,
                const TopDownScene& scene, bool cull) {
    SoftwareDevice device(64, 64);
    MapSceneBuffers buffers;
    const std::vector<std::uint32_t> colours(replays.size(), 0xFFFF0000u);
    EXPECT_EQ(CreateMapSceneBuffers(&device, {&mesh, markers, replays, colours}, &buffers), D3D_OK);
    device.SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
    device.SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
    device.SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device.SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    device.SetTransform(D3DTS_VIEW, &scene.view);
    device.SetTransform(D3DTS_PROJECTION, &scene.projection);
    device.recordDrawCalls = true;
    device.Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000u, 1.0f, 0);
    device.BeginScene();
    DrawMapScene(&device, buffers, ranges, cull ? &scene.viewProjection : nullptr);
    device.EndScene();
    device.Present();
    const PresentedFrame f = device.GetPresentedFrame();
    Frame out;
    for (int y = 0; y < f.height; ++y) {
        const auto* row = reinterpret_cast<const std::uint32_t*>(
            reinterpret_cast<const std::uint8_t*>(f.pixels) + y * f.pitch);
        out.pixels.insert(out.pixels.end(), row, row + f.width);
    }
    out.draws = device.drawCallLog;
    EXPECT_EQ(device.counters.drawCalls, static_cast<std::int64_t>(out.draws.size()));
    ReleaseMapSceneBuffers(&buffers);
    return out;
}

TEST(DrawMapScene, DrawsMeshInBatchesThenMarkersAndRibbonsWithoutCulling) {
    TrackMesh mesh;
    mesh.objects = {RowObject(300, 0), RowObject(150, 2)};
    const SegmentMarkerRecord markers[3] = {Marker({1, 1, 0}, 0, 4), Marker({5, 1, 0}, 0, 4),
                                            Marker({9, 1, 0}, 0, 4)};
    const std::vector<ReplayFile> replays = {StraightReplay(300, {-1, 1}), StraightReplay(10, {})};
    const TriangleRange ranges[2] = {RibbonDrawRange(0, 250), RibbonDrawRange(0, 0)};
    const Frame f = DrawFrame(mesh, markers, replays, ranges, TopDownScene(0, 0, 100), false);

    struct Expected {
        std::uint32_t start, count, cull;
    };
    const Expected expected[] = {
        {0, 200, D3DCULL_CW},   {600, 200, D3DCULL_CW},   {1200, 50, D3DCULL_CW},     // mesh
        {0, 6, D3DCULL_NONE},                                                         // markers
        {0, 200, D3DCULL_NONE}, {600, 200, D3DCULL_NONE}, {1200, 102, D3DCULL_NONE},  // ribbon 0
        {0, 2, D3DCULL_NONE},                                                         // ribbon 1
    };
    ASSERT_EQ(f.draws.size(), std::size(expected));
    for (std::size_t i = 0; i < f.draws.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(f.draws[i].startVertex, expected[i].start);
        EXPECT_EQ(f.draws[i].primitiveCount, expected[i].count);
        EXPECT_EQ(f.draws[i].cullMode, expected[i].cull);
        EXPECT_EQ(f.draws[i].fvf, kMapVertexFvf);
        EXPECT_EQ(f.draws[i].stride, 16u);
    }
}

TEST(DrawMapScene, CullingBatchesOutsideTheViewKeepsThePicture) {
    // 900 triangles over 900 m of x; the camera 40 m above x = 450 sees about 33 m of them, so
    // only the batch under it (and maybe a neighbour) can show.
    TrackMesh mesh;
    MeshObject row = RowObject(900, 0);
    for (MeshVertex& v : row.vertices) v.colour = 0xFF20A040u;
    mesh.objects = {row};
    const std::vector<ReplayFile> replays = {StraightReplay(2000, {-2, 2})};
    // The ribbon runs along +Y at x = 10 from record 5 on; in view only from the second camera.
    const TriangleRange ranges[1] = {RibbonDrawRange(5, 1999)};
    struct View {
        float cx, cy;  // m, under the camera
        bool meshShows, ribbonShows;
    };
    // Over y = 416 the camera sees y from 399.4 on: of the batch of triangles [610, 810) only
    // the part in the second chunk (records 400 on) is in view.
    const View views[] = {
        {450, 0, true, false}, {10, 0, true, true}, {899, 0, true, false}, {10, 416, false, true}};
    for (const View& view : views) {
        SCOPED_TRACE(testing::Message() << view.cx << ", " << view.cy);
        const TopDownScene scene(view.cx, view.cy, 40);
        const Frame all = DrawFrame(mesh, {}, replays, ranges, scene, false);
        const Frame culled = DrawFrame(mesh, {}, replays, ranges, scene, true);
        EXPECT_EQ(all.pixels, culled.pixels);
        EXPECT_LT(culled.draws.size(), all.draws.size());
        const auto green = std::count(all.pixels.begin(), all.pixels.end(), 0xFF20A040u);
        const auto red = std::count(all.pixels.begin(), all.pixels.end(), 0xFFFF0000u);
        EXPECT_EQ(green != 0, view.meshShows);
        EXPECT_EQ(red != 0, view.ribbonShows);
    }
}

TEST(BoxOutsideClipVolume, DecidesPerSideOfTheView) {
    const TopDownScene scene(0, 0, 100);  // sees about +-41 m at the ground
    const auto outside = [&](Vector3 lo, Vector3 hi) {
        return BoxOutsideClipVolume(MapExtent{lo, hi}, scene.viewProjection);
    };
    EXPECT_FALSE(outside({-1, -1, 0}, {1, 1, 0}));
    EXPECT_FALSE(outside({-500, -500, 0}, {500, 500, 0}));  // larger than the view
    EXPECT_TRUE(outside({50, -1, 0}, {60, 1, 0}));          // right
    EXPECT_TRUE(outside({-60, -1, 0}, {-50, 1, 0}));        // left
    EXPECT_TRUE(outside({-1, 50, 0}, {1, 60, 0}));          // top
    EXPECT_TRUE(outside({-1, -1, 120}, {1, 1, 130}));       // behind the eye
    EXPECT_FALSE(outside({-1, -1, 98}, {1, 1, 101}));       // through the near plane
    EXPECT_FALSE(outside({-1, -1, 98.3f}, {1, 1, 98.6f}));  // just in front of it
    EXPECT_TRUE(outside({-1, -1, -5000}, {1, 1, -4990}));   // beyond the far plane
    EXPECT_FALSE(outside({30, -1, 0}, {50, 1, 0}));         // straddles the right edge
}

// The culling boxes of a buffer: one per run of 200 triangles counted from its start, the last
// run shorter, each the exact box of its vertices; a run holding a coordinate that is not a
// finite number gets an unbounded box, and its area sums are infinite too.
TEST(CreateSceneBuffer, BoundsEveryRunOfBatchTrianglesAndLeavesNonFiniteRunsUnbounded) {
    std::vector<MapVertex> v;
    for (int t = 0; t < 450; ++t) {
        const float x = static_cast<float>(t);
        v.insert(v.end(), {{x, -1.0f, 0.0f, 0u}, {x + 0.5f, 1.0f, 0.0f, 0u}, {x, 0.0f, 2.0f, 0u}});
    }
    v[3 * 300 + 1].y = std::numeric_limits<float>::quiet_NaN();  // in the second run
    SoftwareDevice device(8, 8);
    SceneBuffer b;
    ASSERT_GE(CreateSceneBuffer(&device, v, &b), 0);
    ASSERT_EQ(b.chunkBounds.size(), 3u);
    ASSERT_EQ(b.chunkAreas.size(), 3u);
    const float inf = std::numeric_limits<float>::infinity();
    const struct {
        std::size_t chunk;
        float minX, maxX;
    } finite[] = {{0, 0.0f, 199.5f}, {2, 400.0f, 449.5f}};
    for (const auto& row : finite) {
        SCOPED_TRACE(row.chunk);
        const MapExtent& box = b.chunkBounds[row.chunk];
        EXPECT_EQ(box.min.x, row.minX);
        EXPECT_EQ(box.max.x, row.maxX);
        EXPECT_EQ(box.min.y, -1.0f);
        EXPECT_EQ(box.max.y, 1.0f);
        EXPECT_EQ(box.min.z, 0.0f);
        EXPECT_EQ(box.max.z, 2.0f);
        EXPECT_TRUE(std::isfinite(b.chunkAreas[row.chunk].z));
    }
    EXPECT_EQ(b.chunkBounds[1].min.x, -inf);
    EXPECT_EQ(b.chunkBounds[1].max.z, inf);
    EXPECT_TRUE(std::isinf(b.chunkAreas[1].x));
    ReleaseSceneBuffer(&b);
}

TEST(CreateMapSceneBuffers, StopsAtTheFirstBufferThatCannotBeMade) {
    TrackMesh mesh;
    mesh.objects = {RowObject(3, 0)};
    const SegmentMarkerRecord marker = Marker({0, 0, 0}, 0, 4);
    const std::vector<ReplayFile> replays = {StraightReplay(5, {}), StraightReplay(5, {})};
    const std::uint32_t colours[2] = {1u, 2u};
    const MapSceneInput input{&mesh, {&marker, 1}, replays, colours};
    for (int made = 0; made <= 4; ++made) {
        SCOPED_TRACE(made);
        SoftwareDevice device(8, 8);
        device.FailVertexBufferCreationAfter(made == 4 ? -1 : made);
        MapSceneBuffers b;
        const HRESULT hr = CreateMapSceneBuffers(&device, input, &b);
        EXPECT_EQ(hr < 0, made < 4);
        // Markers, mesh, ribbon 0, ribbon 1: those before the failure exist, none after it.
        const SceneBuffer* order[4] = {&b.markers, &b.track, &b.paths[0], &b.paths[1]};
        for (int i = 0; i < 4; ++i) EXPECT_EQ(order[i]->buffer != nullptr, i < made) << i;
        EXPECT_EQ(b.paths[2].buffer, nullptr);
        if (made == 4) {
            EXPECT_EQ(b.track.triangleCount, 3);
            EXPECT_EQ(b.markers.triangleCount, 2);
            EXPECT_EQ(b.paths[1].triangleCount, 10);
        }
        ReleaseMapSceneBuffers(&b);
    }
}

TEST(CreateMapSceneBuffers, AnEmptyMeshIsDrawnAsAbsentAndTheRibbonsStill) {
    TrackMesh empty;  // a valid mesh without objects
    const std::vector<ReplayFile> replays = {StraightReplay(5, {})};
    const std::uint32_t colours[1] = {0xFFFF0000u};
    SoftwareDevice device(8, 8);
    MapSceneBuffers b;
    ASSERT_EQ(CreateMapSceneBuffers(&device, {&empty, {}, replays, colours}, &b), D3D_OK);
    EXPECT_EQ(b.track.buffer, nullptr);
    ASSERT_NE(b.paths[0].buffer, nullptr);
    EXPECT_EQ(b.paths[0].triangleCount, 10);
    const TriangleRange ranges[1] = {{0, 10}};
    device.recordDrawCalls = true;
    device.BeginScene();
    DrawMapScene(&device, b, ranges);
    device.EndScene();
    EXPECT_EQ(device.drawCallLog.size(), 1u);  // the ribbon
    ReleaseMapSceneBuffers(&b);
}

}  // namespace
}  // namespace lapquill
