// Car markers and the whole-track framing. See car_markers.h.
#include "render/car_markers.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>

#include "render/camera.h"

namespace lapquill {

namespace {

constexpr float kNoseShare = 0.6f;       // of the length ahead of the position
constexpr float kHalfWidthShare = 0.4f;  // of the length each side at the tail
constexpr float kFramingMargin = 1.08f;  // the whole track fills a little less than the view

MapVertex Vertex(const Vector3& p, std::uint32_t colour) {
    return {p.x, p.y, p.z + kCarMarkerLift, colour};
}

Vector3 Scaled(const Vector3& centre, const Vector3& p, float k) {
    return {centre.x + (p.x - centre.x) * k, centre.y + (p.y - centre.y) * k, p.z};
}

}  // namespace

CarArrow CarArrowAt(const Vector3& position, const Vector3& forward, float length) {
    float fx = forward.x, fy = forward.y;
    const float norm = std::sqrt(fx * fx + fy * fy);
    if (!(norm > 0.0f) || !std::isfinite(norm)) {
        fx = 0.0f;
        fy = 1.0f;
    } else {
        fx /= norm;
        fy /= norm;
    }
    const float ahead = length * kNoseShare;
    const float behind = length - ahead;
    const float half = length * kHalfWidthShare;
    const Vector3& p = position;
    // The left side of a car heading along (fx, fy) with Z up is (-fy, fx).
    CarArrow a;
    a.nose = {p.x + fx * ahead, p.y + fy * ahead, p.z};
    a.left = {p.x - fx * behind - fy * half, p.y - fy * behind + fx * half, p.z};
    a.right = {p.x - fx * behind + fy * half, p.y - fy * behind - fx * half, p.z};
    return a;
}

void AppendCarMarker(const Vector3& position, const Vector3& forward, float length,
                     std::uint32_t colour, std::vector<MapVertex>* out) {
    const CarArrow a = CarArrowAt(position, forward, length);
    const float k = kCarOutlineScale;
    out->insert(out->end(), {Vertex(Scaled(position, a.nose, k), kCarOutlineColour),
                             Vertex(Scaled(position, a.left, k), kCarOutlineColour),
                             Vertex(Scaled(position, a.right, k), kCarOutlineColour),
                             Vertex(a.nose, colour), Vertex(a.left, colour),
                             Vertex(a.right, colour)});
}

float CarMarkerLength(float metresPerPixel) {
    if (!(metresPerPixel > 0.0f) || !std::isfinite(metresPerPixel)) return kCarMarkerMinLength;
    return std::max(kCarMarkerPixels * metresPerPixel, kCarMarkerMinLength);
}

float CarMarkerLength(float metresPerPixel, float trackSpan) {
    const float length = CarMarkerLength(metresPerPixel);
    if (!(trackSpan > 0.0f) || !std::isfinite(trackSpan)) return length;
    return std::max(std::min(length, trackSpan * kCarMarkerTrackShare), kCarMarkerMinLength);
}

WholeTrackView WholeTrackFraming(const MapExtent& extent, const ClientRect& client) {
    return WholeTrackFraming(extent, client, {});
}

namespace {

bool Overlaps(const ClientRect& a, const ClientRect& b) {
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

// The edges a free rectangle may have along one axis: the client's and every covered part's,
// inside the client, ascending and without repeats.
std::vector<std::int32_t> Edges(std::int32_t size, std::span<const ClientRect> covered,
                                bool horizontal) {
    std::vector<std::int32_t> edges{0, size};
    for (const ClientRect& c : covered) {
        for (std::int32_t e : horizontal ? std::array{c.left, c.right} : std::array{c.top, c.bottom}) {
            edges.push_back(std::clamp(e, 0, size));
        }
    }
    std::sort(edges.begin(), edges.end());
    edges.erase(std::unique(edges.begin(), edges.end()), edges.end());
    return edges;
}

// Where on one axis the top of the box may lie, in pixels from the client's centre, so that
// the box fits [lo, hi] at its top and at its bottom, which is drawn `shrink` times as large
// about the centre: an edge on the far side of the centre moves away from it.
struct Span {
    float lo, hi;  // pixels from the client's centre
};
Span TopSpan(float lo, float hi, float shrink) {
    return {lo > 0 ? lo / shrink : lo, hi < 0 ? hi / shrink : hi};
}

struct Placement {
    Span x, y;                   // where the box's top goes, pixels from the centre
    float metresPerPixel = 0.0f; // at the box's top
    ClientRect free;
};

// The free rectangle in which the box shows largest, for a bottom drawn `shrink` times the top.
Placement BestPlacement(float boxWidth, float boxDepth, const ClientRect& client,
                        std::span<const ClientRect> covered, float shrink) {
    const std::int32_t w = client.right - client.left;
    const std::int32_t h = client.bottom - client.top;
    std::vector<ClientRect> parts;
    for (const ClientRect& c : covered) {
        if (c.right > c.left && c.bottom > c.top) parts.push_back(c);
    }
    const std::vector<std::int32_t> xs = Edges(w, parts, true);
    const std::vector<std::int32_t> ys = Edges(h, parts, false);
    const float cx = static_cast<float>(w) / 2.0f;
    const float cy = static_cast<float>(h) / 2.0f;
    auto place = [&](const ClientRect& r) {
        Placement p;
        p.free = r;
        p.x = TopSpan(static_cast<float>(r.left) - cx, static_cast<float>(r.right) - cx, shrink);
        p.y = TopSpan(static_cast<float>(r.top) - cy, static_cast<float>(r.bottom) - cy, shrink);
        const float across = p.x.hi - p.x.lo;
        const float down = p.y.hi - p.y.lo;
        constexpr float kInf = std::numeric_limits<float>::infinity();
        p.metresPerPixel = across > 0 && down > 0
                               ? std::max(boxWidth * kFramingMargin / across,
                                          boxDepth * kFramingMargin / down)
                               : kInf;
        return p;
    };
    // The whole client first: without covered parts it is the only rectangle, and it wins ties.
    Placement best = place({0, 0, w, h});
    if (parts.empty()) return best;
    best.metresPerPixel = std::numeric_limits<float>::infinity();
    for (std::size_t l = 0; l < xs.size(); ++l) {
        for (std::size_t r = l + 1; r < xs.size(); ++r) {
            for (std::size_t t = 0; t < ys.size(); ++t) {
                for (std::size_t b = t + 1; b < ys.size(); ++b) {
                    const ClientRect rect{xs[l], ys[t], xs[r], ys[b]};
                    if (std::any_of(parts.begin(), parts.end(),
                                    [&](const ClientRect& c) { return Overlaps(rect, c); })) {
                        continue;
                    }
                    const Placement p = place(rect);
                    if (p.metresPerPixel < best.metresPerPixel) best = p;
                }
            }
        }
    }
    if (!std::isfinite(best.metresPerPixel)) return place({0, 0, w, h});
    return best;
}

}  // namespace

WholeTrackView WholeTrackFraming(const MapExtent& extent, const ClientRect& client,
                                 std::span<const ClientRect> covered) {
    const ClientRect rc{0, 0, std::max<std::int32_t>(client.right - client.left, 1),
                        std::max<std::int32_t>(client.bottom - client.top, 1)};
    const float heightPx = static_cast<float>(rc.bottom);
    const float tanHalf = std::tan(kFieldOfView / 2.0f);
    const float boxWidth = extent.max.x - extent.min.x;
    const float boxDepth = extent.max.y - extent.min.y;
    const float boxHeight = std::max(extent.max.z - extent.min.z, 0.0f);
    // The camera's height for a scale at the box's top, and how much smaller the box's bottom is
    // drawn from there.
    auto heightFor = [&](float metresPerPixel) {
        return std::max(metresPerPixel * heightPx / (2.0f * tanHalf), kNearPlane * 2.0f);
    };
    auto shrinkAt = [&](float h) { return h / (h + boxHeight); };
    // Framed once as if the box were flat, then again with the bottom as small as it is drawn
    // from that first height. The second camera is no lower than the first, so its bottom is
    // drawn no smaller than allowed for.
    Placement p = BestPlacement(boxWidth, boxDepth, rc, covered, 1.0f);
    p = BestPlacement(boxWidth, boxDepth, rc, covered, shrinkAt(heightFor(p.metresPerPixel)));
    const float h = heightFor(p.metresPerPixel);
    const float metresPerPixel = 2.0f * h * tanHalf / heightPx;
    // Screen x runs along world x, screen y (down) against world y.
    const float offsetX = (p.x.lo + p.x.hi) / 2.0f;
    const float offsetY = (p.y.lo + p.y.hi) / 2.0f;
    WholeTrackView v;
    v.height = h;
    v.free = p.free;
    v.target = {(extent.min.x + extent.max.x) / 2.0f - offsetX * metresPerPixel,
                (extent.min.y + extent.max.y) / 2.0f + offsetY * metresPerPixel,
                extent.max.z + h};
    return v;
}

MapExtent GrownToTake(const MapExtent& box, const Vector3& point) {
    MapExtent out = box;
    out.min.x = std::min(out.min.x, point.x);
    out.min.y = std::min(out.min.y, point.y);
    out.max.x = std::max(out.max.x, point.x);
    out.max.y = std::max(out.max.y, point.y);
    return out;
}

}  // namespace lapquill

namespace lapquill {

void DrawCarMarkers(RenderDevice* device, const MapSceneBuffers& buffers,
                    std::span<const MapVertex> markers) {
    VertexBuffer* vb = buffers.cars.buffer;
    const std::size_t room = static_cast<std::size_t>(kMaxReplays) * kCarMarkerVertices;
    const std::size_t count = std::min(markers.size(), room) / 3 * 3;
    if (vb == nullptr || count == 0) return;
    std::uint8_t* data = nullptr;
    const auto bytes = static_cast<std::uint32_t>(count * sizeof(MapVertex));
    if (vb->Lock(0, bytes, &data, 0) < 0 || data == nullptr) return;
    std::memcpy(data, markers.data(), bytes);
    vb->Unlock();
    device->SetVertexShader(kMapVertexFvf);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device->SetStreamSource(0, vb, sizeof(MapVertex));
    device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, static_cast<std::uint32_t>(count / 3));
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
}

}  // namespace lapquill
