// The view's drawing side: the device's life (created on the first paint, reset on every change
// of data or size, objects rebuilt after each reset), the frame, and the camera operations the
// keys, scroll bars and playback call. The geometry, camera maths and overlay live in src/render;
// this file puts them in order on the view's device and window.
#include <algorithm>
#include <array>

#include "analysis/channels.h"
#include "compare/compare.h"
#include "math/math3d.h"
#include "render/car_markers.h"
#include "view/analysis_view.h"

namespace lapquill {

namespace {

constexpr const char* kNoDeviceMessage = "Can't create DirectX device!";
constexpr const char* kNoVertexBufferMessage = "Could not create vertex buffer!";
constexpr const char* kDenseMeshNote =
    "The track mesh is too dense to draw in full: the parts beyond this frame's limit are left "
    "out.";
constexpr const char* kDensePathsNote =
    "The segment markers and lap paths are too dense to draw in full: the parts beyond this "
    "frame's limit are left out.";

}  // namespace

// ---- Device life ------------------------------------------------------------------------------

void CAnalysisView::OnPaint() {
    if (!deviceCreated_) {
        // Tried once: after a failure the view stays without a device and draws nothing.
        deviceCreated_ = true;
        const ClientRect rc = window_.GetClientRect();
        device_ = window_.CreateDevice(rc.right, rc.bottom);
        if (!device_) {
            window_.MessageBox(kNoDeviceMessage);
        } else {
            CreateDeviceObjects();
        }
    }
    RenderFrame();
}

void CAnalysisView::OnSize(std::int32_t width, std::int32_t height) {
    (void)width;  // the device and projection read the client rectangle themselves
    (void)height;
    if (device_) ResetDevice();
}

void CAnalysisView::OnDestroy() {
    if (device_) {
        ReleaseDeviceObjects();
        device_.reset();
    }
    ClearReplays();
}

HRESULT CAnalysisView::ResetDevice() {
    ++resetDeviceCalls_;
    ReleaseDeviceObjects();
    const ClientRect rc = window_.GetClientRect();
    const HRESULT hr = device_->Reset(rc.right, rc.bottom);
    if (hr < 0) return hr;
    CreateDeviceObjects();
    return hr;
}

OverlayFonts CAnalysisView::Fonts() {
    return {&fpsFont_, &valueFont_, &labelFont_};
}

void CAnalysisView::CreateDeviceObjects() {
    const ClientRect rc = window_.GetClientRect();
    RenderDevice* d = device_.get();
    d->SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
    d->SetRenderState(D3DRS_LIGHTING, 0);
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
    d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);

    // A font that fails draws nothing; the table still lays out by its measurements.
    const int dpi = window_.LogicalDpi();
    // On a high-density screen the window reports its dpi times its device-pixel ratio, so the
    // fonts, and with them the table, come out at the same physical size as at 100 %.
    overlay_.pixelScale =
        static_cast<float>(dpi > 0 ? dpi : kDefaultFontDpi) / static_cast<float>(kDefaultFontDpi);
    for (TextureFont* font : {&fpsFont_, &valueFont_, &labelFont_}) {
        font->CreateGlyphTexture(d, dpi);
        font->CreateDrawResources();
    }

    const std::int32_t n = set_.replayCount;
    const int sectors = n > 0 ? set_.replays[0].header.SectorCount() : 0;
    if (BuildStatsPanel(&overlay_, d, valueFont_, rc.right, n, sectors) < 0) {
        window_.MessageBox(kNoVertexBufferMessage);
        return;
    }

