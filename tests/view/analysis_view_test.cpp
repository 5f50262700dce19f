#include "view/analysis_view.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "support/fake_window.h"
#include "support/replay_builder.h"

namespace lapquill {
namespace {

using test::BuildLap;
using test::FakeWindow;
using test::LapPlan;
using test::TestWorld;

// A world with one track ("Harrow Vale", configuration "GP") whose markers lie at 50, 150 and
// 300 m: records 200, 600 and 1200 of a lap that runs 0.25 m per record.
class ViewTest : public ::testing::Test {
  protected:
    ViewTest() {
        world.AddTrack("Harrow Vale", "harrow.smx");
        world.AddSegments(
            "Harrow Vale", "GP",
            test::MarkersAt({{"Turn 1", 50.0f}, {"Chicane", 150.0f}, {"Hairpin", 300.0f}}));
    }

    std::string Lap(const std::string& name, LapPlan plan = {}) {
        return world.AddLap(name, BuildLap(plan));
    }

    CAnalysisView& View() {
        if (!view) view = std::make_unique<CAnalysisView>(window, [this] { return now; });
        return *view;
    }
    // Sized and painted once, as the program's window is, so that the device exists.
    CAnalysisView& PaintedView() {
        View().OnSize(1280, 800);
        View().OnPaint();
        return *view;
    }

