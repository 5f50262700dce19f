#include "analysis/playback.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace lapquill {

Clock SteadyClock() {
    return [] {
        using namespace std::chrono;
        return duration<double>(steady_clock::now().time_since_epoch()).count();
    };
}

float SpeedStepDown(float speed) {
    for (std::size_t i = 1; i < kPlaybackSpeeds.size(); ++i) {
        if (speed == kPlaybackSpeeds[i]) return kPlaybackSpeeds[i - 1];
    }
    return speed;
}

float SpeedStepUp(float speed) {
    for (std::size_t i = 0; i + 1 < kPlaybackSpeeds.size(); ++i) {
        if (speed == kPlaybackSpeeds[i]) return kPlaybackSpeeds[i + 1];
    }
    return speed;
}

void StartPlayback(PlaybackState* state, std::int32_t segmentLength, double now) {
    state->isPlaying = true;
    state->playbackTime = std::min(state->playbackTime, segmentLength);
    if (state->playbackTime >= segmentLength && state->playForward) {
        state->playbackTime = 0;
    } else if (state->playbackTime <= 0 && !state->playForward) {
        state->playbackTime = segmentLength;
    }
    state->playStartTime = now;
}

PlaybackStep AdvancePlaybackTime(PlaybackState* state, std::int32_t segmentLength,
                                 const Clock& clock) {
    if (!state->isPlaying) return PlaybackStep::Idle;
    const std::int32_t length = segmentLength;
    const std::int32_t t = state->playbackTime;
    const bool canContinue = state->playForward ? (t >= 0 && t < length) : (t > 0 && t <= length);
    if (!canContinue) {
        state->isPlaying = false;
        return PlaybackStep::Stopped;
    }
    const double now = clock();
    // Whole records elapsed; a stall of days still fits, and more than the lap is cut anyway.
    const double elapsed = (now - state->playStartTime) * state->playbackSpeed * 100.0;
    const double limited = std::clamp(std::trunc(elapsed), -2147483648.0, 2147483647.0);
    const std::int64_t steps = static_cast<std::int64_t>(limited);
    if (steps < 0) {
        state->playStartTime = now;
        return PlaybackStep::ClockWentBack;
    }
    const std::int64_t moved =
        state->playForward ? std::int64_t{t} + steps : std::int64_t{t} - steps;
    state->playbackTime = static_cast<std::int32_t>(std::clamp<std::int64_t>(moved, 0, length));
    // Advance the reference by the real time the whole records consumed, so the rest of a
    // record's time carries over into the next step.
    state->playStartTime += static_cast<double>(steps) * static_cast<double>(0.01f) /
                            static_cast<double>(state->playbackSpeed);
    return PlaybackStep::Advanced;
}

}  // namespace lapquill
