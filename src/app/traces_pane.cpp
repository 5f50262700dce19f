// The traces pane. See traces_pane.h.
#include "app/traces_pane.h"

#include <qcustomplot.h>
#include <QEvent>
#include <QFontMetrics>
#include <QFontMetricsF>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPalette>
#include <QScrollArea>
#include <QSplitter>
#include <QTimer>
#include <QToolTip>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

namespace lapquill {

namespace {

constexpr double kWheelStep = 0.8;  // the window's width per wheel notch towards the mouse
constexpr int kMinimumColumns = 300;  // columns over the shown window
constexpr double kDrawTolerance = 0.33;  // pixels a line may pass a point it leaves out
constexpr double kPedalAxisLow = -5;   // %: the pedal plots' fixed value axis
constexpr double kPedalAxisHigh = 105;
constexpr int kReadoutInterval = 100;  // ms between two readouts that follow the cursor
constexpr int kResampleDelay = 50;     // ms after the last resize of the plots
constexpr qsizetype kReadoutTitle = 12;  // characters of a lap's title in the readout
constexpr int kReadoutDecimals[kTraceKinds] = {3, 1, 0, 0, 1, 0};
constexpr double kSectionLabelGap = 3;  // pixels between a section's line and its name
constexpr qsizetype kLeastElided = 3;   // characters an elided section name keeps before the "…"
constexpr int kReadoutPadding = 1;      // pixels around a readout cell's text
constexpr int kReadoutSwatchGap = 4;    // pixels between a lap's colour and its name

// Value axes that suit each plot: pedals from 0 to 100 %, the rest around the data shown.
void FitValueAxis(QCPAxisRect* rect, TraceKind kind) {
    QCPAxis* y = rect->axis(QCPAxis::atLeft);
    if (kind == TraceKind::Throttle || kind == TraceKind::Brake) {
        y->setRange(kPedalAxisLow, kPedalAxisHigh);
        return;
    }
    bool found = false;
    const QCPRange shown = rect->axis(QCPAxis::atBottom)->range();
    QCPRange all;
    for (QCPGraph* g : rect->graphs()) {
        bool ok = false;
        const QCPRange r = g->getValueRange(ok, QCP::sdBoth, shown);
        if (!ok) continue;
        all = found ? QCPRange(std::min(all.lower, r.lower), std::max(all.upper, r.upper)) : r;
        found = true;
    }
    if (!found) all = QCPRange(-1, 1);
    if (kind == TraceKind::Delta) {
        // The zero line stays in view.
        all.lower = std::min(all.lower, 0.0);
        all.upper = std::max(all.upper, 0.0);
    }
    const double pad = std::max((all.upper - all.lower) * 0.08, kind == TraceKind::Gear ? 0.5 : 0.05);
    y->setRange(all.lower - pad, all.upper + pad);
}

// Value labels no closer than the plot's height allows (see ValueTickStep); the pane tells it
// how many fit whenever the plots may have changed their height.
class SparseTicker : public QCPAxisTicker {
public:
    SparseTicker(double minimum, bool integers) : minimum_(minimum), integers_(integers) {}
    void SetMaxTicks(int n) { maxTicks_ = n; }
    int MaxTicks() const { return maxTicks_; }

protected:
    double getTickStep(const QCPRange& range) override {
        return ValueTickStep(range.lower, range.upper, maxTicks_, minimum_, integers_);
    }
    int getSubTickCount(double) override { return 0; }

private:
    double minimum_;
    bool integers_;
    int maxTicks_ = 3;
};

// A graph that hands a thin solid line to the painter as one polyline a stretch between gaps,
// so the raster engine sets its line drawing up once a curve instead of once a segment.
// Wider lines (the reference lap's) keep the plot's own drawing.
class TraceGraph : public QCPGraph {
public:
    using QCPGraph::QCPGraph;

protected:
    void drawLinePlot(QCPPainter* painter, const QVector<QPointF>& lines) const override {
        const QPen& pen = painter->pen();
        if (pen.style() != Qt::SolidLine || pen.widthF() > 1.0) {
            QCPGraph::drawLinePlot(painter, lines);
            return;
        }
        if (pen.color().alpha() == 0) return;
        applyDefaultAntialiasingHint(painter);
        const auto gap = [](const QPointF& p) { return std::isnan(p.x()) || std::isnan(p.y()); };
        qsizetype i = 0;
        const qsizetype n = lines.size();
        while (i < n) {
            while (i < n && gap(lines[i])) ++i;
            const qsizetype start = i;
            while (i < n && !gap(lines[i])) ++i;
            if (i - start >= 2) painter->drawPolyline(lines.constData() + start, static_cast<int>(i - start));
        }
    }
};

// A section's name cut to its corner's number where it has one: the first word with a digit,
// after the initial of the word before it when the number stands alone ("T1 Millrace" -> "T1",
// "T2-3 Chicane" -> "T2-3", "Turn 12" -> "T12"); otherwise the initials of its words
// ("The Esses" -> "TE").
QString ShortSectionName(const QString& name) {
    const QStringList words = name.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (qsizetype i = 0; i < words.size(); ++i) {
        const QString& word = words[i];
        if (std::none_of(word.begin(), word.end(), [](QChar c) { return c.isDigit(); })) continue;
        return word.front().isDigit() && i > 0 ? words[i - 1].front() + word : word;
    }
    QString initials;
    for (const QString& word : words) initials += word.front();
    return initials;
}

// What of a section's name fits `room` pixels of its strip: the whole name; else its short
// form when that carries a corner's number; else the name elided after a few characters; else
// the short form; else nothing (the tooltip still names it).
QString SectionLabelText(const QString& name, const QString& shortName, double room,
                         const QFontMetricsF& fm) {
    if (room <= 0) return {};
    if (fm.horizontalAdvance(name) <= room) return name;
    const bool numbered =
        std::any_of(shortName.begin(), shortName.end(), [](QChar c) { return c.isDigit(); });
    if (numbered && fm.horizontalAdvance(shortName) <= room) return shortName;
    const QString elided = fm.elidedText(name, Qt::ElideRight, room);
    if (elided.size() > kLeastElided && fm.horizontalAdvance(elided) <= room) return elided;
    if (fm.horizontalAdvance(shortName) <= room) return shortName;
    return {};
}

QString Number(double v, int decimals) {
    return std::isfinite(v) ? QString::number(v, 'f', decimals) : QStringLiteral("–");
}

}  // namespace

TraceReadout::TraceReadout(QWidget* parent) : QWidget(parent) {
    // Every pixel is painted here: a repaint of a cell never paints what lies below it.
    setAttribute(Qt::WA_OpaquePaintEvent);
    bold_ = font();
    bold_.setBold(true);
}

void TraceReadout::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange) {
        bold_ = font();
        bold_.setBold(true);
        for (std::size_t i = 0; i < cells_.size(); ++i)
            cells_[i].prepare(QTransform(), i < widths_.size() ? bold_ : font());
        Place();
    }
    QWidget::changeEvent(event);
}

