// The track map's camera. See camera.h.
#include "render/camera.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "math/math3d.h"

namespace lapquill {

namespace {

constexpr float kPi = 3.1415927f;
constexpr float kTwoPi = 6.2831855f;

// Truncation toward zero as the scroll bars take it. A value beyond the 32-bit range, or not a
// number (a degenerate view), becomes INT32_MIN as the processor's own conversion gives, instead
// of undefined behaviour.
std::int32_t Trunc(float v) {
    if (!(v > -2147483648.0f && v < 2147483648.0f)) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(v);
}

// Wraps like the 32-bit addition of the scroll code, without overflow.
std::int32_t Add32(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

std::int32_t ChaseZoomStep(std::int32_t distance) {
    const auto step = static_cast<std::int32_t>(std::trunc(static_cast<double>(distance) * 0.03));
    return step == 0 ? 1 : step;
}

// Zooms in or out: the top-down camera changes its height over the same ground point, the
// chase camera its distance behind the car by about 3 %, never below 1 and with no upper
// limit but the integer's own (saturating rather than overflowing).
CameraFollowUp Zoom(CameraState* state, bool in) {
    if (!state->followCar) {
        state->cameraTarget.z -= state->cameraHeight;
        state->cameraHeight *= in ? kZoomInFactor : kZoomOutFactor;
        state->cameraTarget.z += state->cameraHeight;
        return CameraFollowUp::UpdateCamera;
    }
    const std::int64_t step = ChaseZoomStep(state->followDistance);
    const std::int64_t next =
        static_cast<std::int64_t>(state->followDistance) + (in ? -step : step);
    state->followDistance = static_cast<std::int32_t>(
        in ? std::max<std::int64_t>(next, 1)
           : std::min<std::int64_t>(next, std::numeric_limits<std::int32_t>::max()));
    return CameraFollowUp::ApplyPlaybackTime;
}

// What one scroll bar does to the coordinate of the camera target it moves. Both bars send
// the same codes; they differ in the way their far end (right, bottom) lies along the
// coordinate, which the signed steps carry, and in where the thumb and the ends put it.
struct ScrollAxis {
    float line;     // the move of SB_LINERIGHT / SB_LINEDOWN; the opposite code moves back
    float page;     // the move of SB_PAGERIGHT / SB_PAGEDOWN
    float thumb;    // the coordinate at the thumb's tracked position
    float nearEnd;  // the coordinate at SB_LEFT / SB_TOP
    float farEnd;   // the coordinate at SB_RIGHT / SB_BOTTOM
};

void Scroll(float* v, std::uint32_t code, const ScrollAxis& axis) {
    switch (code) {
        case SB_LINELEFT:
            *v -= axis.line;
            break;
        case SB_LINERIGHT:
            *v += axis.line;
            break;
        case SB_PAGELEFT:
            *v -= axis.page;
            break;
        case SB_PAGERIGHT:
            *v += axis.page;
            break;
        case SB_THUMBPOSITION:
        case SB_THUMBTRACK:
            *v = axis.thumb;
            break;
        case SB_LEFT:
            *v = axis.nearEnd;
            break;
        case SB_RIGHT:
            *v = axis.farEnd;
            break;
        default:
            break;
    }
}

}  // namespace

void ResetCameraForClear(CameraState* state) {
    state->cameraTarget = {0, 0, 0};
    state->cameraHeight = kDefaultCameraHeight;
    state->cameraYaw = 0;
    state->cameraPitch = 0;
    state->cameraRoll = 0;
}

Matrix4 ProjectionMatrix(const ClientRect& client) {
    const float aspect = static_cast<float>(std::max(client.right, 1)) /
                         static_cast<float>(std::max(client.bottom, 1));
    Matrix4 p;
    D3DXMatrixPerspectiveFovRH(&p, kFieldOfView, aspect, kNearPlane, kFarPlane);
    return p;
}

std::int32_t RibbonWidthStep(float cameraHeight) {
    if (!(cameraHeight > kDefaultCameraHeight) || !std::isfinite(cameraHeight)) return 0;
    const double steps =
        kRibbonStepsPerDoubling * std::log2(static_cast<double>(cameraHeight) / kDefaultCameraHeight);
    return static_cast<std::int32_t>(std::min(std::floor(steps), 1000.0));
}

RibbonWidening RibbonWideningAt(std::int32_t step, std::int32_t clientHeight, float pixelScale) {
    RibbonWidening w;
    if (step <= 0 || clientHeight <= 0 || !(pixelScale > 0.0f)) return w;
    const double rise = std::exp2(static_cast<double>(step) / kRibbonStepsPerDoubling);
    const double height = kDefaultCameraHeight * rise;
    const double metresPerPixel = 2.0 * height * std::tan(kFieldOfView / 2.0) / clientHeight;
    w.minWidth = static_cast<float>(kRibbonMinPixels * pixelScale * metresPerPixel);
    // Growing with the square of the rise, the ribbon widens on screen as the camera climbs
    // from the default height (where it is as its offsets make it) until it meets the minimum.
    w.maxScale = static_cast<float>(rise * rise);
    return w;
}

void ClampCameraTarget(CameraState* state, const MapExtent* extent) {
    if (extent == nullptr) return;
    Vector3& t = state->cameraTarget;
    if (t.x < extent->min.x) t.x = extent->min.x;
    if (t.x > extent->max.x) t.x = extent->max.x;
    if (t.y < extent->min.y) t.y = extent->min.y;
    if (t.y > extent->max.y) t.y = extent->max.y;
}

Matrix4 TopDownViewMatrix(const CameraState& state) {
    Quaternion q;
    D3DXQuaternionRotationYawPitchRoll(&q, state.cameraYaw, state.cameraPitch, state.cameraRoll);
    Matrix4 placement;
    D3DXMatrixAffineTransformation(&placement, 1.0f, nullptr, &q, &state.cameraTarget);
    Matrix4 view;
    D3DXMatrixIdentity(&view);
    // The placement is a rotation and a translation, never singular.
    D3DXMatrixInverse(&view, nullptr, &placement);
    return view;
}

Matrix4 ChaseViewMatrix(const CameraState& state, float heading) {
    const float s = std::sin(heading);
    const float c = std::cos(heading);
    // Tilting about the horizontal axis across the car raises the eye behind it.
    const Vector3 axis{c, -s, 0};
    Matrix4 tilt;
    D3DXMatrixRotationAxis(&tilt, &axis, state.followTilt);
    const auto distance = static_cast<float>(state.followDistance);
    const Vector3 behind{distance * s, distance * c, 0};
    Vector3 offset;
    D3DXVec3TransformCoord(&offset, &behind, &tilt);
    const Vector3& at = state.followPoint;
    const Vector3 eye{at.x + offset.x, at.y + offset.y, at.z + offset.z};
    const Vector3 up{0, 0, 1};
    Matrix4 view;
    D3DXMatrixLookAtRH(&view, &eye, &at, &up);
    return view;
}

float SmoothedHeading(std::span<const ReplayRecord> records, std::int32_t centre,
                      std::int32_t window, RecordHeadingFn headingOf) {
    const std::int64_t half = (static_cast<std::int64_t>(window) - 1) / 2;
    const std::int64_t first = std::max<std::int64_t>(centre - half, 0);
    const std::int64_t last =
        std::min<std::int64_t>(static_cast<std::int64_t>(centre) + window - half - 1,
                               static_cast<std::int64_t>(records.size()) - 1);
    const std::int64_t count = last - first + 1;
    if (count < 1 || headingOf == nullptr) return 0;
    float mean = 0;
    for (std::int64_t i = 1; i <= count; ++i) {
        float d = headingOf(records[static_cast<std::size_t>(first + i - 1)]) - mean;
        if (d < -kPi) {
            d += kTwoPi;
        } else if (d > kPi) {
            d -= kTwoPi;
        }
        mean += d / static_cast<float>(i);
        if (mean < 0) {
            mean += kTwoPi;
        } else if (mean > kTwoPi) {
            mean -= kTwoPi;
        }
    }
    return mean;
}

bool UsesChaseCamera(const CameraState& state, const ChaseCar& car) {
    return state.followCar && !car.records.empty();
}

Ray PickRay(const Matrix4& projection, const Matrix4& view, const ClientRect& client,
            std::int32_t px, std::int32_t py) {
    const auto w = static_cast<float>(std::max(client.right, 1));
    const auto h = static_cast<float>(std::max(client.bottom, 1));
    const float vx = (2.0f * static_cast<float>(px) / w - 1.0f) / projection.m[0][0];
    const float vy = -(2.0f * static_cast<float>(py) / h - 1.0f) / projection.m[1][1];
    Matrix4 inv;
    D3DXMatrixIdentity(&inv);
    D3DXMatrixInverse(&inv, nullptr, &view);
    const auto& m = inv.m;
    Ray ray;
    ray.direction = {vx * m[0][0] + vy * m[1][0] - m[2][0], vx * m[0][1] + vy * m[1][1] - m[2][1],
                     vx * m[0][2] + vy * m[1][2] - m[2][2]};
    ray.origin = {m[3][0], m[3][1], m[3][2]};
    return ray;
}

GroundRect VisibleGroundRect(const Matrix4& projection, const Matrix4& view,
                             const ClientRect& client) {
    const Ray a = PickRay(projection, view, client, 0, 0);
    const Ray b = PickRay(projection, view, client, client.right, client.bottom);
    GroundRect g;
    g.x0 = a.origin.x + a.direction.x * a.origin.z;
    g.y0 = a.origin.y + a.direction.y * a.origin.z;
    g.x1 = b.origin.x + b.direction.x * b.origin.z;
    g.y1 = b.origin.y + b.direction.y * b.origin.z;
    return g;
}

ScrollBars ComputeScrollBars(const CameraState& state, const MapExtent* extent,
                             const GroundRect& ground) {
    ScrollBars bars;
    if (extent == nullptr) {
        // A page larger than the range: the window hides such a bar.
        ScrollInfo hidden;
        hidden.fMask = SIF_ALL;
        hidden.nMin = 0;
        hidden.nMax = 1;
        hidden.nPage = 2;
        hidden.nPos = 0;
        bars.horizontal = hidden;
        bars.vertical = hidden;
        return bars;
    }
    bars.show = true;
    const std::int32_t pageX = std::max(Trunc(ground.x1 - ground.x0), 0);
    ScrollInfo& h = bars.horizontal;
    h.fMask = SIF_ALL | SIF_DISABLENOSCROLL;
    h.nMin = Trunc(extent->min.x);
    h.nMax = Add32(Trunc(extent->max.x), pageX);
    h.nPage = static_cast<std::uint32_t>(pageX);
    h.nPos = Trunc(state.cameraTarget.x);

    // Position 0 is the top edge of the map, so the bar runs against y.
    const std::int32_t pageY = std::max(Trunc(ground.y0 - ground.y1), 0);
    ScrollInfo& v = bars.vertical;
    v.fMask = SIF_ALL | SIF_DISABLENOSCROLL;
    v.nMin = 0;
    v.nMax = Trunc((extent->max.y - extent->min.y) + static_cast<float>(pageY));
    v.nPage = static_cast<std::uint32_t>(pageY);
    v.nPos = Trunc(extent->max.y - state.cameraTarget.y);
    return bars;
}

CameraFrame ComputeCameraFrame(CameraState* state, const MapExtent* extent,
                               const Matrix4& projection, const ClientRect& client,
                               const ChaseCar& car, bool clampTarget) {
    if (clampTarget) ClampCameraTarget(state, extent);
    CameraFrame frame;
    if (UsesChaseCamera(*state, car)) {
        const float heading =
            SmoothedHeading(car.records, car.record, kChaseHeadingWindow, car.headingOf);
        frame.view = ChaseViewMatrix(*state, heading);
    } else {
        frame.view = TopDownViewMatrix(*state);
    }
    frame.ground = VisibleGroundRect(projection, frame.view, client);
    // Behind the car the corner rays meet the ground far off or behind the eye, which makes no
    // page of the map; the bars keep measuring what the top-down camera would show.
    frame.scrollGround = UsesChaseCamera(*state, car)
                             ? VisibleGroundRect(projection, TopDownViewMatrix(*state), client)
                             : frame.ground;
    frame.scrollBars = ComputeScrollBars(*state, extent, frame.scrollGround);
    return frame;
}

void TrackCar(CameraState* state, std::span<const ReplayRecord> records, std::int32_t k) {
    if (records.empty()) return;
    k = std::clamp<std::int32_t>(k, 0, static_cast<std::int32_t>(records.size()) - 1);
    std::int32_t j = k;
    if (state->followCar) {
        state->followPoint = records[static_cast<std::size_t>(k)].position;
        j = static_cast<std::int32_t>(
            std::max<std::int64_t>(static_cast<std::int64_t>(k) - state->followDistance, 0));
    }
    const Vector3& p = records[static_cast<std::size_t>(j)].position;
    state->cameraTarget = {p.x, p.y, p.z + state->cameraHeight};
}

void PanCamera(CameraState* state, CameraPan direction, const GroundRect& ground) {
    Vector3& t = state->cameraTarget;
    if (!state->followCar) {
        const float width = ground.x1 - ground.x0;
        const float height = ground.y0 - ground.y1;
        switch (direction) {
            case CameraPan::Left:
                t.x -= kPanFraction * width;
                break;
            case CameraPan::Right:
                t.x += kPanFraction * width;
                break;
            case CameraPan::Up:
                t.y += kPanFraction * height;
                break;
            case CameraPan::Down:
                t.y -= kPanFraction * height;
                break;
        }
        return;
    }
    if (direction == CameraPan::Up || direction == CameraPan::Down) {
        const float old = state->cameraHeight;
        state->cameraHeight *= direction == CameraPan::Up ? kZoomOutFactor : kZoomInFactor;
        t.z = t.z - old + state->cameraHeight;
    }
}

CameraFollowUp ZoomIn(CameraState* state) {
    return Zoom(state, true);
}

CameraFollowUp ZoomOut(CameraState* state) {
    return Zoom(state, false);
}

void ToggleFollowCar(CameraState* state) {
    state->followCar = !state->followCar;
}

void OnHScroll(CameraState* state, std::uint32_t code, const ScrollInfo& bar,
               const MapExtent& extent, const GroundRect& ground) {
    const float page = ground.x1 - ground.x0;
    Scroll(
        &state->cameraTarget.x, code,
        {kPanFraction * page, page, static_cast<float>(bar.nTrackPos), extent.min.x, extent.max.x});
}

// The map's +Y is up the screen, so the bar's bottom lies down the coordinate.
void OnVScroll(CameraState* state, std::uint32_t code, const ScrollInfo& bar,
               const MapExtent& extent, const GroundRect& ground) {
    const float page = ground.y0 - ground.y1;
    Scroll(&state->cameraTarget.y, code,
           {-(kPanFraction * page), -page, extent.max.y - static_cast<float>(bar.nTrackPos),
            extent.max.y, extent.min.y});
}

}  // namespace lapquill
