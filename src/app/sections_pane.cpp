// The sections pane. See sections_pane.h.
#include "app/sections_pane.h"

#include <QApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QProxyStyle>
#include <QPainter>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "compare/lap_traces.h"
#include "compare/section_table.h"

namespace lapquill {

namespace {

const QColor kFaster(0, 128, 40);
const QColor kSlower(192, 24, 24);
const QColor kBestGround(206, 176, 240);

// Hundredths in the cells, which is what a driver compares; thousandths in the tooltips.
constexpr int kCellDecimals = 2;
constexpr int kTipDecimals = 3;
// Marks the cells that hold a gain or loss: they take the smaller font when room is short.
constexpr int kGainRole = Qt::UserRole + 1;

QString Seconds(double v, int decimals = kCellDecimals) {
    return std::isfinite(v) ? QString::number(v, 'f', decimals) : QStringLiteral("–");
}

QString WithSign(double v, const QString& digits) {
    if (digits.toDouble() == 0.0) return digits;
    return (v > 0 ? QStringLiteral("+") : QStringLiteral("-")) + digits;
}

// A gain or loss with its sign; one that rounds to nothing shows no sign.
QString Signed(double v, int decimals) {
    if (!std::isfinite(v)) return QStringLiteral("–");
    return WithSign(v, QString::number(std::fabs(v), 'f', decimals));
}

double Luminance(const QColor& c) {
    auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

}  // namespace

double ContrastRatio(const QColor& a, const QColor& b) {
    const double la = Luminance(a), lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor ReadableOn(const QColor& colour, const QColor& ground) {
    // Darker on a light ground, lighter on a dark one, a step at a time so the hue stays.
    const bool lightGround = Luminance(ground) > 0.18;
    QColor c = colour;
    for (int step = 0; step < 24 && ContrastRatio(c, ground) < kReadableContrast; ++step) {
        c = lightGround ? c.darker(115) : c.lighter(115);
    }
    return c;
}

// Three digits at most, so that no gain is wider than "+0.12": hundredths under a second,
// tenths under ten, whole seconds beyond. A driver reads the small gains closely and the large
// ones only by their size; the tooltip has them to the thousandth.
QString SectionGainText(double v) {
    if (!std::isfinite(v)) return QStringLiteral("–");
    const double a = std::fabs(v);
    for (int decimals = kCellDecimals; decimals > 0; --decimals) {
        const QString digits = QString::number(a, 'f', decimals);
        if (digits.toDouble() < std::pow(10.0, kCellDecimals - decimals)) return WithSign(v, digits);
    }
    return WithSign(v, QString::number(a, 'f', 0));
}

namespace {

// The table's and its header's style: the application's, with the room around each cell's text
// cut to two pixels a side (one in the compact table) and the header's to four, which is what
// lets six laps share a narrow pane.
// A cell's text margin is the focus frame's plus one.
constexpr int kFocusMargin = 1;
constexpr int kCompactFocusMargin = 0;
constexpr int kTextMargin = kFocusMargin + 1;

class TightStyle : public QProxyStyle {
public:
    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override {
        if (metric == PM_FocusFrameHMargin) return compact ? kCompactFocusMargin : kFocusMargin;
        if (metric == PM_HeaderMargin) return 2;
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
    bool compact = false;
};

QTableWidgetItem* Cell(const QString& text, Qt::Alignment align = Qt::AlignRight | Qt::AlignVCenter) {
    auto* item = new QTableWidgetItem(text);
    item->setTextAlignment(align);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    return item;
}

void Colour(QTableWidgetItem* item, Versus versus) {
    if (versus == Versus::Faster) item->setForeground(kFaster);
    if (versus == Versus::Slower) item->setForeground(kSlower);
}

bool IsBreak(QChar c) {
    return c == QLatin1Char('_') || c == QLatin1Char(' ') || c == QLatin1Char('-');
}

// A title on two lines, broken where the wider line is narrowest ("Driver_Car" becomes
// "Driver" over "Car"); on one line when it has nowhere to break.
QStringList TitleLines(const QString& title, const QFontMetrics& fm) {
    int bestAt = -1;
    int bestWidth = fm.horizontalAdvance(title);
    for (int i = 1; i + 1 < title.size(); ++i) {
        if (!IsBreak(title[i])) continue;
        // A hyphen stays at the end of the first line; a space or underscore goes.
        const QString first = title.left(title[i] == QLatin1Char('-') ? i + 1 : i);
        const int width = std::max(fm.horizontalAdvance(first), fm.horizontalAdvance(title.mid(i + 1)));
        if (width < bestWidth) {
            bestWidth = width;
            bestAt = i;
        }
    }
    if (bestAt < 0) return {title};
    return {title.left(title[bestAt] == QLatin1Char('-') ? bestAt + 1 : bestAt), title.mid(bestAt + 1)};
}

// Draws a section's name whole where it fits, else its first word, which is the corner number
// a driver knows the section by ("T2-3" of "T2-3 Chicane"), else shortened with an ellipsis.
// The item keeps the whole name, and its tooltip says it.
class SectionNameDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        const QWidget* widget = opt.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();
        opt.text = SectionNameToFit(opt.text, opt.fontMetrics, TextRoom(opt, style));
        style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
    }

private:
    static int TextRoom(const QStyleOptionViewItem& opt, const QStyle* style) {
        const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, &opt, opt.widget) + 1;
        return opt.rect.width() - 2 * margin;
    }
};

}  // namespace

QString SectionNameToFit(const QString& name, const QFontMetrics& fm, int width) {
    if (fm.horizontalAdvance(name) <= width) return name;
    const qsizetype space = name.indexOf(QLatin1Char(' '));
    if (space > 0 && fm.horizontalAdvance(name.left(space)) <= width) return name.left(space);
    return fm.elidedText(name, Qt::ElideRight, width);
}

SectionsPane::SectionsPane(QWidget* parent)
    : ComparisonPane(QStringLiteral("SectionsPane"), 2, parent) {
    QVBoxLayout* layout = Column();
    caption_ = new QLabel(this);
    caption_->setObjectName(QStringLiteral("SectionsCaption"));
    caption_->setWordWrap(true);
    table_ = new QTableWidget(this);
    table_->setObjectName(QStringLiteral("SectionsTable"));
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    style_ = new TightStyle;
    style_->setParent(this);
    table_->setStyle(style_);
    table_->horizontalHeader()->setStyle(style_);
    normalFont_ = table_->font();
    table_->setItemDelegateForColumn(0, new SectionNameDelegate(table_));
    table_->horizontalHeader()->setMinimumSectionSize(1);
    // A chosen row would turn every title bold, wider than the column it was shortened to.
    table_->horizontalHeader()->setHighlightSections(false);
    table_->verticalHeader()->setVisible(false);
    table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 6);
    table_->horizontalHeader()->setSectionsClickable(true);
    table_->horizontalHeader()->setToolTip(
        tr("Click a lap to sort the sections by the time it loses; click Section for track order"));
    // The columns are fitted again whenever the table's visible width changes.
    table_->viewport()->installEventFilter(this);
    layout->addWidget(caption_);
    layout->addWidget(table_, 1);
    connect(table_->horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int column) {
        SortByLoss(column >= 2 ? column - 2 : -1);
    });
    connect(table_, &QTableWidget::cellClicked, this, [this](int row, int) {
        const std::int32_t s = SectionAtRow(row);
        if (s >= 0) emit sectionChosen(static_cast<std::size_t>(s));
    });
    SetComparison(nullptr, {}, {});
}

