// The view's map beyond the first program: ribbon colouring, the car markers at the playback
// time, the colour legend in the bottom-left corner and the whole-track framing. The geometry
// and colours are pure functions in src/render; this file feeds them the view's state.
#include <cmath>

#include "render/car_markers.h"
#include "view/analysis_view.h"

namespace lapquill {

namespace {

constexpr float kLegendMargin = 8.0f;  // pixels from the client's left and bottom edges

}  // namespace

void CAnalysisView::SetRibbonColouring(RibbonColouring colouring) {
    if (colouring == colouring_) return;
    colouring_ = colouring;
    // The colours are baked into the ribbon buffers, which are rebuilt with the device objects.
    if (device_) ResetDevice();
    window_.InvalidateRect();
}

void CAnalysisView::FrameWholeTrack() {
    const MapExtent* extent = set_.meshLoaded ? TrackBounds() : nullptr;
    if (extent == nullptr) return;
    wholeTrack_ = true;
    camera_.followCar = false;
    const WholeTrackView v = WholeTrackFraming(*extent, window_.GetClientRect());
    camera_.cameraTarget = v.target;
    camera_.cameraHeight = v.height;
    UpdateCamera();
}

std::vector<MapVertex> CAnalysisView::CarMarkersNow() const {
    std::vector<MapVertex> out;
    const std::int32_t n = std::min<std::int32_t>(set_.replayCount, kMaxReplays);
    if (n <= 0) return out;
    // The arrow keeps its size on screen: metres per pixel at the distance the camera looks from.
    const ClientRect rc = window_.GetClientRect();
    const float distance = camera_.followCar ? static_cast<float>(camera_.followDistance)
                                             : camera_.cameraHeight;
    const float pixels = static_cast<float>(std::max<std::int32_t>(rc.bottom - rc.top, 1));
    const float metresPerPixel = 2.0f * distance * std::tan(kFieldOfView / 2.0f) / pixels;
    // Measured in 96-dpi pixels, so the arrow keeps its physical size on a dense screen.
    const float length = CarMarkerLength(metresPerPixel * overlay_.pixelScale);
    out.reserve(static_cast<std::size_t>(n) * kCarMarkerVertices);
    for (std::int32_t i = 0; i < n; ++i) {
        const ReplayFile& lap = set_.replays[static_cast<std::size_t>(i)];
        if (lap.records.empty()) continue;
        const std::int32_t k = std::clamp<std::int32_t>(RecordIndexAt(i, playback_.playbackTime),
                                                        0, lap.RecordCount() - 1);
        const ReplayRecord& r = lap.records[static_cast<std::size_t>(k)];
        // Opaque, so the outline under it shows only as its rim.
        AppendCarMarker(r.position, r.forwardAxis, length,
                        overlay_.replayColours[static_cast<std::size_t>(i)] | 0xFF000000u, &out);
    }
    return out;
}

std::vector<LegendEntry> CAnalysisView::RibbonLegendNow() const {
    const std::size_t n = static_cast<std::size_t>(std::max<std::int32_t>(set_.replayCount, 0));
    const SpeedRange& speeds = legendSpeeds_.Get({set_.replays.data(), n}, replaySetVersion_);
    return RibbonLegend(colouring_, {set_.replayTitles.data(), n},
                        {overlay_.replayColours.data(), n}, speeds, units_,
                        static_cast<std::size_t>(ComparisonReference()));
}

void CAnalysisView::SetComparisonReference(std::int32_t slot) {
    if (slot == comparisonReference_) return;
    comparisonReference_ = slot;
    // The delta colours are baked into the ribbon buffers like every other colouring.
    if (colouring_ == RibbonColouring::ByDelta && device_) ResetDevice();
    window_.InvalidateRect();
}

std::int32_t CAnalysisView::ComparisonReference() const {
    return comparisonReference_ >= 0 && comparisonReference_ < set_.replayCount
               ? comparisonReference_
               : 0;
}

void CAnalysisView::DrawRibbonLegend() {
    if (set_.replayCount <= 0) return;
    const std::vector<LegendEntry> entries = RibbonLegendNow();
    const ClientRect rc = window_.GetClientRect();
    TextSize line;
    if (labelFont_.MeasureText("Ag", &line) < 0 || line.cy <= 0) return;
    const float margin = kLegendMargin * overlay_.pixelScale;
    float y = static_cast<float>(rc.bottom) - margin -
              static_cast<float>(line.cy) * static_cast<float>(entries.size());
    for (const LegendEntry& e : entries) {
        labelFont_.DrawString(margin, y, e.colour, e.text.c_str());
        y += static_cast<float>(line.cy);
    }
}

}  // namespace lapquill