    MapSceneInput input;
    input.mesh = set_.meshLoaded ? &set_.trackMesh : nullptr;
    input.markers = set_.segmentFile.records;
    input.replays = {set_.replays.data(), static_cast<std::size_t>(n)};
    input.colours = overlay_.replayColours;
    input.colouring = colouring_;
    // The delta colouring asks the comparison engine how fast each lap gains or loses on the
    // reference lap (slot 0 unless the panes chose another) around every record.
    std::vector<std::vector<double>> deltaRates;
    if (colouring_ == RibbonColouring::ByDelta && n > 0) {
        const Comparison cmp = CompareLaps(set_, CompareOptions{ComparisonReference()});
        deltaRates.resize(static_cast<std::size_t>(n));
        for (std::size_t i = 0; i < cmp.laps.size(); ++i) {
            const auto slot = static_cast<std::size_t>(cmp.laps[i].slot);
            if (slot < deltaRates.size()) deltaRates[slot] = RecordDeltaRates(cmp, i);
        }
        input.deltaRates = deltaRates;
    }
    // The colours are kept, so that a change of the ribbons' width builds only their geometry.
    ribbonColours_ = RibbonColoursOf(input);
    input.recordColours = ribbonColours_;
    ribbonStep_ = RibbonWidthStepNow();
    input.widening = RibbonWideningAt(ribbonStep_, rc.bottom, overlay_.pixelScale);
    const HRESULT scene = CreateMapSceneBuffers(d, input, &scene_);
    // The mesh's box is taken once the markers are made, before the mesh itself.
    const bool markersMade = input.markers.empty() || scene_.markers.buffer != nullptr;
    if (input.mesh && markersMade && MeshExtent(*input.mesh, &trackBounds_)) {
        trackBoundsSet_ = true;
    }
    if (scene < 0) {
        window_.MessageBox(kNoVertexBufferMessage);
        return;
    }

    projection_ = ProjectionMatrix(rc);
    d->SetTransform(D3DTS_PROJECTION, &projection_);
    // A new size, table or legend moves the room the whole circuit is framed into.
    if (wholeTrack_ && !camera_.followCar) PlaceWholeTrack();
    UpdateCamera();
}

void CAnalysisView::ReleaseDeviceObjects() {
    ++releaseDeviceObjectsCalls_;
    for (TextureFont* font : {&fpsFont_, &valueFont_, &labelFont_}) {
        font->ReleaseDrawResources();
        font->ReleaseGlyphTexture();
    }
    ReleaseStatsPanel(&overlay_);
    ReleaseMapSceneBuffers(&scene_);
}

// ---- The frame --------------------------------------------------------------------------------

void CAnalysisView::RenderFrame() {
    if (device_) {
        RenderDevice* d = device_.get();
        HRESULT hr = d->TestCooperativeLevel();
        if (hr == D3DERR_DEVICENOTRESET) hr = ResetDevice();
        if (hr >= 0) {
            d->SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
            const std::uint32_t background =
                set_.meshLoaded ? set_.trackMesh.header.BackgroundColour() : 0xFF000000u;
            d->Clear(0, nullptr, D3DCLEAR_TARGET, background, 1.0f, 0);
            d->BeginScene();

            // Each ribbon grows from its replay's sync point to its record at the playback time.
            std::array<TriangleRange, kMaxReplays> ribbons{};
            for (std::int32_t i = 0; i < set_.replayCount; ++i) {
                ribbons[static_cast<std::size_t>(i)] =
                    RibbonDrawRange(RecordIndexAt(i, 0), RecordIndexAt(i, playback_.playbackTime));
            }
            // Batches wholly outside the view are skipped; what is drawn is the same. The
            // budget keeps a hostile mesh or path from holding the frame for seconds.
            Matrix4 viewProjection;
            D3DXMatrixMultiply(&viewProjection, &viewMatrix_, &projection_);
            const ClientRect client = window_.GetClientRect();
            MapFrameBudget budget(viewProjection, client.right, client.bottom);
            DrawMapScene(d, scene_,
                         std::span<const TriangleRange>(ribbons.data(),
                                                        static_cast<std::size_t>(set_.replayCount)),
                         &viewProjection, &budget);
            NoteMapCost(budget);
            DrawCarMarkers(d, scene_, CarMarkersNow());

            const OverlayFonts fonts = Fonts();
            UpdateFrameRate(&overlay_, AbsoluteTime(), fonts);
            if (overlay_.statsVisible && set_.replayCount > 0) {
                const ClientRect rc = window_.GetClientRect();
                // Without its bar buffer the frame goes on without the gauges.
                DrawStatsOverlay(overlay_, d, fonts, BuildStatsTableNow(), rc.right, rc.bottom);
            }
            DrawRibbonLegend();
            d->EndScene();
            if (d->Present() >= 0) window_.Present(d->GetPresentedFrame());
        }
    }
    AdvancePlayback();
}

