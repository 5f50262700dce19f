// Ribbon colours and their legend. See ribbon_colours.h.
#include "render/ribbon_colours.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

namespace lapquill {

namespace {

// Nine evenly spaced stops of the viridis map; between them the channels are interpolated.
constexpr std::array<std::uint32_t, 9> kSpeedStops = {
    0x440154u, 0x482878u, 0x3E4989u, 0x31688Eu, 0x26828Eu,
    0x1F9E89u, 0x35B779u, 0x6ECE58u, 0xFDE725u,
};

float Clamp01(float v) {
    if (!(v > 0.0f)) return 0.0f;  // NaN too
    return std::min(v, 1.0f);
}

std::uint32_t Channel(std::uint32_t rgb, int shift) { return (rgb >> shift) & 0xFFu; }

std::uint32_t Blend(std::uint32_t a, std::uint32_t b, float t) {
    std::uint32_t out = 0xFF000000u;
    for (int shift : {16, 8, 0}) {
        const float ca = static_cast<float>(Channel(a, shift));
        const float cb = static_cast<float>(Channel(b, shift));
        const auto c = static_cast<std::uint32_t>(std::lround(ca + (cb - ca) * t));
        out |= std::min<std::uint32_t>(c, 255u) << shift;
    }
    return out;
}

}  // namespace

std::optional<RibbonColouring> ParseRibbonColouring(std::string_view text) {
    if (text == "lap") return RibbonColouring::ByLap;
    if (text == "speed") return RibbonColouring::BySpeed;
    if (text == "pedals") return RibbonColouring::ByPedals;
    if (text == "delta") return RibbonColouring::ByDelta;
    return std::nullopt;
}

const char* RibbonColouringName(RibbonColouring colouring) {
    switch (colouring) {
        case RibbonColouring::BySpeed:
            return "speed";
        case RibbonColouring::ByPedals:
            return "pedals";
        case RibbonColouring::ByDelta:
            return "delta";
        case RibbonColouring::ByLap:
            break;
    }
    return "lap";
}

std::uint32_t SpeedMapColour(float t) {
    const float x = Clamp01(t) * static_cast<float>(kSpeedStops.size() - 1);
    const auto i = std::min<std::size_t>(static_cast<std::size_t>(x), kSpeedStops.size() - 2);
    return Blend(kSpeedStops[i], kSpeedStops[i + 1], x - static_cast<float>(i));
}

std::uint32_t PedalColour(float throttle, float brake) {
    const float b = Clamp01(brake);
    if (b >= kBrakeThreshold) return Blend(kCoastColour, kBrakeColour, b);
    return Blend(kCoastColour, kThrottleColour, Clamp01(throttle));
}

std::uint32_t DeltaRateColour(double rate) {
    if (!std::isfinite(rate)) return kCoastColour;
    const auto t = static_cast<float>(std::min(std::fabs(rate) / kDeltaRateFull, 1.0));
    return Blend(kCoastColour, rate > 0 ? kBrakeColour : kThrottleColour, t);
}

std::vector<std::uint32_t> DeltaRecordColours(std::span<const double> rates) {
    std::vector<std::uint32_t> out;
    out.reserve(rates.size());
    for (double r : rates) out.push_back(DeltaRateColour(r));
    return out;
}

SpeedRange LapsSpeedRange(std::span<const ReplayFile> laps) {
    SpeedRange range;
    bool any = false;
    for (const ReplayFile& lap : laps) {
        for (const ReplayRecord& r : lap.records) {
            if (!std::isfinite(r.speed)) continue;
            range.lo = any ? std::min(range.lo, r.speed) : r.speed;
            range.hi = any ? std::max(range.hi, r.speed) : r.speed;
            any = true;
        }
    }
    return range;
}

const SpeedRange& SpeedRangeCache::Get(std::span<const ReplayFile> laps, std::uint64_t version) {
    if (!filled_ || version != version_ || laps.size() != lapCount_) {
        range_ = LapsSpeedRange(laps);
        filled_ = true;
        version_ = version;
        lapCount_ = laps.size();
    }
    return range_;
}

float SpeedFraction(float speed, const SpeedRange& range) {
    const float span = range.hi - range.lo;
    if (!std::isfinite(speed) || !(span > 0.0f)) return 0.0f;
    return Clamp01((speed - range.lo) / span);
}

std::vector<std::uint32_t> RibbonRecordColours(const ReplayFile& lap, RibbonColouring colouring,
                                               std::uint32_t slotColour, const SpeedRange& speeds) {
    std::vector<std::uint32_t> out;
    out.reserve(lap.records.size());
    for (const ReplayRecord& r : lap.records) {
        switch (colouring) {
            case RibbonColouring::ByLap:
            case RibbonColouring::ByDelta:  // without a comparison: as by lap
                out.push_back(slotColour);
                break;
            case RibbonColouring::BySpeed:
                out.push_back(SpeedMapColour(SpeedFraction(r.speed, speeds)));
                break;
            case RibbonColouring::ByPedals:
                out.push_back(PedalColour(r.throttle, r.brake));
                break;
        }
    }
    return out;
}

std::vector<LegendEntry> RibbonLegend(RibbonColouring colouring,
                                      std::span<const std::string> lapTitles,
                                      std::span<const std::uint32_t> slotColours,
                                      const SpeedRange& speeds, const DisplayUnits& units,
                                      std::size_t reference) {
    std::vector<LegendEntry> out;
    switch (colouring) {
        case RibbonColouring::ByLap: {
            const std::size_t n = std::min(lapTitles.size(), slotColours.size());
            // Opaque: thin text at the ribbons' half alpha would not read.
            for (std::size_t i = 0; i < n; ++i) {
                out.push_back({lapTitles[i], slotColours[i] | 0xFF000000u});
            }
            break;
        }
        case RibbonColouring::BySpeed: {
            const char* unit = units.speedUnit == 0 ? "km/h" : "mph";
            constexpr int kSteps = 5;
            for (int k = kSteps - 1; k >= 0; --k) {
                const float t = static_cast<float>(k) / static_cast<float>(kSteps - 1);
                const float v = speeds.lo + (speeds.hi - speeds.lo) * t;
                char text[48];
                std::snprintf(text, sizeof text, "%.0f %s", DisplaySpeed(v, units), unit);
                out.push_back({text, SpeedMapColour(t)});
            }
            break;
        }
        case RibbonColouring::ByPedals:
            out.push_back({"Throttle", kThrottleColour});
            out.push_back({"Coasting", kCoastColour});
            out.push_back({"Brake", kBrakeColour});
            break;
        case RibbonColouring::ByDelta:
            out.push_back({"Gaining", kThrottleColour});
            out.push_back({"Even", kCoastColour});
            out.push_back({"Losing", kBrakeColour});
            if (reference < lapTitles.size()) {
                out.push_back({"against " + lapTitles[reference], kCoastColour});
            }
            break;
    }
    return out;
}

}  // namespace lapquill
