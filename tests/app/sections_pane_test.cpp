// The sections pane on its own with six laps of long titles and fourteen sections: every lap's
// column fits a pane as narrow as the first start gives it, with no cell cut short; the
// reference shows its times and the others their gains, the times in the tooltips; the marks,
// the sorting, the foot and the choice of a section stay as they were.
#include "app/sections_pane.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStyle>
#include <QTableWidget>
#include <QTest>
#include <cmath>
#include <string>
#include <vector>

#include "compare/compare.h"

namespace lapquill {
namespace {

// Six laps titled like the demo's replay files; lap b is 0.05 b s a section slower than lap 0,
// except lap 3, the fastest in section 2.
Comparison SixLaps() {
    const char* titles[] = {"InesVidal_Sable400", "JonasK_MorrowRS", "Lena_Sable400",
                            "Marta_KestrelGT",    "RaviS_MorrowRS",  "Tobias_KestrelGT"};
    const char* names[] = {"Start",      "T1 Millrace", "T2-3 Chicane", "T4 Orchard",
                           "T5 Twin Oaks", "T6 Hairpin", "T7 Chapel",   "T8 Ridge",
                           "T9 Lantern", "T10 Kink",    "T11 Quarry",   "T12 Fernside",
                           "T13 Home",   "Finish"};
    Comparison cmp;
    cmp.reference = 0;
    cmp.start = 0;
    cmp.end = 14 * 300.0;
    for (int b = 0; b < 6; ++b) {
        ComparedLap lap;
        lap.slot = b;
        lap.title = titles[b];
        cmp.laps.push_back(lap);
    }
    for (int s = 0; s < 14; ++s) {
        ComparedSection sec;
        sec.name = names[s];
        sec.start = 300.0 * s;
        sec.end = 300.0 * (s + 1);
        for (int b = 0; b < 6; ++b) {
            double t = 7.123 + 0.05 * b;
            if (s == 2 && b == 3) t = 6.9;
            sec.times.push_back(t);
            sec.lost.push_back(t - 7.123);
        }
        sec.best = s == 2 ? 3 : 0;
        sec.minSpeed.resize(6);
        cmp.sections.push_back(sec);
    }
    for (ComparedLap& lap : cmp.laps) {
        const auto b = static_cast<std::size_t>(lap.slot);
        for (const ComparedSection& sec : cmp.sections) lap.time += sec.times[b];
    }
    for (ComparedLap& lap : cmp.laps) lap.delta = lap.time - cmp.laps[0].time;
    for (const ComparedSection& sec : cmp.sections) cmp.theoreticalBest += sec.times[static_cast<std::size_t>(sec.best)];
    return cmp;
}

const std::vector<std::uint32_t> kColours = {0x800000FFu, 0x80FF0000u, 0x8000FF00u,
                                             0x80FFFF00u, 0x80FF00FFu, 0x8000FFFFu};

class SectionsPaneTest : public ::testing::Test {
protected:
    void Show(int width, int height = 460) {
        pane_.resize(width, height);
        pane_.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&pane_));
        pane_.SetComparison(&cmp_, kColours, DisplayUnits{});
        QCoreApplication::processEvents();
    }
    QTableWidget* Table() { return pane_.Table(); }
    // No cell of the section rows and the foot is drawn narrower than its text: the text, in
    // the font the cell is drawn in, fits between the cell's margins and the grid line.
    void ExpectNoLapCellCut() {
        const int margin =
            Table()->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, Table()) + 1;
        for (int r = 0; r < Table()->rowCount(); ++r) {
            for (int c = 2; c < Table()->columnCount(); ++c) {
                const QTableWidgetItem* item = Table()->item(r, c);
                if (item == nullptr) continue;
                const QFont font = item->data(Qt::FontRole).isValid() ? item->font() : Table()->font();
                const int text = QFontMetrics(font).horizontalAdvance(item->text());
                EXPECT_LE(text + 2 * margin + 1, Table()->columnWidth(c))
                    << r << "," << c << " " << item->text().toStdString();
            }
        }
    }
    // The laps all show, side by side, with no horizontal scrolling.
    void ExpectAllLapsFit() {
        ASSERT_EQ(Table()->columnCount(), 8);
        EXPECT_LE(pane_.ColumnsWidth(), Table()->viewport()->width());
        EXPECT_FALSE(Table()->horizontalScrollBar()->isVisible());
        for (int c = 2; c < 8; ++c) EXPECT_FALSE(Table()->isColumnHidden(c)) << c;
        ExpectNoLapCellCut();
    }

    Comparison cmp_ = SixLaps();
    SectionsPane pane_;
};

