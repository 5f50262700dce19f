// SectionsPane: the comparison's sections as a table, one row per section and one column per
// lap: the reference lap's column holds its section times, every other lap's its gain or loss
// against the reference (the time itself in the cell's tooltip), green where faster, red where
// slower, on a purple ground for the best of all laps. The lap totals and the theoretical best
// stand at the foot. The columns are sized to fit the pane: lap titles break onto two header
// lines and are shortened to their column (the full title in the tooltip), and the section
// names give up width before any lap does. A click on a lap's column header sorts the sections by
// the time that lap loses, most first; a click on the Section header restores track order.
// A click on a section row reports it (sectionChosen). The numbers come from
// compare/section_table.
#pragma once

#include <QFont>
#include <QWidget>
#include <cstdint>
#include <span>
#include <vector>

#include "analysis/stats_text.h"
#include "app/comparison_pane.h"
#include "compare/compare.h"

class QColor;
class QFontMetrics;
class QLabel;
class QString;
class QStyle;
class QTableWidget;

namespace lapquill {

// A gain or loss as its cell shows it: signed, at most three digits ("+0.12", "-1.3", "+12");
// no sign where it rounds to nothing, a dash where there is no time.
QString SectionGainText(double seconds);

// The contrast of two colours, from 1 (the same) to 21 (black on white), and `colour` made
// darker or lighter, keeping its hue, until it stands out from `ground` at least by
// kReadableContrast (which a colour that cannot get there at all does not).
inline constexpr double kReadableContrast = 4.5;
double ContrastRatio(const QColor& a, const QColor& b);
QColor ReadableOn(const QColor& colour, const QColor& ground);

// A section's name as its cell shows it in `width` pixels: whole, or its first word (the corner
// number), or shortened with an ellipsis.
QString SectionNameToFit(const QString& name, const QFontMetrics& fm, int width);

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
    // The width all columns take together, pixels.
    int ColumnsWidth() const;

signals:
    void sectionChosen(std::size_t section);

protected:
    void ShowComparison() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Fill();
    // Sizes the columns to their contents, then narrows the section names (never below a
    // readable width) until the table fits the pane, and shortens the lap titles to their columns.
    void FitColumns();
    void FitColumnsOnce();
    // What the lap columns' cells need at the table's own font and margins, pixels.
    int LapCellsWidthAtNormalSize() const;
    // Gives the cells a slightly smaller font and narrower margins (true), or the table's own.
    void SetCompact(bool compact);

    QLabel* caption_ = nullptr;
    QTableWidget* table_ = nullptr;
    std::int32_t sortLap_ = -1;
    std::vector<std::size_t> order_;  // section per row
    std::vector<QString> headerTitles_;  // per lap column: the full title, then its marks
    std::vector<QString> headerMarks_;
    bool compact_ = false;  // the cells have the smaller font and margins
    QFont normalFont_;      // the table's own font
    QStyle* style_ = nullptr;  // the table's and header's, owned by the pane
    bool fitting_ = false;
    bool resizedWhileFitting_ = false;  // the viewport was resized while FitColumns ran  // FitColumns is running: the resizes it causes do not call it again
};

}  // namespace lapquill