void SectionsPane::ShowComparison() {
    if (!cmp_ || sortLap_ >= static_cast<std::int32_t>(cmp_->laps.size())) sortLap_ = -1;
    Fill();
}

void SectionsPane::SortByLoss(std::int32_t lap) {
    sortLap_ = cmp_ && lap >= 0 && lap < static_cast<std::int32_t>(cmp_->laps.size()) ? lap : -1;
    Fill();
}

std::int32_t SectionsPane::SectionAtRow(int row) const {
    return row >= 0 && static_cast<std::size_t>(row) < order_.size()
               ? static_cast<std::int32_t>(order_[static_cast<std::size_t>(row)])
               : -1;
}

int SectionsPane::RowOfSection(std::size_t section) const {
    for (std::size_t r = 0; r < order_.size(); ++r) {
        if (order_[r] == section) return static_cast<int>(r);
    }
    return -1;
}

int SectionsPane::ColumnsWidth() const {
    return table_->horizontalHeader()->length();
}

bool SectionsPane::eventFilter(QObject* watched, QEvent* event) {
    if (watched == table_->viewport() && event->type() == QEvent::Resize && cmp_) {
        // A resize the fit itself causes (a scroll bar coming or going) is fitted once it ends.
        if (fitting_) {
            resizedWhileFitting_ = true;
        } else {
            FitColumns();
        }
    }
    return ComparisonPane::eventFilter(watched, event);
}

