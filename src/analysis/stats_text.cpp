#include "analysis/stats_text.h"

#include <algorithm>
#include <cstdio>

namespace lapquill {

namespace {

// Where the decimal point of the number field's template "+8888888.81234" stands.
constexpr std::size_t kDecimalColumn = 8;

std::string Printf(const char* format, double value) {
    char buf[64];
    std::snprintf(buf, sizeof buf, format, value);
    return buf;
}

std::string AlignedNumber(const char* format, float value) {
    return AlignOnDecimalPoint(Printf(format, static_cast<double>(value)));
}

const char* SpeedLabel(const DisplayUnits& u) {
    return u.speedUnit == 0 ? "Speed (km/h)" : "Speed (mi/h)";
}
const char* DistanceLabel(const DisplayUnits& u) {
    return u.distanceUnit == 0   ? "Track Distance (m)"
           : u.distanceUnit == 1 ? "Track Distance (km)"
                                 : "Track Distance (mi)";
}
const char* LateralLabel(const DisplayUnits& u) {
    return u.accelerationUnit == 0 ? "Lateral accel (m/s^2)" : "Lateral accel (g)";
}

const char* SyncText(SyncMode mode) {
    switch (mode) {
        case SyncMode::Lap:
            return "Lap";
        case SyncMode::SegmentMarker:
            return "Segment Marker";
        case SyncMode::DetectedCorner:
            return "Detected Corner";
    }
    return "";
}

using Ctx = StatsRowContext;
using Units = DisplayUnits;

std::string Fixed(const char* label) {
    return label;
}

StatsValue Integer(std::int64_t v) {
    StatsValue out;
    out.type = StatsValue::Type::Integer;
    out.integer = v;
    return out;
}
StatsValue Real(float v) {
    StatsValue out;
    out.type = StatsValue::Type::Real;
    out.real = static_cast<double>(v);
    return out;
}
StatsValue Text(std::string v) {
    StatsValue out;
    out.type = StatsValue::Type::Text;
    out.text = std::move(v);
    return out;
}

// A number row of two decimals: its drawn text from the display value.
std::string TwoDecimals(float displayValue) {
    return AlignedNumber("%.2f", displayValue);
}

float AsIs(float v, const Units&) {
    return v;
}

// A number row of one of the column's values: two decimals of its display value on screen,
// the value as it stands (SI) in the JSON.
template <float StatsColumnInput::*Value, float (*Display)(float, const Units&) = AsIs>
constexpr StatsRow ValueRow(std::string (*label)(const Units&, std::size_t), const char* jsonKey) {
    return {.kind = StatsRowKind::Number,
            .label = label,
            .text = [](const Ctx& c) { return TwoDecimals(Display(c.column.*Value, c.units)); },
            .jsonKey = jsonKey,
            .json = [](const Ctx& c) { return Real(c.column.*Value); }};
}

std::int32_t DisplayGear(const ReplayRecord& r) {
    return static_cast<int>(r.gear) - 1;
}

// The table, top to bottom. Labels with a unit follow the display units; the JSON keeps SI.
const StatsRow kRows[] = {
    {.kind = StatsRowKind::Name,
     .label = [](const Units&, std::size_t) { return Fixed("Player"); },
     .text = [](const Ctx& c) { return StripColourCodes(c.column.playerName); },
     .jsonKey = "player",
     .json = [](const Ctx& c) { return Text(StripColourCodes(c.column.playerName)); }},
    {.kind = StatsRowKind::Name,
     .label = [](const Units&, std::size_t) { return Fixed("Car"); },
     .text = [](const Ctx& c) { return std::string(c.column.carName); },
     .jsonKey = "car",
     .json = [](const Ctx& c) { return Text(std::string(c.column.carName)); }},
    {.kind = StatsRowKind::Name,
     .label = [](const Units&, std::size_t) { return Fixed("Weather"); },
     .text = [](const Ctx& c) { return std::string(c.column.weather); },
     .jsonKey = "weather",
     .json = [](const Ctx& c) { return Text(std::string(c.column.weather)); }},
    {.kind = StatsRowKind::Time,
     .label = [](const Units&, std::size_t k) { return "Sector " + std::to_string(k + 1); },
     .text = [](const Ctx& c) { return FormatLapTime(SectorTime(c.column.splitTimes, c.sector)); },
     .perSector = true,
     .jsonKey = "sectorTimesMs",
     .json = [](const Ctx& c) { return Integer(SectorTime(c.column.splitTimes, c.sector)); }},
    // Without split times there is no lap time to show.
    {.kind = StatsRowKind::Time,
     .label = [](const Units&, std::size_t) { return Fixed("Lap Time"); },
     .text =
         [](const Ctx& c) {
             const auto& s = c.column.splitTimes;
             return s.empty() ? std::string() : FormatLapTime(s.back());
         },
     .jsonKey = "lapTimeMs",
     .json =
         [](const Ctx& c) {
             const auto& s = c.column.splitTimes;
             return s.empty() ? StatsValue() : Integer(s.back());
         }},
    {.kind = StatsRowKind::Number,
     .label = [](const Units&, std::size_t) { return Fixed("Record"); },
     .drawn = false,
     .jsonKey = "record",
     .json = [](const Ctx& c) { return Integer(c.column.cursorIndex); }},
    {.kind = StatsRowKind::Gauge,
     .label = [](const Units&, std::size_t) { return Fixed("Throttle"); },
     .gauge = [](const Ctx& c) { return c.column.cursor.throttle; },
     .colour = GaugeColour::Blue,
     .jsonKey = "throttle",
     .json = [](const Ctx& c) { return Real(c.column.cursor.throttle); }},
    {.kind = StatsRowKind::Gauge,
     .label = [](const Units&, std::size_t) { return Fixed("Brake"); },
     .gauge = [](const Ctx& c) { return c.column.cursor.brake; },
     .colour = GaugeColour::Red,
     .jsonKey = "brake",
     .json = [](const Ctx& c) { return Real(c.column.cursor.brake); }},
    {.kind = StatsRowKind::CentredGauge,
     .label = [](const Units&, std::size_t) { return Fixed("Input Steer"); },
     .gauge =
         [](const Ctx& c) {
             return std::clamp(c.column.cursor.steer * 57.2957763671875f, -kMaxSteerDegrees,
                               kMaxSteerDegrees);
         },
     .jsonKey = "steer",
     .json = [](const Ctx& c) { return Real(c.column.cursor.steer); }},
    // The bar shows how far the clutch pedal is down; the record keeps the clutch's engagement.
    {.kind = StatsRowKind::Gauge,
     .label = [](const Units&, std::size_t) { return Fixed("Clutch"); },
     .gauge = [](const Ctx& c) { return 1.0f - c.column.cursor.clutch; },
     .colour = GaugeColour::Green,
     .jsonKey = "clutch",
     .json = [](const Ctx& c) { return Real(c.column.cursor.clutch); }},
    {.kind = StatsRowKind::Gauge,
     .label = [](const Units&, std::size_t) { return Fixed("Handbrake"); },
     .gauge = [](const Ctx& c) { return c.column.cursor.handbrake; },
     .colour = GaugeColour::Red,
     .jsonKey = "handbrake",
     .json = [](const Ctx& c) { return Real(c.column.cursor.handbrake); }},
    {.kind = StatsRowKind::Number,
     .label = [](const Units&, std::size_t) { return Fixed("Gear"); },
     .text =
         [](const Ctx& c) {
             return AlignOnDecimalPoint(std::to_string(DisplayGear(c.column.cursor)));
         },
     .jsonKey = "gear",
     .json = [](const Ctx& c) { return Integer(DisplayGear(c.column.cursor)); }},
    {.kind = StatsRowKind::Number,
     .label = [](const Units& u, std::size_t) { return Fixed(SpeedLabel(u)); },
     .text =
         [](const Ctx& c) {
             return AlignedNumber("%3.2f", DisplaySpeed(c.column.cursor.speed, c.units));
         },
     .jsonKey = "speed",
     .json = [](const Ctx& c) { return Real(c.column.cursor.speed); }},
    {.kind = StatsRowKind::Number,
     .label = [](const Units& u, std::size_t) { return Fixed(DistanceLabel(u)); },
     .text =
         [](const Ctx& c) { return TwoDecimals(DisplayDistance(c.column.cursor.distance, c.units)); },
     .jsonKey = "distance",
     .json = [](const Ctx& c) { return Real(c.column.cursor.distance); }},
    ValueRow<&StatsColumnInput::timingDifference>(
        [](const Units&, std::size_t) { return Fixed("Timing Diff (s)"); }, "timingDifference"),
    ValueRow<&StatsColumnInput::longitudinalAccel, DisplayAcceleration>(
        [](const Units&, std::size_t) { return Fixed("Longitudinal accel"); }, "longitudinalAccel"),
    ValueRow<&StatsColumnInput::lateralAccel, DisplayAcceleration>(
        [](const Units& u, std::size_t) { return Fixed(LateralLabel(u)); }, "lateralAccel"),
    ValueRow<&StatsColumnInput::yaw>(
        [](const Units&, std::size_t) { return Fixed("Yaw (deg)"); }, "yaw"),
    {.kind = StatsRowKind::Blank, .label = [](const Units&, std::size_t) { return Fixed(""); }},
    {.kind = StatsRowKind::SpanText,
     .label = [](const Units&, std::size_t) { return Fixed("Track Segment:"); },
     .text = [](const Ctx& c) { return std::string(c.segmentText); }},
    ValueRow<&StatsColumnInput::segmentTime>(
        [](const Units&, std::size_t) { return Fixed("Segment Time (s)"); }, "segmentTime"),
    {.kind = StatsRowKind::Blank, .label = [](const Units&, std::size_t) { return Fixed(""); }},
    {.kind = StatsRowKind::SpanText,
     .label = [](const Units&, std::size_t) { return Fixed("Sync replay to:"); },
     .text = [](const Ctx& c) { return std::string(c.syncText); }},
    ValueRow<&StatsColumnInput::timeFromSync>(
        [](const Units&, std::size_t) { return Fixed("Time from sync (s)"); }, "timeFromSync"),
    ValueRow<&StatsColumnInput::entranceSpeed, DisplaySpeed>(
        [](const Units&, std::size_t) { return Fixed("Entrance speed"); }, "entranceSpeed"),
    ValueRow<&StatsColumnInput::exitSpeed, DisplaySpeed>(
        [](const Units&, std::size_t) { return Fixed("Exit speed"); }, "exitSpeed"),
};

// How many rows a table row stands for in a column with `sectors` split times.
std::size_t Repeats(const StatsRow& row, std::size_t sectors) {
    return !row.drawn ? 0 : row.perSector ? sectors : 1;
}

StatsColumn BuildColumn(const StatsColumnInput& in, bool first, const StatsTable& table,
                        const DisplayUnits& u) {
    StatsColumn col;
    col.title = std::string(in.title);
    col.cells.reserve(std::size(kRows) + in.splitTimes.size());
    for (const StatsRow& row : kRows) {
        for (std::size_t k = 0; k < Repeats(row, in.splitTimes.size()); ++k) {
            const StatsRowContext ctx{in, u, k, first ? table.segmentText : std::string_view(),
                                      first ? table.syncText : std::string_view()};
            StatsCell cell{row.label(u, k), row.kind, row.text ? row.text(ctx) : std::string(),
                           row.gauge ? row.gauge(ctx) : 0.0f, row.colour};
            col.cells.push_back(std::move(cell));
        }
    }
    return col;
}

}  // namespace

float DisplaySpeed(float v, const DisplayUnits& u) {
    const float kmh = v * 3.6f;
    return u.speedUnit == 0 ? kmh : kmh * 0.621371f;
}

float DisplayDistance(float d, const DisplayUnits& u) {
    switch (u.distanceUnit) {
        case 0:
            return d;
        case 1:
            return d * 0.001f;
        default:
            return d * 0.00062137103f;
    }
}

float DisplayAcceleration(float a, const DisplayUnits& u) {
    return u.accelerationUnit == 0 ? a : a * 0.10196798f;
}

std::string FormatLapTime(std::int64_t t) {
    const long long minutes = t / 60000;
    const long long seconds = (t - minutes * 60000) / 1000;
    const long long hundredths = (t - (minutes * 60 + seconds) * 1000) / 10;
    char buf[64];
    std::snprintf(buf, sizeof buf, "  %3lld:%02lld.%02lld", minutes, seconds, hundredths);
    return buf;
}

std::string AlignOnDecimalPoint(std::string_view text) {
    const std::size_t point = std::min(text.find('.'), text.size());
    std::string out;
    if (point < kDecimalColumn) out.assign(kDecimalColumn - point, ' ');
    out += text;
    return out;
}

std::string StripColourCodes(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '^') {
            if (i + 1 >= name.size()) break;
            ++i;
            continue;
        }
        out += name[i];
    }
    return out;
}