int TraceReadout::LineHeight() const {
    return std::max(QFontMetrics(font()).height(), QFontMetrics(bold_).height()) +
           2 * kReadoutPadding;
}

int TraceReadout::SwatchWidth() const {
    return QFontMetrics(font()).ascent() + kReadoutSwatchGap;
}

int TraceReadout::TextWidth(const QString& text, bool heading) const {
    return QFontMetrics(heading ? bold_ : font()).horizontalAdvance(text);
}

void TraceReadout::SetGrid(std::size_t rows, std::vector<int> widths) {
    rows_ = rows;
    widths_ = std::move(widths);
    cells_.assign(rows_ * widths_.size(), QStaticText());
    swatches_.assign(rows_, QColor());
    message_.clear();
    Place();
}

void TraceReadout::ShowMessage(const QString& text) {
    SetGrid(0, {});
    message_ = text;
    Place();
}

void TraceReadout::Place() {
    // The columns stand two spaces apart; the first leaves room for the laps' colours.
    const int gap = QFontMetrics(font()).horizontalAdvance(QStringLiteral("  "));
    lefts_.resize(widths_.size());
    int x = 0;
    for (std::size_t c = 0; c < widths_.size(); ++c) {
        if (c > 0) x += gap;
        lefts_[c] = x;
        x += widths_[c] + (c == 0 ? SwatchWidth() : 0) + 2 * kReadoutPadding;
    }
    size_ = message_.isEmpty()
                ? QSize(x, static_cast<int>(rows_) * LineHeight())
                : QSize(TextWidth(message_, false) + 2 * kReadoutPadding, LineHeight());
    updateGeometry();
    update();
}

QRect TraceReadout::CellRect(std::size_t row, std::size_t column) const {
    const int swatch = column == 0 ? SwatchWidth() : 0;
    return QRect(lefts_[column], static_cast<int>(row) * LineHeight(),
                 widths_[column] + swatch + 2 * kReadoutPadding, LineHeight());
}

void TraceReadout::SetCell(std::size_t row, std::size_t column, const QString& text) {
    QStaticText& cell = cells_[row * widths_.size() + column];
    if (cell.text() == text) return;
    cell.setText(text);
    cell.setTextFormat(Qt::PlainText);
    cell.prepare(QTransform(), row == 0 ? bold_ : font());
    // A text wider than its column widens the column once; every later one fits.
    const int needed = static_cast<int>(std::ceil(cell.size().width()));
    if (needed > widths_[column]) {
        widths_[column] = needed;
        Place();
        return;
    }
    update(CellRect(row, column));
}

void TraceReadout::SetSwatch(std::size_t row, QColor colour) {
    swatches_[row] = colour;
    update(CellRect(row, 0));
}

QString TraceReadout::Cell(std::size_t row, std::size_t column) const {
    return cells_[row * widths_.size() + column].text();
}

QString TraceReadout::Text() const {
    if (!message_.isEmpty()) return message_;
    QString text;
    for (std::size_t r = 0; r < rows_; ++r) {
        for (std::size_t c = 0; c < widths_.size(); ++c) {
            if (c > 0) text += QLatin1Char('\t');
            text += Cell(r, c);
        }
        text += QLatin1Char('\n');
    }
    return text;
}

