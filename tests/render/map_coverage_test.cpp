// The map's pixel estimates against what the software device really fills, the cheap bound
// against the exact measure, and the budget that stops a layer of huge overlapping triangles.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "math/math3d.h"
#include "render/map_coverage.h"
#include "render/map_scene.h"
#include "render/software_device.h"

namespace lapquill {
namespace {

constexpr int kWidth = 480, kHeight = 320;

struct Camera {
    Matrix4 view, projection, viewProjection;
    Camera(Vector3 eye, Vector3 at) {
        const Vector3 up{0, 0, 1};
        D3DXMatrixLookAtRH(&view, &eye, &at, &up);
        D3DXMatrixPerspectiveFovRH(&projection, 0.7853982f,
                                   static_cast<float>(kWidth) / kHeight, 1.0f, 5000.0f);
        D3DXMatrixMultiply(&viewProjection, &view, &projection);
    }
};

// The pixels the device fills for the triangle (drawn white over black, both windings).
int FilledPixels(const Camera& camera, const MapVertex (&triangle)[3]) {
    SoftwareDevice device(kWidth, kHeight);
    VertexBuffer* buffer = nullptr;
    EXPECT_EQ(device.CreateVertexBuffer(sizeof triangle, 0, kMapVertexFvf, D3DPOOL_DEFAULT, &buffer),
              D3D_OK);
    std::uint8_t* bytes = nullptr;
    buffer->Lock(0, 0, &bytes, 0);
    std::copy_n(reinterpret_cast<const std::uint8_t*>(triangle), sizeof triangle, bytes);
    buffer->Unlock();
    device.SetTransform(D3DTS_VIEW, &camera.view);
    device.SetTransform(D3DTS_PROJECTION, &camera.projection);
    device.SetRenderState(D3DRS_LIGHTING, 0);
    device.SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device.Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000u, 1.0f, 0);
    device.BeginScene();
    device.SetVertexShader(kMapVertexFvf);
    device.SetStreamSource(0, buffer, sizeof(MapVertex));
    device.DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1);
    device.EndScene();
    device.Present();
    device.SetStreamSource(0, nullptr, 0);
    buffer->Release();
    const PresentedFrame f = device.GetPresentedFrame();
    int filled = 0;
    for (int y = 0; y < f.height; ++y) {
        const auto* row = reinterpret_cast<const std::uint32_t*>(
            reinterpret_cast<const std::uint8_t*>(f.pixels) + y * f.pitch);
        for (int x = 0; x < f.width; ++x) filled += (row[x] & 0xFFFFFFu) != 0 ? 1 : 0;
    }
    return filled;
}

MapVertex At(float x, float y, float z) {
    return MapVertex{x, y, z, 0xFFFFFFFFu};
}

