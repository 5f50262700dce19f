// One frame of the view at full HD and at 4K, as the program draws it: the demo circuit's mesh made dense
// enough for about 100 000 triangles, six replays of at least 10 minutes each drawn to the end
// of replay 0, the segment markers and the whole statistics table with the frame-rate readout.
// The top-down camera hangs at its default height over the car; the chase camera follows it.
// The data are written once into a temporary folder and loaded the way Open Replay(s) does.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "render/software_device.h"
#include "tools/demo_data.h"
#include "view/analysis_view.h"

namespace lapquill {
namespace {


// A window that only hands out the device and counts frames: presenting costs nothing here.
class BenchWindow final : public ViewWindow {
  public:
    std::vector<std::string> files;
    int frames = 0;
    SoftwareDevice* device = nullptr;
    SoftwareDeviceOptions options;
    std::int32_t width = 1920, height = 1080;

    void InvalidateRect() override {}
    ClientRect GetClientRect() const override { return {0, 0, width, height}; }
    void SetScrollInfo(ScrollBarId bar, const ScrollInfo& info, bool) override {
        ApplyScrollInfo(&bars_[bar == ScrollBarId::Vertical ? 1 : 0], info);
    }
    ScrollInfo GetScrollInfo(ScrollBarId bar) const override {
        return bars_[bar == ScrollBarId::Vertical ? 1 : 0];
    }
    void ShowScrollBar(ScrollBarId, bool) override {}
    void MessageBox(const std::string& text) override {
        std::fprintf(stderr, "%s\n", text.c_str());
    }
    std::optional<std::vector<std::string>> ChooseReplayFiles(const OpenReplayDialog&) override {
        return files;
    }
    void Present(const PresentedFrame&) override { ++frames; }
    std::unique_ptr<RenderDevice> CreateDevice(std::int32_t width, std::int32_t height) override {
        auto made = std::make_unique<SoftwareDevice>(width, height, options);
        device = made.get();
        return made;
    }

  private:
    ScrollInfo bars_[2];
};

// The data set, written once for all benchmarks of the run.
struct BenchData {
    std::filesystem::path folder;
    std::vector<std::string> files;
    std::int64_t meshTriangles = 0;
    std::int64_t records = 0;  // of all six replays
};

const BenchData& Data() {
    static const BenchData data = [] {
        BenchData d;
        DemoOptions options;
        options.lapsMinutes = 10.0;
        options.meshDensity = 1.8;  // the demo's 55 600 triangles become about 100 000
        const DemoDataSet set = BuildDemoDataSet(options);
        for (const MeshObject& o : set.mesh.objects) d.meshTriangles += o.triangleCount;
        char pattern[] = "/tmp/lapquill-bench-XXXXXX";
        d.folder = mkdtemp(pattern);
        std::vector<DemoWrittenFile> written;
        std::string error;
        if (!WriteDemoDataSet(set, d.folder.string(), &written, &error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            std::abort();
        }
        for (const DemoLap& lap : set.laps) {
            d.files.push_back("data/raf/" + lap.fileName);
            d.records += static_cast<std::int64_t>(lap.replay.records.size());
        }
        return d;
    }();
    return data;
}

// One frame of the measured loop, kept out of line so that a profiler can count these frames
// alone (valgrind --toggle-collect on this function).
[[gnu::noinline]] void RenderPlaybackFrame(CAnalysisView& view) {
    view.RenderFrame();
}

void RenderFrameAtTheEnd(benchmark::State& state, bool chase, std::int32_t width = 1920,
                         std::int32_t height = 1080) {
    const BenchData& data = Data();
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(data.folder);
    double now = 0;
    BenchWindow window;
    window.files = data.files;
    window.options.threadCount = static_cast<int>(state.range(0));
    window.width = width;
    window.height = height;
    CAnalysisView view(window, [&now] { return now; });
    view.OnSize(width, height);
    view.OnPaint();
    view.OpenReplays(true);
    view.HandleKeyAction(VK_OEM_5);  // the frame-rate readout too
    view.HandleKeyAction(VK_END);    // replay 0's last record: every ribbon drawn to there
    if (chase) view.HandleKeyAction('T');
    // The first frame after loading fills what the view keeps between frames (the legend's
    // speed range, the device's lists); playback's frames are the ones that come after it.
    now += 0.01;
    view.RenderFrame();
    window.device->ResetCounters();
    const std::uint64_t earlyBefore = window.device->EarlySetupBatches();
    std::int64_t frames = 0;
    for (auto _ : state) {
        now += 0.01;
        RenderPlaybackFrame(view);
        ++frames;
    }
    std::filesystem::current_path(previous);
    if (view.ReplayCount() != 6 || window.frames < frames) state.SkipWithError("frame not drawn");
    state.counters["meshTriangles"] = static_cast<double>(data.meshTriangles);
    state.counters["records"] = static_cast<double>(data.records);
    state.counters["drawCalls/frame"] =
        static_cast<double>(window.device->counters.drawCalls) / static_cast<double>(frames);
    state.counters["triangles/frame"] =
        static_cast<double>(window.device->counters.triangles) / static_cast<double>(frames);
    state.counters["threads"] = window.device->ThreadCount();
    // Batches of triangles the other threads set up while the view was still queueing the frame.
    state.counters["earlyBatches/frame"] =
        static_cast<double>(window.device->EarlySetupBatches() - earlyBefore) /
        static_cast<double>(frames);
}

void BM_RenderFrameTopDown(benchmark::State& state) {
    RenderFrameAtTheEnd(state, false);
}
// The argument is the number of rasterising threads; 0 takes one per core.
BENCHMARK(BM_RenderFrameTopDown)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_RenderFrameChase(benchmark::State& state) {
    RenderFrameAtTheEnd(state, true);
}
BENCHMARK(BM_RenderFrameChase)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace lapquill

namespace lapquill {
namespace {

// The same frames on a 3840 x 2160 monitor (or full HD at 200 %): four times the pixels.
void BM_RenderFrame4KTopDown(benchmark::State& state) {
    RenderFrameAtTheEnd(state, false, 3840, 2160);
}
BENCHMARK(BM_RenderFrame4KTopDown)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_RenderFrame4KChase(benchmark::State& state) {
    RenderFrameAtTheEnd(state, true, 3840, 2160);
}
BENCHMARK(BM_RenderFrame4KChase)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace lapquill
