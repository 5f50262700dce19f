// The sections pane's numbers. See section_table.h.
#include "compare/section_table.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "compare/export_table.h"

namespace lapquill {

namespace {

constexpr double kLevel = 0.0005;  // s: closer to the reference than the table can show

std::string LapName(const ComparedLap& lap) {
    return lap.title.empty() ? "lap " + std::to_string(lap.slot) : lap.title;
}

}  // namespace

Versus VersusReference(double lost) {
    if (std::isfinite(lost) && lost < -kLevel) return Versus::Faster;
    if (std::isfinite(lost) && lost > kLevel) return Versus::Slower;
    return Versus::Level;
}

SectionCellMark MarkSectionCell(const Comparison& cmp, std::size_t s, std::size_t lap) {
    const ComparedSection& sec = cmp.sections[s];
    SectionCellMark m;
    m.best = cmp.laps[lap].slot == sec.best;
    m.reference = static_cast<std::int32_t>(lap) == cmp.reference;
    m.versus = m.reference ? Versus::Level : VersusReference(sec.lost[lap]);
    return m;
}

std::vector<std::size_t> SectionsByLoss(const Comparison& cmp, std::size_t lap) {
    std::vector<std::size_t> order(cmp.sections.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    if (lap >= cmp.laps.size()) return order;
    // A loss that is not a number sorts last.
    const auto key = [&](std::size_t s) {
        const double v = cmp.sections[s].lost[lap];
        return std::isfinite(v) ? v : -INFINITY;
    };
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return key(a) > key(b); });
    return order;
}

std::optional<std::int32_t> SectionMarker(const Comparison& cmp, std::size_t s,
                                          std::span<const float> markerDistances) {
    if (s >= cmp.sections.size()) return std::nullopt;
    const double start = cmp.sections[s].start;
    std::optional<std::int32_t> found;
    for (std::size_t i = 0; i < markerDistances.size(); ++i) {
        const double m = markerDistances[i];
        if (!std::isfinite(m)) continue;
        if (s == 0) {
            // The greatest at or below S; the first in file order among equals.
            if (m <= start && (!found || m > markerDistances[static_cast<std::size_t>(*found)])) {
                found = static_cast<std::int32_t>(i);
            }
        } else if (m == start) {
            return static_cast<std::int32_t>(i);
        }
    }
    return found;
}

std::optional<std::size_t> SectionOfSegment(const Comparison& cmp, std::int32_t marker,
                                            std::span<const float> markerDistances) {
    if (marker < 0) return std::nullopt;
    for (std::size_t s = 0; s < cmp.sections.size(); ++s) {
        if (SectionMarker(cmp, s, markerDistances) == marker) return s;
    }
    return std::nullopt;
}

void WriteSectionCsv(const Comparison& cmp, std::ostream& out) {
    std::string line = "section,from (m),to (m)";
    for (const ComparedLap& lap : cmp.laps) {
        line += ',' + CsvField(LapName(lap) + " time (s)");
        line += ',' + CsvField(LapName(lap) + " lost (s)");
    }
    out << line << "\n";
    for (const ComparedSection& sec : cmp.sections) {
        line = CsvField(sec.name) + ',' + CsvNumber(sec.start) + ',' + CsvNumber(sec.end);
        for (std::size_t b = 0; b < cmp.laps.size(); ++b) {
            line += ',' + CsvNumber(sec.times[b]) + ',' + CsvNumber(sec.lost[b]);
        }
        out << line << "\n";
    }
    line = "Lap," + CsvNumber(cmp.start) + ',' + CsvNumber(cmp.end);
    for (const ComparedLap& lap : cmp.laps) {
        line += ',' + CsvNumber(lap.time) + ',' + CsvNumber(lap.delta);
    }
    out << line << "\n";
    if (!cmp.Empty()) {
        out << "Theoretical best," << CsvNumber(cmp.start) << ',' << CsvNumber(cmp.end) << ','
            << CsvNumber(cmp.theoreticalBest) << "\n";
    }
}

}  // namespace lapquill
