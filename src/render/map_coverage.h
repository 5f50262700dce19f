// What one frame of the map may cost. The software device's time grows with the pixels it fills,
// so a mesh or a path made of many large overlapping triangles could hold a frame for a minute.
// The map therefore estimates, before each batch, how many pixels it covers and draws each layer
// within a budget of covered pixels, many times the screen: real tracks and laps stay far below
// it, and whatever a file holds, a frame ends in a bounded time.
//
// Estimates are in pixels of the back buffer, each triangle counted once by the area of its part
// inside the view volume (overlaps are counted as often as they are drawn). Areas are m².
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "math/math_types.h"
#include "render/vertex_types.h"

namespace lapquill {

struct MapExtent;

// Budgets of one frame, in screens (back buffers' worth of pixels). The mesh and the laps'
// markers and paths have their own, so that a mesh too dense to draw never hides the laps.
inline constexpr double kMeshBudgetScreens = 24;
inline constexpr double kPathBudgetScreens = 48;

// For every run of kBatchTriangles triangles from the start of a triangle list: the sums of the
// absolute x, y and z components of the triangles' area vectors (half the cross product of two
// edges). A run holding a coordinate that is not a finite number gets infinite sums.
std::vector<Vector3> ChunkAreaSums(std::span<const MapVertex> vertices);

// Pixel estimates under one view-projection (row vectors, clip space as the device uses it:
// -w <= x, y <= w, 0 <= z <= w) for a back buffer of width x height pixels.
class CoverageEstimator {
  public:
    CoverageEstimator(const Matrix4& viewProjection, std::int32_t width, std::int32_t height);

    double ScreenPixels() const { return screenPixels_; }

    // An upper bound of the pixels covered by triangles lying inside `box` whose area vectors'
    // absolute components sum to `areaSums`; infinite when the box reaches the plane of the eye
    // or anything is not a finite number. Cheap: eight corners and a few products.
    double BoundInBox(const MapExtent& box, const Vector3& areaSums) const;

    // The pixels of the triangle's part inside the view volume, whatever its winding. A triangle
    // with a coordinate that is not a finite number counts as the whole screen.
    double TrianglePixels(const MapVertex& a, const MapVertex& b, const MapVertex& c) const;

  private:
    Matrix4 m_;
    double screenPixels_;
    double areaScale_[3];  // per world axis: the largest growth of an area vector on it
};

// What a layer of the map may still cover in this frame.
struct CoverageBudget {
    double limit = 0;   // pixels
    double spent = 0;   // pixels of what was drawn
    bool cut = false;   // something was left out; the rest of the layer is skipped
};

// The budgets and estimator of one frame of the map.
struct MapFrameBudget {
    CoverageEstimator estimator;
    CoverageBudget mesh;
    CoverageBudget paths;  // the segment markers and the laps' paths

    MapFrameBudget(const Matrix4& viewProjection, std::int32_t width, std::int32_t height);
};

}  // namespace lapquill
