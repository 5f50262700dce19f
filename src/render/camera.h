// The track map's camera: its state, the projection, the view transforms of the top-down and the
// chase camera, pan, zoom and follow, the scroll bars and the pick ray. Plain data and pure
// functions: the view owns one CameraState, runs these operations on it and hands the matrices to
// its device and the scroll infos to its window; nothing here touches a device or a window.
// Metres and radians, world Z up, row vectors with translation in row 4, right-handed view.
#pragma once

#include <cstdint>
#include <span>

#include "files/replay_file.h"
#include "render/map_scene.h"
#include "math/math_types.h"
#include "render/window_types.h"

namespace lapquill {

inline constexpr float kFieldOfView = 0.7853982f;        // rad, vertical (pi / 4)
inline constexpr float kNearPlane = 1.0f;                // m
inline constexpr float kFarPlane = 5000.0f;              // m
inline constexpr float kDefaultCameraHeight = 500.0f;    // m above the tracked point
inline constexpr std::int32_t kChaseHeadingWindow = 50;  // records averaged for the chase heading
inline constexpr float kPanFraction = 0.05f;        // of the visible ground per pan or line step
inline constexpr float kZoomInFactor = 0.9090909f;  // 1 / 1.1 in single precision
inline constexpr float kZoomOutFactor = 1.1f;
// Far out, the ribbons are drawn at least this many 96-dpi pixels wide, and they change width
// in steps of this many to a doubling of the camera's height (about every two or three zooms).
inline constexpr float kRibbonMinPixels = 5.0f;
inline constexpr int kRibbonStepsPerDoubling = 3;

struct CameraState {
    // Chase settings: kept for the life of the view (a clear of the replay set keeps them).
    bool followCar = false;             // chase camera instead of the top-down camera
    std::int32_t followDistance = 300;  // m from the car; also records of top-down target lag
    float followTilt = 0.5f;            // rad of the chase eye above the car's horizon
    // Top-down camera: back to these values after every clear (ResetCameraForClear).
    Vector3 cameraTarget{0, 0, 0};  // m; where the camera sits: z = tracked z + cameraHeight
    float cameraHeight = kDefaultCameraHeight;  // m above the tracked point
    Vector3 followPoint{0, 0, 0};  // m, the car the chase camera looks at (set by TrackCar)
    float cameraYaw = 0;           // rad; no operation changes the orientation, so the
    float cameraPitch = 0;         // rad  top-down camera always looks straight down
    float cameraRoll = 0;          // rad
};

// The ground under the client's top-left corner (x0, y0) and bottom-right corner (x1, y1), m.
// For the top-down camera x1 - x0 is the visible width and y0 - y1 the visible height.
struct GroundRect {
    float x0 = 0, y0 = 0;  // m
    float x1 = 0, y1 = 0;  // m
};

struct Ray {
    Vector3 origin;     // m, the eye
    Vector3 direction;  // not normalised; its z is -1 under the top-down camera
};

// What the view forwards to its window: ShowScrollBar(Both, true) first when `show`, then
// SetScrollInfo(Horizontal, horizontal, true) and SetScrollInfo(Vertical, vertical, true).
// Without a map the infos hold a page larger than the range, which hides the bars.
struct ScrollBars {
    bool show = false;
    ScrollInfo horizontal;
    ScrollInfo vertical;  // inverted: position 0 is the top edge of the map
};

// The car the chase camera follows: replay 0's records, its record at the playback time
// (RecordIndexAt, whatever the sync mode, so the eye stays behind the car) and how a record's
// heading is read (RecordHeading of the analysis, passed in so this module does not link it).
using RecordHeadingFn = float (*)(const ReplayRecord& record);
struct ChaseCar {
    std::span<const ReplayRecord> records;  // replay 0; empty when no replay is loaded
    std::int32_t record = 0;                // index into records
    RecordHeadingFn headingOf = nullptr;    // radians in [0, 2 pi)
};

// Everything one camera update produces, in the order the view applies it.
struct CameraFrame {
    Matrix4 view;       // for SetTransform(D3DTS_VIEW)
    GroundRect ground;  // VisibleGroundRect under that view
    // The ground the top-down camera sees from cameraTarget: the same as `ground` unless the
    // chase camera is active. The scroll bars, their page steps and the pan steps measure it,
    // since they move the top-down target whichever camera is shown.
    GroundRect scrollGround;
    ScrollBars scrollBars;
};

enum class CameraPan { Left, Right, Up, Down };

// What the view runs after a zoom: the top-down camera only needs a new view transform; the
// chase camera's distance moves the tracked record, so the playback time is applied again
// (which ends in TrackCar and the camera update).
enum class CameraFollowUp { UpdateCamera, ApplyPlaybackTime };

// Back to the state after a clear of the replay set; the chase settings stay.
void ResetCameraForClear(CameraState* state);

// Perspective with the vertical field of view pi / 4, aspect = client width / height, near 1 and
// far 5000, for SetTransform(D3DTS_PROJECTION). A client side of 0 pixels counts as 1, so a
// collapsed window keeps a finite aspect.
Matrix4 ProjectionMatrix(const ClientRect& client);

// The ribbon-width step of the top-down camera at `cameraHeight` m: 0 up to the default height
// and just beyond it (and for a height that is not a finite number), then one more for every
// 2^(1 / kRibbonStepsPerDoubling) the camera rises. The chase camera always draws step 0.
std::int32_t RibbonWidthStep(float cameraHeight);

// The widening of the ribbons at step s for a client `clientHeight` pixels high at
// `pixelScale` physical pixels per 96-dpi pixel: from the step's own height H (the default
// times 2^(s / kRibbonStepsPerDoubling)), kRibbonMinPixels at the scale in metres seen from H,
// but at most (H / default)^2 times the ribbon's own width, so that on screen it widens
// gradually from what it is at the default height. Step 0 (or below) and an empty client leave the ribbons as they are.
RibbonWidening RibbonWideningAt(std::int32_t step, std::int32_t clientHeight, float pixelScale);

// Keeps the target's x and y inside the map's extent; z is free. No extent (no mesh): unchanged.
void ClampCameraTarget(CameraState* state, const MapExtent* extent);

// The top-down camera: the inverse of its placement at cameraTarget with its orientation; with
// the orientation at 0 the translation by -cameraTarget, looking down -Z.
Matrix4 TopDownViewMatrix(const CameraState& state);

// The chase camera for a car heading h (rad): the eye followDistance metres from followPoint,
// behind the car and raised by followTilt, looking at followPoint with Z up.
Matrix4 ChaseViewMatrix(const CameraState& state, float heading);

// The running circular mean of the headings of `window` records centred on `centre` (the window
// starts (window - 1) / 2 records before it), clipped to the replay: radians in [0, 2 pi], so
// headings either side of 0 average across 0. A window that holds no record gives 0.
float SmoothedHeading(std::span<const ReplayRecord> records, std::int32_t centre,
                      std::int32_t window, RecordHeadingFn headingOf);

// True when the chase camera replaces the top-down camera: followCar set and a car to follow.
bool UsesChaseCamera(const CameraState& state, const ChaseCar& car);

// The ray from the eye through client pixel (px, py) under the given projection and view.
Ray PickRay(const Matrix4& projection, const Matrix4& view, const ClientRect& client,
            std::int32_t px, std::int32_t py);

// The ground points of the rays through the client's corners (0, 0) and (width, height):
// origin + direction * origin.z, which is the plane z = 0 under the top-down camera. Computed
// the same way under the chase camera, where it is only a rough measure.
GroundRect VisibleGroundRect(const Matrix4& projection, const Matrix4& view,
                             const ClientRect& client);

// The scroll bars for the camera over the map's extent (none: hidden bars), given the visible
// ground. Values are truncated toward zero; a value beyond the 32-bit range becomes INT32_MIN.
// A page that would be negative (a camera below the ground) is 0.
ScrollBars ComputeScrollBars(const CameraState& state, const MapExtent* extent,
                             const GroundRect& ground);

// One camera update: clamps the target to the extent (unless clampTarget is false: the
// whole-track framing may put the target beside the map to leave room for the table), builds the
// view of the active camera (the chase camera when UsesChaseCamera) and the scroll bars of the
// top-down target. The view then sets the view transform, forwards the scroll bars and
// invalidates itself.
CameraFrame ComputeCameraFrame(CameraState* state, const MapExtent* extent,
                               const Matrix4& projection, const ClientRect& client,
                               const ChaseCar& car, bool clampTarget = true);

// Centres the camera on the car at record k of `records` (replay 0 at the playback time). While
// following, followPoint becomes the car and the top-down target lags followDistance records
// behind it (not before the first record). The view then updates the camera.
void TrackCar(CameraState* state, std::span<const ReplayRecord> records, std::int32_t k);

// Top-down: moves the target by 5 % of the visible ground. Chase: up and down raise or lower
// cameraHeight (and the target's z with it) by the zoom factors; left and right change nothing.
// The view then updates the camera.
void PanCamera(CameraState* state, CameraPan direction, const GroundRect& ground);

// Top-down: cameraHeight times 1 / 1.1 (in) or 1.1 (out), no limit, the target's z following.
// Chase: followDistance shorter or longer by 3 % (at least 1 m); never below 1.
CameraFollowUp ZoomIn(CameraState* state);
CameraFollowUp ZoomOut(CameraState* state);

// Flips followCar; the camera changes over at the next TrackCar.
void ToggleFollowCar(CameraState* state);

// The scroll messages: move the target's x (horizontal) or y (vertical) by a line (5 %) or page
// of the visible ground, to the thumb or to an edge of the map. The thumb's position is read from
// the bar's own state (nTrackPos, full 32 bits), not from a message. Unknown codes change
// nothing. The view then updates the camera, which clamps the target.
void OnHScroll(CameraState* state, std::uint32_t code, const ScrollInfo& bar,
               const MapExtent& extent, const GroundRect& ground);
void OnVScroll(CameraState* state, std::uint32_t code, const ScrollInfo& bar,
               const MapExtent& extent, const GroundRect& ground);

}  // namespace lapquill