QSize TraceReadout::sizeHint() const {
    return size_;
}
QSize TraceReadout::minimumSizeHint() const {
    return size_;
}

void TraceReadout::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const QRect dirty = event->rect();
    painter.fillRect(dirty, palette().color(QPalette::Window));
    painter.setPen(palette().color(QPalette::WindowText));
    if (!message_.isEmpty()) {
        painter.setFont(font());
        painter.drawText(QRect(QPoint(kReadoutPadding, kReadoutPadding), size_),
                         Qt::AlignLeft | Qt::AlignTop, message_);
        return;
    }
    const int ascent = QFontMetrics(font()).ascent();
    for (std::size_t r = 0; r < rows_; ++r) {
        painter.setFont(r == 0 ? bold_ : font());
        for (std::size_t c = 0; c < widths_.size(); ++c) {
            const QRect cell = CellRect(r, c);
            if (!cell.intersects(dirty)) continue;
            int left = cell.left() + kReadoutPadding;
            if (c == 0 && swatches_[r].isValid()) {
                const int top = cell.top() + kReadoutPadding +
                                (LineHeight() - 2 * kReadoutPadding - ascent) / 2;
                painter.fillRect(QRect(left, top, ascent, ascent), swatches_[r]);
            }
            if (c == 0) left += SwatchWidth();
            const QStaticText& text = cells_[r * widths_.size() + c];
            if (text.text().isEmpty()) continue;
            const int width = static_cast<int>(std::ceil(text.size().width()));
            const int x = c == 0 ? left : cell.right() + 1 - kReadoutPadding - width;
            painter.drawStaticText(x, cell.top() + kReadoutPadding, text);
        }
    }
}

// The plots with the cursor drawn over their finished image. The curves, axes and names are
// composed from the plot's buffers only where the widget is repainted, so a cursor move
// repaints the two narrow strips it left and entered, and nothing when it stays on its pixel.
class TracesPlot : public QCustomPlot {
public:
    void SetRects(const std::array<QCPAxisRect*, kTraceKinds>& rects) { rects_ = rects; }

    // The cursor at a distance in display units, or none.
    void SetCursorKey(std::optional<double> key) {
        key_ = key;
        const std::optional<int> px = CursorPixel();
        if (px == drawnAt_) return;
        if (drawnAt_) update(Strip(*drawnAt_));
        if (px) update(Strip(*px));
    }
    std::optional<double> CursorKey() const { return key_; }
    // The column the cursor stands on, or none when it is out of view.
    std::optional<int> CursorPixel() const {
        if (!key_ || rects_[0] == nullptr || rects_[0]->width() <= 0) return std::nullopt;
        const double px = rects_[0]->axis(QCPAxis::atBottom)->coordToPixel(*key_);
        if (!std::isfinite(px)) return std::nullopt;
        const int x = static_cast<int>(std::lround(px));
        if (x < rects_[0]->left() || x > rects_[0]->right()) return std::nullopt;
        return x;
    }
    // One line through every plot at column px.
    void DrawCursor(QPainter* painter, int px) const {
        painter->setRenderHint(QPainter::Antialiasing, false);
        // Flat ends: the line stays inside the plots, within the strips a move repaints.
        painter->setPen(QPen(kCursorColour, kCursorWidth, Qt::SolidLine, Qt::FlatCap));
        for (const QCPAxisRect* r : rects_) {
            if (r->height() > 0) painter->drawLine(px, r->top(), px, r->bottom());
        }
    }
    std::optional<int> DrawnAt() const { return drawnAt_; }

    static constexpr QColor kCursorColour{20, 20, 20};
    static constexpr int kCursorWidth = 2;  // pixels

protected:
    void paintEvent(QPaintEvent* event) override {
        QCustomPlot::paintEvent(event);
        drawnAt_ = CursorPixel();
        if (!drawnAt_) return;
        QPainter painter(this);
        DrawCursor(&painter, *drawnAt_);
    }

private:
    // The columns a cursor at px covers, with a pixel to spare either side.
    QRect Strip(int px) const {
        const int top = rects_.front()->top();
        const int bottom = rects_.back()->bottom();
        return QRect(px - kCursorWidth, top, 2 * kCursorWidth + 1, bottom - top + 1);
    }

    std::array<QCPAxisRect*, kTraceKinds> rects_{};
    std::optional<double> key_;    // display units
    std::optional<int> drawnAt_;  // the column the last paint drew the cursor on
};

