// The desktop's traces pane on six 10-minute demo laps (offscreen): a full rebuild of the
// curves (new comparison: graphs, sections, sampling, replot), a cursor update (the move and
// the repaint it asks for), and the map's frame in the window with both panes open against the same
// frame with them closed, the map's viewport kept at the same size.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QDockWidget>
#include <QElapsedTimer>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/analysis_panes.h"
#include "app/app_settings.h"
#include "app/main_frame.h"
#include "app/traces_pane.h"
#include "app/view_widget.h"
#include "compare/compare.h"
#include "compare/lap_traces.h"
#include "render/stats_overlay.h"
#include "tools/demo_data.h"
#include "view/analysis_view.h"

namespace lapquill {
namespace {

QApplication& App() {
    static int argc = 1;
    static char name[] = "panes_bench";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QApplication(argc, argv);
    }();
    return *app;
}

// The demo set of six laps of at least ten minutes, written once to a temporary folder.
struct BenchData {
    QTemporaryDir dir;
    DemoDataSet set;
    std::vector<std::string> paths;
};

const BenchData& Data() {
    static BenchData* data = [] {
        App();
        auto* d = new BenchData;
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, d->dir.path() + "/settings");
        DemoOptions options;
        options.lapsMinutes = 10;
        d->set = BuildDemoDataSet(options);
        std::vector<DemoWrittenFile> written;
        std::string error;
        if (!WriteDemoDataSet(d->set, d->dir.path().toStdString(), &written, &error)) std::abort();
        for (const DemoWrittenFile& f : written) {
            if (f.path.size() > 4 && f.path.substr(f.path.size() - 4) == ".raf") {
                d->paths.push_back((std::filesystem::path(d->dir.path().toStdString()) / f.path).string());
            }
        }
        return d;
    }();
    return *data;
}

// The demo's six laps compared against slot 0; the comparison points into `laps`.
struct DemoComparison {
    std::vector<ReplayFile> laps;
    Comparison cmp;

    DemoComparison() {
        for (const DemoLap& lap : Data().set.laps) laps.push_back(lap.replay);
        CompareInput in;
        in.laps = laps;
        cmp = CompareLaps(in, {});
    }
};

void BM_TracesFullRebuild(benchmark::State& state) {
    const DemoComparison demo;
    const std::vector<ReplayFile>& laps = demo.laps;
    const Comparison& cmp = demo.cmp;
    TracesPane pane;
    pane.resize(1600, 420);
    pane.show();
    App().processEvents();
    for (auto _ : state) {
        pane.SetComparison(&cmp, kReplayColours, DisplayUnits{});
        benchmark::DoNotOptimize(pane.CurveBuilds());
    }
    state.counters["records"] = static_cast<double>(laps.size() * laps[0].records.size());
}
BENCHMARK(BM_TracesFullRebuild)->Unit(benchmark::kMillisecond);

// The curves' numbers alone, as the full rebuild asks for them over the whole lap on a plot
// 1500 pixels wide: what the core costs of the rebuild above.
void BM_LapTracesWholeLap(benchmark::State& state) {
    const DemoComparison demo;
    const Comparison& cmp = demo.cmp;
    for (auto _ : state) {
        const LapTraces t = BuildLapTraces(cmp, WholeLapRange(cmp), 1500, DisplayUnits{});
        benchmark::DoNotOptimize(t.distance.data());
    }
}
BENCHMARK(BM_LapTracesWholeLap)->Unit(benchmark::kMillisecond);

void BM_TracesCursorUpdate(benchmark::State& state) {
    const DemoComparison demo;
    const Comparison& cmp = demo.cmp;
    TracesPane pane;
    pane.resize(1600, 420);
    pane.show();
    App().processEvents();
    pane.SetComparison(&cmp, kReplayColours, DisplayUnits{});
    double x = cmp.start;
    const double step = (cmp.end - cmp.start) / 10000.0;
    for (auto _ : state) {
        x = x + step < cmp.end ? x + step : cmp.start;
        pane.SetCursor(x);
        // The repaint the move asked for.
        App().processEvents();
    }
}
BENCHMARK(BM_TracesCursorUpdate)->Unit(benchmark::kMicrosecond);

// The frames alone, out of line so that a profiler can count them apart from the set-up
// (valgrind --tool=callgrind --collect-atstart=no --toggle-collect='*RunFrames*').
[[gnu::noinline]] void RunFrames(CMainFrame& frame, benchmark::State& state) {
    std::int32_t t = 0;
    for (auto _ : state) {
        t = (t + 7) % 50000;
        frame.View().View().SetPlaybackTime(t);
        frame.View().viewport()->repaint();
        App().processEvents();
    }
}

// Lets the window finish what its first show and the last resize started: the docks' first
// layout and the traces sampled again for the plots' final size, which would otherwise land
// inside the first frames measured.
void Settle() {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 300) {
        App().processEvents();
        QThread::msleep(5);
    }
}

// One frame of the map as the window paints it, and the panes catching up after it.
void MapFrame(benchmark::State& state, bool panes) {
    const BenchData& d = Data();
    QDir::setCurrent(d.dir.path());
    AppSettings settings;
    CMainFrame frame(&settings);
    frame.View().SetQuietMessages(true);
    frame.resize(1600, 1000);
    frame.show();
    App().processEvents();
    frame.OpenFiles(d.paths, true);
    App().processEvents();
    const QSize withPanes = frame.View().viewport()->size();
    if (!panes) {
        frame.Panes().TracesDock()->hide();
        frame.Panes().SectionsDock()->hide();
        App().processEvents();
        // The same map size as with the panes open: only the panes differ.
        frame.resize(frame.size() - (frame.View().viewport()->size() - withPanes));
    }
    Settle();
    const int builds = frame.Panes().Traces().CurveBuilds();
    RunFrames(frame, state);
    // Playback alone never samples the curves again: a rebuild here would be a fault.
    state.counters["curve_builds"] = frame.Panes().Traces().CurveBuilds() - builds;
    state.counters["map_w"] = frame.View().viewport()->width();
    state.counters["map_h"] = frame.View().viewport()->height();
}

// Both variants draw the same frames: a frame's cost depends on the part of the lap in view, and
// iteration counts of their own would show the two different stretches. 300 frames by default;
// PANES_BENCH_FRAMES asks for another number (a few under a profiler).
std::int64_t MapFrames() {
    const char* n = std::getenv("PANES_BENCH_FRAMES");
    const long long frames = n ? std::atoll(n) : 0;
    return frames > 0 ? frames : 300;
}

void BM_MapFrameWithPanes(benchmark::State& state) { MapFrame(state, true); }
BENCHMARK(BM_MapFrameWithPanes)->Unit(benchmark::kMillisecond)->Iterations(MapFrames());
void BM_MapFrameWithoutPanes(benchmark::State& state) { MapFrame(state, false); }
BENCHMARK(BM_MapFrameWithoutPanes)->Unit(benchmark::kMillisecond)->Iterations(MapFrames());

}  // namespace
}  // namespace lapquill
