// The panes' shared part. See comparison_pane.h.
#include "app/comparison_pane.h"

#include <QVBoxLayout>

namespace lapquill {

ComparisonPane::ComparisonPane(const QString& name, int spacing, QWidget* parent) : QWidget(parent) {
    setObjectName(name);
    column_ = new QVBoxLayout(this);
    column_->setContentsMargins(2, 2, 2, 2);
    column_->setSpacing(spacing);
}

void ComparisonPane::SetComparison(const Comparison* cmp, std::span<const std::uint32_t> slotColours,
                                   const DisplayUnits& units) {
    cmp_ = cmp && !cmp->Empty() ? cmp : nullptr;
    colours_.assign(slotColours.begin(), slotColours.end());
    units_ = units;
    ShowComparison();
}

QColor ComparisonPane::SlotColour(std::int32_t slot) const {
    const auto i = static_cast<std::size_t>(slot);
    return QColor::fromRgb((slot >= 0 && i < colours_.size() ? colours_[i] : 0xFFFFFFu) | 0xFF000000u);
}

}  // namespace lapquill
