// Writes the seed corpora of the fuzz targets from the writers: valid files of every shape
// the loaders know (blocks or none, wide and narrow strides, padding, empty meshes, markers),
// one folder per target.
#include <cstdio>
#include <filesystem>
#include <string>

#include "support/replay_builder.h"
#include "support/sample_files.h"
#include "tools/data_writers.h"

namespace fs = std::filesystem;
using namespace lapquill;

namespace {

void Write(const fs::path& dir, const std::string& name, const std::vector<std::uint8_t>& bytes) {
    fs::create_directories(dir);
    if (!WriteBytesToFile((dir / name).string(), bytes)) {
        std::fprintf(stderr, "cannot write %s\n", (dir / name).c_str());
        std::exit(1);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds OUTDIR\n");
        return 2;
    }
    const fs::path out(argv[1]);
    int n = 0;
    struct Shape {
        int records;
        std::uint8_t blocks;
        std::int16_t sampleStride, extra, padding;
    };
    const Shape shapes[] = {{0, 0, 28, 0, 0}, {3, 2, 28, 0, 0}, {5, 4, 40, 8, 16}, {4, 1, 20, 12, 0},
                            {2, 0, 28, 36, 100}};
    for (const auto& s : shapes) {
        Write(out / "replay_file", "replay" + std::to_string(n++) + ".raf",
              EncodeReplayFile(test::SampleReplay(s.records, s.blocks, s.sampleStride, s.extra, s.padding)));
    }
    // Laps of the acceptance target's track: short, so that each run stays fast.
    test::LapPlan lap;
    lap.records = 160;
    lap.braking = {{40, 113}};
    Write(out / "replay_set", "lap.raf", EncodeReplayFile(test::BuildLap(lap)));
    lap.records = 1;
    lap.braking.clear();
    Write(out / "replay_set", "one.raf", EncodeReplayFile(test::BuildLap(lap)));
    lap.config = "Club";
    lap.records = 50;
    Write(out / "replay_set", "club.raf", EncodeReplayFile(test::BuildLap(lap)));
    Write(out / "replay_set", "sample.raf", EncodeReplayFile(test::SampleReplay(20, 2)));

    Write(out / "track_mesh", "sample.smx", EncodeTrackMesh(test::SampleMesh()));
    TrackMesh empty;
    empty.header = BuildTrackMeshHeader("Empty", 1, 2, 3);
    Write(out / "track_mesh", "empty.smx", EncodeTrackMesh(empty));

    Write(out / "segment_file", "two.tsf", EncodeTrackSegmentFile(test::SampleSegments()));
    Write(out / "segment_file", "none.tsf", EncodeTrackSegmentFile(TrackSegmentFile{}));
    std::printf("seeds written to %s\n", out.c_str());
    return 0;
}