std::span<const StatsRow> StatsRows() {
    return kRows;
}

int StatsRowsBesideSectors() {
    int n = 0;
    for (const StatsRow& row : kRows) n += row.drawn && !row.perSector ? 1 : 0;
    return n;
}

std::int64_t SectorTime(std::span<const std::int32_t> splits, std::size_t k) {
    return k == 0 ? splits[0] : static_cast<std::int64_t>(splits[k]) - splits[k - 1];
}

StatsTable BuildStatsTable(const StatsInput& in) {
    StatsTable table;
    const std::int32_t s = in.currentSegment;
    if (s == kCustomSegment) {
        table.segmentText = "Custom Segment";
    } else if (s >= 0 && static_cast<std::size_t>(s) < in.segmentMarkerNames.size()) {
        table.segmentText = in.segmentMarkerNames[static_cast<std::size_t>(s)];
    }
    table.syncText = SyncText(in.syncMode);
    if (in.isPlaying) {
        table.speedText = Printf("%1.2fx", in.playForward ? in.playbackSpeed : -in.playbackSpeed);
    }
    if (in.columns.empty()) return table;

    // The label column is replay 0's.
    for (const StatsRow& row : kRows) {
        for (std::size_t k = 0; k < Repeats(row, in.columns[0].splitTimes.size()); ++k) {
            table.labels.push_back(row.label(in.units, k));
        }
    }
    table.columns.reserve(in.columns.size());
    for (std::size_t i = 0; i < in.columns.size(); ++i) {
        table.columns.push_back(BuildColumn(in.columns[i], i == 0, table, in.units));
    }
    return table;
}

}  // namespace lapquill
