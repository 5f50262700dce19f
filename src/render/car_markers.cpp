// Car markers and the whole-track framing. See car_markers.h.
#include "render/car_markers.h"

#include <algorithm>
#include <cmath>
#include <cstring>

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

WholeTrackView WholeTrackFraming(const MapExtent& extent, const ClientRect& client) {
    const float width = static_cast<float>(std::max<std::int32_t>(client.right - client.left, 1));
    const float heightPx = static_cast<float>(std::max<std::int32_t>(client.bottom - client.top, 1));
    const float aspect = width / heightPx;
    const float tanHalf = std::tan(kFieldOfView / 2.0f);
    const float halfX = (extent.max.x - extent.min.x) / 2.0f * kFramingMargin;
    const float halfY = (extent.max.y - extent.min.y) / 2.0f * kFramingMargin;
    const float h = std::max({halfY / tanHalf, halfX / (tanHalf * aspect), kNearPlane * 2.0f});
    WholeTrackView v;
    v.height = h;
    v.target = {(extent.min.x + extent.max.x) / 2.0f, (extent.min.y + extent.max.y) / 2.0f,
                extent.max.z + h};
    return v;
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