    TestWorld world;
    FakeWindow window;
    double now = 100.0;
    std::unique_ptr<CAnalysisView> view;
};

TEST_F(ViewTest, MessagesOfAddReplayWordForWord) {
    LapPlan otherTrack;
    otherTrack.track = "Fenwick";
    LapPlan otherConfig;
    otherConfig.config = "Club";
    LapPlan empty;
    empty.records = 0;
    const std::string a = Lap("a"), b = Lap("b", otherTrack), c = Lap("c", otherConfig);
    const std::string e = Lap("empty", empty);
    CAnalysisView& v = View();
    EXPECT_FALSE(v.AddReplay("data/raf/missing.raf"));
    EXPECT_FALSE(v.AddReplay(b));  // first of a set, but its track has no mesh
    EXPECT_FALSE(v.AddReplay(e));  // loads, but has nothing to analyse
    EXPECT_TRUE(v.AddReplay(a));
    EXPECT_FALSE(v.AddReplay(b));
    EXPECT_FALSE(v.AddReplay(c));
    EXPECT_FALSE(v.AddReplay(e));
    EXPECT_EQ(v.ReplayCount(), 1);
    EXPECT_EQ(v.Replays().replayTitles[0], "a");
    const std::vector<std::string> expected = {
        "Could not load replay \"data/raf/missing.raf\"!",
        "Could not load a track for \"Fenwick\"!",
        "Could not load replay \"data/raf/empty.raf\"!",
        "Could not add replay \"data/raf/b.raf\" because it is from track \"Fenwick\" but was "
        "expecting replay from track \"Harrow Vale\"",
        "Could not add replay \"data/raf/c.raf\" because it is from track configuration \"Club\" "
        "but was expecting replay from track configuration \"GP\"",
        "Could not load replay \"data/raf/empty.raf\"!",
    };
    EXPECT_EQ(window.messages, expected);
}

TEST_F(ViewTest, BrokenMeshAndMissingSegmentFile) {
    // A mesh whose header lists it but whose objects are missing.
    std::vector<std::uint8_t> bytes = EncodeTrackMesh(test::StraightMesh("Fenwick"));
    bytes.resize(kTrackMeshHeaderSize + 8);
    WriteBytesToFile("data/smx/fenwick.smx", bytes);
    LapPlan fenwick;
    fenwick.track = "Fenwick";
    LapPlan noSegments;
    noSegments.config = "Short";
    const std::string f = Lap("f", fenwick), s = Lap("s", noSegments);
    CAnalysisView& v = View();
    EXPECT_FALSE(v.AddReplay(f));
    EXPECT_TRUE(v.AddReplay(s));
    ASSERT_EQ(window.messages.size(), 2u);
    EXPECT_EQ(window.messages[0], "Could not load track \"data/smx/fenwick.smx\"!");
    EXPECT_EQ(window.messages[1],
              "Warning: Could not load track segments for track \"Harrow Vale Short\".  Is "
              "data/smx/Harrow Vale Short.tsf missing?");
    EXPECT_EQ(v.Segments().currentSegment, -1);
    EXPECT_TRUE(v.Replays().segmentMarkerNames.empty());
    // Without markers Page Up and Page Down stay on the custom segment.
    EXPECT_TRUE(v.HandleKeyAction(VK_NEXT));
    EXPECT_EQ(v.Segments().currentSegment, -1);
}

TEST_F(ViewTest, OpenReplacesAddExtendsAndTheLimitOfSix) {
    world.AddTrack("Fenwick", "fenwick.smx");  // listed when the view builds its catalogue
    std::vector<std::string> laps;
    for (int i = 0; i < 7; ++i) laps.push_back(Lap("lap" + std::to_string(i)));
    CAnalysisView& v = View();
    window.AnswerDialog({laps[0], laps[1], laps[2], laps[3], laps[4]});
    v.OpenReplays(true);
    EXPECT_EQ(v.ReplayCount(), 5);
    window.CancelDialog();
    v.OpenReplays(true);  // cancelled: the set stays
    EXPECT_EQ(v.ReplayCount(), 5);
    window.AnswerDialog({laps[5], laps[6]});
    v.OpenReplays(false);
    EXPECT_EQ(v.ReplayCount(), 6);
    EXPECT_EQ(window.messages,
              std::vector<std::string>{"Only 6 replays are allowed.  Extra replays ignored."});
    EXPECT_EQ(window.dialogs.back().filter, "QZR Replay files (*.raf)|*.raf||");
    // Open replaces: the first file from another track becomes the reference.
    LapPlan other;
    other.track = "Fenwick";
    const std::string f = Lap("fenwick", other);
    window.messages.clear();
    window.AnswerDialog({f, laps[0], laps[1]});
    v.OpenReplays(true);
    EXPECT_EQ(v.ReplayCount(), 1);
    ASSERT_EQ(window.messages.size(), 3u);  // no segment file, then two of the wrong track
    EXPECT_EQ(window.messages[1], "Could not add replay \"" + laps[0] +
                                      "\" because it is from track \"Harrow Vale\" "
                                      "but was expecting replay from track \"Fenwick\"");
}

TEST_F(ViewTest, RejectedFilesDoNotUseUpPlaces) {
    std::vector<std::string> chosen;
    for (int i = 0; i < 6; ++i) chosen.push_back(Lap("lap" + std::to_string(i)));
    chosen.insert(chosen.begin() + 2, "data/raf/nothing.raf");
    chosen.insert(chosen.begin() + 4, "data/raf/nothing2.raf");
    window.AnswerDialog(chosen);
    View().OpenReplays(true);
    EXPECT_EQ(View().ReplayCount(), 6);
    EXPECT_EQ(window.messages.size(), 2u);  // the two load failures, no limit message
}

TEST(ReplayTitleFromPath, FileNameWithoutFolderAndLastExtension) {
    EXPECT_EQ(ReplayTitleFromPath("data/raf/fast.lap.raf"), "fast.lap");
    EXPECT_EQ(ReplayTitleFromPath("C:\\laps\\quick.raf"), "quick");
    EXPECT_EQ(ReplayTitleFromPath("plain"), "plain");
    EXPECT_EQ(ReplayTitleFromPath("a.dir/noext"), "noext");
    EXPECT_EQ(ReplayTitleFromPath(""), "");
}

TEST_F(ViewTest, KeysWithoutReplays) {
    CAnalysisView& v = View();
    for (std::uint32_t key : std::initializer_list<std::uint32_t>{
             'S',     'A',      'D',     'F',          'Z',           'X',      '1',
             '2',     '3',      VK_HOME, VK_END,       VK_LEFT,       VK_RIGHT, VK_UP,
             VK_DOWN, VK_PRIOR, VK_NEXT, VK_OEM_COMMA, VK_OEM_PERIOD, 0x20u,    'B'}) {
        EXPECT_FALSE(v.HandleKeyAction(key)) << key;
    }
    EXPECT_EQ(window.invalidations, 0);
    EXPECT_TRUE(v.HandleKeyAction('Q'));
    EXPECT_FALSE(v.StatsVisible());
    EXPECT_TRUE(v.HandleKeyAction(VK_OEM_5));
    EXPECT_TRUE(v.FpsVisible());
    EXPECT_EQ(window.invalidations, 2);
    EXPECT_TRUE(v.HandleKeyAction('T'));
    EXPECT_TRUE(v.FollowCar());
}

TEST_F(ViewTest, KeysWithAReplay) {
    CAnalysisView& v = View();
    ASSERT_TRUE(v.AddReplay(Lap("a")));
    EXPECT_EQ(v.Segments().currentSegment, 0);
    const PlaybackState& p = v.Playback();
    // Stepping while paused, within the lap.
    EXPECT_TRUE(v.HandleKeyAction('A'));
    EXPECT_EQ(p.playbackTime, 0);
    EXPECT_TRUE(v.HandleKeyAction('D'));
    EXPECT_TRUE(v.HandleKeyAction('D'));
    EXPECT_EQ(p.playbackTime, 2);
    EXPECT_TRUE(v.HandleKeyAction(VK_END));
    EXPECT_EQ(p.playbackTime, 1999);
    EXPECT_EQ(v.Segments().currentSegment, 2);  // lap mode follows the markers
    EXPECT_TRUE(v.HandleKeyAction('D'));
    EXPECT_EQ(p.playbackTime, 1999);
    // The camera hangs 500 m over the car.
    EXPECT_FLOAT_EQ(v.CameraTarget().x, v.Replays().replays[0].records[1999].position.x);
    EXPECT_FLOAT_EQ(v.CameraTarget().z, 500.0f);
    // S at the end going forward starts over; A and D then change the speed.
    EXPECT_TRUE(v.HandleKeyAction('S'));
    EXPECT_TRUE(p.isPlaying);
    EXPECT_EQ(p.playbackTime, 0);
    EXPECT_EQ(p.playStartTime, now);
    EXPECT_TRUE(v.HandleKeyAction('D'));
    EXPECT_EQ(p.playbackSpeed, 2.0f);
    EXPECT_TRUE(v.HandleKeyAction('A'));
    EXPECT_TRUE(v.HandleKeyAction('A'));
    EXPECT_EQ(p.playbackSpeed, 0.5f);
    EXPECT_EQ(p.playbackTime, 0);
    const int invalidations = window.invalidations;
    EXPECT_TRUE(v.HandleKeyAction('S'));  // pause asks for no frame
    EXPECT_FALSE(p.isPlaying);
    EXPECT_EQ(window.invalidations, invalidations);
    EXPECT_TRUE(v.HandleKeyAction('F'));
    EXPECT_FALSE(p.playForward);
    EXPECT_TRUE(v.HandleKeyAction('S'));  // at 0 backwards: from the end
    EXPECT_EQ(p.playbackTime, 1999);
    now = 130.0;
    EXPECT_TRUE(v.HandleKeyAction(VK_HOME));
    EXPECT_EQ(p.playbackTime, 0);
    EXPECT_EQ(p.playStartTime, 130.0);
    // Sync keys.
    EXPECT_TRUE(v.HandleKeyAction('2'));
    EXPECT_EQ(p.syncMode, SyncMode::DetectedCorner);
    EXPECT_TRUE(v.HandleKeyAction('3'));
    EXPECT_EQ(p.syncMode, SyncMode::SegmentMarker);
    EXPECT_TRUE(v.HandleKeyAction('1'));
    EXPECT_EQ(p.syncMode, SyncMode::Lap);
    // Zoom and pan on the top-down camera.
    EXPECT_TRUE(v.HandleKeyAction('Z'));
    EXPECT_FLOAT_EQ(v.CameraHeight(), 500.0f * 0.9090909f);
    EXPECT_TRUE(v.HandleKeyAction('X'));
    EXPECT_FLOAT_EQ(v.CameraHeight(), 500.0f * 0.9090909f * 1.1f);
    const float x = v.CameraTarget().x;
    EXPECT_TRUE(v.HandleKeyAction(VK_RIGHT));
    EXPECT_GT(v.CameraTarget().x, x);
    for (std::uint32_t key : std::initializer_list<std::uint32_t>{VK_LEFT, VK_UP, VK_DOWN})
        EXPECT_TRUE(v.HandleKeyAction(key));
    // Chase camera zoom changes the following distance: 300 - 9.
    EXPECT_TRUE(v.HandleKeyAction('T'));
    EXPECT_TRUE(v.HandleKeyAction('Z'));
    EXPECT_EQ(v.FollowDistance(), 291);
    EXPECT_TRUE(v.HandleKeyAction(VK_OEM_COMMA));
    EXPECT_TRUE(v.HandleKeyAction(VK_OEM_PERIOD));
    EXPECT_FALSE(v.HandleKeyAction('B'));
}

TEST_F(ViewTest, CustomMarksTakeReplayZerosDistance) {
    CAnalysisView& v = View();
    ASSERT_TRUE(v.AddReplay(Lap("a")));
    v.SetPlaybackTime(400);
    v.MarkCustomStart();
    EXPECT_FLOAT_EQ(v.Segments().customStartDistance, 100.0f);
    EXPECT_EQ(v.Segments().customStartIndices[0], 400);
    v.SetPlaybackTime(100);
    v.MarkCustomEnd();  // before the start: the start follows
    EXPECT_FLOAT_EQ(v.Segments().customStartDistance, 25.0f);
    EXPECT_FLOAT_EQ(v.Segments().customEndDistance, 25.0f);
    // The custom distances survive a clear of the set.
    v.ClearReplays();
    EXPECT_FLOAT_EQ(v.Segments().customEndDistance, 25.0f);
}

TEST_F(ViewTest, PageUpAndDownPlaceTheTimeInEachSyncMode) {
    CAnalysisView& v = View();
    ASSERT_TRUE(v.AddReplay(Lap("a")));
    const PlaybackState& p = v.Playback();
    EXPECT_TRUE(v.HandleKeyAction(VK_NEXT));  // segment 1 at record 600
    EXPECT_EQ(v.Segments().currentSegment, 1);
    EXPECT_EQ(p.playbackTime, 600);
    EXPECT_TRUE(v.HandleKeyAction(VK_PRIOR));
    EXPECT_TRUE(v.HandleKeyAction(VK_PRIOR));  // segment 0 -> custom: the lap start
    EXPECT_EQ(v.Segments().currentSegment, -1);
    EXPECT_EQ(p.playbackTime, 0);
    EXPECT_TRUE(v.HandleKeyAction(VK_PRIOR));  // -> the last marker's segment
    EXPECT_EQ(v.Segments().currentSegment, 2);
    EXPECT_EQ(p.playbackTime, 1200);
    for (std::uint32_t mode : std::initializer_list<std::uint32_t>{'3', '2'}) {
        v.HandleKeyAction(mode);
        while (v.Segments().currentSegment != 2) v.HandleKeyAction(VK_NEXT);
        EXPECT_TRUE(v.HandleKeyAction(VK_NEXT));
        EXPECT_EQ(v.Segments().currentSegment, -1);
        EXPECT_EQ(p.playbackTime, 0);
        EXPECT_TRUE(v.HandleKeyAction(VK_NEXT));
        EXPECT_EQ(v.Segments().currentSegment, 0);
        EXPECT_EQ(p.playbackTime, 0);
    }
    // In marker mode Home goes to the segment's marker and End to its last record.
    v.HandleKeyAction('3');
    v.HandleKeyAction(VK_HOME);
    EXPECT_EQ(v.RecordIndexAt(0, p.playbackTime), 200);
    v.HandleKeyAction(VK_END);
    EXPECT_EQ(p.playbackTime, 399);
    EXPECT_EQ(v.RecordIndexAt(0, p.playbackTime), 599);
    EXPECT_FLOAT_EQ(v.TimeFromSync(0), 4.0f);
    // Switching from lap time 550 (segment 0) to marker time keeps 550, which lies beyond
    // the segment's end: replay 0 waits at the segment's last record.
    v.HandleKeyAction('1');
    v.SetPlaybackTime(550);
    EXPECT_EQ(v.Segments().currentSegment, 0);
    v.SetSyncMode(SyncMode::SegmentMarker);
    EXPECT_EQ(p.playbackTime, 550);
    EXPECT_EQ(v.RecordIndexAt(0, p.playbackTime), 599);
}

TEST_F(ViewTest, LapModeFollowsTheMarkersWhilePlaying) {
    world.AddSegments("Harrow Vale", "Long",
                      test::MarkersAt({{"Start", 0.0f}, {"Back", 375.0f}, {"Last", 1050.0f}}));
    LapPlan plan;
    plan.config = "Long";
    plan.records = 5000;
    CAnalysisView& v = View();
    ASSERT_TRUE(v.AddReplay(Lap("long", plan)));
    const std::vector<std::pair<std::int32_t, std::int32_t>> expected = {
        {0, 0}, {1499, 0}, {1500, 1}, {4199, 1}, {4200, 2}, {4999, 2}};
    for (const auto& [time, segment] : expected) {
        v.SetPlaybackTime(time);
        EXPECT_EQ(v.Segments().currentSegment, segment) << time;
    }
    // Playing through the lap at speed 10 selects each in turn and stops at the end.
    v.HandleKeyAction(VK_HOME);
    v.HandleKeyAction('S');
    for (int i = 0; i < 4; ++i) v.HandleKeyAction('D');
    std::vector<std::int32_t> seen;
    for (int frame = 0; frame < 600 && v.Playback().isPlaying; ++frame) {
        now += 0.01;
        v.AdvancePlayback();
        if (seen.empty() || seen.back() != v.Segments().currentSegment) {
            seen.push_back(v.Segments().currentSegment);
        }
    }
    EXPECT_EQ(seen, (std::vector<std::int32_t>{0, 1, 2}));
    EXPECT_FALSE(v.Playback().isPlaying);
    EXPECT_EQ(v.Playback().playbackTime, 4999);
    // The custom segment stays selected while the time moves.
    for (int i = 0; i < 3; ++i) v.HandleKeyAction(VK_PRIOR);
    ASSERT_EQ(v.Segments().currentSegment, -1);
    v.SetPlaybackTime(3000);
    EXPECT_EQ(v.Segments().currentSegment, -1);
}

TEST_F(ViewTest, AdvancePlaybackOnTheViewsClock) {
    CAnalysisView& v = PaintedView();
    ASSERT_TRUE(v.AddReplay(Lap("a")));
    v.HandleKeyAction('S');
    for (int i = 0; i < 4; ++i) v.HandleKeyAction('A');  // 0.25
    ASSERT_EQ(v.Playback().playbackSpeed, 0.25f);
    for (int frame = 0; frame < 100; ++frame) {
        now += 0.01;
        v.OnPaint();  // every frame ends with the playback step
    }
    EXPECT_EQ(v.Playback().playbackTime, 25);
    now += 2.0 / 0.25;  // a stall of 8 s at a quarter speed: 200 records
    v.AdvancePlayback();
    EXPECT_EQ(v.Playback().playbackTime, 225);
    now -= 1.0;
    const int invalidations = window.invalidations;
    v.AdvancePlayback();  // the clock went backwards: same time, one more frame
    EXPECT_EQ(v.Playback().playbackTime, 225);
    EXPECT_EQ(window.invalidations, invalidations + 1);
    EXPECT_TRUE(v.Playback().isPlaying);
}

TEST_F(ViewTest, TimingDifferenceOfATrailingReplay) {
    LapPlan behind;
    behind.startDistance = -30 * 0.25f;  // reaches every point 30 records (0.3 s) later
    CAnalysisView& v = View();
    ASSERT_TRUE(v.AddReplay(Lap("a")));
    ASSERT_TRUE(v.AddReplay(Lap("b", behind)));
    v.SetPlaybackTime(1000);
    EXPECT_EQ(v.PlaybackTimingDifference(0), 0.0f);
    EXPECT_FLOAT_EQ(v.PlaybackTimingDifference(1), 0.3f);
    v.SetPlaybackTime(1900);
    EXPECT_NEAR(v.PlaybackTimingDifference(1), 0.3f, 0.011f);
    // At the very end b never reaches a's last distance: its own last record is nearest.
    v.HandleKeyAction(VK_END);
    EXPECT_EQ(v.PlaybackTimingDifference(1), 0.0f);
}

TEST_F(ViewTest, DeviceIsMadeOnTheFirstPaintAndResetOnEveryChange) {
    CAnalysisView& v = View();
    EXPECT_FALSE(v.HasDevice());
    const std::string a = Lap("a");
    ASSERT_TRUE(v.AddReplay(a));
    EXPECT_EQ(v.ResetDeviceCalls(), 0);  // no device yet: nothing to reset
    v.OnPaint();
    EXPECT_TRUE(v.HasDevice());
    EXPECT_EQ(window.devicesCreated, 1);
    EXPECT_EQ(window.presents, 1);
    ASSERT_TRUE(v.AddReplay(a));
    EXPECT_EQ(v.ResetDeviceCalls(), 1);
    EXPECT_EQ(v.ReleaseDeviceObjectsCalls(), 1);
    EXPECT_FALSE(v.AddReplay("data/raf/none.raf"));  // a rejection changes nothing
    EXPECT_EQ(v.ResetDeviceCalls(), 1);
    v.ClearReplays();  // release before the data go, reset after
    EXPECT_EQ(v.ReleaseDeviceObjectsCalls(), 3);
    EXPECT_EQ(v.ResetDeviceCalls(), 2);
    window.client = {0, 0, 640, 480};
    v.OnSize(640, 480);
    EXPECT_EQ(v.ResetDeviceCalls(), 3);
    EXPECT_EQ(window.device->Width(), 640);  // the back buffer takes the new client size
    v.OnPaint();
    EXPECT_EQ(window.devicesCreated, 1);  // made once
    window.device->SimulateDeviceLost(true);
    v.OnPaint();
    EXPECT_EQ(v.ResetDeviceCalls(), 4);
    v.OnDestroy();
    EXPECT_FALSE(v.HasDevice());
}

TEST_F(ViewTest, FailedDeviceShowsItsMessageOnce) {
    window.deviceFails = true;
    CAnalysisView& v = View();
    v.OnPaint();
    v.OnPaint();
    EXPECT_EQ(window.messages, std::vector<std::string>{"Can't create DirectX device!"});
    EXPECT_TRUE(v.AddReplay(Lap("a")));  // the analysis works without a device
}

TEST_F(ViewTest, StatisticsTableAtThePlaybackTime) {
    LapPlan plan;
    plan.braking = {{802, 900}};
    CAnalysisView& v = View();
    ASSERT_TRUE(v.AddReplay(Lap("a", plan)));
    v.SetPlaybackTime(850);
    const StatsTable t = v.BuildStatsTableNow();
    ASSERT_EQ(t.columns.size(), 1u);
    EXPECT_EQ(t.columns[0].title, "a");
    EXPECT_EQ(t.segmentText, "Chicane");
    for (const StatsCell& c : t.columns[0].cells) {
        if (c.label == "Player") {
            EXPECT_EQ(c.text, "Anna");
        }
        if (c.label == "Gear") {
            EXPECT_EQ(c.text, "       3");
        }
        if (c.label == "Longitudinal accel") {
            EXPECT_EQ(c.text, "      -9.77");
        }  // 2^-10 m per 0.01 s^2
        if (c.label == "Timing Diff (s)") {
            EXPECT_EQ(c.text, "       0.00");
        }
    }
}

}  // namespace
}  // namespace lapquill
