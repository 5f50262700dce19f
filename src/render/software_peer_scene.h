// The peer scene of the software device's benchmarks and picture tests: a 100 000-triangle
// terrain seen from above and six path ribbons of 120 000 thin triangles each, laid out the way
// the view lays out a frame (triangle lists in calls of 200, source-alpha blending, culling CW
// for the mesh and none for the ribbons). The vertices and the camera are plain data, so the
// same triangles can be handed to another renderer for comparison.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <vector>

#include "math/math3d.h"
#include "render/render_device.h"

namespace lapquill::peer {

inline constexpr int kBatch = 200;  // triangles per DrawPrimitive, as the view draws
inline constexpr std::uint32_t kClearColour = 0xFF406030;
inline constexpr std::uint32_t kRibbonColours[6] = {0x80FF0000, 0x8000FF00, 0x800000FF,
                                                    0x80FFFF00, 0x8000FFFF, 0x80FF00FF};

// 250 x 200 cells of 8 m, two triangles each: 100 000 triangles over 2000 m x 1600 m, with
// rolling heights and colours that change from vertex to vertex.
inline std::vector<MapVertex> Terrain() {
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
inline std::vector<MapVertex> Ribbon(int records, float offset, std::uint32_t colour) {
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

// The i-th of the six ribbons, `records` records long.
inline std::vector<MapVertex> RibbonNumber(int i, int records = 60000) {
    return Ribbon(records, -5.0f + 2.0f * static_cast<float>(i), kRibbonColours[i]);
}

// The top-down camera 1950 m above the centre shows the whole terrain.
inline void Camera(int width, int height, Matrix4* view, Matrix4* projection) {
    const Vector3 eye{0, 0, 1950}, at{0, 0, 0}, up{0, 1, 0};
    D3DXMatrixLookAtRH(view, &eye, &at, &up);
    D3DXMatrixPerspectiveFovRH(projection, 0.7853982f,
                               static_cast<float>(width) / static_cast<float>(height), 1.0f,
                               5000.0f);
}

inline VertexBuffer* MakeBuffer(RenderDevice& device, const std::vector<MapVertex>& vertices) {
    VertexBuffer* buffer = nullptr;
    const auto bytes = static_cast<std::uint32_t>(vertices.size() * sizeof(MapVertex));
    if (device.CreateVertexBuffer(bytes, 0, kMapVertexFvf, D3DPOOL_DEFAULT, &buffer) != D3D_OK) {
        return nullptr;
    }
    std::uint8_t* data = nullptr;
    buffer->Lock(0, bytes, &data, 0);
    std::memcpy(data, vertices.data(), bytes);
    buffer->Unlock();
    return buffer;
}

inline void DrawBatched(RenderDevice& device, VertexBuffer* buffer, std::uint32_t triangles) {
    device.SetStreamSource(0, buffer, sizeof(MapVertex));
    for (std::uint32_t first = 0; first < triangles; first += kBatch) {
        const std::uint32_t count = std::min<std::uint32_t>(kBatch, triangles - first);
        device.DrawPrimitive(D3DPT_TRIANGLELIST, 3 * first, count);
    }
}

// One frame: clear, the terrain culled CW (or as `terrainCull` says), the ribbons unculled,
// presented. The device's transforms and blend states are the caller's (see Camera).
inline void DrawFrame(RenderDevice& d, VertexBuffer* terrain, std::uint32_t terrainTriangles,
                      const std::vector<VertexBuffer*>& ribbons, std::uint32_t ribbonTriangles,
                      std::uint32_t terrainCull = D3DCULL_CW) {
    d.Clear(0, nullptr, D3DCLEAR_TARGET, kClearColour, 1.0f, 0);
    d.BeginScene();
    d.SetVertexShader(kMapVertexFvf);
    d.SetRenderState(D3DRS_CULLMODE, terrainCull);
    if (terrain != nullptr) DrawBatched(d, terrain, terrainTriangles);
    d.SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    for (VertexBuffer* r : ribbons) DrawBatched(d, r, ribbonTriangles);
    d.SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
    d.EndScene();
    d.Present();
}

}  // namespace lapquill::peer
