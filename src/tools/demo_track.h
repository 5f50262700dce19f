// The demo circuit: a closed centre line with elevation, its corners and corner complexes,
// its three sectors, and the coloured triangle mesh built around it. BuildDemoTrack is a pure
// function of nothing (the circuit is the same for every seed); the demo data set and the
// tests call it. Metres and radians, Z up, lap distance measured along the centre line.
#pragma once

#include <string>
#include <vector>

#include "files/track_mesh.h"

namespace lapquill {

struct DemoVec3 {
    double x = 0, y = 0, z = 0;  // m
};

enum class DemoCornerKind { Medium, Hairpin, Chicane, Sweeper, DoubleApex, Kink };

// One turn of the circuit, found on the smoothed curvature.
struct DemoCorner {
    std::string name;          // "T1" …
    DemoCornerKind kind;       // what the corner is built as
    double start = 0;          // m, where the curvature first rises
    double apex = 0;           // m, where the curvature peaks
    double end = 0;            // m, where the curvature has fallen again
    int direction = 1;         // +1 left (counter-clockwise), -1 right
    double peakCurvature = 0;  // 1/m, magnitude at the apex
    bool fast = false;         // taken above about 35 m/s: gravel outside, not run-off
};

// Corners driven as one: one segment marker each.
struct DemoComplex {
    std::string name;          // the marker's name, e.g. "T2-3 Esses"
    std::vector<int> corners;  // indices into DemoTrack::corners, in lap order
};

// Samples of the centre line every `step` metres; point i lies at distance i * step.
struct DemoTrack {
    std::string name;               // track name written into every file
    std::string config;             // the one configuration
    double length = 0;              // m, one lap along the centre line
    double halfWidth = 6.0;         // m, asphalt either side of the centre line
    double step = 1.0;              // m between centre-line samples
    std::vector<double> x, y;       // m, sample positions (closed: sample n == sample 0)
    std::vector<double> heading;    // rad, direction of travel, unwrapped
    std::vector<double> curvature;  // 1/m, positive turning left
    std::vector<DemoCorner> corners;
    std::vector<DemoComplex> complexes;
    std::vector<double> sectorEnds;  // m, end of sectors 1 and 2 (sector 3 ends the lap)
    // The racing line as a lateral offset from the centre line (positive left), sampled every
    // lineStep metres: the line of least curvature that keeps lineMargin from the edges.
    std::vector<double> line;                // m
    double lineStep = 4.0;                   // m
    double lineMargin = 1.1;                 // m between the line and the asphalt edge
    unsigned backgroundColour = 0xFF2C5226;  // ARGB, the land beyond the modelled grass
};

// One point of the centre line.
struct DemoTrackPoint {
    DemoVec3 position;     // m, on the road surface
    double heading = 0;    // rad, direction of travel
    double curvature = 0;  // 1/m, positive turning left
    double slope = 0;      // dz/ds
    DemoVec3 tangent;      // unit, horizontal direction of travel
    DemoVec3 left;         // unit, horizontal, to the left of travel
};

DemoTrack BuildDemoTrack();

// Evaluates the centre line at distance s (any value: wraps around the lap). The heading
// is integrated from curvature that is linear between samples, so positions are smooth to
// the second derivative and replays built on them give clean accelerations.
DemoTrackPoint CentreLineAt(const DemoTrack& track, double s);
double ElevationAt(const DemoTrack& track, double s);  // m, road surface height
// Offset of the racing line at distance s, interpolated smoothly (C1) between samples.
double RacingLineAt(const DemoTrack& track, double s);
// Offset of the racing line at distance s, interpolated smoothly (C1) between samples.
double RacingLineAt(const DemoTrack& track, double s);

// The track mesh: grass, gravel, run-off, asphalt, lines, kerbs and the start-finish line,
// written ground first because the map is drawn without a depth buffer. density scales the
// number of stations along the lap (1: about 55 000 triangles).
TrackMesh BuildDemoTrackMesh(const DemoTrack& track, double density);

}  // namespace lapquill
