// TracesPane: the stacked traces against distance (delta to the reference with its zero line,
// speed, throttle, brake, steering, gear), every lap in its slot colour and the reference drawn
// thicker, the section boundaries as labelled lines, a cursor at the reference lap's place at
// the playback time, and a readout of every lap's values under the cursor or the mouse.
// Left click or drag moves the playback (through the scrubbed signal), the wheel zooms around
// the mouse, a right-button or Shift drag pans, a double click shows the whole lap.
// The numbers come from compare/lap_traces; the pane only draws them. The cursor is painted
// over the plots' finished image, so moving it redraws neither the curves nor the axes, and
// repaints only the columns it left and entered; the readout repaints only the cells whose
// text changed.
#pragma once

#include <QColor>
#include <QFont>
#include <QPixmap>
#include <QSize>
#include <QStaticText>
#include <QString>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "analysis/stats_text.h"
#include "app/comparison_pane.h"
#include "compare/lap_traces.h"

class QCustomPlot;
class QCPAxisRect;
class QCPItemText;
class QMouseEvent;
class QTimer;
class QWheelEvent;

namespace lapquill {

class TracesPlot;

// The readout under the plots: a heading line and a line a lap, in cells of a fixed width,
// each drawn as plain text from a cached layout. A new text repaints only its own cell, and
// asks for no new layout unless it is wider than its column (which then widens for good).
class TraceReadout final : public QWidget {
  public:
    explicit TraceReadout(QWidget* parent = nullptr);

    // A grid of `rows` lines (row 0 the heading, drawn bold) of cells whose text is at most
    // `widths` pixels wide; the first column left-aligned, the others right-aligned. Every
    // cell starts empty.
    void SetGrid(std::size_t rows, std::vector<int> widths);
    // A line of text in place of the grid (nothing to read out).
    void ShowMessage(const QString& text);
    void SetCell(std::size_t row, std::size_t column, const QString& text);
    // A square of the lap's colour before the first cell of a row.
    void SetSwatch(std::size_t row, QColor colour);
    QString Cell(std::size_t row, std::size_t column) const;
    // Every cell as shown, a tab between cells and a line break after each row; or the message.
    QString Text() const;
    // Where a cell's text stands in the widget.
    QRect CellRect(std::size_t row, std::size_t column) const;
    // Pixels the text takes in a row's font (the heading's is bold).
    int TextWidth(const QString& text, bool heading) const;
    // Pixels the swatch and its gap take before the first cell's text.
    int SwatchWidth() const;
    std::size_t Rows() const { return rows_; }
    std::size_t Columns() const { return widths_.size(); }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void Place();
    int LineHeight() const;

    QFont bold_;
    std::size_t rows_ = 0;
    std::vector<int> widths_;         // pixels of text a column holds
    std::vector<int> lefts_;          // pixels, each column's left edge
    std::vector<QStaticText> cells_;  // row-major
    std::vector<QColor> swatches_;    // a row's colour; invalid for none
    QString message_;
    QSize size_;  // the grid's, or the message's
};

class TracesPane : public ComparisonPane {
    Q_OBJECT
public:
    explicit TracesPane(QWidget* parent = nullptr);

    // The cursor at the reference lap's coordinate x (m); only the strips of the plot it left
    // and entered are repainted.
    void SetCursor(double x);
    // Shows [lo, hi] (m), kept inside the lap; the curves are sampled again when needed.
    void ShowRange(DistanceRange range);
    void ShowWholeLap();

    DistanceRange Range() const { return range_; }
    std::optional<double> Cursor() const { return cursor_; }
    // How often the curves were sampled and the readout rewritten (tests and benchmarks).
    int CurveBuilds() const { return curveBuilds_; }
    QCustomPlot* Plot() const;
    // The plot widget's column the cursor is drawn on, or none while it is out of view.
    std::optional<int> CursorPixel() const;
    // The plots as shown, with the cursor, at the widget's size (the traces export).
    QPixmap Image() const;
    TraceReadout* Readout() const { return readout_; }
    // The distance (m) under a point of the plot widget, and the point of a distance on the
    // top plot's middle line.
    double DistanceAtPixel(double px) const;
    QPoint PixelAtDistance(double x) const;
    // The full name of the section under a point of the strip above the delta plot (what its
    // tooltip shows), or an empty string elsewhere.
    QString SectionNameAt(const QPoint& p) const;

  signals:
    // The user clicked or dragged on a trace at reference coordinate x (m).
    void scrubbed(double x);

protected:
    // Curves rebuilt for the whole lap.
    void ShowComparison() override;
    // A new size of the plots samples the curves again for their new width and height.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildAxes();
    void Rebuild();
    void BuildSections();
    void UpdateCursorItems();
    void UpdateReadout(double x, bool mouse);
    // The mouse left the plot area: the readout follows the cursor again.
    void LeaveMouseReadout();
    // The readout's grid for this comparison: its columns as wide as the widest text each can
    // show, the headings and the laps' names.
    void BuildReadout();
    void ApplyRange();
    // Tells the value axes how many labels their plots' heights hold; true when that changed.
    bool FitTicks();
    // Gives each section's name on the strip above the delta plot the text that fits between
    // its lines, at its place; true when one changed.
    bool PlaceSectionLabels();
    // Pixels of the strip above the delta plot that carries the sections' names.
    int StripHeight() const;
    void OnPress(QMouseEvent* event);
    void OnMove(QMouseEvent* event);
    void OnRelease(QMouseEvent* event);
    void OnWheel(QWheelEvent* event);
    void OnDoubleClick(QMouseEvent* event);
    bool InPlotArea(const QPoint& p) const;

    TracesPlot* plot_ = nullptr;
    TraceReadout* readout_ = nullptr;
    std::array<QCPAxisRect*, kTraceKinds> rects_{};
    std::array<QCPItemText*, kTraceKinds> names_{};  // each plot's name in its corner
    std::vector<QCPItemText*> sectionLabels_;        // on the strip, owned by the plot
    std::vector<QString> sectionNames_;              // each section's full name
    QTimer* readoutTimer_ = nullptr;  // brings the readout to the cursor after it moved
    QTimer* resampleTimer_ = nullptr;  // samples the curves again once a resize settles

    DistanceRange range_;    // m, shown
    DistanceRange sampled_;  // m, covered by the curves' samples
    std::optional<double> cursor_;
    int curveBuilds_ = 0;
    QSize builtSize_;  // the plot's size when the curves were last sampled
    enum class Drag { None, Scrub, Pan } drag_ = Drag::None;
    // The readout shows the values under the mouse: it moved over the plot area and has not
    // left it since. A mouse merely resting there (after a click, or where the window opened)
    // leaves the readout to follow the cursor.
    bool mouseReadout_ = false;
    double panAnchor_ = 0;   // m under the mouse when the pan began
};

}  // namespace lapquill
