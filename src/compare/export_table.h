// The distance-aligned export of a comparison: one row per coordinate step from S to E, the
// coordinate first, then per lap its time, delta and channels at that coordinate; and its CSV
// form. lapquill-cli export writes it; the desktop may offer the same table.
// Units are in the column names: m, s, m/s, rad, 0-1 for the pedals.
#pragma once

#include <ostream>
#include <span>
#include <string_view>
#include <string>
#include <vector>

#include "compare/compare.h"

namespace lapquill {

struct ExportColumn {
    std::string name;            // "<lap title> speed (m/s)", ...
    std::vector<double> values;  // one per row; NaN where a recorded value is not a number
};

// The columns at the trace coordinates of `step` (see TraceCoordinates): "distance (m)", then
// per lap time, delta, speed, throttle, brake, steer, gear and X/Y position. Empty without laps.
std::vector<ExportColumn> BuildExportTable(const Comparison& cmp, double step);

// Comma-separated values with a header row: fields holding a comma, a quote or a line break
// are quoted, numbers print as "%.9g", a non-finite number is an empty field.
void WriteCsv(const std::vector<ExportColumn>& columns, std::ostream& out);
// A file name stem for what the desktop exports: the track and configuration, then the lap
// titles ("Vale GP - lapA vs lapB", three at most, then "+N"); characters a file name cannot
// hold or should not (path separators, control characters, ':' and the like) become '_'.
std::string ExportFileStem(std::string_view track, std::string_view config,
                           std::span<const std::string> titles);
// One CSV field: quoted when it holds a comma, a quote or a line break.
std::string CsvField(const std::string& text);
// A number as "%.9g"; empty when it is not finite.
std::string CsvNumber(double v);

}  // namespace lapquill
