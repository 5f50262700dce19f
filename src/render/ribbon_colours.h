// How the map colours its ribbons, and the legend that names the colours. Pure functions of the
// loaded laps: one ARGB colour per record, built once when the ribbons are made, so playback
// never recomputes them. Speeds in m/s, pedals 0 to 1.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/stats_text.h"
#include "files/replay_file.h"

namespace lapquill {

enum class RibbonColouring {
    ByLap,     // every ribbon in its slot colour
    BySpeed,   // a perceptually uniform map from the slowest to the fastest speed of all laps
    ByPedals,  // green by throttle, red by brake, grey while coasting
    ByDelta,   // green where a lap gains on the reference lap, red where it loses
};

// "lap", "speed", "pedals", "delta"; nullopt for any other text.
std::optional<RibbonColouring> ParseRibbonColouring(std::string_view text);
const char* RibbonColouringName(RibbonColouring colouring);

inline constexpr std::uint32_t kCoastColour = 0xFF9A9A9Au;     // neither pedal pressed
inline constexpr std::uint32_t kThrottleColour = 0xFF1FD14Au;  // full throttle
inline constexpr std::uint32_t kBrakeColour = 0xFFE8312Au;     // full brake
// A brake this far down or more colours the record as braking, whatever the throttle.
inline constexpr float kBrakeThreshold = 0.05f;

// The speed map at t in [0, 1] (clamped; NaN counts as 0): dark violet through blue and green
// to yellow, rising in lightness so that equal steps of speed look like equal steps of colour.
std::uint32_t SpeedMapColour(float t);

// Coasting grey blended toward the brake red by `brake` when the brake is at kBrakeThreshold or
// more, else toward the throttle green by `throttle`. Values outside [0, 1] are clamped.
std::uint32_t PedalColour(float throttle, float brake);

// The colour of a delta rate (s/m, positive where the lap loses time): coasting grey at 0,
// blended toward the brake red for a loss and the throttle green for a gain, fully at
// kDeltaRateFull. A non-finite rate is grey.
inline constexpr double kDeltaRateFull = 0.004;  // s/m: 0.2 s lost over 50 m
std::uint32_t DeltaRateColour(double rate);
std::vector<std::uint32_t> DeltaRecordColours(std::span<const double> rates);

// The smallest and largest finite speed of all records of all laps; {0, 0} when there is none.
struct SpeedRange {
    float lo = 0;  // m/s
    float hi = 0;  // m/s
};
SpeedRange LapsSpeedRange(std::span<const ReplayFile> laps);

// LapsSpeedRange kept for one version of a set of laps: the legend asks for it every frame and
// a scan of six long laps costs about a millisecond, so the records are read again only when the
// caller's version of its set (bumped on every change of the laps) or the number of laps moves.
class SpeedRangeCache {
  public:
    const SpeedRange& Get(std::span<const ReplayFile> laps, std::uint64_t version);

  private:
    bool filled_ = false;
    std::uint64_t version_ = 0;
    std::size_t lapCount_ = 0;
    SpeedRange range_;
};

// Where `speed` lies in the range, 0 to 1; 0 for an empty range or a non-finite speed.
float SpeedFraction(float speed, const SpeedRange& range);

// One colour per record of `lap`.
std::vector<std::uint32_t> RibbonRecordColours(const ReplayFile& lap, RibbonColouring colouring,
                                               std::uint32_t slotColour, const SpeedRange& speeds);

// A line of the legend, drawn in its colour.
struct LegendEntry {
    std::string text;
    std::uint32_t colour;  // ARGB
};

// What the colours mean, top line first. By lap: each lap's title in its slot colour made
// opaque; by speed:
// five speeds from the fastest down to the slowest, in the user's speed unit, with their
// colours; by pedals: throttle, coasting, brake; by delta: gaining, even, losing, and against
// which lap (the title at index `reference`).
std::vector<LegendEntry> RibbonLegend(RibbonColouring colouring,
                                      std::span<const std::string> lapTitles,
                                      std::span<const std::uint32_t> slotColours,
                                      const SpeedRange& speeds, const DisplayUnits& units,
                                      std::size_t reference = 0);

}  // namespace lapquill
