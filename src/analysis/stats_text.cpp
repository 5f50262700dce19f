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
    constexpr const char* kNames[] = {"Lap", "Segment Marker", "Detected Corner"};  // by value
    const auto i = static_cast<std::size_t>(mode);
    return i < std::size(kNames) ? kNames[i] : "";
}

using Ctx = StatsRowContext;
using Units = DisplayUnits;

std::string Fixed(const char* label) {
    return label;
}

// A label that is the same in every unit and sector, given as the template's argument:
// .label = Label<"Gear">.
template <std::size_t N>
struct LabelText {
    char text[N];
    constexpr LabelText(const char (&s)[N]) { std::copy_n(s, N, text); }
};
template <LabelText L>
std::string Label(const Units&, std::size_t) {
    return L.text;
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

std::string AsText(std::string_view name) {
    return std::string(name);
}

// A row of one of the column's names, the same text on screen and in the JSON.
template <std::string_view StatsColumnInput::*Name, std::string (*Shown)(std::string_view) = AsText>
constexpr StatsRow NameRow(std::string (*label)(const Units&, std::size_t), const char* jsonKey) {
    return {.kind = StatsRowKind::Name,
            .label = label,
            .text = [](const Ctx& c) { return Shown(c.column.*Name); },
            .jsonKey = jsonKey,
            .json = [](const Ctx& c) { return Text(Shown(c.column.*Name)); }};
}

float Unchanged(float v) {
    return v;
}

// A gauge of one pedal or lever of the record at the playback time: the bar shows Bar of the
// recorded value, the JSON the value as recorded.
template <float ReplayRecord::*Channel, GaugeColour Colour, float (*Bar)(float) = Unchanged>
constexpr StatsRow GaugeRow(std::string (*label)(const Units&, std::size_t), const char* jsonKey) {
    return {.kind = StatsRowKind::Gauge,
            .label = label,
            .gauge = [](const Ctx& c) { return Bar(c.column.cursor.*Channel); },
            .colour = Colour,
            .jsonKey = jsonKey,
            .json = [](const Ctx& c) { return Real(c.column.cursor.*Channel); }};
}

// The clutch bar shows how far the pedal is down; the record keeps the clutch's engagement.
float PedalTravel(float engagement) {
    return 1.0f - engagement;
}

// A row of text across the columns, from the table's own state, shown in the first column.
template <std::string_view StatsRowContext::*Field>
constexpr StatsRow SpanRow(std::string (*label)(const Units&, std::size_t)) {
    StatsRow row{.kind = StatsRowKind::SpanText, .label = label};
    row.text = [](const Ctx& c) { return std::string(c.*Field); };
    return row;
}

std::int32_t DisplayGear(const ReplayRecord& r) {
    return static_cast<int>(r.gear) - 1;
}

// The table, top to bottom. Labels with a unit follow the display units; the JSON keeps SI.
const StatsRow kRows[] = {
    NameRow<&StatsColumnInput::playerName, StripColourCodes>(Label<"Player">, "player"),
    NameRow<&StatsColumnInput::carName>(Label<"Car">, "car"),
    NameRow<&StatsColumnInput::weather>(Label<"Weather">, "weather"),
    {.kind = StatsRowKind::Time,
     .label = [](const Units&, std::size_t k) { return "Sector " + std::to_string(k + 1); },
     .text = [](const Ctx& c) { return FormatLapTime(SectorTime(c.column.splitTimes, c.sector)); },
     .perSector = true,
     .jsonKey = "sectorTimesMs",
     .json = [](const Ctx& c) { return Integer(SectorTime(c.column.splitTimes, c.sector)); }},
    // Without split times there is no lap time to show.
    {.kind = StatsRowKind::Time,
     .label = Label<"Lap Time">,
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
     .label = Label<"Record">,
     .drawn = false,
     .jsonKey = "record",
     .json = [](const Ctx& c) { return Integer(c.column.cursorIndex); }},
    GaugeRow<&ReplayRecord::throttle, GaugeColour::Blue>(Label<"Throttle">, "throttle"),
    GaugeRow<&ReplayRecord::brake, GaugeColour::Red>(Label<"Brake">, "brake"),
    {.kind = StatsRowKind::CentredGauge,
     .label = Label<"Input Steer">,
     .gauge =
         [](const Ctx& c) {
             return std::clamp(c.column.cursor.steer * 57.2957763671875f, -kMaxSteerDegrees,
                               kMaxSteerDegrees);
         },
     .jsonKey = "steer",
     .json = [](const Ctx& c) { return Real(c.column.cursor.steer); }},
    GaugeRow<&ReplayRecord::clutch, GaugeColour::Green, PedalTravel>(Label<"Clutch">, "clutch"),
    GaugeRow<&ReplayRecord::handbrake, GaugeColour::Red>(Label<"Handbrake">, "handbrake"),
    {.kind = StatsRowKind::Number,
     .label = Label<"Gear">,
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
    ValueRow<&StatsColumnInput::timingDifference>(Label<"Timing Diff (s)">, "timingDifference"),
    ValueRow<&StatsColumnInput::longitudinalAccel, DisplayAcceleration>(Label<"Longitudinal accel">,
                                                                        "longitudinalAccel"),
    ValueRow<&StatsColumnInput::lateralAccel, DisplayAcceleration>(
        [](const Units& u, std::size_t) { return Fixed(LateralLabel(u)); }, "lateralAccel"),
    ValueRow<&StatsColumnInput::yaw>(Label<"Yaw (deg)">, "yaw"),
    {.kind = StatsRowKind::Blank, .label = Label<"">},
    SpanRow<&StatsRowContext::segmentText>(Label<"Track Segment:">),
    ValueRow<&StatsColumnInput::segmentTime>(Label<"Segment Time (s)">, "segmentTime"),
    {.kind = StatsRowKind::Blank, .label = Label<"">},
    SpanRow<&StatsRowContext::syncText>(Label<"Sync replay to:">),
    ValueRow<&StatsColumnInput::timeFromSync>(Label<"Time from sync (s)">, "timeFromSync"),
    ValueRow<&StatsColumnInput::entranceSpeed, DisplaySpeed>(Label<"Entrance speed">,
                                                             "entranceSpeed"),
    ValueRow<&StatsColumnInput::exitSpeed, DisplaySpeed>(Label<"Exit speed">, "exitSpeed"),
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
