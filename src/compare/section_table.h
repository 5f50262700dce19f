// What the desktop's sections pane shows, worked out without any widget: one row per section of
// a comparison with each lap's time and its gain or loss against the reference, how each cell is
// to be marked, the lap totals and theoretical best at the foot, the order that puts the
// sections where a chosen lap loses most first, the track segment a section starts at, and the
// table as CSV. Times in seconds, distances in metres.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "compare/compare.h"

namespace lapquill {

// How a lap's time compares with the reference's: faster, slower, or level with it (within half
// a millisecond, which the table's three decimals cannot tell apart). Not a number is level.
enum class Versus : std::int32_t { Level, Faster, Slower };
Versus VersusReference(double lost);

// How the table marks lap `lap`'s cell of section `s`.
struct SectionCellMark {
    bool best = false;       // the smallest time of all laps in the section
    bool reference = false;  // the reference lap's own cell
    Versus versus = Versus::Level;
};
SectionCellMark MarkSectionCell(const Comparison& cmp, std::size_t s, std::size_t lap);

// The section indices ordered by the time lap `lap` loses in them, most first; ties (and every
// section when the lap is out of range) keep track order.
std::vector<std::size_t> SectionsByLoss(const Comparison& cmp, std::size_t lap);

// The marker (file order index) whose segment a section starts with: the first marker at the
// section's start in file order; for the first section, the greatest marker at or below S.
// None when the first section starts before every marker.
std::optional<std::int32_t> SectionMarker(const Comparison& cmp, std::size_t s,
                                          std::span<const float> markerDistances);

// The section whose segment is marker `marker`'s (the inverse of SectionMarker): none for the
// custom segment and for a marker no section starts with.
std::optional<std::size_t> SectionOfSegment(const Comparison& cmp, std::int32_t marker,
                                            std::span<const float> markerDistances);

// The section table as CSV: "section", "from (m)", "to (m)", then per lap "<title> time (s)" and
// "<title> lost (s)"; a "Lap" row of totals and deltas, and a "Theoretical best" row.
void WriteSectionCsv(const Comparison& cmp, std::ostream& out);

}  // namespace lapquill
