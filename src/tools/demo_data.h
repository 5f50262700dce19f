// The whole demo data set: the circuit's mesh, its segment file (one named marker per corner
// complex) and six laps by different drivers in three cars, and the writer that stores them
// below a folder as data/smx/ and data/raf/. lapquill-cli demo, the tests and the benchmarks
// call BuildDemoDataSet; the set owns everything it holds. Deterministic for a seed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "files/replay_file.h"
#include "files/segment_file.h"
#include "files/track_mesh.h"
#include "tools/demo_track.h"
#include "tools/demo_vehicle.h"

namespace lapquill {

struct DemoOptions {
    std::uint64_t seed = 1;      // drivers' styles, per-corner pace, mistakes, lap-time spread
    double lapsMinutes = 0;      // 0: one flying lap per replay; else whole laps of at least
                                 // this many minutes in one replay (large benchmark data)
    double meshDensity = 1.0;    // stations along the lap relative to the default mesh
    bool standingStart = false;  // laps start from rest with a clutch launch
};

struct DemoLap {
    DemoDriver driver;
    std::string fileName;  // "<driver>_<car>.raf", no colour codes, no spaces
    double lapTime = 0;    // s, time of the whole replay from the profile it was driven to
    ReplayFile replay;
};

struct DemoDataSet {
    DemoTrack track;
    std::vector<DemoCar> cars;
    TrackMesh mesh;
    TrackSegmentFile segments;
    std::vector<DemoLap> laps;  // six
};

// The six drivers with their cars, styles and mistakes for a seed (paces not yet tuned).
std::vector<DemoDriver> DemoDrivers(std::uint64_t seed, const DemoTrack& track);

// One marker per corner complex, on the straight before its braking zone, centred on the
// track and across it; reference braking points come from a lap of the given car.
TrackSegmentFile BuildDemoSegments(const DemoTrack& track, const DemoCar& car);

DemoDataSet BuildDemoDataSet(const DemoOptions& options);

struct DemoWrittenFile {
    std::string path;   // as written, below the output folder
    std::size_t bytes;  // file size
};

// Writes DIR/data/smx/<track>.smx, DIR/data/smx/<track> <config>.tsf and DIR/data/raf/*.raf,
// creating the folders. False with a message naming the path on the first failure.
bool WriteDemoDataSet(const DemoDataSet& set, const std::string& dir,
                      std::vector<DemoWrittenFile>* written, std::string* error);

}  // namespace lapquill
