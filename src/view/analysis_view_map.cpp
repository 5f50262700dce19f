// The view's map beyond the first program: ribbon colouring, the car markers at the playback
// time, the colour legend in the bottom-left corner and the whole-track framing. The geometry
// and colours are pure functions in src/render; this file feeds them the view's state.
#include <algorithm>
#include <cmath>
#include <vector>

#include "render/car_markers.h"
#include "render/stats_overlay.h"
#include "view/analysis_view.h"

namespace lapquill {

namespace {

// The legend's box, in 96-dpi pixels (scaled with the overlay): its distance from the client's
// left and bottom edges, the padding inside its panel, the colour square before each line and
// the gap between the square and the text.
constexpr std::int32_t kLegendMargin = 8;
constexpr std::int32_t kLegendPadding = 5;
constexpr std::int32_t kLegendSwatch = 8;
constexpr std::int32_t kLegendSwatchGap = 5;

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
    if (set_.replayCount <= 0 || !device_) return;
    const std::vector<LegendEntry> entries = RibbonLegendNow();
    if (entries.empty()) return;
    const ClientRect rc = window_.GetClientRect();
    TextSize line;
    if (labelFont_.MeasureText("Ag", &line) < 0 || line.cy <= 0) return;
    std::int32_t textWidth = 0;
    for (const LegendEntry& e : entries) {
        TextSize size;
        if (labelFont_.MeasureText(e.text.c_str(), &size) >= 0) textWidth = std::max(textWidth, size.cx);
    }
    const std::int32_t margin = ScaledPixels(overlay_, kLegendMargin);
    const std::int32_t pad = ScaledPixels(overlay_, kLegendPadding);
    const std::int32_t swatch = ScaledPixels(overlay_, kLegendSwatch);
    const std::int32_t textLeft = margin + pad + swatch + ScaledPixels(overlay_, kLegendSwatchGap);
    const auto rows = static_cast<std::int32_t>(entries.size());
    const std::int32_t panelTop = rc.bottom - margin - 2 * pad - rows * line.cy;
    const std::int32_t firstLine = panelTop + pad;

    // The same dark translucent panel as the table's, so the text reads over grass, asphalt and
    // kerbs alike. Each line's colour is shown exactly in its square; the text takes a lighter
    // shade of it where the colour itself is too dark to read on the panel.
    std::vector<ScreenVertex> quads;
    quads.reserve(static_cast<std::size_t>(rows + 1) * kQuadVertices);
    AppendQuad(&quads, true, margin, panelTop, textLeft - margin + textWidth + pad,
               rc.bottom - margin - panelTop, kBackdropColour, kBackdropColour);
    for (std::int32_t i = 0; i < rows; ++i) {
        // The delta legend ends with the lap it measures against: a caption, not a colour.
        const bool caption = colouring_ == RibbonColouring::ByDelta && i == 3;
        if (caption) continue;
        const std::uint32_t c = entries[static_cast<std::size_t>(i)].colour | 0xFF000000u;
        AppendQuad(&quads, true, margin + pad, firstLine + i * line.cy + (line.cy - swatch) / 2,
                   swatch, swatch, c, c);
    }
    SubmitOverlayBars(device_.get(), quads);
    for (std::int32_t i = 0; i < rows; ++i) {
        const LegendEntry& e = entries[static_cast<std::size_t>(i)];
        labelFont_.DrawString(static_cast<float>(textLeft),
                              static_cast<float>(firstLine + i * line.cy),
                              LegibleTitleColour(e.colour), e.text.c_str());
    }
}

}  // namespace lapquill