void SectionsPane::Fill() {
    // The table's own resizes while it is filled wait for the fit at the end.
    fitting_ = true;
    table_->clear();
    order_.clear();
    headerTitles_.clear();
    headerMarks_.clear();
    if (!cmp_) {
        caption_->setText(tr("Open replays to see the time of each section."));
        caption_->setVisible(true);
        table_->setRowCount(0);
        table_->setColumnCount(0);
        fitting_ = false;
        return;
    }
    const std::size_t laps = cmp_->laps.size();
    const ComparedLap& ref = cmp_->laps[static_cast<std::size_t>(cmp_->reference)];
    const QString refTitle = QString::fromStdString(ref.title);
    QString caption = tr("Against %1.").arg(refTitle);
    if (sortLap_ >= 0) {
        caption += QLatin1Char(' ') +
                   tr("Sorted by the time %1 loses.")
                       .arg(QString::fromStdString(cmp_->laps[static_cast<std::size_t>(sortLap_)].title));
    }
    caption_->setText(caption);
    // The pane's title names the reference already; the caption shows only to say the order.
    caption_->setVisible(sortLap_ >= 0);

    order_ = sortLap_ >= 0 ? SectionsByLoss(*cmp_, static_cast<std::size_t>(sortLap_))
                           : SectionsByLoss(*cmp_, laps);  // out of range: track order
    table_->setColumnCount(static_cast<int>(laps) + 2);
    table_->setRowCount(static_cast<int>(order_.size()) + 2);
    const QString unit = QString::fromLatin1(DistanceUnitName(units_));
    QStringList headers = {tr("Section"), tr("From\n(%1)").arg(unit)};
    for (std::size_t b = 0; b < laps; ++b) {
        QString marks;
        if (static_cast<std::int32_t>(b) == cmp_->reference) marks += tr("(ref)");
        if (static_cast<std::int32_t>(b) == sortLap_) {
            marks += (marks.isEmpty() ? QString() : QStringLiteral(" ")) + QStringLiteral("▼");
        }
        headerTitles_.push_back(QString::fromStdString(cmp_->laps[b].title));
        headerMarks_.push_back(marks);
        headers << headerTitles_.back();  // shortened to its column by FitColumns
    }
    table_->setHorizontalHeaderLabels(headers);
    table_->horizontalHeaderItem(1)->setToolTip(
        tr("Where the section starts on the reference lap, %1").arg(unit));
    const QString sortHint = tr("Click to sort the sections by the time this lap loses");
    table_->horizontalHeaderItem(0)->setToolTip(tr("Click for track order"));
    for (std::size_t b = 0; b < laps; ++b) {
        QTableWidgetItem* header = table_->horizontalHeaderItem(static_cast<int>(b) + 2);
        header->setToolTip(headerTitles_[b] + QLatin1Char('\n') + sortHint);
        const auto slot = static_cast<std::size_t>(cmp_->laps[b].slot);
        // The slot's colour, darkened where it is too light to read on the header (yellow,
        // cyan and green are).
        if (slot < colours_.size()) {
            header->setForeground(ReadableOn(SlotColour(cmp_->laps[b].slot),
                                             table_->horizontalHeader()->palette().color(QPalette::Button)));
        }
    }

    for (std::size_t row = 0; row < order_.size(); ++row) {
        const std::size_t s = order_[row];
        const ComparedSection& sec = cmp_->sections[s];
        const int r = static_cast<int>(row);
        const QString from = QString::number(ToDisplayDistance(sec.start, units_), 'f',
                                             units_.distanceUnit == 0 ? 0 : 3);
        QTableWidgetItem* name = Cell(QString::fromStdString(sec.name), Qt::AlignLeft | Qt::AlignVCenter);
        name->setToolTip(tr("%1, from %2 %3").arg(name->text(), from, unit));
        table_->setItem(r, 0, name);
        table_->setItem(r, 1, Cell(from));
        for (std::size_t b = 0; b < laps; ++b) {
            const SectionCellMark mark = MarkSectionCell(*cmp_, s, b);
            // The reference shows its time; the others how much they gain or lose on it.
            QTableWidgetItem* item = Cell(mark.reference ? Seconds(sec.times[b]) : SectionGainText(sec.lost[b]));
            if (!mark.reference) item->setData(kGainRole, true);
            QString tip = mark.reference
                              ? tr("%1: %2 s").arg(headerTitles_[b], Seconds(sec.times[b], kTipDecimals))
                              : tr("%1: %2 s, %3 s against %4")
                                    .arg(headerTitles_[b], Seconds(sec.times[b], kTipDecimals),
                                         Signed(sec.lost[b], kTipDecimals), refTitle);
            if (mark.best) {
                item->setBackground(kBestGround);
                tip += QLatin1Char('\n') + tr("Best of all laps in this section");
            }
            item->setToolTip(tip);
            Colour(item, mark.versus);
            table_->setItem(r, static_cast<int>(b) + 2, item);
        }
    }

    // The foot: the reference's lap time and every other lap's gain or loss over the lap, then
    // the theoretical best.
    const int lapRow = static_cast<int>(order_.size());
    table_->setItem(lapRow, 0, Cell(tr("Lap"), Qt::AlignLeft | Qt::AlignVCenter));
    table_->setItem(lapRow, 1, Cell(QString()));
    for (std::size_t b = 0; b < laps; ++b) {
        const ComparedLap& lap = cmp_->laps[b];
        const bool isRef = static_cast<std::int32_t>(b) == cmp_->reference;
        QTableWidgetItem* item = Cell(isRef ? Seconds(lap.time) : SectionGainText(lap.delta));
        if (!isRef) item->setData(kGainRole, true);
        item->setToolTip(isRef ? tr("%1: lap %2 s").arg(headerTitles_[b], Seconds(lap.time, kTipDecimals))
                               : tr("%1: lap %2 s, %3 s against %4")
                                     .arg(headerTitles_[b], Seconds(lap.time, kTipDecimals),
                                          Signed(lap.delta, kTipDecimals), refTitle));
        if (!isRef) Colour(item, VersusReference(lap.delta));
        table_->setItem(lapRow, static_cast<int>(b) + 2, item);
    }
    QTableWidgetItem* bestName = Cell(tr("Theoretical best"), Qt::AlignLeft | Qt::AlignVCenter);
    bestName->setToolTip(tr("The best time of any lap in every section, added up"));
    table_->setItem(lapRow + 1, 0, bestName);
    table_->setItem(lapRow + 1, 1, Cell(QString()));
    auto* best = Cell(Seconds(cmp_->theoreticalBest));
    best->setBackground(kBestGround);
    best->setToolTip(tr("Theoretical best: %1 s").arg(Seconds(cmp_->theoreticalBest, kTipDecimals)));
    // Under the reference's lap time, the other time in the foot.
    table_->setItem(lapRow + 1, cmp_->reference + 2, best);
    compact_ = true;  // so that the fonts are set afresh
    SetCompact(false);
    fitting_ = false;
    FitColumns();
}

