// Opening six 60-minute laps with an ordinary segment file (40 markers spread over the lap)
// and with a hostile one (255 markers alternating between 0 m and 1e9 m, whose ranges each
// reach over the whole lap). The corner search must cost about the same for both.
#include <benchmark/benchmark.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/data_writers.h"
#include "tools/headless_view.h"

namespace lapquill {
namespace {

constexpr int kRecords = 360000;  // 60 minutes
constexpr int kLaps = 6;

// A lap on a circle with the speed rising and falling, so that corners and straights alternate.
ReplayFile MakeLap(int driver) {
    ReplayHeaderFields f;
    f.playerName = "Driver " + std::to_string(driver);
    f.carName = "Bench Car";
    f.trackName = "Bench Ring";
    f.trackConfig = "Full";
    f.weather = "Clear";
    f.blockCount = 1;
    f.recordCount = kRecords;
    ReplayFile lap;
    lap.header = BuildReplayHeader(f);
    lap.blocks.resize(1);
    double angle = 0, distance = 0;
    for (int i = 0; i < kRecords; ++i) {
        const double v = 50.0 + 25.0 * std::cos(2 * M_PI * i / 3000.0) + driver * 0.1;
        angle += v * 0.01 / 500.0;
        distance += v * 0.01;
        ReplayRecord r;
        r.speed = static_cast<float>(v);
        r.position = {static_cast<float>(500 * std::cos(angle)),
                      static_cast<float>(500 * std::sin(angle)), 0.0f};
        r.distance = static_cast<float>(distance);
        r.forwardAxis = {static_cast<float>(-0.5 * std::sin(angle)),
                         static_cast<float>(0.5 * std::cos(angle)), 0.0f};
        r.lateralAxis = {static_cast<float>(0.5 * std::cos(angle)),
                         static_cast<float>(0.5 * std::sin(angle)), 0.0f};
        lap.records.push_back(r);
    }
    lap.samples.resize(kRecords);
    return lap;
}

struct World {
    std::filesystem::path dir = std::filesystem::temp_directory_path() / "lapquill-hostile-bench";
    std::vector<std::string> files;
    World() {
        std::filesystem::create_directories(dir / "normal" / "data" / "smx");
        std::filesystem::create_directories(dir / "hostile" / "data" / "smx");
        TrackMesh mesh;
        mesh.header = BuildTrackMeshHeader("Bench Ring", 10, 60, 10);
        TrackSegmentFile normal, hostile;
        for (int m = 0; m < 40; ++m)
            normal.records.push_back(MakeSegmentMarker("M", 2.0e6f * m / 40, {0, 0, 0}, 0, 10));
        for (int m = 0; m < 255; ++m)
            hostile.records.push_back(MakeSegmentMarker("M", m % 2 ? 1e9f : 0.0f, {0, 0, 0}, 0, 10));
        for (const auto& [name, segments] : {std::pair{"normal", &normal}, {"hostile", &hostile}}) {
            WriteBytesToFile((dir / name / "data/smx/bench.smx").string(), EncodeTrackMesh(mesh));
            WriteBytesToFile((dir / name / "data/smx/Bench Ring Full.tsf").string(),
                             EncodeTrackSegmentFile(*segments));
        }
        for (int d = 0; d < kLaps; ++d) {
            files.push_back((dir / ("lap" + std::to_string(d) + ".raf")).string());
            WriteBytesToFile(files.back(), EncodeReplayFile(MakeLap(d)));
        }
    }
    ~World() { std::filesystem::remove_all(dir); }
};

void Open(benchmark::State& state, const char* segments) {
    static World world;
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(world.dir / segments);
    cli::ViewOptions options;
    options.files = world.files;
    for (auto _ : state) {
        cli::HeadlessSession session(options);
        session.Run();
        if (session.View().ReplayCount() != kLaps) state.SkipWithError("the laps did not load");
    }
    std::filesystem::current_path(previous);
}

void BM_OpenSixHourLapsNormalSegments(benchmark::State& state) { Open(state, "normal"); }
void BM_OpenSixHourLapsHostileSegments(benchmark::State& state) { Open(state, "hostile"); }
BENCHMARK(BM_OpenSixHourLapsNormalSegments)->Unit(benchmark::kSecond)->Iterations(1)->Repetitions(3);
BENCHMARK(BM_OpenSixHourLapsHostileSegments)->Unit(benchmark::kSecond)->Iterations(1)->Repetitions(3);

}  // namespace
}  // namespace lapquill