TracesPane::TracesPane(QWidget* parent) : ComparisonPane(QStringLiteral("TracesPane"), 0, parent) {
    // The plots take the width and most of the height; the readout stands below them, in a
    // splitter the user can move, and scrolls rather than squeezing the plots.
    auto* splitter = new QSplitter(Qt::Vertical, this);
    splitter->setObjectName(QStringLiteral("TracesSplitter"));
    splitter->setChildrenCollapsible(false);
    readout_ = new TraceReadout;
    readout_->setObjectName(QStringLiteral("TracesReadout"));
    QFont small = readout_->font();
    small.setPointSizeF(small.pointSizeF() * 0.9);
    readout_->setFont(small);
    readout_->ShowMessage(tr("Open replays to see their traces."));
    auto* readoutArea = new QScrollArea;
    readoutArea->setObjectName(QStringLiteral("TracesReadoutArea"));
    readoutArea->setWidget(readout_);
    readoutArea->setWidgetResizable(true);
    readoutArea->setFrameShape(QFrame::NoFrame);
    const QFontMetrics readoutMetrics(small);
    readoutArea->setMinimumHeight(readoutMetrics.height() * 2 + 4);
    plot_ = new TracesPlot;
    plot_->setObjectName(QStringLiteral("TracesPlot"));
    // Wide enough that the distance labels never run into each other, tall enough that each
    // of the six plots keeps a few lines of its own.
    const QFontMetrics plotMetrics(plot_->font());
    plot_->setMinimumSize(plotMetrics.horizontalAdvance(QStringLiteral("-888.88")) * 8,
                          plotMetrics.height() * 16);
    plot_->setToolTip(tr("Click or drag to move the playback; wheel to zoom; "
                         "right-drag or Shift-drag to pan; double-click for the whole lap"));
    splitter->addWidget(plot_);
    splitter->addWidget(readoutArea);
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 0);
    // The readout starts at the height of a header and six laps.
    splitter->setSizes({plotMetrics.height() * 20, readoutMetrics.height() * 8 + 8});
    Column()->addWidget(splitter);
    BuildAxes();
    readoutTimer_ = new QTimer(this);
    readoutTimer_->setSingleShot(true);
    readoutTimer_->setInterval(kReadoutInterval);
    connect(readoutTimer_, &QTimer::timeout, this, [this] {
        if (cmp_ && cursor_ && drag_ == Drag::None && !mouseReadout_) UpdateReadout(*cursor_, false);
    });
    resampleTimer_ = new QTimer(this);
    resampleTimer_->setSingleShot(true);
    resampleTimer_->setInterval(kResampleDelay);
    connect(resampleTimer_, &QTimer::timeout, this, [this] {
        if (cmp_ && plot_->size() != builtSize_) Rebuild();
    });
    plot_->installEventFilter(this);
    connect(plot_, &QCustomPlot::mousePress, this, &TracesPane::OnPress);
    connect(plot_, &QCustomPlot::mouseMove, this, &TracesPane::OnMove);
    connect(plot_, &QCustomPlot::mouseRelease, this, &TracesPane::OnRelease);
    connect(plot_, &QCustomPlot::mouseWheel, this, &TracesPane::OnWheel);
    connect(plot_, &QCustomPlot::mouseDoubleClick, this, &TracesPane::OnDoubleClick);
}

