// The analysis costs that matter: rebuilding the segment data after a load or a mark (six
// 10-minute laps, 100 markers), and everything the overlay asks for in one frame (the records
// at the playback time, timing differences, channels and the statistics text of six laps).
#include <benchmark/benchmark.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "analysis/segments.h"
#include "tools/data_writers.h"
#include "tools/headless_view.h"

namespace lapquill {
namespace {

constexpr int kRecords = 60000;  // 10 minutes
constexpr int kLaps = 6;
constexpr int kMarkers = 100;

// A plausible lap: speed between 25 and 75 m/s, corners where the heading turns, the distance
// rising with the path; each driver a little faster or slower and on another line.
ReplayFile MakeLap(int driver) {
    ReplayHeaderFields f;
    f.playerName = "^" + std::to_string(driver) + "Driver " + std::to_string(driver);
    f.carName = "Bench Car";
    f.trackName = "Bench Ring";
    f.trackConfig = "Full";
    f.weather = "Clear";
    f.splitTimes = {200000 + driver * 100, 400000 + driver * 200, 600000 + driver * 300};
    f.blockCount = 1;
    f.recordCount = kRecords;
    ReplayFile lap;
    lap.header = BuildReplayHeader(f);
    lap.blocks.resize(1);
    double x = 0, y = 0, heading = 0, distance = 0;
    const double pace = 1.0 + 0.01 * driver;
    for (int i = 0; i < kRecords; ++i) {
        const double phase = 2 * M_PI * i / 3000.0;
        const double v = pace * (50.0 + 25.0 * std::cos(phase));
        const double curvature = 0.004 * std::pow(std::sin(phase * 0.5), 3);
        heading += curvature * v * 0.01;
        x += v * 0.01 * std::cos(heading);
        y += v * 0.01 * std::sin(heading);
        distance += v * 0.01;
        ReplayRecord r;
        r.throttle = static_cast<float>(0.5 + 0.5 * std::sin(phase));
        r.brake = static_cast<float>(std::max(0.0, -std::sin(phase)));
        r.steer = static_cast<float>(curvature * 20);
        r.gear = static_cast<std::uint8_t>(2 + static_cast<int>(v / 15));
        r.speed = static_cast<float>(v);
        r.position = {static_cast<float>(x), static_cast<float>(y + driver * 0.3), 0.0f};
        r.distance = static_cast<float>(distance);
        r.forwardAxis = {static_cast<float>(0.5 * std::cos(heading)),
                         static_cast<float>(0.5 * std::sin(heading)), 0.0f};
        r.lateralAxis = {static_cast<float>(-0.5 * std::sin(heading)),
                         static_cast<float>(0.5 * std::cos(heading)), 0.0f};
        lap.records.push_back(r);
    }
    lap.samples.resize(kRecords);
    return lap;
}

// Six laps written to a temporary world and opened in a headless view, as lapquill-cli does.
struct World {
    std::filesystem::path dir = std::filesystem::temp_directory_path() / "lapquill-analysis-bench";
    std::filesystem::path previous = std::filesystem::current_path();
    cli::ViewOptions options;
    std::unique_ptr<cli::HeadlessSession> session;

    World() {
        std::filesystem::create_directories(dir / "data" / "smx");
        std::filesystem::create_directories(dir / "data" / "raf");
        std::filesystem::current_path(dir);
        TrackMesh mesh;
        mesh.header = BuildTrackMeshHeader("Bench Ring", 10, 60, 10);
        WriteBytesToFile("data/smx/bench.smx", EncodeTrackMesh(mesh));
        TrackSegmentFile segments;
        const ReplayFile first = MakeLap(0);
        const float length = first.records.back().distance;
        for (int m = 0; m < kMarkers; ++m) {
            const float d = length * static_cast<float>(m) / kMarkers;
            segments.records.push_back(
                MakeSegmentMarker("Marker " + std::to_string(m), d, {0, 0, 0}, 0, 10));
        }
        WriteBytesToFile("data/smx/Bench Ring Full.tsf", EncodeTrackSegmentFile(segments));
        for (int d = 0; d < kLaps; ++d) {
            const std::string path = "data/raf/lap" + std::to_string(d) + ".raf";
            WriteBytesToFile(path, EncodeReplayFile(d == 0 ? first : MakeLap(d)));
            options.files.push_back(path);
        }
        session = std::make_unique<cli::HeadlessSession>(options);
        session->Run();
        std::filesystem::current_path(previous);
    }
    ~World() {
        session.reset();
        std::filesystem::remove_all(dir);
    }
};

World& SharedWorld() {
    static World world;
    return world;
}

void BM_RecomputeSegments(benchmark::State& state) {
    CAnalysisView& view = SharedWorld().session->View();
    const ReplaySet& set = view.Replays();
    if (set.replayCount != kLaps || set.MarkerCount() != kMarkers) {
        state.SkipWithError("the bench world did not load");
        return;
    }
    SegmentData segments = view.Segments();
    for (auto _ : state) {
        RecomputeSegments(set.Loaded(), set.LoadedSearches(), set.segmentMarkerDistances,
                          &segments);
        benchmark::DoNotOptimize(segments.cornerDistances.data());
    }
}
BENCHMARK(BM_RecomputeSegments)->Unit(benchmark::kMillisecond);

// What the overlay computes per frame, at playback times spread over the lap.
void BM_OverlayFrame(benchmark::State& state) {
    CAnalysisView& view = SharedWorld().session->View();
    if (view.ReplayCount() != kLaps) {
        state.SkipWithError("the bench world did not load");
        return;
    }
    std::int32_t t = 0;
    for (auto _ : state) {
        t = (t + 7919) % kRecords;
        view.SetPlaybackTime(t);
        const StatsTable table = view.BuildStatsTableNow();
        benchmark::DoNotOptimize(table.columns.data());
    }
}
BENCHMARK(BM_OverlayFrame)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace lapquill
