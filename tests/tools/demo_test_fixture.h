// The demo data set shared by the demo tests: generated once per test binary with seed 1,
// encoded by the writers and loaded back through the loaders, as the program would read it.
#pragma once

#include <vector>

#include "files/replay_file.h"
#include "files/segment_file.h"
#include "files/track_mesh.h"
#include "tools/data_writers.h"
#include "tools/demo_data.h"

namespace lapquill::test {

struct SharedDemoData {
    DemoDataSet set;  // as generated
    TrackMesh mesh;   // loaded back from the encoded bytes
    bool meshLoaded = false;
    TrackSegmentFile segments;  // loaded back
    bool segmentsLoaded = false;
    std::vector<ReplayFile> laps;  // loaded back, in the set's order
    std::vector<bool> lapsLoaded;
};

inline const SharedDemoData& SharedDemo() {
    static const SharedDemoData data = [] {
        SharedDemoData d;
        d.set = BuildDemoDataSet(DemoOptions{});
        const auto mesh = EncodeTrackMesh(d.set.mesh);
        d.meshLoaded = LoadTrackMeshFromMemory(mesh, &d.mesh);
        const auto segments = EncodeTrackSegmentFile(d.set.segments);
        d.segmentsLoaded = LoadTrackSegmentFileFromMemory(segments, &d.segments);
        for (const DemoLap& lap : d.set.laps) {
            const auto bytes = EncodeReplayFile(lap.replay);
            d.laps.emplace_back();
            d.lapsLoaded.push_back(LoadReplayFileFromMemory(bytes, &d.laps.back()));
        }
        return d;
    }();
    return data;
}

}  // namespace lapquill::test
