// The track map's geometry: the mesh as one triangle list, the segment-marker bars, one path
// ribbon per replay, the map's extent, the 200-triangle draw batches, and the vertex buffers that
// hold them on a device. Builders are pure functions returning plain arrays; the view owns one
// MapSceneBuffers, fills it when it creates its device objects and releases it with them.
// Metres, Z up, colours ARGB; every buffer is a list of MapVertex, three per triangle.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "analysis/replay_set.h"
#include "files/replay_file.h"
#include "files/segment_file.h"
#include "files/track_mesh.h"
#include "math/math_types.h"
#include "render/map_coverage.h"
#include "render/render_device.h"
#include "render/ribbon_colours.h"
#include "render/vertex_types.h"

namespace lapquill {

inline constexpr std::int32_t kBatchTriangles = 200;         // triangles per DrawPrimitive
inline constexpr std::uint32_t kMarkerColour = 0x80FFFFFFu;  // white, half transparent
inline constexpr float kMarkerHalfLength = 1.0f;  // m the bar reaches along the track each way
// A replay without blocks has no lateral offsets; its ribbon is this wide, centred on the car.
inline constexpr float kRibbonWidthWithoutBlocks = 1.0f;  // m
inline constexpr int kCarMarkerVertices = 6;  // per car: the dark outline, then the arrow

// An axis-aligned box, m.
struct MapExtent {
    Vector3 min;  // smallest x, y, z
    Vector3 max;  // largest x, y, z
};

// The box from the smallest object centre - radius to the largest centre + radius, per axis.
// False (and `extent` untouched) when the mesh has no objects.
bool MeshExtent(const TrackMesh& mesh, MapExtent* extent);

// Triangles of the whole mesh, all objects together.
std::int32_t MeshTriangleCount(const TrackMesh& mesh);

// The mesh as one non-indexed triangle list: every object's triangles in order, each as its three
// vertices copied as they are.
std::vector<MapVertex> BuildMeshVertices(const TrackMesh& mesh);

// Two triangles per marker in record order: the bar position +- (width / 2)(sin a, cos a)
// +- 1 m (cos a, -sin a) at the marker's height, in kMarkerColour. With P1 = c + v - u,
// P2 = c + v + u, P3 = c - v + u, P4 = c - v - u the vertices are P1 P2 P3, P1 P3 P4.
std::vector<MapVertex> BuildMarkerVertices(std::span<const SegmentMarkerRecord> markers);

// The sideways extent of a replay's ribbon: the smallest and largest lateral offset of its
// blocks; (-0.5, 0.5) when it has no blocks.
struct LateralRange {
    float lo;  // m along the normalised lateral axis
    float hi;  // m
};
LateralRange LateralOffsetRange(const ReplayFile& replay);

// A ribbon drawn wider than its offsets make it, so that it stays visible when the map is seen
// from far out: at least minWidth metres wide, but never more than maxScale times its own width,
// widened evenly about the middle of its offsets. The default changes nothing.
struct RibbonWidening {
    float minWidth = 0.0f;  // m
    float maxScale = 1.0f;  // of the ribbon's own width
};
// The range widened as above; the range itself when it is already wide enough, when maxScale
// is 1 or less, or when a value is not a finite number.
LateralRange WidenedRange(LateralRange range, const RibbonWidening& widening);

// The ribbon of a replay, two triangles per record, all of one colour. With A_k and B_k the
// points lo and hi metres along record k's normalised lateral axis from its position, triangles
// 2k and 2k + 1 join record k - 1 to record k (B_k A_k A_k-1, B_k-1 B_k A_k-1); the pair of
// record 0 is degenerate (B_0 A_0 A_0, B_0 B_0 A_0), so drawing up to record 0 shows nothing.
std::vector<MapVertex> BuildRibbonVertices(const ReplayFile& replay, std::uint32_t colour);
// The same ribbon with the pair of record k in recordColours[k] (one colour per record),
// between the offsets of WidenedRange(LateralOffsetRange(replay), widening).
std::vector<MapVertex> BuildRibbonVertices(const ReplayFile& replay,
                                           std::span<const std::uint32_t> recordColours,
                                           const RibbonWidening& widening = {});

// Triangles [first, end) of a buffer.
struct TriangleRange {
    std::int32_t first = 0;
    std::int32_t end = 0;
};

// The part of a ribbon drawn at the playback time: from the replay's record at time 0 (its sync
// point) to its record at the playback time, both as RecordIndexAt gives them.
TriangleRange RibbonDrawRange(std::int32_t syncRecord, std::int32_t currentRecord);

// One DrawPrimitive of a triangle list.
struct DrawBatch {
    std::uint32_t startVertex;     // 3 x the first triangle
    std::uint32_t primitiveCount;  // 1 .. kBatchTriangles
};

// The draws of triangles [first, end) in batches of at most kBatchTriangles, from `first` on;
// none when first >= end.
std::vector<DrawBatch> TriangleBatches(TriangleRange range);

// One value per run of kBatchTriangles triangles of a triangle list, counted from its start
// (the last run may be shorter): per(run) is given the run's vertices. These runs are the
// chunks of a SceneBuffer.
template <typename T, typename PerChunk>
std::vector<T> PerTriangleChunk(std::span<const MapVertex> vertices, PerChunk per) {
    constexpr std::size_t kChunkVertices = 3 * kBatchTriangles;
    std::vector<T> out;
    out.reserve((vertices.size() + kChunkVertices - 1) / kChunkVertices);
    for (std::size_t first = 0; first < vertices.size(); first += kChunkVertices) {
        const std::size_t end = std::min(first + kChunkVertices, vertices.size());
        out.push_back(per(vertices.subspan(first, end - first)));
    }
    return out;
}

// A filled vertex buffer and what culling needs to know of it: the bounding box of every
// kBatchTriangles triangles counted from the start of the buffer.
struct SceneBuffer {
    VertexBuffer* buffer = nullptr;  // one reference, dropped by ReleaseSceneBuffer
    std::int32_t triangleCount = 0;
    std::vector<MapExtent> chunkBounds;  // chunk c holds triangles [200c, 200c + 200)
    std::vector<Vector3> chunkAreas;     // per chunk, as ChunkAreaSums gives them
};

// Creates a buffer of the vertices' size (usage 0, default pool) and fills it through one
// Lock/Unlock. No vertices make no buffer and succeed. Any failure releases what was made and
// returns the device's error; `out` then holds no buffer.
HRESULT CreateSceneBuffer(RenderDevice* device, std::span<const MapVertex> vertices,
                          SceneBuffer* out);
void ReleaseSceneBuffer(SceneBuffer* buffer);

// The map's device objects. A null buffer is drawn as absent (no mesh, no markers, empty slot).
struct MapSceneBuffers {
    SceneBuffer track;
    SceneBuffer markers;
    std::array<SceneBuffer, kMaxReplays> paths;  // per replay slot
    SceneBuffer cars;  // room for one car marker per slot; made when a replay is loaded
};
void ReleaseMapSceneBuffers(MapSceneBuffers* buffers);

// What the map is built from.
struct MapSceneInput {
    const TrackMesh* mesh = nullptr;                     // null while no mesh is loaded
    std::span<const SegmentMarkerRecord> markers;        // the segment file's records; may be empty
    std::span<const ReplayFile> replays;                 // the loaded slots in order, at most six
    std::span<const std::uint32_t> colours;              // ARGB per slot, at least one per replay
    RibbonColouring colouring = RibbonColouring::ByLap;  // how the ribbons are coloured
    // By delta: each slot's delta rate per record (s/m, see DeltaRateColour); a slot without
    // them is coloured by lap.
    std::span<const std::vector<double>> deltaRates = {};
    RibbonWidening widening = {};  // of every ribbon
    // When not empty: every record's colour per slot, as RibbonColoursOf gives them, used
    // instead of working them out from the colouring again.
    std::span<const std::vector<std::uint32_t>> recordColours = {};
};

// The colour of every record of every ribbon (one list per slot, at most six), as the colouring
// of the input gives them. The view keeps them to build the ribbons again at another width.
std::vector<std::vector<std::uint32_t>> RibbonColoursOf(const MapSceneInput& input);

// Builds and fills one ribbon per replay (replays[i] in recordColours[i], widened), in place of
// the ribbons in `buffers`; slots beyond the replays are emptied. Stops at the first buffer
// that cannot be made and returns its error; the ribbons made before it stay.
HRESULT CreateRibbonBuffers(RenderDevice* device, std::span<const ReplayFile> replays,
                            std::span<const std::vector<std::uint32_t>> recordColours,
                            const RibbonWidening& widening, MapSceneBuffers* buffers);

// Builds and fills the marker buffer (when there are markers), the mesh buffer (when a mesh is
// loaded) and one ribbon per replay (CreateRibbonBuffers), in that order. Stops at the first buffer that cannot be
// created or filled and returns its error; the buffers made before it stay in `buffers` for
// ReleaseMapSceneBuffers. Each vertex array is freed as soon as it is copied.
HRESULT CreateMapSceneBuffers(RenderDevice* device, const MapSceneInput& input,
                              MapSceneBuffers* buffers);

// True when nothing of the box can appear under viewProjection: all its corners lie beyond one
// side of the clip volume (left, right, bottom, top, near or far).
bool BoxOutsideClipVolume(const MapExtent& box, const Matrix4& viewProjection);

// Draws the map inside a scene: MapVertex format; the mesh in batches under the current cull
// mode (clockwise); then with culling off the markers and, per slot, the ribbon triangles of
// ribbonRanges[slot] in batches; then clockwise culling again. With cullViewProjection (the view
// times the projection) batches that lie wholly outside the view are skipped; the picture is the
// same, only the draw calls differ.
// With a budget, the mesh is drawn within budget->mesh and the markers and ribbons within
// budget->paths: a batch whose pixels would pass its layer's limit is drawn only up to the last
// triangle that fits, and the layer's later batches are skipped (its `cut` is then set).
void DrawMapScene(RenderDevice* device, const MapSceneBuffers& buffers,
                  std::span<const TriangleRange> ribbonRanges,
                  const Matrix4* cullViewProjection = nullptr, MapFrameBudget* budget = nullptr);

}  // namespace lapquill
