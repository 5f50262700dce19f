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

std::string SectorLabel(int k) {
    return "Sector " + std::to_string(k);
}

// The labels of rows below the sector rows, in order; blank rows are empty.
void AppendLowerLabels(const DisplayUnits& u, std::vector<std::string>* labels) {
    for (const char* l : {"Lap Time",
                          "Throttle",
                          "Brake",
                          "Input Steer",
                          "Clutch",
                          "Handbrake",
                          "Gear",
                          SpeedLabel(u),
                          DistanceLabel(u),
                          "Timing Diff (s)",
                          "Longitudinal accel",
                          LateralLabel(u),
                          "Yaw (deg)",
                          "",
                          "Track Segment:",
                          "Segment Time (s)",
                          "",
                          "Sync replay to:",
                          "Time from sync (s)",
                          "Entrance speed",
                          "Exit speed"}) {
        labels->emplace_back(l);
    }
}

StatsColumn BuildColumn(const StatsColumnInput& in, bool first, const StatsTable& table,
                        const DisplayUnits& u) {
    StatsColumn col;
    col.title = std::string(in.title);
    std::vector<StatsCell>& c = col.cells;
    c.reserve(24 + in.splitTimes.size());
    auto add = [&c](std::string label, StatsRowKind kind, std::string text = {}, float gauge = 0) {
        c.push_back({std::move(label), kind, std::move(text), gauge});
    };
    add("Player", StatsRowKind::Name, StripColourCodes(in.playerName));
    add("Car", StatsRowKind::Name, std::string(in.carName));
    add("Weather", StatsRowKind::Name, std::string(in.weather));
    const auto& splits = in.splitTimes;
    for (std::size_t k = 0; k < splits.size(); ++k) {
        // In 64 bits: split times from a damaged file may lie anywhere in their 32-bit range.
        const std::int64_t sector =
            k == 0 ? splits[0] : static_cast<std::int64_t>(splits[k]) - splits[k - 1];
        add(SectorLabel(static_cast<int>(k) + 1), StatsRowKind::Time, FormatLapTime(sector));
    }
    // Without split times there is no lap time to show.
    add("Lap Time", StatsRowKind::Time,
        splits.empty() ? std::string() : FormatLapTime(splits.back()));

    const ReplayRecord& rec = in.cursor;
    add("Throttle", StatsRowKind::Gauge, {}, rec.throttle);
    add("Brake", StatsRowKind::Gauge, {}, rec.brake);
    const float steerDegrees = std::clamp(rec.steer * 57.2957763671875f, -25.0f, 25.0f);
    add("Input Steer", StatsRowKind::CentredGauge, {}, steerDegrees);
    add("Clutch", StatsRowKind::Gauge, {}, 1.0f - rec.clutch);
    add("Handbrake", StatsRowKind::Gauge, {}, rec.handbrake);
    add("Gear", StatsRowKind::Number,
        AlignOnDecimalPoint(std::to_string(static_cast<int>(rec.gear) - 1)));
    add(SpeedLabel(u), StatsRowKind::Number, AlignedNumber("%3.2f", DisplaySpeed(rec.speed, u)));
    add(DistanceLabel(u), StatsRowKind::Number,
        AlignedNumber("%.2f", DisplayDistance(rec.distance, u)));
    add("Timing Diff (s)", StatsRowKind::Number, AlignedNumber("%.2f", in.timingDifference));
    add("Longitudinal accel", StatsRowKind::Number,
        AlignedNumber("%.2f", DisplayAcceleration(in.longitudinalAccel, u)));
    add(LateralLabel(u), StatsRowKind::Number,
        AlignedNumber("%.2f", DisplayAcceleration(in.lateralAccel, u)));
    add("Yaw (deg)", StatsRowKind::Number, AlignedNumber("%.2f", in.yaw));
    add("", StatsRowKind::Blank);
    add("Track Segment:", StatsRowKind::SpanText, first ? table.segmentText : std::string());
    add("Segment Time (s)", StatsRowKind::Number, AlignedNumber("%.2f", in.segmentTime));
    add("", StatsRowKind::Blank);
    add("Sync replay to:", StatsRowKind::SpanText, first ? table.syncText : std::string());
    add("Time from sync (s)", StatsRowKind::Number, AlignedNumber("%.2f", in.timeFromSync));
    add("Entrance speed", StatsRowKind::Number,
        AlignedNumber("%.2f", DisplaySpeed(in.entranceSpeed, u)));
    add("Exit speed", StatsRowKind::Number, AlignedNumber("%.2f", DisplaySpeed(in.exitSpeed, u)));
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

    table.labels = {"Player", "Car", "Weather"};
    for (std::size_t k = 0; k < in.columns[0].splitTimes.size(); ++k) {
        table.labels.push_back(SectorLabel(static_cast<int>(k) + 1));
    }
    AppendLowerLabels(in.units, &table.labels);
    table.columns.reserve(in.columns.size());
    for (std::size_t i = 0; i < in.columns.size(); ++i) {
        table.columns.push_back(BuildColumn(in.columns[i], i == 0, table, in.units));
    }
    return table;
}

}  // namespace lapquill
