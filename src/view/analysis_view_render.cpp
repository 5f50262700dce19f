// The view's drawing side: the device's life (created on the first paint, reset on every
// change of data or size), the frame, and the camera operations the keys and playback call.
// The frame draws only the cleared background so far; the map, the ribbons and the overlay
// join it here. Camera units are metres; the top-down camera looks straight down.
#include <algorithm>
#include <cmath>

#include "view/analysis_view.h"

namespace lapquill {

namespace {

// The projection's vertical field of view, pi / 4 in single precision.
constexpr float kFieldOfView = 0.7853982f;

}  // namespace

void CAnalysisView::OnPaint() {
    if (!deviceCreated_) {
        deviceCreated_ = true;
        const ClientRect rc = window_.GetClientRect();
        device_ = window_.CreateDevice(rc.right, rc.bottom);
        if (!device_) {
            window_.MessageBox("Can't create DirectX device!");
        } else {
            CreateDeviceObjects();
        }
    }
    RenderFrame();
}

void CAnalysisView::OnSize(std::int32_t width, std::int32_t height) {
    (void)width;
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

void CAnalysisView::CreateDeviceObjects() {
    device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
    device_->SetRenderState(D3DRS_LIGHTING, 0);
    device_->SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
    device_->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device_->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    if (set_.meshLoaded && !set_.trackMesh.objects.empty()) {
        const auto& objects = set_.trackMesh.objects;
        for (std::size_t i = 0; i < objects.size(); ++i) {
            const MeshObject& o = objects[i];
            const Vector3 lo{o.centre.x - o.radius, o.centre.y - o.radius, o.centre.z - o.radius};
            const Vector3 hi{o.centre.x + o.radius, o.centre.y + o.radius, o.centre.z + o.radius};
            if (i == 0) {
                trackBoundsMin_ = lo;
                trackBoundsMax_ = hi;
            } else {
                trackBoundsMin_ = {std::min(trackBoundsMin_.x, lo.x),
                                   std::min(trackBoundsMin_.y, lo.y),
                                   std::min(trackBoundsMin_.z, lo.z)};
                trackBoundsMax_ = {std::max(trackBoundsMax_.x, hi.x),
                                   std::max(trackBoundsMax_.y, hi.y),
                                   std::max(trackBoundsMax_.z, hi.z)};
            }
        }
        trackBoundsSet_ = true;
    }
    UpdateCamera();
}

void CAnalysisView::ReleaseDeviceObjects() {
    ++releaseDeviceObjectsCalls_;
}

void CAnalysisView::RenderFrame() {
    if (device_) {
        HRESULT hr = device_->TestCooperativeLevel();
        if (hr == D3DERR_DEVICENOTRESET) hr = ResetDevice();
        if (hr >= 0) {
            device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
            const std::uint32_t background =
                set_.meshLoaded ? set_.trackMesh.header.BackgroundColour() : 0xFF000000u;
            device_->Clear(0, nullptr, D3DCLEAR_TARGET, background, 1.0f, 0);
            device_->BeginScene();
            frameRate_.CountFrame(AbsoluteTime());
            device_->EndScene();
            if (device_->Present() >= 0) window_.Present(device_->GetPresentedFrame());
        }
    }
    AdvancePlayback();
}

// ---- Camera -----------------------------------------------------------------------------------

void CAnalysisView::TrackCar() {
    if (set_.replayCount == 0) return;
    const ReplayFile& replay = set_.replays[0];
    const std::int32_t k = RecordIndexAt(0, playback_.playbackTime);
    std::int32_t j = k;
    if (followCar_) {
        followPoint_ = replay.records[k].position;
        j = std::max(k - followDistance_, 0);
    }
    const Vector3& p = replay.records[j].position;
    cameraTarget_ = {p.x, p.y, p.z + cameraHeight_};
    UpdateCamera();
}

void CAnalysisView::UpdateCamera() {
    if (set_.meshLoaded && trackBoundsSet_) {
        cameraTarget_.x = std::min(std::max(cameraTarget_.x, trackBoundsMin_.x), trackBoundsMax_.x);
        cameraTarget_.y = std::min(std::max(cameraTarget_.y, trackBoundsMin_.y), trackBoundsMax_.y);
    }
    window_.InvalidateRect();
}

void CAnalysisView::PanCamera(PanDirection direction) {
    if (!followCar_) {
        // The ground seen by the top-down camera: half its height is z * tan(fov / 2) either
        // way, half its width that times the aspect.
        const ClientRect rc = window_.GetClientRect();
        const float aspect =
            rc.bottom > 0 ? static_cast<float>(rc.right) / static_cast<float>(rc.bottom) : 1.0f;
        const float yScale = std::cos(kFieldOfView / 2) / std::sin(kFieldOfView / 2);
        const float width = 2.0f * cameraTarget_.z * aspect / yScale;  // x1 - x0
        const float height = 2.0f * cameraTarget_.z / yScale;          // y0 - y1
        switch (direction) {
            case PanDirection::Left:
                cameraTarget_.x -= 0.05f * width;
                break;
            case PanDirection::Right:
                cameraTarget_.x += 0.05f * width;
                break;
            case PanDirection::Up:
                cameraTarget_.y += 0.05f * height;
                break;
            case PanDirection::Down:
                cameraTarget_.y -= 0.05f * height;
                break;
        }
    } else if (direction == PanDirection::Up || direction == PanDirection::Down) {
        const float old = cameraHeight_;
        cameraHeight_ *= direction == PanDirection::Up ? 1.1f : 0.9090909f;
        cameraTarget_.z = cameraTarget_.z - old + cameraHeight_;
    }
    UpdateCamera();
}

void CAnalysisView::ZoomIn() {
    if (!followCar_) {
        cameraTarget_.z -= cameraHeight_;
        cameraHeight_ *= 0.9090909f;
        cameraTarget_.z += cameraHeight_;
        UpdateCamera();
        return;
    }
    std::int32_t step = static_cast<std::int32_t>(std::trunc(followDistance_ * 0.03));
    if (step == 0) step = 1;
    followDistance_ = std::max(followDistance_ - step, 1);
    ApplyPlaybackTime();
}

void CAnalysisView::ZoomOut() {
    if (!followCar_) {
        cameraTarget_.z -= cameraHeight_;
        cameraHeight_ *= 1.1f;
        cameraTarget_.z += cameraHeight_;
        UpdateCamera();
        return;
    }
    std::int32_t step = static_cast<std::int32_t>(std::trunc(followDistance_ * 0.03));
    if (step == 0) step = 1;
    followDistance_ += step;
    ApplyPlaybackTime();
}

void CAnalysisView::ToggleFollowCar() {
    followCar_ = !followCar_;
}

}  // namespace lapquill