bool TracesPane::eventFilter(QObject* watched, QEvent* event) {
    if (watched == plot_ && event->type() == QEvent::Resize && cmp_) resampleTimer_->start();
    if (watched == plot_ && event->type() == QEvent::Leave) LeaveMouseReadout();
    if (watched == plot_ && event->type() == QEvent::ToolTip) {
        // Over the sections' strip, the full name of the section under the mouse.
        const auto* help = static_cast<QHelpEvent*>(event);
        const QString name = SectionNameAt(help->pos());
        if (!name.isEmpty()) {
            QToolTip::showText(help->globalPos(), name, plot_);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TracesPane::BuildAxes() {
    plot_->plotLayout()->clear();
    plot_->plotLayout()->setRowSpacing(0);
    // Many points per curve: plain lines draw several times faster than antialiased ones.
    plot_->setNotAntialiasedElements(QCP::aeAll);
    plot_->setPlottingHint(QCP::phFastPolylines, true);
    auto* margins = new QCPMarginGroup(plot_);
    const QFontMetrics metrics(plot_->font());
    const int leftMargin = metrics.horizontalAdvance(QStringLiteral("-888.88")) + 10;
    plot_->addLayer(QStringLiteral("sections"), plot_->layer(QStringLiteral("grid")),
                    QCustomPlot::limAbove);
    for (std::size_t k = 0; k < kTraceKinds; ++k) {
        auto* rect = new QCPAxisRect(plot_);
        // In the layout before any item is made: a new item's positions start on the plot's
        // first axis rect, and the plot complains when it has none.
        plot_->plotLayout()->addElement(static_cast<int>(k), 0, rect);
        // The left margin is fixed, wide enough for the longest value labels: it does not
        // change when a zoom brings other tick labels, so the distance
        // under the mouse stays under it and the plots keep their left edges in line.
        rect->setMarginGroup(QCP::msRight, margins);
        // Above the delta plot, a strip of its own for the sections' names.
        rect->setMargins(
            QMargins(leftMargin, k == 0 ? StripHeight() : 2, 0, k + 1 == kTraceKinds ? 0 : 2));
        rect->setAutoMargins(k + 1 == kTraceKinds ? QCP::msRight | QCP::msBottom : QCP::msRight);
        QCPAxis* x = rect->axis(QCPAxis::atBottom);
        x->setTickLabels(k + 1 == kTraceKinds);
        rect->axis(QCPAxis::atLeft)->setPadding(4);
        // As many values as the plot's height holds apart, three at most: pedals in steps of
        // 50 %, gears in whole gears.
        const auto kind = static_cast<TraceKind>(k);
        QSharedPointer<SparseTicker> ticker(new SparseTicker(
            kind == TraceKind::Throttle || kind == TraceKind::Brake ? 50.0 : 0.0,
            kind == TraceKind::Gear));
        rect->axis(QCPAxis::atLeft)->setTicker(ticker);
        // Each plot's name stands in its top-left corner, where it never runs into the
        // names of the plots above and below, however short they are.
        auto* name = new QCPItemText(plot_);
        name->setLayer(QStringLiteral("overlay"));
        name->setClipAxisRect(rect);
        name->position->setAxisRect(rect);
        name->position->setType(QCPItemPosition::ptAxisRectRatio);
        name->position->setCoords(0, 0);
        name->setPositionAlignment(Qt::AlignLeft | Qt::AlignTop);
        name->setPadding(QMargins(3, 0, 3, 0));
        name->setBrush(QColor(255, 255, 255, 200));
        name->setColor(QColor(40, 40, 40));
        names_[k] = name;
        // The delta gets more room: it is what the driver reads first.
        plot_->plotLayout()->setRowStretchFactor(static_cast<int>(k),
                                                 k == 0 ? 1.6 : k == 5 ? 0.8 : 1.0);
        rects_[k] = rect;
    }
    plot_->SetRects(rects_);
}

void TracesPane::ShowComparison() {
    // The curves are rebuilt for the whole lap.
    cursor_.reset();
    plot_->SetCursorKey(std::nullopt);
    range_ = cmp_ ? WholeLapRange(*cmp_) : DistanceRange{};
    for (std::size_t k = 0; k < kTraceKinds; ++k) {
        QCPAxisRect* rect = rects_[k];
        for (QCPGraph* g : rect->graphs()) plot_->removeGraph(g);
        names_[k]->setText(QString::fromStdString(TraceLabel(static_cast<TraceKind>(k), units_)));
        if (!cmp_) continue;
        for (std::size_t b = 0; b < cmp_->laps.size(); ++b) {
            QCPGraph* g = new TraceGraph(rect->axis(QCPAxis::atBottom), rect->axis(QCPAxis::atLeft));
            const bool reference = static_cast<std::int32_t>(b) == cmp_->reference;
            g->setPen(QPen(SlotColour(cmp_->laps[b].slot), reference ? 2.0 : 1.0));
            if (static_cast<TraceKind>(k) == TraceKind::Gear) g->setLineStyle(QCPGraph::lsStepLeft);
            g->setName(QString::fromStdString(cmp_->laps[b].title));
        }
    }
    rects_.back()->axis(QCPAxis::atBottom)->setLabel(
        tr("Distance (%1)").arg(QString::fromLatin1(DistanceUnitName(units_))));
    BuildSections();
    if (!cmp_) {
        readout_->ShowMessage(tr("Open replays to see their traces."));
        plot_->replot();
        return;
    }
    Rebuild();
    BuildReadout();
    UpdateReadout(cmp_->start, false);
}

void TracesPane::BuildSections() {
    // Items other than the plots' names are the section lines and labels, rebuilt here.
    sectionLabels_.clear();
    sectionNames_.clear();
    for (int i = plot_->itemCount() - 1; i >= 0; --i) {
        QCPAbstractItem* item = plot_->item(i);
        if (std::find(names_.begin(), names_.end(), item) == names_.end()) plot_->removeItem(item);
    }
    if (!cmp_) return;
    QCPLayer* layer = plot_->layer(QStringLiteral("sections"));
    const QPen pen(QColor(150, 150, 150), 1, Qt::DashLine);
    for (const ComparedSection& sec : cmp_->sections) {
        const double x = ToDisplayDistance(sec.start, units_);
        for (std::size_t k = 0; k < kTraceKinds; ++k) {
            auto* line = new QCPItemStraightLine(plot_);
            line->setLayer(layer);
            line->setClipAxisRect(rects_[k]);
            line->point1->setAxes(rects_[k]->axis(QCPAxis::atBottom), rects_[k]->axis(QCPAxis::atLeft));
            line->point2->setAxes(rects_[k]->axis(QCPAxis::atBottom), rects_[k]->axis(QCPAxis::atLeft));
            line->point1->setCoords(x, 0);
            line->point2->setCoords(x, 1);
            line->setPen(pen);
        }
        // On the strip above the delta plot, right of its line; PlaceSectionLabels gives it
        // the text that fits.
        auto* label = new QCPItemText(plot_);
        label->setLayer(layer);
        label->setClipToAxisRect(false);
        label->position->setType(QCPItemPosition::ptAbsolute);
        label->setPositionAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        label->setPadding(QMargins(0, 0, 0, 0));
        label->setColor(QColor(70, 70, 70));
        label->setFont(names_[0]->font());
        label->setText(QString());
        label->setVisible(false);
        sectionLabels_.push_back(label);
        sectionNames_.push_back(QString::fromStdString(sec.name));
    }
    // The reference's zero delta.
    auto* zero = new QCPItemStraightLine(plot_);
    zero->setLayer(layer);
    zero->setClipAxisRect(rects_[0]);
    zero->point1->setAxes(rects_[0]->axis(QCPAxis::atBottom), rects_[0]->axis(QCPAxis::atLeft));
    zero->point2->setAxes(rects_[0]->axis(QCPAxis::atBottom), rects_[0]->axis(QCPAxis::atLeft));
    zero->point1->setCoords(0, 0);
    zero->point2->setCoords(1, 0);
    zero->setPen(QPen(QColor(60, 60, 60), 1));
}

void TracesPane::Rebuild() {
    if (!cmp_) return;
    ++curveBuilds_;
    builtSize_ = plot_->size();
    const double margin = range_.Width() / 3.0;
    sampled_ = {std::max(cmp_->start, range_.lo - margin), std::min(cmp_->end, range_.hi + margin)};
    // One column a pixel of the plots over the shown window; the stretch sampled beyond it
    // for panning gets as many columns a metre.
    const int pixels = std::max(rects_[0]->width() > 0 ? rects_[0]->width() : plot_->width(),
                                kMinimumColumns);
    const double perMetre = pixels / std::max(range_.Width(), 1e-9);
    const auto columns = static_cast<std::size_t>(std::ceil(sampled_.Width() * perMetre));
    const double keyPixels = pixels / std::max(ToDisplayDistance(range_.Width(), units_), 1e-12);
    const LapTraces traces = BuildLapTraces(*cmp_, range_, std::max<std::size_t>(columns, 1), units_);
    for (std::size_t k = 0; k < kTraceKinds; ++k) {
        const auto kind = static_cast<TraceKind>(k);
        const std::vector<std::vector<double>>& curves = traces.values[k];
        // The pixels a unit of distance and of value take at the span of every lap's values
        // here: a point is drawn only where leaving it out would move the line by more than
        // a third of a pixel. Before the plots are laid out, only flat stretches are thinned.
        double valuePixels = 0;
        const int height = rects_[k]->height();
        if (height > 0) {
            double lo = kind == TraceKind::Delta ? 0.0 : std::numeric_limits<double>::infinity();
            double hi = kind == TraceKind::Delta ? 0.0 : -std::numeric_limits<double>::infinity();
            if (kind == TraceKind::Throttle || kind == TraceKind::Brake) {
                lo = kPedalAxisLow;
                hi = kPedalAxisHigh;
            } else {
                for (const std::vector<double>& v : curves) {
                    for (double x : v) {
                        lo = x < lo ? x : lo;
                        hi = x > hi ? x : hi;
                    }
                }
            }
            if (hi > lo) valuePixels = height / (hi - lo);
        }
        const bool steps = kind == TraceKind::Gear || valuePixels == 0;
        const QList<QCPGraph*> graphs = rects_[k]->graphs();
        for (int b = 0; b < graphs.size() && static_cast<std::size_t>(b) < curves.size(); ++b) {
            const std::vector<double>& v = curves[static_cast<std::size_t>(b)];
            const std::vector<std::uint32_t> keep = PointsToDraw(
                traces.distance, v, keyPixels, steps && valuePixels == 0 ? 1.0 : valuePixels,
                valuePixels == 0 ? 0.0 : kDrawTolerance, steps);
            QVector<QCPGraphData> data(static_cast<qsizetype>(keep.size()));
            for (qsizetype i = 0; i < data.size(); ++i) {
                const std::uint32_t u = keep[static_cast<std::size_t>(i)];
                data[i] = {traces.distance[u], v[u]};
            }
            // Sorted already: the keys rise.
            graphs[b]->data()->set(data, true);
        }
    }
    ApplyRange();
}

void TracesPane::ApplyRange() {
    const QCPRange shown(ToDisplayDistance(range_.lo, units_), ToDisplayDistance(range_.hi, units_));
    for (std::size_t k = 0; k < kTraceKinds; ++k) {
        rects_[k]->axis(QCPAxis::atBottom)->setRange(shown);
        if (cmp_) FitValueAxis(rects_[k], static_cast<TraceKind>(k));
    }
    FitTicks();
    PlaceSectionLabels();
    plot_->replot();
    // The replot laid the plots out; when that changed how many labels fit or where the
    // section names go, once more.
    const bool ticks = FitTicks();
    if (PlaceSectionLabels() || ticks) plot_->replot();
}

int TracesPane::StripHeight() const {
    return QFontMetrics(names_[0] ? names_[0]->font() : plot_->font()).height() + 4;
}

bool TracesPane::PlaceSectionLabels() {
    // Each name stays between its section's lines (or the plot's edges), so no two names
    // meet, and on the strip above the delta plot, clear of the plot's own name.
    if (!cmp_ || sectionLabels_.size() != cmp_->sections.size()) return false;
    QCPAxis* axis = rects_[0]->axis(QCPAxis::atBottom);
    const double left = rects_[0]->left();
    const double right = rects_[0]->right();
    const double y = rects_[0]->top() - StripHeight() / 2.0;
    bool changed = false;
    for (std::size_t i = 0; i < sectionLabels_.size(); ++i) {
        QCPItemText* label = sectionLabels_[i];
        const QFontMetricsF metrics(label->font());
        const ComparedSection& sec = cmp_->sections[i];
        const double a = std::max(axis->coordToPixel(ToDisplayDistance(sec.start, units_)), left);
        const double b = std::min(axis->coordToPixel(ToDisplayDistance(sec.end, units_)), right);
        const QString& name = sectionNames_[i];
        const QString text = std::isfinite(a) && std::isfinite(b)
                                 ? SectionLabelText(name, ShortSectionName(name),
                                                    b - a - 2 * kSectionLabelGap, metrics)
                                 : QString();
        const QPointF at(std::round(a + kSectionLabelGap), std::round(y));
        if (label->text() == text && label->visible() == !text.isEmpty() &&
            label->position->coords() == at)
            continue;
        changed = true;
        label->setText(text);
        label->setVisible(!text.isEmpty());
        label->position->setCoords(at);
    }
    return changed;
}

QString TracesPane::SectionNameAt(const QPoint& p) const {
    if (!cmp_ || sectionNames_.size() != cmp_->sections.size()) return {};
    const QRect rect = rects_[0]->rect();
    if (p.y() >= rect.top() || p.y() < rect.top() - StripHeight() || p.x() < rect.left() ||
        p.x() > rect.right()) {
        return {};
    }
    const double x = DistanceAtPixel(p.x());
    for (std::size_t i = sectionNames_.size(); i-- > 0;) {
        if (x >= cmp_->sections[i].start) return sectionNames_[i];
    }
    return sectionNames_.front();
}

bool TracesPane::FitTicks() {
    // The plots' heights as last laid out; before the first layout, the most labels.
    bool changed = false;
    for (QCPAxisRect* rect : rects_) {
        QCPAxis* y = rect->axis(QCPAxis::atLeft);
        auto ticker = qSharedPointerDynamicCast<SparseTicker>(y->ticker());
        if (!ticker) continue;
        const int labelHeight = QFontMetrics(y->tickLabelFont()).height();
        const int n = rect->height() > 0 ? ValueTicksThatFit(rect->height(), labelHeight) : 3;
        changed = changed || n != ticker->MaxTicks();
        ticker->SetMaxTicks(n);
    }
    return changed;
}

void TracesPane::ShowRange(DistanceRange range) {
    if (!cmp_) return;
    const DistanceRange whole = WholeLapRange(*cmp_);
    const DistanceRange r = ZoomRange(range, range.lo, 1.0, whole);
    const bool zoomed = std::abs(r.Width() - range_.Width()) > 1e-9 * std::max(1.0, r.Width());
    range_ = r;
    // A pan inside the sampled stretch only moves the axes; a zoom or a pan past it samples
    // the curves again at the new width.
    if (zoomed || r.lo < sampled_.lo - 1e-9 || r.hi > sampled_.hi + 1e-9) {
        Rebuild();
    } else {
        ApplyRange();
    }
}

void TracesPane::ShowWholeLap() {
    if (cmp_) ShowRange(WholeLapRange(*cmp_));
}

void TracesPane::SetCursor(double x) {
    if (!cmp_) return;
    if (cursor_ && *cursor_ == x) return;
    cursor_ = x;
    UpdateCursorItems();
    // During playback the readout follows at a tenth of a second: laying out its table every
    // frame would cost the map more than the cursor does.
    if (drag_ == Drag::None && !mouseReadout_ && !readoutTimer_->isActive()) {
        readoutTimer_->start();
    }
}

void TracesPane::UpdateCursorItems() {
    if (cursor_) {
        plot_->SetCursorKey(ToDisplayDistance(*cursor_, units_));
    } else {
        plot_->SetCursorKey(std::nullopt);
    }
}

QCustomPlot* TracesPane::Plot() const { return plot_; }

std::optional<int> TracesPane::CursorPixel() const { return plot_->CursorPixel(); }

QPixmap TracesPane::Image() const {
    QPixmap image = plot_->toPixmap();
    if (const std::optional<int> px = plot_->CursorPixel()) {
        QPainter painter(&image);
        plot_->DrawCursor(&painter, *px);
    }
    return image;
}

void TracesPane::LeaveMouseReadout() {
    if (!mouseReadout_) return;
    mouseReadout_ = false;
    if (cmp_ && cursor_ && drag_ == Drag::None) UpdateReadout(*cursor_, false);
}

void TracesPane::UpdateReadout(double x, bool mouse) {
    if (!cmp_ || readout_->Rows() != cmp_->laps.size() + 1) return;
    const auto values = TraceValuesAt(*cmp_, x, units_);
    readout_->SetCell(0, 0,
                      QStringLiteral("%1 %2%3").arg(
                          Number(ToDisplayDistance(x, units_), units_.distanceUnit == 0 ? 1 : 3),
                          QString::fromLatin1(DistanceUnitName(units_)),
                          mouse ? tr(" (mouse)") : tr(" (cursor)")));
    for (std::size_t b = 0; b < cmp_->laps.size(); ++b) {
        for (std::size_t k = 0; k < kTraceKinds; ++k) {
            QString v = Number(values[k][b], kReadoutDecimals[k]);
            if (k == 0 && std::isfinite(values[k][b]) && values[k][b] > 0)
                v.prepend(QLatin1Char('+'));
            readout_->SetCell(b + 1, k + 1, v);
        }
    }
}

void TracesPane::BuildReadout() {
    // Each column as wide as the widest text it can show for this comparison, so that a new
    // readout only repaints the cells that changed.
    static const QString kWidest[kTraceKinds] = {
        QStringLiteral("+888.888"), QStringLiteral("888.8"), QStringLiteral("100"),
        QStringLiteral("100"),      QStringLiteral("-888.8"), QStringLiteral("88")};
    const QString distance = units_.distanceUnit == 0 ? QStringLiteral("88888.8") : QStringLiteral("888.888");
    const QString unit = QString::fromLatin1(DistanceUnitName(units_));
    std::vector<int> widths(kTraceKinds + 1, 0);
    for (const QString& heading : {tr(" (mouse)"), tr(" (cursor)")}) {
        widths[0] = std::max(
            widths[0], readout_->TextWidth(distance + QLatin1Char(' ') + unit + heading, true));
    }
    std::vector<QString> names;
    for (std::size_t b = 0; b < cmp_->laps.size(); ++b) {
        // The colour names the lap; the title is cut short so the plots keep their width.
        QString title = QString::fromStdString(cmp_->laps[b].title);
        if (title.size() > kReadoutTitle) title = title.left(kReadoutTitle - 1) + QChar(0x2026);
        if (static_cast<std::int32_t>(b) == cmp_->reference) title += tr(" (ref)");
        widths[0] = std::max(widths[0], readout_->TextWidth(title, false));
        names.push_back(title);
    }
    std::vector<QString> headings;
    for (std::size_t k = 0; k < kTraceKinds; ++k) {
        headings.push_back(QString::fromStdString(TraceLabel(static_cast<TraceKind>(k), units_)));
        widths[k + 1] = std::max(readout_->TextWidth(headings[k], true),
                                 readout_->TextWidth(kWidest[k], false));
    }
    readout_->SetGrid(cmp_->laps.size() + 1, std::move(widths));
    for (std::size_t k = 0; k < kTraceKinds; ++k) readout_->SetCell(0, k + 1, headings[k]);
    for (std::size_t b = 0; b < cmp_->laps.size(); ++b) {
        readout_->SetSwatch(b + 1, SlotColour(cmp_->laps[b].slot));
        readout_->SetCell(b + 1, 0, names[b]);
    }
}

double TracesPane::DistanceAtPixel(double px) const {
    return FromDisplayDistance(rects_[0]->axis(QCPAxis::atBottom)->pixelToCoord(px), units_);
}

QPoint TracesPane::PixelAtDistance(double x) const {
    const double px = rects_[0]->axis(QCPAxis::atBottom)->coordToPixel(ToDisplayDistance(x, units_));
    return {static_cast<int>(std::lround(px)), rects_[0]->center().y()};
}

bool TracesPane::InPlotArea(const QPoint& p) const {
    for (const QCPAxisRect* r : rects_) {
        if (r->rect().contains(p)) return true;
    }
    return false;
}

void TracesPane::OnPress(QMouseEvent* event) {
    if (!cmp_ || !InPlotArea(event->pos())) return;
    const bool pan = event->button() == Qt::RightButton || event->button() == Qt::MiddleButton ||
                     (event->button() == Qt::LeftButton && (event->modifiers() & Qt::ShiftModifier));
    if (pan) {
        drag_ = Drag::Pan;
        panAnchor_ = DistanceAtPixel(event->position().x());
        return;
    }
    if (event->button() != Qt::LeftButton) return;
    drag_ = Drag::Scrub;
    emit scrubbed(DistanceAtPixel(event->position().x()));
}

void TracesPane::OnMove(QMouseEvent* event) {
    if (!cmp_) return;
    const double x = DistanceAtPixel(event->position().x());
    switch (drag_) {
        case Drag::Scrub:
            emit scrubbed(std::clamp(x, cmp_->start, cmp_->end));
            break;
        case Drag::Pan:
            // The distance grabbed stays under the mouse.
            ShowRange(PanRange(range_, panAnchor_ - x, WholeLapRange(*cmp_)));
            break;
        case Drag::None:
            if (InPlotArea(event->pos())) {
                mouseReadout_ = true;
                UpdateReadout(std::clamp(x, cmp_->start, cmp_->end), true);
            } else {
                LeaveMouseReadout();
            }
            break;
    }
}

void TracesPane::OnRelease(QMouseEvent*) { drag_ = Drag::None; }

void TracesPane::OnWheel(QWheelEvent* event) {
    if (!cmp_) return;
    const double notches = event->angleDelta().y() / 120.0;
    if (notches == 0) return;
    const double anchor = DistanceAtPixel(event->position().x());
    ShowRange(ZoomRange(range_, anchor, std::pow(kWheelStep, notches), WholeLapRange(*cmp_)));
}

void TracesPane::OnDoubleClick(QMouseEvent*) {
    drag_ = Drag::None;
    ShowWholeLap();
}

}  // namespace lapquill
