// SoftwareDevice at full-HD: a 100 000-triangle terrain seen from above, six path ribbons of
// 120 000 thin triangles each, and both together, drawn the way the view draws a frame
// (triangle lists in calls of 200, source-alpha blending on, culling CW for the mesh and none
// for the ribbons). The argument is the number of rasterising threads.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <numbers>
#include <vector>

#include "math/math3d.h"
#include "render/software_device.h"

namespace lapquill {
namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kBatch = 200;  // triangles per DrawPrimitive, as the view draws

// 250 x 200 cells of 8 m, two triangles each: 100 000 triangles over 2000 m x 1600 m, with
// rolling heights and colours that change from vertex to vertex.
std::vector<MapVertex> Terrain() {
    constexpr int kCellsX = 250, kCellsY = 200;
    constexpr float kCell = 8.0f;
    auto vertex = [](int i, int j) {
        const float x = (i - kCellsX / 2) * kCell;
        const float y = (j - kCellsY / 2) * kCell;
        const float z = 6.0f * std::sin(x * 0.013f) * std::cos(y * 0.017f) +
                        2.0f * std::sin(x * 0.1f + y * 0.07f);
        const auto shade =
            static_cast<std::uint32_t>(90 + 40 * std::sin(x * 0.05f) + 30 * std::cos(y * 0.031f));
        const std::uint32_t colour = 0xFF000000u | (shade / 2) << 16 | shade << 8 | (shade / 3);
        return MapVertex{x, y, z, colour};
    };
    std::vector<MapVertex> v;
    v.reserve(kCellsX * kCellsY * 6);
    for (int j = 0; j < kCellsY; ++j) {
        for (int i = 0; i < kCellsX; ++i) {
            // Counter-clockwise seen from above, so CULL_CW keeps them.
            v.insert(v.end(), {vertex(i, j), vertex(i + 1, j), vertex(i + 1, j + 1)});
            v.insert(v.end(), {vertex(i, j), vertex(i + 1, j + 1), vertex(i, j + 1)});
        }
    }
    return v;
}

// A ribbon of `records` records 1.6 m wide around a wobbly loop of about 5 km, laid out as the
// view lays out a path: six vertices per record, the first segment degenerate.
std::vector<MapVertex> Ribbon(int records, float offset, std::uint32_t colour) {
    std::vector<MapVertex> v;
    v.reserve(static_cast<std::size_t>(records) * 6);
    auto edges = [&](int k, MapVertex* a, MapVertex* b) {
        const float t = 2.0f * std::numbers::pi_v<float> * static_cast<float>(k) / records;
        const float r = 1.0f + 0.08f * std::sin(7.0f * t);
        const float x = 880.0f * r * std::cos(t), y = 680.0f * r * std::sin(t);
        float nx = std::cos(t) / 880.0f, ny = std::sin(t) / 680.0f;
        const float length = std::sqrt(nx * nx + ny * ny);
        nx /= length;
        ny /= length;
        *a = MapVertex{x + nx * (offset - 0.8f), y + ny * (offset - 0.8f), 3.0f, colour};
        *b = MapVertex{x + nx * (offset + 0.8f), y + ny * (offset + 0.8f), 3.0f, colour};
    };
    MapVertex a0, b0;
    edges(0, &a0, &b0);
    v.insert(v.end(), {b0, a0, a0, b0, b0, a0});
    for (int k = 1; k < records; ++k) {
        MapVertex a, b;
        edges(k, &a, &b);
        v.insert(v.end(), {b, a, a0, b0, b, a0});
        a0 = a;
        b0 = b;
    }
    return v;
}

VertexBuffer* MakeBuffer(RenderDevice& device, const std::vector<MapVertex>& vertices) {
    VertexBuffer* buffer = nullptr;
    const auto bytes = static_cast<std::uint32_t>(vertices.size() * sizeof(MapVertex));
    device.CreateVertexBuffer(bytes, 0, kMapVertexFvf, D3DPOOL_DEFAULT, &buffer);
    std::uint8_t* data = nullptr;
    buffer->Lock(0, bytes, &data, 0);
    std::memcpy(data, vertices.data(), bytes);
    buffer->Unlock();
    return buffer;
}

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
            const std::vector<MapVertex> v = Terrain();
            terrain = MakeBuffer(*device, v);
            terrainTriangles = static_cast<std::uint32_t>(v.size() / 3);
        }
        const std::uint32_t colours[6] = {0x80FF0000, 0x8000FF00, 0x800000FF,
                                          0x80FFFF00, 0x8000FFFF, 0x80FF00FF};
        for (int i = 0; i < ribbonCount; ++i) {
            const std::vector<MapVertex> v = Ribbon(60000, -5.0f + 2.0f * i, colours[i]);
            ribbons.push_back(MakeBuffer(*device, v));
            ribbonTriangles = static_cast<std::uint32_t>(v.size() / 3);
        }
        // The top-down camera 1950 m above the centre shows the whole terrain.
        Matrix4 view, projection;
        const Vector3 eye{0, 0, 1950}, at{0, 0, 0}, up{0, 1, 0};
        D3DXMatrixLookAtRH(&view, &eye, &at, &up);
        D3DXMatrixPerspectiveFovRH(&projection, 0.7853982f, static_cast<float>(kWidth) / kHeight,
                                   1.0f, 5000.0f);
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

    static void DrawBatched(RenderDevice& device, VertexBuffer* buffer, std::uint32_t triangles) {
        device.SetStreamSource(0, buffer, sizeof(MapVertex));
        for (std::uint32_t first = 0; first < triangles; first += kBatch) {
            const std::uint32_t count = std::min<std::uint32_t>(kBatch, triangles - first);
            device.DrawPrimitive(D3DPT_TRIANGLELIST, 3 * first, count);
        }
    }

    void Frame() {
        RenderDevice& d = *device;
        d.SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
        d.Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF406030, 1.0f, 0);
        d.BeginScene();
        d.SetVertexShader(kMapVertexFvf);
        if (terrain != nullptr) DrawBatched(d, terrain, terrainTriangles);
        d.SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        for (VertexBuffer* r : ribbons) DrawBatched(d, r, ribbonTriangles);
        d.SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
        d.EndScene();
        d.Present();
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
