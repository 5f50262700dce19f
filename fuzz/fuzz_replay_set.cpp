// Fuzz target: the whole acceptance path. The input is a replay file added to a set that
// already holds two good laps of the same track (with a mesh and segment markers); then the
// segments are recomputed, the records are looked up at several playback times in every sync
// mode and segment, and the statistics text is built. A rejected input must leave the set as
// it was.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "support/fake_window.h"
#include "support/replay_builder.h"
#include "view/analysis_view.h"

namespace {

using namespace lapquill;

struct World {
    test::TestWorld world;
    test::FakeWindow window;
    std::unique_ptr<CAnalysisView> view;
    std::string good[2];

    World() {
        world.AddTrack("Harrow Vale", "vale.smx");
        TrackSegmentFile segments;
        segments.records.push_back(MakeSegmentMarker("Turn 1", 100.0f, {100, 0, 0}, 0.0f, 12.0f));
        segments.records.push_back(MakeSegmentMarker("Turn 2", 300.0f, {300, 0, 0}, 0.0f, 12.0f));
        segments.SetMarkerCount(2);
        world.AddSegments("Harrow Vale", "GP", segments);
        test::LapSpec a;
        a.records = 2000;
        a.braking = {{500, 573}};
        good[0] = world.AddLap("a", test::BuildLap(a));
        test::LapSpec b = a;
        b.step = 0.26f;
        b.braking = {{480, 560}};
        good[1] = world.AddLap("b", test::BuildLap(b));
        view = std::make_unique<CAnalysisView>(window, [] { return 0.0; });
    }

    void Reset() {
        view->ClearReplays();
        view->AddReplay(good[0]);
        view->AddReplay(good[1]);
    }
};

World& TheWorld() {
    static World* w = new World;  // lives for the whole run; the fuzzer never returns
    return *w;
}

void Exercise(CAnalysisView& view) {
    static constexpr std::uint32_t kKeys[] = {'1', 0x22, 0x23, 'A', '2', 0x21, 0xBC, 0x24, 'D', '3', 0xBE, 0x22};
    for (std::uint32_t key : kKeys) {
        view.HandleKeyAction(key);
        for (std::int32_t r = 0; r < view.ReplayCount(); ++r) {
            const std::int32_t i = view.RecordIndexAt(r, view.Playback().playbackTime);
            if (i < 0 || i >= view.Replays().replays[r].RecordCount()) __builtin_trap();
            (void)view.TimeFromSync(r);
            (void)view.PlaybackTimingDifference(r);
        }
        (void)view.BuildStatsTableNow();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    World& w = TheWorld();
    w.Reset();
    const std::string path = "data/raf/fuzz.raf";
    if (!WriteBytesToFile(path, std::vector<std::uint8_t>(data, data + size))) return 0;

    const std::int32_t before = w.view->ReplayCount();
    const std::int32_t time = w.view->Playback().playbackTime;
    const std::int32_t segment = w.view->Segments().currentSegment;
    if (!w.view->AddReplay(path)) {
        if (w.view->ReplayCount() != before || w.view->Playback().playbackTime != time ||
            w.view->Segments().currentSegment != segment) {
            __builtin_trap();
        }
    }
    Exercise(*w.view);

    // The same bytes as the first replay of a new set.
    w.view->ClearReplays();
    if (w.view->AddReplay(path)) Exercise(*w.view);
    return 0;
}
