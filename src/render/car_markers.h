// The cars on the map and the "whole track" framing: an arrowhead per lap at its record at the
// playback time, and the top-down camera that shows the whole circuit. Pure geometry into plain
// MapVertex arrays; the view fills one small dynamic buffer with the arrows every frame.
// Metres, world Z up, colours ARGB.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "math/math_types.h"
#include "render/map_scene.h"
#include "render/vertex_types.h"
#include "render/window_types.h"

namespace lapquill {

inline constexpr std::uint32_t kCarOutlineColour = 0xFF141414u;  // dark edge around every arrow
inline constexpr float kCarMarkerPixels = 22.0f;  // arrow length on screen, nose to tail
inline constexpr float kCarMarkerMinLength = 5.0f;  // m; never smaller than a car
inline constexpr float kCarOutlineScale = 1.4f;     // the outline is the arrow grown by this
inline constexpr float kCarMarkerLift = 0.3f;       // m above the record, over the ribbon

// Nose, left and right tail corner of an arrow of `length` metres centred on `position`,
// pointing along the x and y of `forward` (any length; a zero or non-finite one points along +y).
struct CarArrow {
    Vector3 nose, left, right;  // m
};
CarArrow CarArrowAt(const Vector3& position, const Vector3& forward, float length);

// Appends the six vertices of one marker: the outline in kCarOutlineColour, grown by
// kCarOutlineScale about the position, then the arrow itself in `colour`, both kCarMarkerLift
// above the record. Drawn in that order with culling off, the dark edge rims the arrow.
void AppendCarMarker(const Vector3& position, const Vector3& forward, float length,
                     std::uint32_t colour, std::vector<MapVertex>* out);

// The arrow length for a ground of `metresPerPixel` at the car: kCarMarkerPixels pixels, at
// least kCarMarkerMinLength metres. A non-finite or non-positive scale gives the minimum.
float CarMarkerLength(float metresPerPixel);
// The same, no longer than kCarMarkerTrackShare of `trackSpan` (m, the circuit's larger side):
// framed whole into a small map, six arrows of the usual size would hide the circuit around
// them. Still at least kCarMarkerMinLength; a non-finite or non-positive span sets no limit.
inline constexpr float kCarMarkerTrackShare = 1.0f / 12.0f;
float CarMarkerLength(float metresPerPixel, float trackSpan);

// Where the top-down camera sits to show the whole extent with a small margin: over the centre
// of the box, at the height at which both its width and its depth fit the client's aspect.
struct WholeTrackView {
    Vector3 target;   // m, the camera's position
    float height;     // m above the box's top
    ClientRect free;  // client pixels the box is framed into
};
WholeTrackView WholeTrackFraming(const MapExtent& extent, const ClientRect& client);

// The same with parts of the client covered by what is drawn over the map (the statistics
// table, the legend; client pixels, empty ones ignored): of the rectangles that no covered part
// overlaps, bounded by the client's and the covered parts' edges, the one in which the box shows
// largest, with the box centred in it. The box's lower corners, farther from the eye, are drawn
// nearer the client's centre; the framing allows for that, so all eight corners land inside.
// When no such rectangle is left, the whole client.
WholeTrackView WholeTrackFraming(const MapExtent& extent, const ClientRect& client,
                                 std::span<const ClientRect> covered);

// The box grown on x and y just enough to take in `point` (z as the box has it). The view keeps
// the top-down target in the map's box grown to take in the target the framing set, and shrinks
// that room as pans bring the target back.
MapExtent GrownToTake(const MapExtent& box, const Vector3& point);

// Copies the markers (at most kMaxReplays of them, kCarMarkerVertices each) into the cars
// buffer and draws them with culling off, then sets clockwise culling again. Nothing without a
// buffer or markers; a failed lock draws nothing.
void DrawCarMarkers(RenderDevice* device, const MapSceneBuffers& buffers,
                    std::span<const MapVertex> markers);

}  // namespace lapquill