void CAnalysisView::NoteMapCost(const MapFrameBudget& budget) {
    lastMapCost_ = {budget.mesh, budget.paths};
    if (budget.mesh.cut && !denseMeshNoted_) {
        denseMeshNoted_ = true;
        window_.ShowStatusNote(kDenseMeshNote);
    }
    if (budget.paths.cut && !densePathsNoted_) {
        densePathsNoted_ = true;
        window_.ShowStatusNote(kDensePathsNote);
    }
}

// ---- Camera -----------------------------------------------------------------------------------

ChaseCar CAnalysisView::ChaseCarNow() const {
    ChaseCar car;
    if (set_.replayCount == 0) return car;
    const ReplayFile& replay = set_.replays[0];
    car.records = {replay.records.data(), replay.records.size()};
    // The heading window is centred on the car's own record in every sync mode, so the eye
    // stays behind the car that TrackCar placed.
    car.record = RecordIndexAt(0, playback_.playbackTime);
    car.headingOf = &RecordHeading;
    return car;
}

void CAnalysisView::TrackCar() {
    if (set_.replayCount == 0) return;
    if (wholeTrack_ && !camera_.followCar) {
        // The whole circuit stays framed while the cars move.
        UpdateCamera();
        return;
    }
    // The camera goes to the car, on the map as ever.
    targetRoomSet_ = false;
    const ReplayFile& replay = set_.replays[0];
    lapquill::TrackCar(&camera_, {replay.records.data(), replay.records.size()},
                       RecordIndexAt(0, playback_.playbackTime));
    UpdateCamera();
}

GroundRect CAnalysisView::TopDownGround() const {
    // What the top-down camera sees from its target, whichever camera is shown: the pan steps,
    // the scroll pages and the scroll bars all measure the top-down target's ground.
    const ClientRect rc = window_.GetClientRect();
    return VisibleGroundRect(ProjectionMatrix(rc), TopDownViewMatrix(camera_), rc);
}

void CAnalysisView::UpdateCamera() {
    const ClientRect rc = window_.GetClientRect();
    const MapExtent* extent = set_.meshLoaded ? TrackBounds() : nullptr;
    projection_ = ProjectionMatrix(rc);
    // The target is kept on the map, or in the room beside it that the whole-track framing
    // left; the scroll bars measure that room too, so their thumbs stand where the camera is.
    const CameraFrame frame = ComputeCameraFrame(&camera_, TargetRoom(), projection_, rc,
                                                 ChaseCarNow());
    if (targetRoomSet_ && extent != nullptr) {
        // What a pan gave back beside the map is not taken again; on the map the room is gone.
        targetRoom_ = GrownToTake(*extent, camera_.cameraTarget);
        const Vector3& t = camera_.cameraTarget;
        targetRoomSet_ = t.x < extent->min.x || t.x > extent->max.x || t.y < extent->min.y ||
                         t.y > extent->max.y;
    }
    viewMatrix_ = frame.view;
    UpdateRibbonWidth();
    if (device_) device_->SetTransform(D3DTS_VIEW, &viewMatrix_);
    if (frame.scrollBars.show) window_.ShowScrollBar(ScrollBarId::Both, true);
    window_.SetScrollInfo(ScrollBarId::Horizontal, frame.scrollBars.horizontal, true);
    window_.SetScrollInfo(ScrollBarId::Vertical, frame.scrollBars.vertical, true);
    window_.InvalidateRect();
}

