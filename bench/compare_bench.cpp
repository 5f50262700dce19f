// The comparison of six 10-minute laps (60 000 records each) of the demo circuit, driven by
// different drivers on their own lines, with 100 markers: by distance with a 1 m delta trace,
// and by position (each lap matched onto the reference's path) with the same trace.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "compare/compare.h"
#include "tools/demo_data.h"

namespace lapquill {
namespace {

constexpr int kRecords = 60000;
constexpr int kMarkers = 100;

struct BenchLaps {
    std::vector<ReplayFile> laps;
    std::vector<std::string> names;
    std::vector<float> markers;
};

const BenchLaps& Laps() {
    static const BenchLaps laps = [] {
        DemoOptions options;
        options.lapsMinutes = 10;
        DemoDataSet set = BuildDemoDataSet(options);
        BenchLaps b;
        for (DemoLap& lap : set.laps) {
            if (lap.replay.RecordCount() > kRecords) lap.replay.records.resize(kRecords);
            b.laps.push_back(std::move(lap.replay));
        }
        const double end = b.laps[0].records.back().distance;
        for (int m = 0; m < kMarkers; ++m) {
            b.names.push_back("Marker " + std::to_string(m));
            b.markers.push_back(static_cast<float>(end * (m + 0.5) / kMarkers));
        }
        return b;
    }();
    return laps;
}

void Compare(benchmark::State& state, AlignMode align) {
    const BenchLaps& b = Laps();
    CompareInput in;
    in.laps = b.laps;
    in.markerNames = b.names;
    in.markerDistances = b.markers;
    for (auto _ : state) {
        const Comparison cmp = CompareLaps(in, {0, align});
        const DeltaTrace trace = BuildDeltaTrace(cmp, 1.0);
        benchmark::DoNotOptimize(trace.delta.back().back());
    }
    state.counters["records"] = static_cast<double>(b.laps.size() * b.laps[0].records.size());
}

void BM_CompareByDistanceWithTrace(benchmark::State& state) { Compare(state, AlignMode::Distance); }
BENCHMARK(BM_CompareByDistanceWithTrace)->Unit(benchmark::kMillisecond);

void BM_CompareByPositionWithTrace(benchmark::State& state) { Compare(state, AlignMode::Position); }
BENCHMARK(BM_CompareByPositionWithTrace)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace lapquill
