// The lap library's costs: the first scan of 10 000 small laps into an empty database, an
// unchanged rescan of them, and filtered list queries over the index. The laps are demo laps of
// four seeds cut to 50 records each, spread over ten tracks, two configurations and forty
// drivers by their headers, written once to a temporary folder.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "library/lap_library.h"
#include "tools/data_writers.h"
#include "tools/demo_data.h"

namespace lapquill {
namespace {

namespace fs = std::filesystem;

constexpr int kLaps = 10000;
constexpr int kRecordsPerLap = 50;

class LapFolder {
public:
    LapFolder() {
        root_ = fs::temp_directory_path() / ("lapquill-library-bench-" + std::to_string(::getpid()));
        fs::remove_all(root_);
        std::vector<ReplayFile> demo;
        for (std::uint64_t seed = 1; seed <= 4; ++seed) {
            DemoOptions options;
            options.seed = seed;
            for (auto& lap : BuildDemoDataSet(options).laps) demo.push_back(std::move(lap.replay));
        }
        for (int i = 0; i < kLaps; ++i) {
            ReplayFile lap = demo[static_cast<std::size_t>(i) % demo.size()];
            const std::size_t samplesPerRecord = lap.header.BlockCount();
            lap.records.resize(kRecordsPerLap);
            lap.samples.resize(kRecordsPerLap * samplesPerRecord);
            SetHeaderI32(&lap.header.bytes[raf::kRecordCountAt], kRecordsPerLap);
            const std::string track = "Track " + std::to_string(i % 10);
            SetFieldText(lap.header.bytes.data(), raf::kTrackName, track);
            SetFieldText(lap.header.bytes.data(), raf::kTrackConfig, i % 20 < 10 ? "Full" : "Short");
            SetFieldText(lap.header.bytes.data(), raf::kPlayerName, "^" + std::to_string(i % 8) + "Driver " + std::to_string(i % 40));
            SetHeaderI32(&lap.header.bytes[raf::kSplitTimesAt + 4 * (lap.header.SectorCount() - 1)], 90000 + (i * 7919) % 20000);
            const fs::path dir = root_ / ("session" + std::to_string(i / 500)) / track;
            fs::create_directories(dir);
            WriteBytesToFile((dir / ("lap" + std::to_string(i) + ".raf")).string(), EncodeReplayFile(lap));
        }
    }
    ~LapFolder() {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    std::string Laps() const { return root_.string(); }
    std::string Database(const std::string& name) const { return (root_.parent_path() / (root_.filename().string() + "-" + name)).string(); }

private:
    fs::path root_;
};

const LapFolder& Folder() {
    static const LapFolder folder;
    return folder;
}

void RemoveDatabase(const std::string& path) {
    for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(path + suffix);
}

std::unique_ptr<LapLibrary> OpenScanned(const std::string& db, benchmark::State& state) {
    std::string error;
    auto lib = LapLibrary::Open(db, &error);
    if (!lib) state.SkipWithError(error.c_str());
    return lib;
}

// A new database holding every lap of the folder.
std::unique_ptr<LapLibrary> FreshScanned(const std::string& db, const LapFolder& folder,
                                         benchmark::State& state) {
    RemoveDatabase(db);
    auto lib = OpenScanned(db, state);
    if (!lib) return nullptr;
    ScanReport report;
    std::string error;
    if (!lib->Scan({folder.Laps()}, &report, &error)) {
        state.SkipWithError(("scan failed: " + error).c_str());
        return nullptr;
    }
    return lib;
}

void BM_FirstScan(benchmark::State& state) {
    const auto& folder = Folder();
    const std::string db = folder.Database("first.db");
    for (auto _ : state) {
        state.PauseTiming();
        RemoveDatabase(db);
        auto lib = OpenScanned(db, state);
        if (!lib) return;
        state.ResumeTiming();
        ScanReport report;
        std::string error;
        if (!lib->Scan({folder.Laps()}, &report, &error) || report.added != kLaps) {
            state.SkipWithError(("scan failed: " + error).c_str());
            return;
        }
    }
    RemoveDatabase(db);
}
BENCHMARK(BM_FirstScan)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_UnchangedRescan(benchmark::State& state) {
    const auto& folder = Folder();
    const std::string db = folder.Database("rescan.db");
    auto lib = FreshScanned(db, folder, state);
    if (!lib) return;
    ScanReport report;
    std::string error;
    for (auto _ : state) {
        if (!lib->Scan({folder.Laps()}, &report, &error) || report.unchanged != kLaps) {
            state.SkipWithError(("rescan failed: " + error).c_str());
            return;
        }
    }
    lib.reset();
    RemoveDatabase(db);
}
BENCHMARK(BM_UnchangedRescan)->Unit(benchmark::kMillisecond);

// Range 0: track and configuration (500 laps); 1: one driver (250 laps); 2: car and track.
void BM_FilteredList(benchmark::State& state) {
    const auto& folder = Folder();
    const std::string db = folder.Database("list.db");
    auto lib = FreshScanned(db, folder, state);
    if (!lib) return;
    std::string error;
    LapFilter filter;
    if (state.range(0) == 0) {
        filter.track = "Track 3";
        filter.config = "Short";
    } else if (state.range(0) == 1) {
        filter.player = "Driver 17";
    } else {
        std::vector<LapEntry> all;
        lib->List({}, &all, &error);
        filter.track = "Track 5";
        filter.car = all.empty() ? "" : all.front().car;
    }
    std::vector<LapEntry> laps;
    for (auto _ : state) {
        if (!lib->List(filter, &laps, &error) || laps.empty()) {
            state.SkipWithError(("list failed: " + error).c_str());
            return;
        }
    }
    state.counters["laps"] = static_cast<double>(laps.size());
    lib.reset();
    RemoveDatabase(db);
}
BENCHMARK(BM_FilteredList)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace lapquill
