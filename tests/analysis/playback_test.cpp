#include "analysis/playback.h"

#include <gtest/gtest.h>

#include <vector>

namespace lapquill {
namespace {

TEST(SpeedSteps, SevenSpeedsWithStopsAtBothEnds) {
    std::vector<float> up;
    float s = 1.0f;
    for (int i = 0; i < 5; ++i) up.push_back(s = SpeedStepUp(s));
    EXPECT_EQ(up, (std::vector<float>{2, 3, 5, 10, 10}));
    std::vector<float> down;
    s = 10.0f;
    for (int i = 0; i < 7; ++i) down.push_back(s = SpeedStepDown(s));
    EXPECT_EQ(down, (std::vector<float>{5, 3, 2, 1, 0.5f, 0.25f, 0.25f}));
    EXPECT_EQ(SpeedStepUp(1.5f), 1.5f);  // not a step: stays
}

TEST(StartPlayback, FromEitherEnd) {
    PlaybackState p;
    p.playbackTime = 500;
    StartPlayback(&p, 400, 7.0);
    EXPECT_TRUE(p.isPlaying);
    EXPECT_EQ(p.playbackTime, 0);  // at the end going forward: start over
    EXPECT_EQ(p.playStartTime, 7.0);

    p = {};
    p.playForward = false;
    StartPlayback(&p, 400, 0.0);
    EXPECT_EQ(p.playbackTime, 400);  // at 0 going backwards: start from the end

    p = {};
    p.playbackTime = 120;
    StartPlayback(&p, 400, 0.0);
    EXPECT_EQ(p.playbackTime, 120);
}

struct FakeClock {
    double now = 0;
    Clock AsClock() {
        return [this] { return now; };
    }
};

TEST(AdvancePlaybackTime, QuarterSpeedAtOneHundredFramesPerSecond) {
    for (double origin : {0.0, 1e6}) {  // also after eleven days of uptime
        FakeClock clock{origin};
        PlaybackState p;
        p.playbackSpeed = 0.25f;
        StartPlayback(&p, 10000, clock.now);
        std::vector<std::int32_t> times;
        for (int frame = 1; frame <= 400; ++frame) {
            clock.now = origin + frame / 100.0;
            ASSERT_EQ(AdvancePlaybackTime(&p, 10000, clock.AsClock()), PlaybackStep::Advanced);
            times.push_back(p.playbackTime);
        }
        EXPECT_EQ(p.playbackTime, 100) << "origin " << origin;
        // One record every fourth frame, never two at once.
        for (std::size_t i = 1; i < times.size(); ++i) EXPECT_LE(times[i] - times[i - 1], 1);
    }
}

TEST(AdvancePlaybackTime, FourRecordsPerFrameAtTwentyFiveFramesPerSecond) {
    FakeClock clock;
    PlaybackState p;
    StartPlayback(&p, 10000, 0.0);
    for (int frame = 1; frame <= 25; ++frame) {
        clock.now = frame / 25.0;
        AdvancePlaybackTime(&p, 10000, clock.AsClock());
    }
    EXPECT_EQ(p.playbackTime, 100);
}

TEST(AdvancePlaybackTime, StallClockBackwardsAndTheEnd) {
    FakeClock clock{50.0};
    PlaybackState p;
    StartPlayback(&p, 300, clock.now);
    clock.now += 2.0;  // a stall of 2 s advances 200 records at once
    EXPECT_EQ(AdvancePlaybackTime(&p, 300, clock.AsClock()), PlaybackStep::Advanced);
    EXPECT_EQ(p.playbackTime, 200);
    clock.now -= 1.0;  // the clock went backwards: keep the time, restart the reference
    EXPECT_EQ(AdvancePlaybackTime(&p, 300, clock.AsClock()), PlaybackStep::ClockWentBack);
    EXPECT_EQ(p.playbackTime, 200);
    EXPECT_EQ(p.playStartTime, clock.now);
    clock.now += 5.0;  // limited by the end of the segment
    EXPECT_EQ(AdvancePlaybackTime(&p, 300, clock.AsClock()), PlaybackStep::Advanced);
    EXPECT_EQ(p.playbackTime, 300);
    EXPECT_TRUE(p.isPlaying);
    EXPECT_EQ(AdvancePlaybackTime(&p, 300, clock.AsClock()), PlaybackStep::Stopped);
    EXPECT_FALSE(p.isPlaying);
    EXPECT_EQ(AdvancePlaybackTime(&p, 300, clock.AsClock()), PlaybackStep::Idle);
}

TEST(AdvancePlaybackTime, BackwardsStopsAtZero) {
    FakeClock clock;
    PlaybackState p;
    p.playForward = false;
    p.playbackSpeed = 2.0f;
    StartPlayback(&p, 100, 0.0);
    clock.now = 0.3;  // 60 records at double speed
    AdvancePlaybackTime(&p, 100, clock.AsClock());
    EXPECT_EQ(p.playbackTime, 40);
    clock.now = 1.0;
    AdvancePlaybackTime(&p, 100, clock.AsClock());
    EXPECT_EQ(p.playbackTime, 0);
    EXPECT_EQ(AdvancePlaybackTime(&p, 100, clock.AsClock()), PlaybackStep::Stopped);
}

}  // namespace
}  // namespace lapquill
