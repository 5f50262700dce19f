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
    if ((set_.meshLoaded ? TrackBounds() : nullptr) == nullptr) return;
    wholeTrack_ = true;
    camera_.followCar = false;
    PlaceWholeTrack();
    UpdateCamera();
}

void CAnalysisView::PlaceWholeTrack() {
    const MapExtent* extent = set_.meshLoaded ? TrackBounds() : nullptr;
    if (extent == nullptr) return;
    const std::vector<ClientRect> covered = MapCoveredNow();
    const WholeTrackView v = WholeTrackFraming(*extent, window_.GetClientRect(), covered);
    camera_.cameraTarget = v.target;
    camera_.cameraHeight = v.height;
    // The framing centres the circuit in the room the table and legend leave, which can put the
    // point under the client's centre beside the map. The target may stay there, so that the
    // next pan or zoom starts from the picture as it is instead of snapping onto the map.
    targetRoom_ = GrownToTake(*extent, v.target);
    targetRoomSet_ = true;
}

const MapExtent* CAnalysisView::TargetRoom() const {
    const MapExtent* extent = set_.meshLoaded ? TrackBounds() : nullptr;
    return extent != nullptr && targetRoomSet_ ? &targetRoom_ : extent;
}

std::vector<ClientRect> CAnalysisView::MapCoveredNow() const {
    std::vector<ClientRect> out;
    const ClientRect rc = window_.GetClientRect();
    const std::int32_t n = std::min<std::int32_t>(set_.replayCount, kMaxReplays);
    if (overlay_.statsVisible && n > 0 && overlay_.columnWidth > 0) {
        // The table's panel, whether or not its dark backdrop is drawn: the rows and titles
        // stand on it either way.
        StatsOverlay panel = overlay_;
        panel.backdropVisible = true;
        const std::vector<ScreenVertex> v = BuildStatsPanelVertices(
            panel, rc.right, n, set_.replays[0].header.SectorCount());
        if (!v.empty()) {
            float x0 = v[0].x, x1 = v[0].x, y0 = v[0].y, y1 = v[0].y;
            for (const ScreenVertex& p : v) {
                x0 = std::min(x0, p.x);
                x1 = std::max(x1, p.x);
                y0 = std::min(y0, p.y);
                y1 = std::max(y1, p.y);
            }
            // The column lines stand a pixel inside their columns, the last one's a pixel past
            // the client's edge: what counts is the part on the client.
            out.push_back({std::max(static_cast<std::int32_t>(std::floor(x0)), 0),
                           std::max(static_cast<std::int32_t>(std::floor(y0)), 0),
                           std::min(static_cast<std::int32_t>(std::ceil(x1)), rc.right),
                           std::min(static_cast<std::int32_t>(std::ceil(y1)), rc.bottom)});
        }
    }
    LegendBox legend;
    if (MeasureLegend(&legend)) out.push_back(legend.panel);
    return out;
}

std::int32_t CAnalysisView::RibbonWidthStepNow() const {
    return UsesChaseCamera(camera_, ChaseCarNow()) ? 0 : RibbonWidthStep(camera_.cameraHeight);
}

bool CAnalysisView::MeasureLegend(LegendBox* box) const {
    if (set_.replayCount <= 0 || !device_) return false;
    box->entries = RibbonLegendNow();
    if (box->entries.empty()) return false;
    const ClientRect rc = window_.GetClientRect();
    TextSize line;
    if (labelFont_.MeasureText("Ag", &line) < 0 || line.cy <= 0) return false;
    std::int32_t textWidth = 0;
    for (const LegendEntry& e : box->entries) {
        TextSize size;
        if (labelFont_.MeasureText(e.text.c_str(), &size) >= 0) textWidth = std::max(textWidth, size.cx);
    }
    const std::int32_t margin = ScaledPixels(overlay_, kLegendMargin);
    const std::int32_t pad = ScaledPixels(overlay_, kLegendPadding);
    const std::int32_t swatch = ScaledPixels(overlay_, kLegendSwatch);
    box->textLeft = margin + pad + swatch + ScaledPixels(overlay_, kLegendSwatchGap);
    const auto rows = static_cast<std::int32_t>(box->entries.size());
    const std::int32_t panelTop = rc.bottom - margin - 2 * pad - rows * line.cy;
    box->panel = {margin, panelTop, box->textLeft + textWidth + pad, rc.bottom - margin};
    box->lineHeight = line.cy;
    box->firstLine = panelTop + pad;
    return true;
}

void CAnalysisView::DrawRibbonLegend() {
    LegendBox box;
    if (!MeasureLegend(&box)) return;
    const std::vector<LegendEntry>& entries = box.entries;
    const std::int32_t pad = ScaledPixels(overlay_, kLegendPadding);
    const std::int32_t swatch = ScaledPixels(overlay_, kLegendSwatch);
    const auto rows = static_cast<std::int32_t>(entries.size());
    const ClientRect& panel = box.panel;

    // The same dark translucent panel as the table's, so the text reads over grass, asphalt and
    // kerbs alike. Each line's colour is shown exactly in its square; the text takes a lighter
    // shade of it where the colour itself is too dark to read on the panel.
    std::vector<ScreenVertex> quads;
    quads.reserve(static_cast<std::size_t>(rows + 1) * kQuadVertices);
    AppendQuad(&quads, true, panel.left, panel.top, panel.right - panel.left,
               panel.bottom - panel.top, kBackdropColour, kBackdropColour);
    for (std::int32_t i = 0; i < rows; ++i) {
        // The delta legend ends with the lap it measures against: a caption, not a colour.
        const bool caption = colouring_ == RibbonColouring::ByDelta && i == 3;
        if (caption) continue;
        const std::uint32_t c = entries[static_cast<std::size_t>(i)].colour | 0xFF000000u;
        AppendQuad(&quads, true, panel.left + pad,
                   box.firstLine + i * box.lineHeight + (box.lineHeight - swatch) / 2, swatch,
                   swatch, c, c);
    }
    SubmitOverlayBars(device_.get(), quads);
    for (std::int32_t i = 0; i < rows; ++i) {
        const LegendEntry& e = entries[static_cast<std::size_t>(i)];
        labelFont_.DrawString(static_cast<float>(box.textLeft),
                              static_cast<float>(box.firstLine + i * box.lineHeight),
                              LegibleTitleColour(e.colour), e.text.c_str());
    }
}

}  // namespace lapquill
