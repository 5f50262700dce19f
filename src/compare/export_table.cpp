#include "compare/export_table.h"

#include <cmath>
#include <cstdio>

#include "files/text_encoding.h"

namespace lapquill {

namespace {

struct ChannelColumn {
    Channel channel;
    const char* suffix;
};

constexpr ChannelColumn kChannels[] = {
    {Channel::Speed, "speed (m/s)"},     {Channel::Throttle, "throttle (0-1)"},
    {Channel::Brake, "brake (0-1)"},     {Channel::Steer, "steer (rad)"},
    {Channel::Gear, "gear"},             {Channel::PositionX, "X (m)"},
    {Channel::PositionY, "Y (m)"},
};

}  // namespace

std::string ExportFileStem(std::string_view track, std::string_view config,
                           std::span<const std::string> titles) {
    std::string stem(track);
    if (!config.empty()) {
        if (!stem.empty()) stem.push_back(' ');
        stem.append(config);
    }
    constexpr std::size_t kNamed = 3;
    for (std::size_t i = 0; i < titles.size() && i < kNamed; ++i) {
        if (i > 0) {
            stem.append(" vs ");
        } else if (!stem.empty()) {
            stem.append(" - ");
        }
        stem.append(titles[i]);
    }
    if (titles.size() > kNamed) stem += " +" + std::to_string(titles.size() - kNamed);
    for (char& c : stem) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F || std::string_view("/\\:*?\"<>|").find(c) != std::string_view::npos) {
            c = '_';
        }
    }
    // A name of dots alone would mean a folder.
    if (stem.empty() || stem.find_first_not_of('.') == std::string::npos) stem = "comparison";
    return stem;
}

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::string CsvNumber(double v) {
    if (!std::isfinite(v)) return {};
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.9g", v);
    return buf;
}

std::vector<ExportColumn> BuildExportTable(const Comparison& cmp, double step) {
    std::vector<ExportColumn> columns;
    if (cmp.Empty()) return columns;
    const std::vector<double> xs = TraceCoordinates(cmp, step);
    columns.push_back({"distance (m)", xs});
    const ComparedLap& ref = cmp.laps[static_cast<std::size_t>(cmp.reference)];
    std::vector<double> refTimes(xs.size());
    CoordinateCursor refCursor(ref.coordinate);
    for (std::size_t k = 0; k < xs.size(); ++k) refTimes[k] = refCursor.Locate(xs[k]).time;
    for (const ComparedLap& lap : cmp.laps) {
        // Column names are UTF-8 whatever bytes the file name held, so the CSV reads as UTF-8.
        const std::string prefix = lap.title.empty() ? "lap " + std::to_string(lap.slot)
                                                     : Utf8OrWindows1252(lap.title);
        const std::size_t first = columns.size();
        columns.push_back({prefix + " time (s)", {}});
        columns.push_back({prefix + " delta (s)", {}});
        for (const ChannelColumn& c : kChannels) columns.push_back({prefix + " " + c.suffix, {}});
        CoordinateCursor cursor(lap.coordinate);
        for (std::size_t k = 0; k < xs.size(); ++k) {
            const CoordinatePoint at = cursor.Locate(xs[k]);
            columns[first].values.push_back(at.time - lap.startTime);
            columns[first + 1].values.push_back((at.time - lap.startTime) -
                                                (refTimes[k] - ref.startTime));
            for (std::size_t c = 0; c < std::size(kChannels); ++c)
                columns[first + 2 + c].values.push_back(
                    ChannelValue(*lap.replay, at, kChannels[c].channel));
        }
    }
    return columns;
}

void WriteCsv(const std::vector<ExportColumn>& columns, std::ostream& out) {
    std::string line;
    for (std::size_t c = 0; c < columns.size(); ++c) {
        if (c) line += ',';
        line += CsvField(columns[c].name);
    }
    out << line << "\n";
    const std::size_t rows = columns.empty() ? 0 : columns[0].values.size();
    for (std::size_t r = 0; r < rows; ++r) {
        line.clear();
        for (std::size_t c = 0; c < columns.size(); ++c) {
            if (c) line += ',';
            line += CsvNumber(columns[c].values[r]);
        }
        out << line << "\n";
    }
}

}  // namespace lapquill