TEST_F(SectionsPaneTest, AllSixLapsFitThePaneOfTheFirstStart) {
    for (int width : {350, 576}) {
        SCOPED_TRACE(width);
        Show(width);
        ExpectAllLapsFit();
        // With this much room the cells keep the pane's own font.
        EXPECT_EQ(Table()->font().pointSizeF(), pane_.font().pointSizeF());
    }
    // With room to spare the distances are shown and the names and titles are whole.
    Show(900);
    EXPECT_FALSE(Table()->isColumnHidden(1));
    EXPECT_EQ(Table()->item(2, 1)->text(), "600");
    EXPECT_GE(Table()->columnWidth(0), QFontMetrics(Table()->font()).horizontalAdvance("T12 Fernside"));
    EXPECT_TRUE(Table()->horizontalHeaderItem(3)->text().startsWith("JonasK\nMorrowRS"))
        << Table()->horizontalHeaderItem(3)->text().toStdString();
    // Narrow, the distances give way first and stay in the names' tooltips.
    Show(350);
    EXPECT_TRUE(Table()->isColumnHidden(1));
    EXPECT_TRUE(Table()->item(2, 0)->toolTip().contains("600 m"));
    // Titles are shortened in the header and whole in its tooltip.
    const QString header = Table()->horizontalHeaderItem(2)->text();
    EXPECT_TRUE(header.contains("(ref)"));
    EXPECT_FALSE(header.contains("InesVidal_Sable400"));
    EXPECT_TRUE(Table()->horizontalHeaderItem(2)->toolTip().startsWith("InesVidal_Sable400"));
}

// At 200 % on a 1920 x 1200 screen the program's default layout gives the pane 286 pixels
// (its table 266); at 150 % about 293. Alone, the pane's table is 266 wide at 272. The cells take a point smaller font and narrower margins
// there, and everything still shows whole: the gains, the reference's times, the bold foot.
TEST_F(SectionsPaneTest, AllSixLapsFitThePaneAtTwiceTheScaleWithASlightlySmallerFont) {
    Show(272);
    ASSERT_LE(Table()->viewport()->width(), 266);
    ExpectAllLapsFit();
    const double own = pane_.font().pointSizeF();
    EXPECT_LT(Table()->font().pointSizeF(), own);
    EXPECT_GE(Table()->font().pointSizeF(), own - 1.0);
    // The section names keep at least their corner numbers.
    const QFontMetrics fm(Table()->font());
    EXPECT_GE(Table()->columnWidth(0), fm.horizontalAdvance("T13…"));
    // The foot's names and the reference's lap time stay bold.
    EXPECT_TRUE(Table()->item(14, 0)->font().bold());
    EXPECT_TRUE(Table()->item(14, 2)->font().bold());
    EXPECT_TRUE(Table()->item(15, 2)->font().bold());
    // Sorted, with the caption above, and clicked, the table still fits and does not scroll.
    Table()->horizontalHeader()->sectionClicked(5);
    QCoreApplication::processEvents();
    ExpectAllLapsFit();
    QTest::mouseClick(Table()->viewport(), Qt::LeftButton, {},
                      Table()->visualItemRect(Table()->item(2, 0)).center());
    QCoreApplication::processEvents();
    EXPECT_EQ(Table()->horizontalScrollBar()->value(), 0);
    Table()->horizontalHeader()->sectionClicked(0);
    // Widened again, the table takes its own font back.
    pane_.resize(700, 460);
    QCoreApplication::processEvents();
    EXPECT_EQ(Table()->font().pointSizeF(), own);
    ExpectAllLapsFit();
    EXPECT_TRUE(Table()->item(14, 3)->font().bold());
}

// However the pane is sized down to its width at 200 %, in whatever order, the fit that follows leaves no lap column
// beyond the table's edge: a scroll bar that comes or goes while the columns are fitted is
// fitted for too.
TEST_F(SectionsPaneTest, EverySizeFromNarrowToWideIsFittedWithoutScrolling) {
    Show(576);
    for (int height : {700, 330, 460}) {
        for (int width = 286; width <= 620; width += 9) {
            SCOPED_TRACE(testing::Message() << width << " x " << height);
            pane_.resize(width, height);
            QCoreApplication::processEvents();
            EXPECT_LE(pane_.ColumnsWidth(), Table()->viewport()->width());
            EXPECT_EQ(Table()->horizontalScrollBar()->maximum(), 0);
            if (HasFailure()) return;
        }
    }
}

