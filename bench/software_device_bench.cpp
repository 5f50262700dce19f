// SoftwareDevice at full-HD: a 100 000-triangle terrain seen from above, six path ribbons of
// 120 000 thin triangles each, and both together, drawn the way the view draws a frame
// (triangle lists in calls of 200, source-alpha blending on, culling CW for the mesh and none
// for the ribbons). The argument is the number of rasterising threads.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "render/software_device.h"
#include "render/software_peer_scene.h"

namespace lapquill {
namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

struct Scene {
    std::unique_ptr<SoftwareDevice> device;
    VertexBuffer* terrain = nullptr;
    std::vector<VertexBuffer*> ribbons;
    std::uint32_t terrainTriangles = 0;
    std::uint32_t ribbonTriangles = 0;  // each

    Scene(int threads, bool withTerrain, int ribbonCount) {
        SoftwareDeviceOptions options;
        options.threadCount = threads;
        device = std::make_unique<SoftwareDevice>(kWidth, kHeight, options);
        if (withTerrain) {
            const std::vector<MapVertex> v = peer::Terrain();
            terrain = peer::MakeBuffer(*device, v);
            terrainTriangles = static_cast<std::uint32_t>(v.size() / 3);
        }
        for (int i = 0; i < ribbonCount; ++i) {
            const std::vector<MapVertex> v = peer::RibbonNumber(i);
            ribbons.push_back(peer::MakeBuffer(*device, v));
            ribbonTriangles = static_cast<std::uint32_t>(v.size() / 3);
        }
        Matrix4 view, projection;
        peer::Camera(kWidth, kHeight, &view, &projection);
        device->SetTransform(D3DTS_VIEW, &view);
        device->SetTransform(D3DTS_PROJECTION, &projection);
        device->SetRenderState(D3DRS_LIGHTING, 0);
        device->SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
        device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
        device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    }
    ~Scene() {
        device->SetStreamSource(0, nullptr, 0);
        if (terrain != nullptr) terrain->Release();
        for (VertexBuffer* r : ribbons) r->Release();
    }

    void Frame() {
        peer::DrawFrame(*device, terrain, terrainTriangles, ribbons, ribbonTriangles);
    }
};

void Run(benchmark::State& state, bool terrain, int ribbons) {
    Scene scene(static_cast<int>(state.range(0)), terrain, ribbons);
    for (auto _ : state) {
        scene.Frame();
        benchmark::DoNotOptimize(scene.device->GetPresentedFrame().pixels);
    }
    const double triangles =
        scene.terrainTriangles + static_cast<double>(ribbons) * scene.ribbonTriangles;
    state.counters["triangles"] = triangles;
    state.counters["tri/s"] =
        benchmark::Counter(triangles, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_TerrainFrame(benchmark::State& state) {
    Run(state, true, 0);
}
void BM_RibbonFrame(benchmark::State& state) {
    Run(state, false, 6);
}
void BM_TerrainAndRibbonsFrame(benchmark::State& state) {
    Run(state, true, 6);
}

BENCHMARK(BM_TerrainFrame)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RibbonFrame)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TerrainAndRibbonsFrame)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace lapquill
