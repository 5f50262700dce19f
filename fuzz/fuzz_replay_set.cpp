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
    std::unique_ptr<CAnalysisView> set;    // holds the two good laps
    std::unique_ptr<CAnalysisView> empty;  // takes the input as the first replay of a set
    std::string good[2];

    World() {
        world.AddMarkedTrack(20.0f, 60.0f);
        // Short laps keep each run fast; one braking zone gives each segment a corner.
        test::LapPlan a;
        a.records = 400;
        a.braking = {{100, 173}};
        good[0] = world.AddLap("a", test::BuildLap(a));
        test::LapPlan b = a;
        b.step = 0.26f;
        b.braking = {{90, 170}};
        good[1] = world.AddLap("b", test::BuildLap(b));
        set = std::make_unique<CAnalysisView>(window, [] { return 0.0; });
        empty = std::make_unique<CAnalysisView>(window, [] { return 0.0; });
        LoadGoodSet();
    }

    void LoadGoodSet() {
        set->ClearReplays();
        set->AddReplay(good[0]);
        set->AddReplay(good[1]);
        set->SetSyncMode(SyncMode::Lap);
        set->SetPlaybackTime(0);
    }
};

World& TheWorld() {
    static World* w = new World;  // lives for the whole run; the fuzzer never returns
    return *w;
}

void Exercise(CAnalysisView& view) {
    static constexpr std::uint32_t kKeys[] = {0x22, 0x23, '2', 0xBC, 'A', '3', 0x21, 0xBE};
    for (std::uint32_t key : kKeys) {
        view.HandleKeyAction(key);
        for (std::int32_t r = 0; r < view.ReplayCount(); ++r) {
            const std::int32_t i = view.RecordIndexAt(r, view.Playback().playbackTime);
            if (i < 0 || i >= view.Replays().replays[r].RecordCount()) __builtin_trap();
            (void)view.TimeFromSync(r);
            (void)view.PlaybackTimingDifference(r);
        }
    }
    (void)view.BuildStatsTableNow();
}

}  // namespace

// Builds the world before the first input, so that its set-up is not taken for coverage of
// an input.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    TheWorld();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    World& w = TheWorld();
    w.window = test::FakeWindow{};  // forget what earlier runs recorded
    const std::string path = "data/raf/fuzz.raf";
    if (!WriteBytesToFile(path, std::vector<std::uint8_t>(data, data + size))) return 0;

    CAnalysisView& view = *w.set;
    const std::int32_t before = view.ReplayCount();
    const std::int32_t time = view.Playback().playbackTime;
    const std::int32_t segment = view.Segments().currentSegment;
    if (view.AddReplay(path)) {
        Exercise(view);
        w.LoadGoodSet();  // every input meets the same two good laps
    } else if (view.ReplayCount() != before || view.Playback().playbackTime != time ||
               view.Segments().currentSegment != segment) {
        __builtin_trap();  // a rejected file changed the set
    }

    // The same bytes as the first replay of a new set.
    w.empty->ClearReplays();
    if (w.empty->AddReplay(path)) Exercise(*w.empty);
    return 0;
}