// A lap's title in the header is drawn in its slot's colour, made dark enough to read on the
// header where the colour itself is too light (the demo's yellow and cyan laps).
TEST_F(SectionsPaneTest, LapTitlesAreReadableOnTheHeaderInTheirSlotsColours) {
    Show(576);
    const QColor ground = Table()->horizontalHeader()->palette().color(QPalette::Button);
    for (int b = 0; b < 6; ++b) {
        const QColor title = Table()->horizontalHeaderItem(b + 2)->foreground().color();
        const QColor slot = QColor::fromRgb(kColours[static_cast<std::size_t>(b)] | 0xFF000000u);
        EXPECT_GE(ContrastRatio(title, ground), kReadableContrast) << b;
        // The hue is the slot's: a darkened colour, not another.
        if (ContrastRatio(slot, ground) >= kReadableContrast) {
            EXPECT_EQ(title, slot) << b;
        } else {
            EXPECT_NEAR(title.hueF(), slot.hueF(), 0.02) << b;
        }
    }
}

TEST(SectionNameToFit, GivesUpTheNameBeforeTheCornerNumber) {
    const QFontMetrics fm(QApplication::font());
    const QString name = "T2-3 Chicane";
    EXPECT_EQ(SectionNameToFit(name, fm, fm.horizontalAdvance(name)), name);
    EXPECT_EQ(SectionNameToFit(name, fm, fm.horizontalAdvance(name) - 1), "T2-3");
    EXPECT_EQ(SectionNameToFit(name, fm, fm.horizontalAdvance("T2-3")), "T2-3");
    // Narrower than the corner number: shortened, with the ellipsis, within the width.
    const QString cut = SectionNameToFit(name, fm, fm.horizontalAdvance("T2-3") - 1);
    EXPECT_TRUE(cut.endsWith(QChar(0x2026))) << cut.toStdString();
    EXPECT_LE(fm.horizontalAdvance(cut), fm.horizontalAdvance("T2-3") - 1);
    // A name of one word is shortened the same way.
    const QString start = SectionNameToFit("Millrace", fm, fm.horizontalAdvance("Millrace") - 1);
    EXPECT_TRUE(start.endsWith(QChar(0x2026))) << start.toStdString();
}

TEST(SectionGainText, ShowsAtMostThreeDigitsWithTheSignOfTheGain) {
    struct Row {
        const char* name;
        double seconds;
        const char* text;
    };
    const Row rows[] = {{"a loss under a second in hundredths", 0.123, "+0.12"},
                        {"a gain under a second", -0.087, "-0.09"},
                        {"a second and more in tenths", 1.26, "+1.3"},
                        {"a gain of seconds", -1.34, "-1.3"},
                        {"ten seconds and more whole", 12.4, "+12"},
                        {"rounding up to a second takes tenths", 0.996, "+1.0"},
                        {"rounding up to ten takes whole seconds", 9.96, "+10"},
                        {"a loss that rounds to nothing has no sign", 0.004, "0.00"},
                        {"nor a gain", -0.004, "0.00"},
                        {"no time", std::nan(""), "–"}};
    for (const Row& row : rows) {
        EXPECT_EQ(SectionGainText(row.seconds).toStdString(), row.text) << row.name;
    }
    // Every gain up to a minute and a half: three digits at most, so no cell is wider than
    // "+0.12", and the sign is the gain's.
    for (int ms = -90000; ms <= 90000; ms += 7) {
        const double v = ms / 1000.0;
        const QString text = SectionGainText(v);
        int digits = 0;
        for (QChar ch : text) digits += ch.isDigit() ? 1 : 0;
        EXPECT_LE(digits, 3) << v << " " << text.toStdString();
        if (std::fabs(v) >= 0.005) {
            EXPECT_EQ(text.startsWith('+'), v > 0) << v;
            EXPECT_NEAR(text.toDouble(), v, 0.5) << v;
        }
    }
}

