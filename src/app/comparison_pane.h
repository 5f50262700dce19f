// ComparisonPane: what the Traces and Sections panes share. Each shows one comparison (owned by
// AnalysisPanes, which hands it over and takes it back before the laps change) in the slots'
// colours and the user's units, and lays its widgets out in one column with narrow margins.
#pragma once

#include <QColor>
#include <QWidget>
#include <cstdint>
#include <span>
#include <vector>

#include "analysis/stats_text.h"
#include "compare/compare.h"

class QVBoxLayout;

namespace lapquill {

class ComparisonPane : public QWidget {
    Q_OBJECT
public:
    // A new comparison (or none; an empty one counts as none), then ShowComparison. It must
    // live until the next call; colours are ARGB per slot.
    void SetComparison(const Comparison* cmp, std::span<const std::uint32_t> slotColours,
                       const DisplayUnits& units);

protected:
    ComparisonPane(const QString& name, int spacing, QWidget* parent);

    // Draws cmp_ (or the empty pane) afresh.
    virtual void ShowComparison() = 0;
    // The lap's slot colour, opaque; white for a slot without one.
    QColor SlotColour(std::int32_t slot) const;
    QVBoxLayout* Column() const { return column_; }

    const Comparison* cmp_ = nullptr;
    std::vector<std::uint32_t> colours_;
    DisplayUnits units_;

private:
    QVBoxLayout* column_ = nullptr;
};

}  // namespace lapquill
