// Generating the demo data set: the whole set as lapquill-cli demo builds it (which must stay
// well under five seconds), and its parts at the sizes the other benchmarks ask for.
#include <benchmark/benchmark.h>

#include "tools/data_writers.h"
#include "tools/demo_data.h"

namespace lapquill {
namespace {

void BM_BuildDemoDataSet(benchmark::State& state) {
    for (auto _ : state) {
        DemoDataSet set = BuildDemoDataSet(DemoOptions{});
        benchmark::DoNotOptimize(set.laps.back().replay.records.data());
    }
}
BENCHMARK(BM_BuildDemoDataSet)->Unit(benchmark::kMillisecond);

void BM_BuildDemoTrack(benchmark::State& state) {
    for (auto _ : state) {
        DemoTrack track = BuildDemoTrack();
        benchmark::DoNotOptimize(track.line.data());
    }
}
BENCHMARK(BM_BuildDemoTrack)->Unit(benchmark::kMillisecond);

// Mesh density 1 (the demo), 4 and 16 (large meshes for the drawing benchmarks).
void BM_BuildDemoTrackMesh(benchmark::State& state) {
    const DemoTrack track = BuildDemoTrack();
    std::size_t triangles = 0;
    for (auto _ : state) {
        TrackMesh mesh = BuildDemoTrackMesh(track, static_cast<double>(state.range(0)));
        triangles = 0;
        for (const auto& o : mesh.objects) triangles += o.triangles.size();
        benchmark::DoNotOptimize(triangles);
    }
    state.counters["triangles"] = static_cast<double>(triangles);
}
BENCHMARK(BM_BuildDemoTrackMesh)->Arg(1)->Arg(4)->Arg(16)->Unit(benchmark::kMillisecond);

// One replay of 1 and of 10 laps, encoded to the bytes of its file.
void BM_SimulateDemoLap(benchmark::State& state) {
    const DemoTrack track = BuildDemoTrack();
    const std::vector<DemoCar> cars = DemoCars();
    const DemoDriver driver = DemoDrivers(1, track).front();
    DemoLapOptions options;
    options.circuits = static_cast<int>(state.range(0));
    std::size_t records = 0;
    for (auto _ : state) {
        const ReplayFile f = SimulateDemoLap(track, cars[driver.car], driver, options);
        const std::vector<std::uint8_t> bytes = EncodeReplayFile(f);
        records = f.records.size();
        benchmark::DoNotOptimize(bytes.data());
    }
    state.counters["records"] = static_cast<double>(records);
}
BENCHMARK(BM_SimulateDemoLap)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace lapquill