TEST_F(SectionsPaneTest, ReferenceShowsTimesOthersTheirGainsWithTheTimesInTheTooltips) {
    Show(400);
    // Section T1 Millrace: the reference 7.123 s; lap 1 0.05 s slower, lap 3 the same 0.15 s.
    EXPECT_EQ(Table()->item(1, 2)->text(), "7.12");
    EXPECT_TRUE(Table()->item(1, 2)->toolTip().contains("7.123"));
    EXPECT_EQ(Table()->item(1, 3)->text(), "+0.05");
    EXPECT_TRUE(Table()->item(1, 3)->toolTip().contains("7.173 s"));
    EXPECT_TRUE(Table()->item(1, 3)->toolTip().contains("+0.050 s against InesVidal_Sable400"));
    EXPECT_EQ(Table()->item(1, 3)->foreground().color(), QColor(192, 24, 24));
    // T2-3 Chicane: lap 3 gains 0.223 s and is the best of all.
    EXPECT_EQ(Table()->item(2, 5)->text(), "-0.22");
    EXPECT_EQ(Table()->item(2, 5)->foreground().color(), QColor(0, 128, 40));
    EXPECT_EQ(Table()->item(2, 5)->background().color(), QColor(206, 176, 240));
    EXPECT_TRUE(Table()->item(2, 5)->toolTip().contains("Best of all laps"));
    EXPECT_NE(Table()->item(2, 2)->background().color(), QColor(206, 176, 240));
    // The foot: the reference's lap time, the others' gains over the lap, the theoretical best.
    const int lapRow = 14;
    EXPECT_EQ(Table()->item(lapRow, 0)->text(), "Lap");
    EXPECT_EQ(Table()->item(lapRow, 2)->text(), QString::number(cmp_.laps[0].time, 'f', 2));
    EXPECT_EQ(Table()->item(lapRow, 3)->text(), "+0.70");
    EXPECT_TRUE(Table()->item(lapRow, 3)->toolTip().contains(QString::number(cmp_.laps[1].time, 'f', 3)));
    EXPECT_EQ(Table()->item(lapRow + 1, 0)->text(), "Theoretical best");
    EXPECT_EQ(Table()->item(lapRow + 1, 2)->text(), QString::number(cmp_.theoreticalBest, 'f', 2));
    EXPECT_TRUE(Table()->item(lapRow + 1, 2)->font().bold());
}

TEST_F(SectionsPaneTest, SortingAndChoosingASectionStillWorkAndTheColumnsStillFit) {
    Show(350);
    QSignalSpy chosen(&pane_, &SectionsPane::sectionChosen);
    // Lap 3 loses most in every section but the chicane, where it gains: that comes last.
    Table()->horizontalHeader()->sectionClicked(5);
    EXPECT_EQ(pane_.SortLap(), 3);
    EXPECT_EQ(pane_.SectionAtRow(13), 2);
    EXPECT_EQ(Table()->item(13, 0)->text(), "T2-3 Chicane");
    EXPECT_TRUE(Table()->horizontalHeaderItem(5)->text().endsWith("▼"));
    EXPECT_TRUE(pane_.Caption()->text().contains("Marta_KestrelGT"));
    EXPECT_TRUE(pane_.Caption()->isVisible());
    EXPECT_LE(pane_.ColumnsWidth(), Table()->viewport()->width());
    const QRect cell = Table()->visualItemRect(Table()->item(13, 0));
    QTest::mouseClick(Table()->viewport(), Qt::LeftButton, {}, cell.center());
    ASSERT_EQ(chosen.count(), 1);
    EXPECT_EQ(chosen.at(0).at(0).value<std::size_t>(), 2u);
    // The foot chooses nothing.
    QTest::mouseClick(Table()->viewport(), Qt::LeftButton, {},
                      Table()->visualItemRect(Table()->item(14, 0)).center());
    EXPECT_EQ(chosen.count(), 1);
    Table()->horizontalHeader()->sectionClicked(0);
    EXPECT_EQ(pane_.SortLap(), -1);
    EXPECT_EQ(Table()->item(0, 0)->text(), "Start");
    // In track order the pane's title says all the caption would: it gives its line to a row.
    EXPECT_FALSE(pane_.Caption()->isVisible());
    // A wider pane is fitted again: the distances come back.
    ASSERT_TRUE(Table()->isColumnHidden(1));
    pane_.resize(900, 460);
    QCoreApplication::processEvents();
    EXPECT_FALSE(Table()->isColumnHidden(1));
    EXPECT_LE(pane_.ColumnsWidth(), Table()->viewport()->width());
}

}  // namespace
}  // namespace lapquill
