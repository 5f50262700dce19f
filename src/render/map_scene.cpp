// The track map's geometry and its vertex buffers. See map_scene.h.
#include "render/map_scene.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "math/math3d.h"
#include "render/vertex_upload.h"

namespace lapquill {

namespace {

// Where the lateral offset range starts before the blocks are scanned; a replay without blocks
// keeps it, which is how it is recognised.
constexpr float kNoOffsetLow = 1e12f;
constexpr float kNoOffsetHigh = -1e12f;

MapVertex At(const Vector3& p, std::uint32_t colour) {
    return MapVertex{p.x, p.y, p.z, colour};
}

Vector3 Along(const Vector3& p, const Vector3& axis, float s) {
    return Vector3{p.x + axis.x * s, p.y + axis.y * s, p.z + axis.z * s};
}

// The box of each run of kBatchTriangles triangles. A run holding a coordinate that is not a
// finite number gets an unbounded box, which is never culled: whatever the device makes of such
// a triangle stays its own decision.
std::vector<MapExtent> ChunkBounds(std::span<const MapVertex> vertices) {
    return PerTriangleChunk<MapExtent>(vertices, [](std::span<const MapVertex> chunk) {
        constexpr float kInf = std::numeric_limits<float>::infinity();
        MapExtent box{{kInf, kInf, kInf}, {-kInf, -kInf, -kInf}};
        for (const MapVertex& v : chunk) {
            if (!std::isfinite(v.x) || !std::isfinite(v.y) || !std::isfinite(v.z)) {
                return MapExtent{{-kInf, -kInf, -kInf}, {kInf, kInf, kInf}};
            }
            box.min = {std::min(box.min.x, v.x), std::min(box.min.y, v.y),
                       std::min(box.min.z, v.z)};
            box.max = {std::max(box.max.x, v.x), std::max(box.max.y, v.y),
                       std::max(box.max.z, v.z)};
        }
        return box;
    });
}

// The box and area sums of the chunks a batch draws from; false when the buffer has none for it.
bool BatchBounds(const SceneBuffer& buffer, const DrawBatch& batch, MapExtent* box,
                 Vector3* areas) {
    const std::size_t firstTriangle = batch.startVertex / 3;
    const std::size_t c0 = firstTriangle / kBatchTriangles;
    const std::size_t c1 = (firstTriangle + batch.primitiveCount - 1) / kBatchTriangles;
    if (c1 >= buffer.chunkBounds.size()) return false;
    *box = buffer.chunkBounds[c0];
    for (std::size_t c = c0 + 1; c <= c1; ++c) {
        const MapExtent& b = buffer.chunkBounds[c];
        box->min = {std::min(box->min.x, b.min.x), std::min(box->min.y, b.min.y),
                    std::min(box->min.z, b.min.z)};
        box->max = {std::max(box->max.x, b.max.x), std::max(box->max.y, b.max.y),
                    std::max(box->max.z, b.max.z)};
    }
    *areas = {0, 0, 0};
    if (c1 >= buffer.chunkAreas.size()) {
        constexpr float kInf = std::numeric_limits<float>::infinity();
        *areas = {kInf, kInf, kInf};
        return true;
    }
    for (std::size_t c = c0; c <= c1; ++c) {
        areas->x += buffer.chunkAreas[c].x;
        areas->y += buffer.chunkAreas[c].y;
        areas->z += buffer.chunkAreas[c].z;
    }
    return true;
}

// How many of the batch's triangles fit in what the layer may still cover, charged to it. A
// batch the cheap bound shows to be small is charged by the bound; any other is measured
// triangle by triangle from the buffer, so that the triangles that fit are still drawn.
std::uint32_t AffordableTriangles(const SceneBuffer& buffer, const DrawBatch& batch,
                                  const MapExtent& box, const Vector3& areas,
                                  const CoverageEstimator& estimator, CoverageBudget* budget) {
    const double bound = estimator.BoundInBox(box, areas);
    if (bound <= estimator.ScreenPixels() / 32 && budget->spent + bound <= budget->limit) {
        budget->spent += bound;
        return batch.primitiveCount;
    }
    std::uint8_t* bytes = nullptr;
    const std::uint32_t offset = batch.startVertex * sizeof(MapVertex);
    const std::uint32_t size = batch.primitiveCount * 3 * sizeof(MapVertex);
    if (buffer.buffer->Lock(offset, size, &bytes, D3DLOCK_READONLY) < 0) {
        if (budget->spent + bound > budget->limit) return 0;
        budget->spent += bound;
        return batch.primitiveCount;
    }
    std::uint32_t fit = 0;
    for (; fit < batch.primitiveCount; ++fit) {
        MapVertex v[3];
        std::memcpy(v, bytes + static_cast<std::size_t>(fit) * sizeof v, sizeof v);
        const double pixels = estimator.TrianglePixels(v[0], v[1], v[2]);
        if (budget->spent + pixels > budget->limit) break;
        budget->spent += pixels;
    }
    buffer.buffer->Unlock();
    return fit;
}

// Draws triangles [range.first, range.end) of the bound buffer in batches, skipping the batches
// whose chunks all lie outside the view when a view-projection is given, and stopping where the
// layer's budget, when there is one, runs out.
void DrawBatches(RenderDevice* device, const SceneBuffer& buffer, TriangleRange range,
                 const Matrix4* cullViewProjection, const CoverageEstimator* estimator = nullptr,
                 CoverageBudget* budget = nullptr) {
    range.first = std::max(range.first, 0);
    range.end = std::min(range.end, buffer.triangleCount);
    for (const DrawBatch& batch : TriangleBatches(range)) {
        if (budget != nullptr && budget->cut) return;
        MapExtent box{};
        Vector3 areas{};
        const bool bounded = BatchBounds(buffer, batch, &box, &areas);
        if (cullViewProjection != nullptr && bounded &&
            BoxOutsideClipVolume(box, *cullViewProjection)) {
            continue;
        }
        std::uint32_t count = batch.primitiveCount;
        if (budget != nullptr && estimator != nullptr) {
            if (!bounded) {
                constexpr float kInf = std::numeric_limits<float>::infinity();
                box = MapExtent{{-kInf, -kInf, -kInf}, {kInf, kInf, kInf}};
                areas = {kInf, kInf, kInf};
            }
            count = AffordableTriangles(buffer, batch, box, areas, *estimator, budget);
            if (count < batch.primitiveCount) budget->cut = true;
        }
        if (count > 0) device->DrawPrimitive(D3DPT_TRIANGLELIST, batch.startVertex, count);
    }
}

}  // namespace

bool MeshExtent(const TrackMesh& mesh, MapExtent* extent) {
    if (mesh.objects.empty()) return false;
    MapExtent box{};
    for (std::size_t i = 0; i < mesh.objects.size(); ++i) {
        const MeshObject& o = mesh.objects[i];
        const Vector3 lo{o.centre.x - o.radius, o.centre.y - o.radius, o.centre.z - o.radius};
        const Vector3 hi{o.centre.x + o.radius, o.centre.y + o.radius, o.centre.z + o.radius};
        if (i == 0) {
            box = {lo, hi};
            continue;
        }
        if (lo.x < box.min.x) box.min.x = lo.x;
        if (lo.y < box.min.y) box.min.y = lo.y;
        if (lo.z < box.min.z) box.min.z = lo.z;
        if (hi.x > box.max.x) box.max.x = hi.x;
        if (hi.y > box.max.y) box.max.y = hi.y;
        if (hi.z > box.max.z) box.max.z = hi.z;
    }
    *extent = box;
    return true;
}

std::int32_t MeshTriangleCount(const TrackMesh& mesh) {
    std::int64_t n = 0;
    for (const MeshObject& o : mesh.objects) n += static_cast<std::int64_t>(o.triangles.size());
    return static_cast<std::int32_t>(
        std::min<std::int64_t>(n, std::numeric_limits<std::int32_t>::max()));
}

std::vector<MapVertex> BuildMeshVertices(const TrackMesh& mesh) {
    std::vector<MapVertex> out;
    out.reserve(3 * static_cast<std::size_t>(MeshTriangleCount(mesh)));
    for (const MeshObject& o : mesh.objects) {
        for (const MeshTriangle& t : o.triangles) {
            for (std::uint16_t index : t.index) {
                // The loader rejects indices beyond the object's vertices.
                const MeshVertex& v = o.vertices[index];
                out.push_back(MapVertex{v.x, v.y, v.z, v.colour});
            }
        }
    }
    return out;
}

std::vector<MapVertex> BuildMarkerVertices(std::span<const SegmentMarkerRecord> markers) {
    std::vector<MapVertex> out;
    out.reserve(6 * markers.size());
    for (const SegmentMarkerRecord& m : markers) {
        const float s = std::sin(m.heading);
        const float c = std::cos(m.heading);
        const float half = m.width / 2;
        const Vector3& p = m.position;
        // u runs along the marker line, v along the track.
        const float ux = half * s, uy = half * c;
        const float vx = kMarkerHalfLength * c, vy = -kMarkerHalfLength * s;
        const MapVertex p1{p.x + vx - ux, p.y + vy - uy, p.z, kMarkerColour};
        const MapVertex p2{p.x + vx + ux, p.y + vy + uy, p.z, kMarkerColour};
        const MapVertex p3{p.x - vx + ux, p.y - vy + uy, p.z, kMarkerColour};
        const MapVertex p4{p.x - vx - ux, p.y - vy - uy, p.z, kMarkerColour};
        out.insert(out.end(), {p1, p2, p3, p1, p3, p4});
    }
    return out;
}

LateralRange LateralOffsetRange(const ReplayFile& replay) {
    LateralRange r{kNoOffsetLow, kNoOffsetHigh};
    for (const ReplayBlock& b : replay.blocks) {
        const float offset = b.LateralOffset();
        if (offset < r.lo) r.lo = offset;
        if (offset > r.hi) r.hi = offset;
    }
    // Without blocks the range would stay (1e12, -1e12): a ribbon two billion kilometres wide
    // over the whole map. Such a replay gets a narrow ribbon on the car's own line instead.
    if (r.lo == kNoOffsetLow && r.hi == kNoOffsetHigh) {
        r = {-kRibbonWidthWithoutBlocks / 2, kRibbonWidthWithoutBlocks / 2};
    }
    return r;
}

std::vector<MapVertex> BuildRibbonVertices(const ReplayFile& replay, std::uint32_t colour) {
    const std::vector<std::uint32_t> colours(replay.records.size(), colour);
    return BuildRibbonVertices(replay, colours);
}

LateralRange WidenedRange(LateralRange range, const RibbonWidening& widening) {
    const float width = range.hi - range.lo;
    if (!(widening.maxScale > 1.0f) || !std::isfinite(widening.maxScale) ||
        !std::isfinite(widening.minWidth) || !std::isfinite(width) || width >= widening.minWidth) {
        return range;
    }
    const float wide = std::min(widening.minWidth, width * widening.maxScale);
    if (!(wide > width)) return range;
    const float middle = range.lo + width / 2;
    return {middle - wide / 2, middle + wide / 2};
}

std::vector<MapVertex> BuildRibbonVertices(const ReplayFile& replay,
                                           std::span<const std::uint32_t> recordColours,
                                           const RibbonWidening& widening) {
    const LateralRange range = WidenedRange(LateralOffsetRange(replay), widening);
    std::vector<MapVertex> out;
    out.reserve(6 * replay.records.size());
    Vector3 prevA{}, prevB{};
    for (std::size_t k = 0; k < replay.records.size(); ++k) {
        const ReplayRecord& r = replay.records[k];
        const std::uint32_t colour = k < recordColours.size() ? recordColours[k] : 0xFFFFFFFFu;
        Vector3 l;
        D3DXVec3Normalize(&l, &r.lateralAxis);
        const Vector3 a = Along(r.position, l, range.lo);
        const Vector3 b = Along(r.position, l, range.hi);
        if (k == 0) {
            out.insert(out.end(), {At(b, colour), At(a, colour), At(a, colour), At(b, colour),
                                   At(b, colour), At(a, colour)});
        } else {
            out.insert(out.end(), {At(b, colour), At(a, colour), At(prevA, colour),
                                   At(prevB, colour), At(b, colour), At(prevA, colour)});
        }
        prevA = a;
        prevB = b;
    }
    return out;
}

TriangleRange RibbonDrawRange(std::int32_t syncRecord, std::int32_t currentRecord) {
    return TriangleRange{2 * syncRecord, 2 * currentRecord + 2};
}

std::vector<DrawBatch> TriangleBatches(TriangleRange range) {
    std::vector<DrawBatch> out;
    for (std::int64_t first = range.first; first < range.end; first += kBatchTriangles) {
        const std::int64_t count = std::min<std::int64_t>(kBatchTriangles, range.end - first);
        out.push_back(
            DrawBatch{static_cast<std::uint32_t>(3 * first), static_cast<std::uint32_t>(count)});
    }
    return out;
}

HRESULT CreateSceneBuffer(RenderDevice* device, std::span<const MapVertex> vertices,
                          SceneBuffer* out) {
    ReleaseSceneBuffer(out);
    // Nothing to hold is not a failure: the buffer stays absent and draws nothing.
    if (vertices.empty()) return D3D_OK;
    VertexBuffer* buffer = nullptr;
    const HRESULT hr = CreateFilledVertexBuffer(
        device, vertices.data(), static_cast<std::uint64_t>(vertices.size()) * sizeof(MapVertex),
        kMapVertexFvf, &buffer);
    if (hr < 0) return hr;
    out->buffer = buffer;
    out->triangleCount = static_cast<std::int32_t>(vertices.size() / 3);
    out->chunkBounds = ChunkBounds(vertices);
    out->chunkAreas = ChunkAreaSums(vertices);
    return D3D_OK;
}

void ReleaseSceneBuffer(SceneBuffer* buffer) {
    if (buffer->buffer != nullptr) buffer->buffer->Release();
    buffer->buffer = nullptr;
    buffer->triangleCount = 0;
    buffer->chunkBounds.clear();
    buffer->chunkAreas.clear();
}

void ReleaseMapSceneBuffers(MapSceneBuffers* buffers) {
    ReleaseSceneBuffer(&buffers->track);
    ReleaseSceneBuffer(&buffers->markers);
    for (SceneBuffer& path : buffers->paths) ReleaseSceneBuffer(&path);
    ReleaseSceneBuffer(&buffers->cars);
}

std::vector<std::vector<std::uint32_t>> RibbonColoursOf(const MapSceneInput& input) {
    const std::size_t slots = std::min<std::size_t>(input.replays.size(), kMaxReplays);
    const SpeedRange speeds = LapsSpeedRange(input.replays.first(slots));
    std::vector<std::vector<std::uint32_t>> out(slots);
    for (std::size_t i = 0; i < slots; ++i) {
        const std::uint32_t colour = i < input.colours.size() ? input.colours[i] : 0xFFFFFFFFu;
        const bool byDelta = input.colouring == RibbonColouring::ByDelta &&
                             i < input.deltaRates.size() &&
                             input.deltaRates[i].size() == input.replays[i].records.size();
        out[i] = byDelta ? DeltaRecordColours(input.deltaRates[i])
                         : RibbonRecordColours(input.replays[i], input.colouring, colour, speeds);
    }
    return out;
}

HRESULT CreateRibbonBuffers(RenderDevice* device, std::span<const ReplayFile> replays,
                            std::span<const std::vector<std::uint32_t>> recordColours,
                            const RibbonWidening& widening, MapSceneBuffers* buffers) {
    for (std::size_t i = 0; i < buffers->paths.size(); ++i) {
        SceneBuffer& path = buffers->paths[i];
        if (i >= replays.size()) {
            ReleaseSceneBuffer(&path);
            continue;
        }
        const std::span<const std::uint32_t> colours =
            i < recordColours.size() ? std::span<const std::uint32_t>(recordColours[i])
                                     : std::span<const std::uint32_t>();
        const HRESULT hr =
            CreateSceneBuffer(device, BuildRibbonVertices(replays[i], colours, widening), &path);
        if (hr < 0) return hr;
    }
    return D3D_OK;
}

HRESULT CreateMapSceneBuffers(RenderDevice* device, const MapSceneInput& input,
                              MapSceneBuffers* buffers) {
    HRESULT hr = D3D_OK;
    if (!input.markers.empty()) {
        hr = CreateSceneBuffer(device, BuildMarkerVertices(input.markers), &buffers->markers);
        if (hr < 0) return hr;
    }
    if (input.mesh != nullptr) {
        hr = CreateSceneBuffer(device, BuildMeshVertices(*input.mesh), &buffers->track);
        if (hr < 0) return hr;
    }
    const std::size_t slots = std::min<std::size_t>(input.replays.size(), kMaxReplays);
    if (input.recordColours.empty()) {
        hr = CreateRibbonBuffers(device, input.replays.first(slots), RibbonColoursOf(input),
                                 input.widening, buffers);
    } else {
        hr = CreateRibbonBuffers(device, input.replays.first(slots), input.recordColours,
                                 input.widening, buffers);
    }
    if (hr < 0) return hr;
    if (slots > 0) {
        // Refilled every frame with the cars at the playback time.
        const std::vector<MapVertex> room(kMaxReplays * kCarMarkerVertices, MapVertex{});
        hr = CreateSceneBuffer(device, room, &buffers->cars);
    }
    return hr;
}

bool BoxOutsideClipVolume(const MapExtent& box, const Matrix4& vp) {
    // Each side of the clip volume is a half-space linear in the homogeneous coordinates, so a
    // box lies beyond it exactly when all eight corners do. A small relative margin keeps a
    // corner that rounding puts on the plane from counting as beyond it.
    constexpr double kMargin = 1e-6;
    bool left = true, right = true, bottom = true, top = true, nearSide = true, farSide = true;
    const auto& m = vp.m;
    // The products of each corner's coordinates with the matrix rows, made once for the two
    // values of each axis: every corner sums the same products in the same order as before.
    double px[2][4], py[2][4], pz[2][4];
    const double xs[2] = {box.min.x, box.max.x}, ys[2] = {box.min.y, box.max.y},
                 zs[2] = {box.min.z, box.max.z};
    for (int s = 0; s < 2; ++s) {
        for (int c = 0; c < 4; ++c) {
            px[s][c] = xs[s] * m[0][c];
            py[s][c] = ys[s] * m[1][c];
            pz[s][c] = zs[s] * m[2][c];
        }
    }
    for (int i = 0; i < 8; ++i) {
        const double* ax = px[i & 1];
        const double* ay = py[(i >> 1) & 1];
        const double* az = pz[(i >> 2) & 1];
        const double cx = ax[0] + ay[0] + az[0] + m[3][0];
        const double cy = ax[1] + ay[1] + az[1] + m[3][1];
        const double cz = ax[2] + ay[2] + az[2] + m[3][2];
        const double cw = ax[3] + ay[3] + az[3] + m[3][3];
        const double eps =
            kMargin * (std::fabs(cx) + std::fabs(cy) + std::fabs(cz) + std::fabs(cw));
        // NaN fails every comparison, so such a box is never called outside.
        left = left && cx < -cw - eps;
        right = right && cx > cw + eps;
        bottom = bottom && cy < -cw - eps;
        top = top && cy > cw + eps;
        nearSide = nearSide && cz < -eps;
        farSide = farSide && cz > cw + eps;
        // A corner inside every side settles it, as most boxes in view show at once.
        if (!(left || right || bottom || top || nearSide || farSide)) return false;
    }
    return true;
}

void DrawMapScene(RenderDevice* device, const MapSceneBuffers& buffers,
                  std::span<const TriangleRange> ribbonRanges, const Matrix4* cullViewProjection,
                  MapFrameBudget* budget) {
    const CoverageEstimator* estimator = budget != nullptr ? &budget->estimator : nullptr;
    CoverageBudget* meshBudget = budget != nullptr ? &budget->mesh : nullptr;
    CoverageBudget* pathBudget = budget != nullptr ? &budget->paths : nullptr;
    device->SetVertexShader(kMapVertexFvf);
    if (buffers.track.buffer != nullptr) {
        device->SetStreamSource(0, buffers.track.buffer, sizeof(MapVertex));
        DrawBatches(device, buffers.track, {0, buffers.track.triangleCount}, cullViewProjection,
                    estimator, meshBudget);
    }
    // Markers and ribbons are seen from either side.
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    if (buffers.markers.buffer != nullptr && buffers.markers.triangleCount > 0) {
        device->SetStreamSource(0, buffers.markers.buffer, sizeof(MapVertex));
        DrawBatches(device, buffers.markers, {0, buffers.markers.triangleCount}, nullptr, estimator,
                    pathBudget);
    }
    const std::size_t slots = std::min<std::size_t>(ribbonRanges.size(), kMaxReplays);
    for (std::size_t i = 0; i < slots; ++i) {
        const SceneBuffer& path = buffers.paths[i];
        if (path.buffer == nullptr) continue;
        device->SetStreamSource(0, path.buffer, sizeof(MapVertex));
        DrawBatches(device, path, ribbonRanges[i], cullViewProjection, estimator, pathBudget);
    }
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
}

}  // namespace lapquill