void SectionsPane::SetCompact(bool compact) {
    if (compact == compact_) return;
    compact_ = compact;
    static_cast<TightStyle*>(style_)->compact = compact;
    QFont font = normalFont_;
    if (compact) {
        // A point smaller, or a tenth smaller for a font given in pixels.
        if (font.pointSizeF() > 0) {
            font.setPointSizeF(std::max(font.pointSizeF() - 1.0, font.pointSizeF() * 0.85));
        } else if (font.pixelSize() > 0) {
            font.setPixelSize(std::max(font.pixelSize() * 9 / 10, 1));
        }
    }
    table_->setFont(font);
    // The foot in bold; in the compact table its gains keep the plain weight, which is what
    // makes them no wider than the gains above them.
    QFont bold = font;
    bold.setBold(true);
    for (int r = std::max(table_->rowCount() - 2, 0); r < table_->rowCount(); ++r) {
        for (int c = 0; c < table_->columnCount(); ++c) {
            QTableWidgetItem* item = table_->item(r, c);
            if (item == nullptr) continue;
            item->setFont(compact && item->data(kGainRole).toBool() ? font : bold);
        }
    }
}

void SectionsPane::FitColumns() {
    // Twice at most: a second fit follows the scroll bar the first one showed or hid.
    for (int pass = 0; pass < 2; ++pass) {
        resizedWhileFitting_ = false;
        FitColumnsOnce();
        if (!resizedWhileFitting_) break;
    }
}

