// SectionsPane: the comparison's sections as a table, one row per section and one column per
// lap, each cell the lap's section time and its gain or loss against the reference: green where
// faster, red where slower, on a purple ground for the best of all laps. The lap totals and the
// theoretical best stand at the foot. A click on a lap's column header sorts the sections by
// the time that lap loses, most first; a click on the Section header restores track order.
// A click on a section row reports it (sectionChosen). The numbers come from
// compare/section_table.
#pragma once

#include <QWidget>
#include <cstdint>
#include <span>
#include <vector>

#include "analysis/stats_text.h"
#include "app/comparison_pane.h"
#include "compare/compare.h"

class QLabel;
class QTableWidget;

namespace lapquill {

class SectionsPane : public ComparisonPane {
    Q_OBJECT
public:
    explicit SectionsPane(QWidget* parent = nullptr);

    // Orders the rows by the loss of lap index `lap` (into the comparison's laps), or in track
    // order for -1.
    void SortByLoss(std::int32_t lap);
    std::int32_t SortLap() const { return sortLap_; }

    QTableWidget* Table() const { return table_; }
    QLabel* Caption() const { return caption_; }
    // The section shown in a table row, or -1 for the rows at the foot.
    std::int32_t SectionAtRow(int row) const;
    int RowOfSection(std::size_t section) const;

signals:
    void sectionChosen(std::size_t section);

protected:
    void ShowComparison() override;

private:
    void Fill();

    QLabel* caption_ = nullptr;
    QTableWidget* table_ = nullptr;
    std::int32_t sortLap_ = -1;
    std::vector<std::size_t> order_;  // section per row
};

}  // namespace lapquill
