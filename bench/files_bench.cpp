// Loading speed of a 10-minute lap: 60 000 records, 4 blocks, sample stride 40 bytes.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "files/replay_file.h"
#include "tools/data_writers.h"

namespace lapquill {
namespace {

std::vector<std::uint8_t> TenMinuteLap() {
    ReplayHeaderFields f;
    f.playerName = "Bench";
    f.trackName = "Bench";
    f.trackConfig = "Long";
    f.blockCount = 4;
    f.sampleStride = 40;
    f.recordCount = 60000;
    ReplayFile file;
    file.header = BuildReplayHeader(f);
    file.blocks.resize(4);
    file.records.resize(60000);
    file.samples.resize(60000 * 4);
    for (int i = 0; i < 60000; ++i) {
        auto& r = file.records[i];
        r.speed = 50.0f;
        r.distance = 0.5f * static_cast<float>(i);
        r.position = {static_cast<float>(i) * 0.1f, 200.0f, 3.0f};
        r.forwardAxis = {0.0f, -0.5f, 0.0f};
        r.lateralAxis = {0.5f, 0.0f, 0.0f};
    }
    return EncodeReplayFile(file);
}

void BM_LoadReplayFile(benchmark::State& state) {
    const auto bytes = TenMinuteLap();
    const std::string path =
        (std::filesystem::temp_directory_path() / "lapquill-bench-lap.raf").string();
    WriteBytesToFile(path, bytes);
    ReplayFile file;
    for (auto _ : state) {
        const bool ok = LoadReplayFile(path, &file);
        benchmark::DoNotOptimize(ok);
        if (!ok) state.SkipWithError("load failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(bytes.size()));
    std::remove(path.c_str());
}
BENCHMARK(BM_LoadReplayFile)->Unit(benchmark::kMillisecond);

void BM_LoadReplayFileFromMemory(benchmark::State& state) {
    const auto bytes = TenMinuteLap();
    ReplayFile file;
    for (auto _ : state) {
        benchmark::DoNotOptimize(LoadReplayFileFromMemory(bytes, &file));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(bytes.size()));
}
BENCHMARK(BM_LoadReplayFileFromMemory)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace lapquill
