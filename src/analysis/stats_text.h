// The statistics table as text: for each replay column its rows (label, kind, value text as
// drawn, gauge value), plus the segment, sync and speed texts. One pure function builds it
// from plain values gathered by the view; the overlay draws it and lapquill-cli prints it.
// Values come in SI (m, m/s, m/s^2, s, degrees) and leave converted to the display units.
// Texts that must fit a column (names) are given whole and flagged; fitting needs a font.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/segments.h"
#include "files/replay_file.h"

namespace lapquill {

struct DisplayUnits {
    std::uint8_t distanceUnit = 0;      // 0 m, 1 km, 2 mi
    std::uint8_t speedUnit = 0;         // 0 km/h, 1 mi/h
    std::uint8_t accelerationUnit = 0;  // 0 m/s^2, 1 g
};

// Display conversions; every factor is single precision.
float DisplaySpeed(float metresPerSecond, const DisplayUnits& units);
float DisplayDistance(float metres, const DisplayUnits& units);
float DisplayAcceleration(float metresPerSecond2, const DisplayUnits& units);

// "  %3d:%02d.%02d" of minutes, seconds and hundredths of a signed millisecond count.
std::string FormatLapTime(std::int64_t milliseconds);
// Pads a number text on the left so that its first '.' (or its end) stands in column 8.
std::string AlignOnDecimalPoint(std::string_view text);
// Drops each '^' with the character after it; a trailing '^' ends the text.
std::string StripColourCodes(std::string_view name);

inline constexpr float kMaxSteerDegrees = 25.0f;  // the steering gauge is full at this angle

enum class StatsRowKind {
    Name,          // a label-font text to be shortened to the column width (player, car, weather)
    Time,          // a sector or lap time in the time format
    Gauge,         // a bar from the column's left edge: gauge is the fraction f
    CentredGauge,  // the steering bar: gauge is the angle in degrees, limited to -25 .. 25
    Number,        // an aligned value-font number
    Blank,         // an empty row
    SpanText       // a label-font text centred over all columns; text only in column 0
};

// The colour family of a one-sided gauge: its dark end and the channel that brightens with it.
enum class GaugeColour : std::uint8_t { None, Blue, Red, Green };

struct StatsCell {
    std::string label;  // the row's label as drawn, unit included
    StatsRowKind kind;
    std::string text;  // the value text as drawn; empty for gauges and blank rows
    float gauge = 0;   // Gauge: fraction (clutch already inverted); CentredGauge: degrees
    GaugeColour colour = GaugeColour::None;  // Gauge only
};

// What one column shows, gathered at the playback time (all SI).
struct StatsColumnInput {
    std::string_view title;
    std::string_view playerName;  // with colour codes
    std::string_view carName;
    std::string_view weather;
    std::span<const std::int32_t> splitTimes;  // cumulative ms, sectorCount entries
    std::int32_t cursorIndex = 0;              // the index of that record
    ReplayRecord cursor;                       // the record at the playback time
    float lateralAccel = 0;                    // m/s^2
    float longitudinalAccel = 0;               // m/s^2
    float yaw = 0;                             // degrees
    float timingDifference = 0;                // s
    float segmentTime = 0;                     // s
    float timeFromSync = 0;                    // s
    float entranceSpeed = 0;                   // m/s
    float exitSpeed = 0;                       // m/s
};

struct StatsInput {
    std::span<const StatsColumnInput> columns;  // slot order
    std::int32_t currentSegment = kCustomSegment;
    std::span<const std::string> segmentMarkerNames;
    SyncMode syncMode = SyncMode::Lap;
    bool isPlaying = false;
    float playbackSpeed = 1;
    bool playForward = true;
    DisplayUnits units;
};

struct StatsColumn {
    std::string title;             // to be fitted to the column and centred over it
    std::vector<StatsCell> cells;  // top to bottom, starting at the first row under the title
};

struct StatsTable {
    std::vector<std::string> labels;  // the label column: replay 0's rows ("" for blank rows)
    std::vector<StatsColumn> columns;
    std::string segmentText;  // "Custom Segment" or the current marker's name
    std::string syncText;     // "Lap", "Segment Marker" or "Detected Corner"
    std::string speedText;    // "%1.2fx" while playing (negative backwards), else empty
};

StatsTable BuildStatsTable(const StatsInput& input);

// A row's value as lapquill-cli table reports it in JSON: SI, not converted to display units.
struct StatsValue {
    enum class Type : std::uint8_t { None, Integer, Real, Text };
    Type type = Type::None;
    std::int64_t integer = 0;
    double real = 0;
    std::string text;
};

// What a row's functions read: one column's values, the display units, the sector of a
// per-sector row, and the texts of the span rows (column 0 only; empty elsewhere).
struct StatsRowContext {
    const StatsColumnInput& column;
    const DisplayUnits& units;
    std::size_t sector = 0;
    std::string_view segmentText;
    std::string_view syncText;
};

// One row of the statistics table: everything the text model, the overlay and the JSON of
// lapquill-cli need to know about it. A new row is one entry in the table of StatsRows() plus
// the functions that give its value.
struct StatsRow {
    StatsRowKind kind;
    std::string (*label)(const DisplayUnits& units, std::size_t sector);
    std::string (*text)(const StatsRowContext&) = nullptr;  // Name, Time, Number, SpanText
    float (*gauge)(const StatsRowContext&) = nullptr;       // Gauge, CentredGauge
    GaugeColour colour = GaugeColour::None;                 // Gauge
    bool perSector = false;  // one row per split time, the sectors in order
    bool drawn = true;       // false: a value of the JSON only, no row on screen
    const char* jsonKey = nullptr;                          // null: not in the JSON
    StatsValue (*json)(const StatsRowContext&) = nullptr;   // per sector for perSector rows
};

// The rows from the top (under the column titles) down.
std::span<const StatsRow> StatsRows();
// How many rows are drawn besides the per-sector ones.
int StatsRowsBesideSectors();
// A sector's time from cumulative split times, in 64 bits: a damaged file's split times may lie
// anywhere in their 32-bit range.
std::int64_t SectorTime(std::span<const std::int32_t> splitTimes, std::size_t sector);

}  // namespace lapquill
