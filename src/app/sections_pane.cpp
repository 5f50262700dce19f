// The sections pane. See sections_pane.h.
#include "app/sections_pane.h"

#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>
#include <cmath>

#include "compare/lap_traces.h"
#include "compare/section_table.h"

namespace lapquill {

namespace {

const QColor kFaster(0, 128, 40);
const QColor kSlower(192, 24, 24);
const QColor kBestGround(206, 176, 240);

QString Seconds(double v) {
    return std::isfinite(v) ? QString::number(v, 'f', 3) : QStringLiteral("–");
}

QString Signed(double v) {
    if (!std::isfinite(v)) return QStringLiteral("–");
    return (v > 0 ? QStringLiteral("+") : QString()) + QString::number(v, 'f', 3);
}

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

}  // namespace

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
    table_->verticalHeader()->setVisible(false);
    table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 6);
    table_->horizontalHeader()->setSectionsClickable(true);
    table_->horizontalHeader()->setToolTip(
        tr("Click a lap to sort the sections by the time it loses; click Section for track order"));
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

void SectionsPane::Fill() {
    table_->clear();
    order_.clear();
    if (!cmp_) {
        caption_->setText(tr("Open replays to see the time of each section."));
        table_->setRowCount(0);
        table_->setColumnCount(0);
        return;
    }
    const std::size_t laps = cmp_->laps.size();
    const ComparedLap& ref = cmp_->laps[static_cast<std::size_t>(cmp_->reference)];
    QString caption = tr("Against %1.").arg(QString::fromStdString(ref.title));
    if (sortLap_ >= 0) {
        caption += QLatin1Char(' ') +
                   tr("Sorted by the time %1 loses.")
                       .arg(QString::fromStdString(cmp_->laps[static_cast<std::size_t>(sortLap_)].title));
    }
    caption_->setText(caption);

    order_ = sortLap_ >= 0 ? SectionsByLoss(*cmp_, static_cast<std::size_t>(sortLap_))
                           : SectionsByLoss(*cmp_, laps);  // out of range: track order
    table_->setColumnCount(static_cast<int>(laps) + 2);
    table_->setRowCount(static_cast<int>(order_.size()) + 2);
    QStringList headers = {tr("Section"),
                           tr("From (%1)").arg(QString::fromLatin1(DistanceUnitName(units_)))};
    for (std::size_t b = 0; b < laps; ++b) {
        QString h = QString::fromStdString(cmp_->laps[b].title);
        if (static_cast<std::int32_t>(b) == cmp_->reference) h += tr(" (ref)");
        if (static_cast<std::int32_t>(b) == sortLap_) h += QStringLiteral(" ▼");
        headers << h;
    }
    table_->setHorizontalHeaderLabels(headers);
    for (std::size_t b = 0; b < laps; ++b) {
        const auto slot = static_cast<std::size_t>(cmp_->laps[b].slot);
        if (slot < colours_.size()) {
            table_->horizontalHeaderItem(static_cast<int>(b) + 2)
                ->setForeground(SlotColour(cmp_->laps[b].slot));
        }
    }

    for (std::size_t row = 0; row < order_.size(); ++row) {
        const std::size_t s = order_[row];
        const ComparedSection& sec = cmp_->sections[s];
        const int r = static_cast<int>(row);
        table_->setItem(r, 0, Cell(QString::fromStdString(sec.name), Qt::AlignLeft | Qt::AlignVCenter));
        table_->setItem(r, 1, Cell(QString::number(ToDisplayDistance(sec.start, units_), 'f',
                                                   units_.distanceUnit == 0 ? 0 : 3)));
        for (std::size_t b = 0; b < laps; ++b) {
            const SectionCellMark mark = MarkSectionCell(*cmp_, s, b);
            QString text = Seconds(sec.times[b]);
            if (!mark.reference) text += QStringLiteral("  ") + Signed(sec.lost[b]);
            QTableWidgetItem* item = Cell(text);
            if (mark.best) {
                item->setBackground(kBestGround);
                item->setToolTip(tr("Best of all laps in this section"));
            }
            Colour(item, mark.versus);
            table_->setItem(r, static_cast<int>(b) + 2, item);
        }
    }

    // The foot: lap totals and deltas, then the theoretical best.
    const int lapRow = static_cast<int>(order_.size());
    QFont bold = table_->font();
    bold.setBold(true);
    table_->setItem(lapRow, 0, Cell(tr("Lap"), Qt::AlignLeft | Qt::AlignVCenter));
    table_->setItem(lapRow, 1, Cell(QString()));
    for (std::size_t b = 0; b < laps; ++b) {
        const ComparedLap& lap = cmp_->laps[b];
        QString text = Seconds(lap.time);
        if (static_cast<std::int32_t>(b) != cmp_->reference) text += QStringLiteral("  ") + Signed(lap.delta);
        QTableWidgetItem* item = Cell(text);
        if (static_cast<std::int32_t>(b) != cmp_->reference) Colour(item, VersusReference(lap.delta));
        table_->setItem(lapRow, static_cast<int>(b) + 2, item);
    }
    table_->setItem(lapRow + 1, 0, Cell(tr("Theoretical best"), Qt::AlignLeft | Qt::AlignVCenter));
    table_->setItem(lapRow + 1, 1, Cell(QString()));
    auto* best = Cell(Seconds(cmp_->theoreticalBest));
    best->setBackground(kBestGround);
    table_->setItem(lapRow + 1, 2, best);
    for (int c = 0; c < table_->columnCount(); ++c) {
        for (int r : {lapRow, lapRow + 1}) {
            if (QTableWidgetItem* item = table_->item(r, c)) item->setFont(bold);
        }
    }
    table_->resizeColumnsToContents();
}

}  // namespace lapquill
