// The playback state of the view and the steps that move it: the seven speeds, starting
// playback, the per-frame advance by the real time elapsed, and the frame-rate counter. The
// view owns one PlaybackState and calls these from its key handler and at the end of each
// frame. Times are records (0.01 s) except the clock readings, which are seconds in double
// precision so that the playback clock keeps its resolution after days of uptime.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "analysis/segments.h"

namespace lapquill {

// Seconds since an arbitrary origin; only differences are used.
using Clock = std::function<double()>;
// The default clock: std::chrono::steady_clock.
Clock SteadyClock();

inline constexpr std::array<float, 7> kPlaybackSpeeds = {0.25f, 0.5f, 1.0f, 2.0f,
                                                         3.0f,  5.0f, 10.0f};

// One step towards 0.25 (down) or 10 (up); the ends and any speed not in the list stay.
float SpeedStepDown(float speed);
float SpeedStepUp(float speed);

struct PlaybackState {
    std::int32_t playbackTime = 0;      // records from each replay's sync point
    SyncMode syncMode = SyncMode::Lap;  // what playback time 0 is
    bool isPlaying = false;
    float playbackSpeed = 1.0f;  // one of kPlaybackSpeeds
    bool playForward = true;
    double playStartTime = 0;  // s: the clock reading up to which playbackTime is advanced
};

// S while paused: from the end forwards starts over at 0, from 0 backwards starts at the end.
// segmentLength is replay 0's length in the current segment, now the clock reading.
void StartPlayback(PlaybackState* state, std::int32_t segmentLength, double now);

enum class PlaybackStep {
    Idle,           // not playing: nothing to do
    Stopped,        // the time was at its end (or start, backwards): playback stopped
    ClockWentBack,  // the clock read earlier than before: restarted the reference, time kept
    Advanced        // playbackTime moved by the whole records elapsed (possibly none)
};

// The playback step at the end of each frame, without the camera update the caller runs after
// Advanced. The elapsed time per step has no upper bound: a stall advances all it covered.
// The clock is read only when playback can continue.
PlaybackStep AdvancePlaybackTime(PlaybackState* state, std::int32_t segmentLength,
                                 const Clock& clock);

}  // namespace lapquill