int SectionsPane::LapCellsWidthAtNormalSize() const {
    const QFontMetrics fm(normalFont_);
    QFont bold = normalFont_;
    bold.setBold(true);
    const QFontMetrics boldFm(bold);
    // The margins of the table that is not compact, and the grid line.
    const int extra = 2 * kTextMargin + 1;
    int total = 0;
    for (int c = 2; c < table_->columnCount(); ++c) {
        int widest = 0;
        for (int r = 0; r < table_->rowCount(); ++r) {
            const QTableWidgetItem* item = table_->item(r, c);
            if (item == nullptr) continue;
            const bool foot = r >= table_->rowCount() - 2;
            widest = std::max(widest, (foot ? boldFm : fm).horizontalAdvance(item->text()));
        }
        total += widest + extra;
    }
    return total;
}

void SectionsPane::FitColumnsOnce() {
    if (!cmp_ || table_->columnCount() < 2 ||
        headerTitles_.size() != static_cast<std::size_t>(table_->columnCount() - 2)) {
        return;
    }
    fitting_ = true;
    // The cells' widest text per column (public on the base class, where the table hides it).
    const QAbstractItemView* view = table_;
    QHeaderView* header = table_->horizontalHeader();
    const int laps = table_->columnCount() - 2;
    // Room a header keeps around its text.
    const int padding = 2 * header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header) + 4;
    const int room = table_->viewport()->width();
    // The narrowest the section names go: their corner numbers, in the cells' font and margins.
    auto namesFloorOf = [&] {
        const int margin = table_->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, table_) + 1;
        return QFontMetrics(table_->font()).horizontalAdvance(QStringLiteral("T00…")) + 2 * margin + 1;
    };
    // The cells take the smaller font only where the laps would not fit beside the shortest names
    // at the table's own size. Measured without changing the font, which would move the header
    // and with it the scroll bar.
    const int normalFloor = QFontMetrics(normalFont_).horizontalAdvance(QStringLiteral("T00…")) + 2 * kTextMargin + 1;
    SetCompact(LapCellsWidthAtNormalSize() + normalFloor > room);
    const int namesFloorWidth = namesFloorOf();
    // The header follows the table's font.
    const QFontMetrics fm(header->font());
    // Each lap column as wide as its cells, or its title's wider line if that is wider, at most
    // the width of six digits more than the cells.
    std::vector<int> lapWidth(static_cast<std::size_t>(laps));
    std::vector<int> titleWidth(static_cast<std::size_t>(laps));
    int lapsTotal = 0;
    for (int b = 0; b < laps; ++b) {
        const int cells = view->sizeHintForColumn(b + 2);
        int title = 0;
        for (const QString& line : TitleLines(headerTitles_[static_cast<std::size_t>(b)], fm)) {
            title = std::max(title, fm.horizontalAdvance(line));
        }
        title = std::max(title, fm.horizontalAdvance(headerMarks_[static_cast<std::size_t>(b)]));
        // One pixel more: the advance is rounded, and shortening measures the unrounded text.
        titleWidth[static_cast<std::size_t>(b)] = title + padding + 1;
        lapWidth[static_cast<std::size_t>(b)] = cells;
        lapsTotal += cells;
    }
    const int from = std::max(view->sizeHintForColumn(1),
                              fm.horizontalAdvance(tr("From")) + padding);
    const int names = std::max(view->sizeHintForColumn(0), header->sectionSizeHint(0));
    const int namesLeast = std::min(names, std::max(fm.horizontalAdvance(QStringLiteral("T00 Xxx…")) + padding,
                                                    namesFloorWidth));
    // Where the laps do not fit beside the names and the distances, the distances give way:
    // each section name's tooltip says where it starts.
    const bool showFrom = lapsTotal + from + namesLeast <= room;
    table_->setColumnHidden(1, !showFrom);
    const int fromWidth = showFrom ? from : 0;
    // What is left over goes first to the section names, then to the lap titles, evenly. Short
    // of room, the names shrink further, to their corner numbers, before a lap is pushed out.
    int spare = room - lapsTotal - fromWidth - namesLeast;
    const int namesFloor = std::min(names, namesFloorWidth);
    const int namesWidth = spare >= 0 ? namesLeast + std::min(spare, names - namesLeast)
                                      : std::max(namesFloor, namesLeast + spare);
    spare -= namesWidth - namesLeast;
    for (int round = 0; round < 8 && spare > 0; ++round) {
        int wanting = 0;
        for (int b = 0; b < laps; ++b) {
            if (lapWidth[static_cast<std::size_t>(b)] < titleWidth[static_cast<std::size_t>(b)]) ++wanting;
        }
        if (wanting == 0) break;
        const int share = std::max(spare / wanting, 1);
        for (int b = 0; b < laps && spare > 0; ++b) {
            int& w = lapWidth[static_cast<std::size_t>(b)];
            const int grow = std::min({share, titleWidth[static_cast<std::size_t>(b)] - w, spare});
            if (grow <= 0) continue;
            w += grow;
            spare -= grow;
        }
    }
    table_->setColumnWidth(0, namesWidth);
    if (showFrom) table_->setColumnWidth(1, from);
    for (int b = 0; b < laps; ++b) {
        const int w = lapWidth[static_cast<std::size_t>(b)];
        table_->setColumnWidth(b + 2, w);
        // The title's lines shortened to the column; the full title is in the tooltip.
        QStringList lines;
        for (const QString& line : TitleLines(headerTitles_[static_cast<std::size_t>(b)], fm)) {
            lines << fm.elidedText(line, Qt::ElideRight, std::max(w - padding, 0));
        }
        if (!headerMarks_[static_cast<std::size_t>(b)].isEmpty()) lines << headerMarks_[static_cast<std::size_t>(b)];
        table_->horizontalHeaderItem(b + 2)->setText(lines.join(QLatin1Char('\n')));
    }
    fitting_ = false;
}

}  // namespace lapquill