void CAnalysisView::UpdateRibbonWidth() {
    const std::int32_t step = RibbonWidthStepNow();
    if (step == ribbonStep_ || !device_ || set_.replayCount <= 0) return;
    // Only the ribbons' geometry changes: the colours of their records are kept from the last
    // build, so a step costs one pass over the records and no comparison of the laps.
    if (scene_.paths[0].buffer == nullptr) return;  // the device objects were not all made
    ribbonStep_ = step;
    const ClientRect rc = window_.GetClientRect();
    const HRESULT hr = CreateRibbonBuffers(
        device_.get(), {set_.replays.data(), static_cast<std::size_t>(set_.replayCount)},
        ribbonColours_, RibbonWideningAt(step, rc.bottom, overlay_.pixelScale), &scene_);
    if (hr < 0) {
        for (SceneBuffer& path : scene_.paths) ReleaseSceneBuffer(&path);
        window_.MessageBox(kNoVertexBufferMessage);
    }
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
    const MapExtent* box = set_.meshLoaded ? TrackBounds() : nullptr;
    const float span = box ? std::max(box->max.x - box->min.x, box->max.y - box->min.y) : 0.0f;
    const float length = CarMarkerLength(metresPerPixel * overlay_.pixelScale, span);
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

void CAnalysisView::PanCamera(CameraPan direction) {
    wholeTrack_ = false;
    lapquill::PanCamera(&camera_, direction, TopDownGround());
    UpdateCamera();
}

void CAnalysisView::ZoomIn() {
    wholeTrack_ = false;
    FollowZoom(lapquill::ZoomIn(&camera_));
}

void CAnalysisView::ZoomOut() {
    wholeTrack_ = false;
    FollowZoom(lapquill::ZoomOut(&camera_));
}

// After a zoom: the top-down camera is updated at once, the chase camera follows the car at
// the playback time.
void CAnalysisView::FollowZoom(CameraFollowUp next) {
    if (next == CameraFollowUp::UpdateCamera) {
        UpdateCamera();
    } else {
        ApplyPlaybackTime();
    }
}

void CAnalysisView::ToggleFollowCar() {
    lapquill::ToggleFollowCar(&camera_);
}

void CAnalysisView::SetStatsBackdrop(bool visible) {
    if (overlay_.backdropVisible == visible) return;
    overlay_.backdropVisible = visible;
    // The panel is part of the column-line buffer, rebuilt with the device objects.
    if (device_) ResetDevice();
    window_.InvalidateRect();
}

void CAnalysisView::DragMap(std::int32_t dx, std::int32_t dy) {
    if (camera_.followCar || (dx == 0 && dy == 0)) return;
    const ClientRect rc = window_.GetClientRect();
    const GroundRect ground = TopDownGround();
    const float width = static_cast<float>(std::max(rc.right - rc.left, 1));
    const float height = static_cast<float>(std::max(rc.bottom - rc.top, 1));
    wholeTrack_ = false;
    // Dragging right shows ground further left; dragging down shows ground further north
    // (y0 is the top edge's ground, y1 the bottom's).
    camera_.cameraTarget.x -= static_cast<float>(dx) * (ground.x1 - ground.x0) / width;
    camera_.cameraTarget.y += static_cast<float>(dy) * (ground.y0 - ground.y1) / height;
    UpdateCamera();
}

void CAnalysisView::OnHScroll(std::uint32_t code) {
    OnScroll(ScrollBarId::Horizontal, code);
}

void CAnalysisView::OnVScroll(std::uint32_t code) {
    OnScroll(ScrollBarId::Vertical, code);
}

void CAnalysisView::OnScroll(ScrollBarId bar, std::uint32_t code) {
    wholeTrack_ = false;
    // Without a map the bars are hidden and there are no edges to scroll to.
    if (const MapExtent* extent = TargetRoom()) {
        const auto scroll =
            bar == ScrollBarId::Horizontal ? lapquill::OnHScroll : lapquill::OnVScroll;
        scroll(&camera_, code, window_.GetScrollInfo(bar), *extent, TopDownGround());
    }
    UpdateCamera();
}

}  // namespace lapquill