TEST(CoverageEstimator, TrianglePixelsMatchWhatTheDeviceFills) {
    const Camera above({0, 0, 100}, {0, 0.01f, 0});   // straight down
    const Camera low({-60, -40, 3}, {40, 30, 0});     // across the ground, as a chase camera
    struct Case {
        const char* name;
        const Camera* camera;
        MapVertex triangle[3];
    };
    const Case cases[] = {
        {"inside the view", &above, {At(-10, -10, 0), At(20, -5, 0), At(0, 15, 0)}},
        {"larger than the view", &above, {At(-1e4f, -1e4f, 0), At(3e4f, -1e4f, 0), At(-1e4f, 3e4f, 0)}},
        {"across the right edge", &above, {At(10, -10, 0), At(200, 0, 0), At(10, 10, 0)}},
        {"wholly outside", &above, {At(300, 300, 0), At(320, 300, 0), At(300, 320, 0)}},
        {"above the eye", &above, {At(-10, -10, 150), At(10, -10, 150), At(0, 10, 150)}},
        {"under and behind the low eye", &low, {At(-80, -60, 0), At(0, -10, 0), At(-80, 20, 0)}},
        {"ground ahead of the low eye", &low, {At(-20, -20, 0), At(60, 0, 0), At(0, 60, 0)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CoverageEstimator estimator(c.camera->viewProjection, kWidth, kHeight);
        const double estimate = estimator.TrianglePixels(c.triangle[0], c.triangle[1], c.triangle[2]);
        const int filled = FilledPixels(*c.camera, c.triangle);
        // The device fills pixels whose centres are inside; the edges make up the difference.
        EXPECT_NEAR(estimate, filled, 2 + 0.04 * filled) << "filled " << filled;
        EXPECT_LE(estimate, estimator.ScreenPixels());
    }
}

TEST(CoverageEstimator, NonFiniteCornersCountAsTheWholeScreen) {
    const Camera above({0, 0, 100}, {0, 0.01f, 0});
    const CoverageEstimator estimator(above.viewProjection, kWidth, kHeight);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_EQ(estimator.TrianglePixels(At(nan, 0, 0), At(1, 0, 0), At(0, 1, 0)), kWidth * kHeight);
    EXPECT_EQ(estimator.TrianglePixels(At(0, 0, 0), At(inf, 0, 0), At(0, 1, 0)), kWidth * kHeight);
    const std::vector<MapVertex> bad = {At(0, 0, 0), At(1, 0, 0), At(0, nan, 0)};
    EXPECT_TRUE(std::isinf(ChunkAreaSums(bad)[0].z));
    const MapExtent box{{-1, -1, 0}, {1, 1, 0}};
    EXPECT_TRUE(std::isinf(estimator.BoundInBox(box, ChunkAreaSums(bad)[0])));
}

TEST(ChunkAreaSums, SumsAbsoluteAreaComponentsPerRunOfBatchTriangles) {
    // 250 triangles: the first chunk holds 200 of area 2 in the ground plane, facing either way;
    // the second 50 upright ones of area 0.5 facing -y.
    std::vector<MapVertex> v;
    for (int t = 0; t < 200; ++t) {
        if (t % 2 == 0) {
            v.insert(v.end(), {At(0, 0, 0), At(2, 0, 0), At(0, 2, 0)});
        } else {
            v.insert(v.end(), {At(0, 0, 0), At(0, 2, 0), At(2, 0, 0)});
        }
    }
    for (int t = 0; t < 50; ++t) v.insert(v.end(), {At(0, 5, 0), At(1, 5, 0), At(0, 5, 1)});
    const std::vector<Vector3> sums = ChunkAreaSums(v);
    ASSERT_EQ(sums.size(), 2u);
    EXPECT_FLOAT_EQ(sums[0].z, 400);
    EXPECT_FLOAT_EQ(sums[0].x + sums[0].y, 0);
    EXPECT_FLOAT_EQ(sums[1].y, 25);
    EXPECT_FLOAT_EQ(sums[1].x + sums[1].z, 0);
}

// The cheap bound may be loose but never below the exact measure: otherwise a batch it lets
// through unmeasured could cost more than the budget allows. Tried on single triangles of every
// orientation (ground, walls facing the eye, slopes) from high and low cameras, and on runs of
// them; and it is tight enough for the ground seen from above to pass unmeasured.
double BoxBoundOf(const CoverageEstimator& estimator, const std::vector<MapVertex>& v) {
    MapExtent box{{v[0].x, v[0].y, v[0].z}, {v[0].x, v[0].y, v[0].z}};
    for (const MapVertex& p : v) {
        box.min = {std::min(box.min.x, p.x), std::min(box.min.y, p.y), std::min(box.min.z, p.z)};
        box.max = {std::max(box.max.x, p.x), std::max(box.max.y, p.y), std::max(box.max.z, p.z)};
    }
    return estimator.BoundInBox(box, ChunkAreaSums(v)[0]);
}

double ExactPixelsOf(const CoverageEstimator& estimator, const std::vector<MapVertex>& v) {
    double exact = 0;
    for (std::size_t i = 2; i < v.size(); i += 3) {
        exact += estimator.TrianglePixels(v[i - 2], v[i - 1], v[i]);
    }
    return exact;
}

TEST(CoverageEstimator, BoundInBoxIsNeverBelowTheExactPixels) {
    // A wall across the low eye's view and a slope, each a single triangle.
    const Camera low({-60, 0, 2}, {0, 0, 2});
    const CoverageEstimator lowEstimator(low.viewProjection, kWidth, kHeight);
    const std::vector<MapVertex> wall = {At(0, -20, 0), At(0, 20, 0), At(0, 0, 12)};
    const std::vector<MapVertex> slope = {At(-10, -20, 0), At(10, 20, 0), At(10, -20, 8)};
    for (const auto* v : {&wall, &slope}) {
        const double exact = ExactPixelsOf(lowEstimator, *v);
        EXPECT_GT(exact, 1000);
        EXPECT_GE(BoxBoundOf(lowEstimator, *v), exact);
    }

    std::mt19937 rng(7);
    std::uniform_real_distribution<float> unit(-1, 1);
    int finiteBounds = 0;
    for (int trial = 0; trial < 600; ++trial) {
        const float reach = trial % 3 == 0 ? 5.0f : (trial % 3 == 1 ? 60.0f : 800.0f);
        const bool lowEye = trial % 2 == 0;
        const Vector3 eye{unit(rng) * 200, unit(rng) * 200,
                          lowEye ? 2 + (unit(rng) + 1) * 5 : 50 + (unit(rng) + 1) * 300};
        const Vector3 at{unit(rng) * 100, unit(rng) * 100, unit(rng) * 5};
        const Camera camera(eye, at);
        const CoverageEstimator estimator(camera.viewProjection, kWidth, kHeight);
        // Triangles of any orientation around a point near where the camera looks: one alone,
        // or a run of six.
        const Vector3 c{at.x + unit(rng) * 50, at.y + unit(rng) * 50, at.z + unit(rng) * 5};
        std::vector<MapVertex> v;
        const int triangles = trial % 4 == 0 ? 6 : 1;
        for (int k = 0; k < 3 * triangles; ++k) {
            v.push_back(At(c.x + unit(rng) * reach, c.y + unit(rng) * reach, c.z + unit(rng) * reach));
        }
        const double bound = BoxBoundOf(estimator, v);
        if (std::isfinite(bound)) ++finiteBounds;
        EXPECT_GE(bound * (1 + 1e-6) + 1e-6, ExactPixelsOf(estimator, v)) << "trial " << trial;
    }
    EXPECT_GT(finiteBounds, 300);

    // Ground seen from high above: the bound is close to the truth.
    const Camera above({0, 0, 400}, {0, 0.01f, 0});
    const CoverageEstimator aboveEstimator(above.viewProjection, kWidth, kHeight);
    const std::vector<MapVertex> ground = {At(-40, -30, 0), At(50, -20, 1), At(0, 45, 0.5f)};
    const double exact = ExactPixelsOf(aboveEstimator, ground);
    EXPECT_GT(exact, 1000);
    EXPECT_LT(BoxBoundOf(aboveEstimator, ground), 1.2 * exact);
}

// A straight-down camera over a layer of full-screen triangles, and buffers filled from them.
struct DenseScene {
    Camera camera{{0, 0, 100}, {0, 0.01f, 0}};
    SoftwareDevice device{kWidth, kHeight};
    MapSceneBuffers buffers;

    DenseScene(int meshCopies, int ribbonRecords) {
        TrackMesh mesh;
        MeshObject o;
        o.vertices = {{-1e4f, -1e4f, 0, 0xFF3060A0u}, {3e4f, -1e4f, 0, 0xFF3060A0u},
                      {-1e4f, 3e4f, 0, 0xFF3060A0u}};
        o.vertexCount = 3;
        o.triangles.assign(static_cast<std::size_t>(meshCopies), MeshTriangle{{0, 1, 2}});
        o.triangleCount = meshCopies;
        o.radius = 3e4f;
        mesh.objects = {o};
        ReplayFile lap;
        for (int i = 0; i < ribbonRecords; ++i) {
            ReplayRecord r{};
            r.position = {static_cast<float>(i) * 0.1f - 5, 0, 0};
            r.lateralAxis = {0, 1, 0};
            lap.records.push_back(r);
        }
        const std::vector<ReplayFile> laps = {lap};
        const std::uint32_t colours[1] = {0xFFFF0000u};
        EXPECT_EQ(CreateMapSceneBuffers(&device, {&mesh, {}, laps, colours}, &buffers), D3D_OK);
        device.SetTransform(D3DTS_VIEW, &camera.view);
        device.SetTransform(D3DTS_PROJECTION, &camera.projection);
        device.SetRenderState(D3DRS_LIGHTING, 0);
        device.SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        device.recordDrawCalls = true;
    }
    ~DenseScene() { ReleaseMapSceneBuffers(&buffers); }

    void Draw(const TriangleRange& ribbon, MapFrameBudget* budget) {
        device.BeginScene();
        DrawMapScene(&device, buffers, {&ribbon, 1}, &camera.viewProjection, budget);
        device.EndScene();
    }
};

TEST(DrawMapScene, ALayerOfFullScreenTrianglesStopsAtItsBudget) {
    DenseScene scene(1000, 400);
    MapFrameBudget budget(scene.camera.viewProjection, kWidth, kHeight);
    scene.Draw(RibbonDrawRange(0, 399), &budget);
    // Each copy covers the screen once: as many are drawn as the budget has screens, in one
    // call, and the rest of the mesh is skipped; the ribbon has its own budget and is drawn.
    const auto& log = scene.device.drawCallLog;
    ASSERT_EQ(log.size(), 1u + 4u);
    EXPECT_EQ(log[0].startVertex, 0u);
    EXPECT_EQ(log[0].primitiveCount, static_cast<std::uint32_t>(kMeshBudgetScreens));
    EXPECT_TRUE(budget.mesh.cut);
    EXPECT_LE(budget.mesh.spent, budget.mesh.limit);
    EXPECT_GT(budget.mesh.spent, budget.mesh.limit - budget.estimator.ScreenPixels());
    EXPECT_FALSE(budget.paths.cut);
    std::uint32_t ribbonTriangles = 0;
    for (std::size_t i = 1; i < log.size(); ++i) ribbonTriangles += log[i].primitiveCount;
    EXPECT_EQ(ribbonTriangles, 800u);
}

TEST(DrawMapScene, ASceneWithinTheBudgetIsDrawnAsWithoutOne) {
    DenseScene scene(10, 3000);
    scene.Draw(RibbonDrawRange(0, 2999), nullptr);
    const std::vector<DrawCallRecord> unbudgeted = scene.device.drawCallLog;
    scene.device.ResetCounters();
    MapFrameBudget budget(scene.camera.viewProjection, kWidth, kHeight);
    scene.Draw(RibbonDrawRange(0, 2999), &budget);
    const std::vector<DrawCallRecord>& budgeted = scene.device.drawCallLog;
    ASSERT_EQ(budgeted.size(), unbudgeted.size());
    for (std::size_t i = 0; i < budgeted.size(); ++i) {
        EXPECT_EQ(budgeted[i].startVertex, unbudgeted[i].startVertex);
        EXPECT_EQ(budgeted[i].primitiveCount, unbudgeted[i].primitiveCount);
    }
    EXPECT_FALSE(budget.mesh.cut);
    EXPECT_FALSE(budget.paths.cut);
    // Ten screens of mesh, charged exactly; the ribbon (1 m wide, seen from 100 m) a little.
    EXPECT_NEAR(budget.mesh.spent, 10 * budget.estimator.ScreenPixels(), 1);
    EXPECT_GT(budget.paths.spent, 0);
    EXPECT_LT(budget.paths.spent, budget.estimator.ScreenPixels());
}

}  // namespace
}  // namespace lapquill
