// The Traces and Sections panes in the running window: present with laps, the cursor following
// playback, a click on a trace moving the playback, a section click selecting its segment and
// zooming, Page Down zooming, the reference choice redrawing both panes and the delta colouring,
// the layout surviving a restart, and every export writing a file that reads back.
// The sample laps cover 10 m a record (lap i has 300 + i records, 0 .. 2990 m and more); the
// track's markers stand at 120.5 m ("Turn 1") and 980 m ("The Esses").
#include "app/analysis_panes.h"

#include <gtest/gtest.h>

#include <qcustomplot.h>
#include <QAction>
#include <QDockWidget>
#include <QFile>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QPaintEvent>
#include <QRegion>
#include <QScreen>
#include <QSettings>
#include <QTableWidget>
#include <QTest>
#include <QTreeView>
#include <QWheelEvent>
#include <cmath>
#include <vector>

#include "app/analysis_menu.h"
#include "app/analyzer_app.h"
#include "app/sections_pane.h"
#include "app/traces_pane.h"
#include "compare/compare.h"
#include "support/app_fixture.h"

namespace lapquill {
namespace {

class PanesTest : public test::MainWindowFixture {
protected:
    PanesTest() { lapCount_ = 3; }
    void Open(int laps) {
        frame_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(frame_.get()));
        frame_->OpenFiles(Laps(laps), true);
        Paint();
    }
    // A frame of the map, after which the panes catch up.
    void Paint() {
        frame_->View().viewport()->repaint();
        QCoreApplication::processEvents();
    }
    // Every queued repaint done.
    static void Settle() {
        for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
    }
    // A widget's pixels as the window last showed them (the offscreen screen keeps them).
    static QImage OnScreen(QWidget* widget) {
        QWidget* window = widget->window();
        const QPoint at = widget->mapTo(window, QPoint(0, 0));
        return window->screen()
            ->grabWindow(window->winId(), at.x(), at.y(), widget->width(), widget->height())
            .toImage()
            .convertToFormat(QImage::Format_RGB32);
    }
    AnalysisPanes& Panes() { return frame_->Panes(); }
    TracesPane& Traces() { return Panes().Traces(); }
    SectionsPane& Sections() { return Panes().Sections(); }
};

TEST_F(PanesTest, PanesArePresentWithTheLapsAndTheirSections) {
    Open(3);
    ASSERT_NE(Panes().TracesDock(), nullptr);
    EXPECT_EQ(Panes().TracesDock()->objectName(), "TracesDock");
    EXPECT_EQ(Panes().SectionsDock()->objectName(), "SectionsDock");
    EXPECT_TRUE(Panes().TracesDock()->isVisible());
    EXPECT_TRUE(Panes().SectionsDock()->isVisible());
    EXPECT_EQ(frame_->dockWidgetArea(Panes().TracesDock()), Qt::BottomDockWidgetArea);
    ASSERT_NE(Panes().Shown(), nullptr);
    EXPECT_EQ(Panes().Shown()->laps.size(), 3u);
    // Six plots of three laps each; the traces show the whole lap.
    EXPECT_EQ(Traces().Plot()->graphCount(), 18);
    EXPECT_NEAR(Traces().Range().lo, 0.0, 1e-9);
    EXPECT_NEAR(Traces().Range().hi, 2990.0, 1e-3);
    // Start, Turn 1, The Esses, then the lap totals and the theoretical best.
    QTableWidget* table = Sections().Table();
    ASSERT_EQ(table->rowCount(), 5);
    EXPECT_EQ(table->columnCount(), 5);
    EXPECT_EQ(table->item(1, 0)->text(), "Turn 1");
    EXPECT_EQ(table->item(2, 0)->text(), "The Esses");
    EXPECT_EQ(table->item(3, 0)->text(), "Lap");
    EXPECT_EQ(table->item(4, 0)->text(), "Theoretical best");
    // Section Turn 1 runs 120.5 .. 980 m at 10 m a record: 85.95 records.
    EXPECT_NEAR(table->item(1, 2)->text().toDouble(), 0.8595, 0.0006) << table->item(1, 2)->text().toStdString();
    EXPECT_TRUE(Panes().TracesDock()->windowTitle().contains("lap0"));
    // The menu carries the pane toggles, the reference and the exports, with prompts.
    const QList<QAction*> items = frame_->Analysis().Menu()->actions();
    EXPECT_TRUE(items.contains(Panes().TracesDock()->toggleViewAction()));
    EXPECT_TRUE(items.contains(Panes().SectionsDock()->toggleViewAction()));
    EXPECT_TRUE(items.contains(Panes().ReferenceMenu()->menuAction()));
    for (auto what : {AnalysisPanes::Export::ComparisonCsv, AnalysisPanes::Export::MapPng,
                      AnalysisPanes::Export::TracesPng, AnalysisPanes::Export::SectionsCsv}) {
        EXPECT_FALSE(Panes().ExportAction(what)->statusTip().isEmpty());
        EXPECT_FALSE(Panes().ExportAction(what)->shortcut().isEmpty());
    }
    // Hiding a pane from the menu hides its dock.
    Panes().SectionsDock()->toggleViewAction()->trigger();
    EXPECT_FALSE(Panes().SectionsDock()->isVisible());
}

TEST_F(PanesTest, CursorFollowsThePlaybackTimeInEverySyncMode) {
    Open(3);
    View().SetPlaybackTime(100);
    Paint();
    ASSERT_TRUE(Traces().Cursor().has_value());
    EXPECT_NEAR(*Traces().Cursor(), 1000.0, 1e-3);
    // The window's first layout may resize the plots, which samples the curves again once
    // it settles; after that only a zoom or new laps may.
    QTest::qWait(150);
    const int builds = Traces().CurveBuilds();
    View().SetPlaybackTime(230);
    Paint();
    EXPECT_NEAR(*Traces().Cursor(), 2300.0, 1e-3);
    // Moving the cursor samples no curve again.
    EXPECT_EQ(Traces().CurveBuilds(), builds);
    // Playback at 2300 m went past The Esses, whose segment lap time now follows. Synced to
    // the segment marker, time 0 is the record nearest The Esses (980 m -> record 98).
    EXPECT_EQ(View().Segments().currentSegment, 1);
    frame_->RunCommand(ID_SYNC_SEGMENT_MARKER);
    View().SetPlaybackTime(5);
    Paint();
    EXPECT_NEAR(*Traces().Cursor(), 1030.0, 1e-3);
}

TEST_F(PanesTest, AClickOnATraceMovesThePlaybackToThatDistance) {
    Open(3);
    QCustomPlot* plot = Traces().Plot();
    const QPoint at = Traces().PixelAtDistance(1500.0);
    // The distance under the pixel clicked, to the nearest record of 10 m.
    const double x = Traces().DistanceAtPixel(at.x());
    ASSERT_NEAR(x, 1500.0, 15.0);
    QTest::mouseClick(plot, Qt::LeftButton, {}, at);
    EXPECT_EQ(View().Playback().playbackTime, std::lround(x / 10.0));
    Paint();
    EXPECT_NEAR(*Traces().Cursor(), 10.0 * std::lround(x / 10.0), 1e-3);

    // 1500 m lies in The Esses' segment. In segment-marker sync the time counts from its
    // marker (record 98), and a click before the segment stops at its start.
    EXPECT_EQ(View().Segments().currentSegment, 1);
    frame_->RunCommand(ID_SYNC_SEGMENT_MARKER);
    const QPoint inside = Traces().PixelAtDistance(2000.0);
    QTest::mouseClick(plot, Qt::LeftButton, {}, inside);
    EXPECT_EQ(View().Playback().playbackTime,
              std::lround(Traces().DistanceAtPixel(inside.x()) / 10.0) - 98);
    QTest::mouseClick(plot, Qt::LeftButton, {}, Traces().PixelAtDistance(500.0));
    EXPECT_EQ(View().Playback().playbackTime, 0);
}

TEST_F(PanesTest, WheelZoomsAroundTheMouseAndDoubleClickShowsTheWholeLap) {
    Open(3);
    QCustomPlot* plot = Traces().Plot();
    const QPoint at = Traces().PixelAtDistance(1000.0);
    const double under = Traces().DistanceAtPixel(at.x());
    QWheelEvent wheel(QPointF(at), plot->mapToGlobal(QPointF(at)), QPoint(), QPoint(0, 120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(plot, &wheel);
    EXPECT_LT(Traces().Range().Width(), 2990.0 * 0.9);
    EXPECT_NEAR(Traces().DistanceAtPixel(at.x()), under, 2.0);
    QTest::mouseDClick(plot, Qt::LeftButton, {}, at);
    EXPECT_NEAR(Traces().Range().Width(), 2990.0, 1e-3);
}

TEST_F(PanesTest, SectionClickSelectsTheSegmentAndZoomsAndPageDownZoomsToo) {
    Open(3);
    QTableWidget* table = Sections().Table();
    const QRect cell = table->visualItemRect(table->item(2, 0));  // The Esses
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell.center());
    // The Esses is the second marker: the view selects its segment, the traces zoom to it.
    EXPECT_EQ(View().Segments().currentSegment, 1);
    // With a margin of 3 % before it; the lap ends where it does.
    EXPECT_NEAR(Traces().Range().lo, 980.0 - 0.03 * 2010.0, 1e-3);
    EXPECT_NEAR(Traces().Range().hi, 2990.0, 1e-3);

    // Page Up (the key of the first program) goes back to Turn 1's segment: the traces follow.
    QTest::keyClick(&frame_->View(), Qt::Key_PageUp);
    EXPECT_EQ(View().Segments().currentSegment, 0);
    // Turn 1's record 12 to the record before The Esses' (98), 3 % of that beyond each end.
    EXPECT_NEAR(Traces().Range().lo, 120.0 - 0.03 * 850.0, 1e-3);
    EXPECT_NEAR(Traces().Range().hi, 970.0 + 0.03 * 850.0, 1e-3);
    ASSERT_TRUE(Traces().Cursor().has_value());
    EXPECT_GT(*Traces().Cursor(), Traces().Range().lo);
    // ...and the Sections pane marks Turn 1's row.
    const auto selectedSection = [&]() -> std::int32_t {
        const QList<QTableWidgetItem*> items = table->selectedItems();
        return items.isEmpty() ? -1 : Sections().SectionAtRow(items.front()->row());
    };
    EXPECT_EQ(selectedSection(), 1);
    QTest::keyClick(&frame_->View(), Qt::Key_PageDown);
    EXPECT_EQ(selectedSection(), 2);

    // Sorting by a lap's loss is one click on its header; Section restores track order.
    table->horizontalHeader()->sectionClicked(3);
    EXPECT_EQ(Sections().SortLap(), 1);
    EXPECT_TRUE(Sections().Caption()->text().contains("lap1"));
    table->horizontalHeader()->sectionClicked(0);
    EXPECT_EQ(Sections().SortLap(), -1);
    EXPECT_EQ(table->item(0, 0)->text(), "Start");
}

TEST_F(PanesTest, ReferenceChoiceRedrawsBothPanesAndTheDeltaColouring) {
    Open(3);
    const int builds = Traces().CurveBuilds();
    frame_->Analysis().Colouring(3)->trigger();  // by delta
    Panes().ReferenceMenu()->aboutToShow();
    QAction* third = nullptr;
    for (QAction* a : Panes().ReferenceMenu()->actions()) {
        if (a->text().contains("lap2")) third = a;
    }
    ASSERT_NE(third, nullptr);
    third->trigger();
    ASSERT_NE(Panes().Shown(), nullptr);
    EXPECT_EQ(Panes().Shown()->reference, 2);
    EXPECT_GT(Traces().CurveBuilds(), builds);
    EXPECT_TRUE(Panes().TracesDock()->windowTitle().contains("lap2"));
    EXPECT_TRUE(Panes().SectionsDock()->windowTitle().contains("lap2"));
    // The menu's toggles keep their own names and mnemonics when the titles change.
    EXPECT_EQ(Panes().TracesDock()->toggleViewAction()->text().toStdString(), "T&races Pane");
    EXPECT_EQ(Panes().SectionsDock()->toggleViewAction()->text().toStdString(), "S&ections Pane");
    EXPECT_TRUE(Sections().Caption()->text().contains("lap2"));
    EXPECT_TRUE(Sections().Table()->horizontalHeaderItem(4)->text().contains("(ref)"));
    EXPECT_TRUE(Traces().Readout()->Text().contains("lap2 (ref)"));
    EXPECT_EQ(View().ComparisonReference(), 2);
    const std::vector<LegendEntry> legend = View().RibbonLegendNow();
    ASSERT_FALSE(legend.empty());
    EXPECT_EQ(legend.back().text, "against lap2");
    // The table's Timing Diff keeps measuring against the first lap: unchanged by the choice.
    EXPECT_EQ(View().PlaybackTimingDifference(0), 0.0f);

    // A set with fewer laps than the chosen slot measures against slot 0 again.
    frame_->OpenFiles(Laps(2), true);
    Paint();
    ASSERT_NE(Panes().Shown(), nullptr);
    EXPECT_EQ(Panes().Shown()->reference, 0);
    EXPECT_EQ(View().ComparisonReference(), 0);
}

// The first start (no saved layout) on a 1280 x 800 window: the map has the largest area, the
// library runs down the left at about a fifth of the width, the plots are at least 600 pixels
// wide and the readout stands below them; on a narrow window the library waits in a tab.
TEST_F(PanesTest, FirstStartGivesTheMapTheMostRoomAndThePlotsTheirWidth) {
    frame_->resize(1280, 800);
    Open(3);
    QTest::qWait(100);
    const QSize map = frame_->View().size();
    const QSize traces = Panes().TracesDock()->size();
    const QSize sections = Panes().SectionsDock()->size();
    auto* library = frame_->findChild<QDockWidget*>(QStringLiteral("LibraryDock"));
    ASSERT_NE(library, nullptr);
    const int mapArea = map.width() * map.height();
    for (const QSize& pane : {traces, sections, library->size()}) {
        EXPECT_GT(mapArea, pane.width() * pane.height());
    }
    EXPECT_NEAR(library->width(), 1280 * 22 / 100, 30);
    EXPECT_GT(library->height(), frame_->height() * 3 / 4);  // beside the panes, not above them
    EXPECT_GE(Traces().Plot()->width(), 600);
    const QPoint plotBottom =
        Traces().Plot()->mapTo(frame_.get(), QPoint(0, Traces().Plot()->height()));
    EXPECT_GE(Traces().Readout()->mapTo(frame_.get(), QPoint(0, 0)).y(), plotBottom.y());

    frame_.reset();
    QSettings(QStringLiteral("Harrowmere"), QStringLiteral("Lapquill")).clear();
    frame_ = std::make_unique<CMainFrame>(&settings_);
    frame_->resize(960, 560);
    frame_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frame_.get()));
    QTest::qWait(100);
    library = frame_->findChild<QDockWidget*>(QStringLiteral("LibraryDock"));
    EXPECT_TRUE(frame_->tabifiedDockWidgets(library).contains(Panes().SectionsDock()));
    EXPECT_GE(Traces().Plot()->width(), 600);
}

TEST_F(PanesTest, LayoutIsRestoredAfterARestart) {
    frame_.reset();
    {
        CAnalyzerApp app("lapquill");
        ASSERT_TRUE(app.InitInstance());
        CMainFrame* frame = app.Frame();
        QCoreApplication::processEvents();
        frame->addDockWidget(Qt::TopDockWidgetArea, frame->Panes().TracesDock());
        frame->Panes().SectionsDock()->hide();
        frame->close();
        app.ExitInstance(0);
    }
    CAnalyzerApp again("lapquill");
    ASSERT_TRUE(again.InitInstance());
    CMainFrame* frame = again.Frame();
    QCoreApplication::processEvents();
    EXPECT_EQ(frame->dockWidgetArea(frame->Panes().TracesDock()), Qt::TopDockWidgetArea);
    EXPECT_TRUE(frame->Panes().TracesDock()->isVisible());
    EXPECT_FALSE(frame->Panes().SectionsDock()->isVisible());
    frame->close();
    again.ExitInstance(0);
}

TEST_F(PanesTest, EveryExportWritesAFileThatReadsBack) {
    Open(2);
    using E = AnalysisPanes::Export;
    EXPECT_EQ(Panes().SuggestedFileName(E::SectionsCsv), "Harrow Vale GP - lap0 vs lap1 sections.csv");

    // Through the menu's route: the save dialog answered with a path in the test's folder.
    const QString csv = QString::fromStdString(dir_.File("cmp.csv"));
    QString suggested;
    Panes().SetSaveChooser([&](const QString& s, const QString&) {
        suggested = s;
        return csv;
    });
    ASSERT_TRUE(Panes().RunExport(E::ComparisonCsv));
    EXPECT_TRUE(suggested.endsWith("Harrow Vale GP - lap0 vs lap1.csv"));
    QFile f(csv);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = f.readAll().split('\n');
    ASSERT_GT(lines.size(), 2);
    EXPECT_TRUE(lines[0].startsWith("distance (m),lap0 time (s),lap0 delta (s)"));
    // 1 m steps from 0 below 2990 m, then 2990 m; a header; the last line break. At 999 m
    // the lap is 99.9 records (0.999 s) in, level with itself.
    EXPECT_EQ(lines.size(), 1 + 2990 + 1 + 1);
    EXPECT_TRUE(lines[1000].startsWith("999,0.999,0,")) << lines[1000].left(60).toStdString();

    const QString sections = QString::fromStdString(dir_.File("sections.csv"));
    ASSERT_TRUE(Panes().ExportTo(E::SectionsCsv, sections));
    QFile s(sections);
    ASSERT_TRUE(s.open(QIODevice::ReadOnly));
    const QList<QByteArray> rows = s.readAll().split('\n');
    ASSERT_EQ(rows.size(), 7);  // header, 3 sections, lap, theoretical best, end
    EXPECT_TRUE(rows[2].startsWith("Turn 1,120.5,980,"));

    const QString map = QString::fromStdString(dir_.File("map.png"));
    ASSERT_TRUE(Panes().ExportTo(E::MapPng, map));
    const QImage mapImage(map);
    EXPECT_FALSE(mapImage.isNull());
    EXPECT_EQ(mapImage.width(),
              qRound(frame_->View().viewport()->width() * frame_->View().viewport()->devicePixelRatioF()));

    const QString traces = QString::fromStdString(dir_.File("traces.png"));
    ASSERT_TRUE(Panes().ExportTo(E::TracesPng, traces));
    const QImage tracesImage(traces);
    ASSERT_FALSE(tracesImage.isNull());
    EXPECT_EQ(tracesImage.width(), Traces().Plot()->width());

    // A folder that does not exist: no file, and a message that says why.
    const std::size_t before = frame_->View().Messages().size();
    const QString nowhere = QString::fromStdString(dir_.File("no/such/folder/x.csv"));
    EXPECT_FALSE(Panes().ExportTo(E::SectionsCsv, nowhere));
    ASSERT_EQ(frame_->View().Messages().size(), before + 1);
    EXPECT_NE(frame_->View().Messages().back().find("Could not write"), std::string::npos);
    EXPECT_FALSE(QFile::exists(nowhere));
    // A cancelled dialog writes nothing and says nothing.
    Panes().SetSaveChooser([](const QString&, const QString&) { return QString(); });
    EXPECT_FALSE(Panes().RunExport(E::TracesPng));
    EXPECT_EQ(frame_->View().Messages().size(), before + 1);
}

// The pixels of column x in the cursor's colour.
int CursorRows(const QImage& image, int x) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y) n += image.pixel(x, y) == qRgb(20, 20, 20) ? 1 : 0;
    return n;
}

// Playback moves the cursor by repainting only the strips it left and entered: what the window
// shows afterwards is what a full paint of the plots shows, and the export carries the cursor.
TEST_F(PanesTest, CursorRepaintsLeaveWhatAFullPaintShows) {
    Open(3);
    QTest::qWait(150);
    QCustomPlot* plot = Traces().Plot();
    View().SetPlaybackTime(100);
    Paint();
    Settle();
    ASSERT_TRUE(Traces().CursorPixel().has_value());
    const int first = *Traces().CursorPixel();
    EXPECT_NEAR(first, Traces().PixelAtDistance(1000.0).x(), 1);
    const QImage before = OnScreen(plot);
    EXPECT_GT(CursorRows(before, first), plot->height() / 2);

    View().SetPlaybackTime(230);
    Paint();
    Settle();
    ASSERT_TRUE(Traces().CursorPixel().has_value());
    const int second = *Traces().CursorPixel();
    ASSERT_GT(second - first, 20);
    const QImage after = OnScreen(plot);
    EXPECT_GT(CursorRows(after, second), plot->height() / 2);
    EXPECT_LT(CursorRows(after, first), CursorRows(before, first) / 4);
    const QImage full = plot->grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(full.size(), after.size());
    int differ = 0;
    for (int y = 0; y < full.height(); ++y) {
        for (int x = 0; x < full.width(); ++x) differ += full.pixel(x, y) != after.pixel(x, y) ? 1 : 0;
    }
    EXPECT_EQ(differ, 0);

    // The readout catches up with the cursor within a tenth of a second.
    View().SetPlaybackTime(231);
    Paint();
    QTest::qWait(150);
    EXPECT_TRUE(Traces().Readout()->Text().contains("2310.0 m"))
        << Traces().Readout()->Text().toStdString();

    const QImage exported = Traces().Image().toImage();
    EXPECT_GT(CursorRows(exported, *Traces().CursorPixel()), plot->height() / 2);
    EXPECT_LT(CursorRows(exported, first), plot->height() / 8);
}

// Records the regions a widget is asked to paint.
class PaintRecorder : public QObject {
  public:
    explicit PaintRecorder(QWidget* widget) { widget->installEventFilter(this); }
    QRegion painted;
    int paints = 0;

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            painted += static_cast<QPaintEvent*>(event)->region();
            ++paints;
        }
        return false;
    }
};

// Once the window has settled, playback frames repaint the map, the cursor's strips of the
// plots and the readout's cells, and nothing of the sections' table or the library beside them.
TEST_F(PanesTest, PlaybackFramesLeaveTheTablesAndTheCurvesAlone) {
    frame_->resize(1280, 800);
    Open(3);
    QTest::qWait(200);
    Settle();
    auto* library = frame_->findChild<QTreeView*>(QStringLiteral("libraryLaps"));
    ASSERT_NE(library, nullptr);
    PaintRecorder table(Sections().Table()->viewport());
    PaintRecorder header(Sections().Table()->horizontalHeader()->viewport());
    PaintRecorder laps(library->viewport());
    PaintRecorder plot(Traces().Plot());
    for (int t = 100; t < 130; t += 3) {
        View().SetPlaybackTime(t);
        Paint();
    }
    QTest::qWait(150);
    Settle();
    EXPECT_EQ(table.paints, 0);
    EXPECT_EQ(header.paints, 0);
    EXPECT_EQ(laps.paints, 0);
    // The cursor moved every frame: strips a few pixels wide, far from the whole plot.
    EXPECT_GT(plot.paints, 0);
    const QRect bounds = plot.painted.boundingRect();
    int area = 0;
    for (const QRect& r : plot.painted) area += r.width() * r.height();
    EXPECT_LT(area, Traces().Plot()->width() * Traces().Plot()->height() / 5)
        << bounds.width() << " x " << bounds.height();
}

// The readout at 2310 m shows what the rich-text readout it replaced showed there: the sample
// laps are level (delta 0), and every channel rises with the record.
TEST_F(PanesTest, ReadoutShowsEveryLapsValuesAtTheCursor) {
    Open(3);
    View().SetPlaybackTime(231);
    Paint();
    QTest::qWait(150);
    TraceReadout* readout = Traces().Readout();
    ASSERT_EQ(readout->Rows(), 4u);
    ASSERT_EQ(readout->Columns(), 7u);
    EXPECT_EQ(readout->Cell(0, 0), "2310.0 m (cursor)");
    const QStringList headings = {"Delta s", "km/h", "Throttle %", "Brake %", "Steer deg", "Gear"};
    const QStringList values = {"0.000", "977.4", "23125", "23150", "-1654.4", "232"};
    const QStringList names = {"lap0 (ref)", "lap1", "lap2"};
    for (int c = 0; c < 6; ++c) EXPECT_EQ(readout->Cell(0, c + 1), headings[c]);
    for (int r = 1; r <= 3; ++r) {
        EXPECT_EQ(readout->Cell(r, 0), names[r - 1]);
        for (int c = 0; c < 6; ++c)
            EXPECT_EQ(readout->Cell(r, c + 1), values[c]) << "row " << r << " column " << c;
    }
    // Every text fits its cell, and no cell runs into the next.
    for (std::size_t r = 0; r < readout->Rows(); ++r) {
        for (std::size_t c = 0; c < readout->Columns(); ++c) {
            const int room =
                readout->CellRect(r, c).width() - (c == 0 ? readout->SwatchWidth() : 0);
            EXPECT_LE(readout->TextWidth(readout->Cell(r, c), r == 0), room) << r << "," << c;
            if (c + 1 < readout->Columns()) {
                EXPECT_LT(readout->CellRect(r, c).right(), readout->CellRect(r, c + 1).left())
                    << r << "," << c;
            }
        }
    }
    // Painted: each lap's colour before its name, and ink in every value's cell.
    const QImage image = readout->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QRgb colours[] = {qRgb(0, 0, 255), qRgb(255, 0, 0), qRgb(0, 255, 0)};
    const QRgb paper = image.pixel(image.width() - 1, image.height() - 1);
    for (int r = 1; r <= 3; ++r) {
        const QRect name = readout->CellRect(r, 0);
        int swatch = 0;
        for (int x = name.left(); x < name.left() + readout->SwatchWidth(); ++x) {
            swatch += image.pixel(x, name.center().y()) == colours[r - 1] ? 1 : 0;
        }
        EXPECT_GT(swatch, 3) << "row " << r;
        for (int c = 1; c < 7; ++c) {
            const QRect cell = readout->CellRect(r, c);
            int ink = 0;
            for (int y = cell.top(); y <= cell.bottom(); ++y) {
                for (int x = cell.left(); x <= cell.right(); ++x)
                    ink += image.pixel(x, y) != paper ? 1 : 0;
            }
            EXPECT_GT(ink, 5) << "row " << r << " column " << c;
        }
    }
}

// The readout shows the values under a mouse moving over the plots, and follows the playback
// again once it leaves; a pointer merely resting on the plots (where the window opened, or
// after a click) leaves it following the playback.
TEST_F(PanesTest, ReadoutFollowsTheMouseOnlyWhileItMovesOverThePlots) {
    Open(3);
    View().SetPlaybackTime(100);
    Paint();
    QTest::qWait(150);
    TraceReadout* readout = Traces().Readout();
    ASSERT_EQ(readout->Cell(0, 0).toStdString(), "1000.0 m (cursor)");
    QCustomPlot* plot = Traces().Plot();
    // Resting there: the window system says the pointer is over the plot, nothing moved.
    plot->setAttribute(Qt::WA_UnderMouse, true);
    View().SetPlaybackTime(150);
    Paint();
    QTest::qWait(150);
    EXPECT_EQ(readout->Cell(0, 0).toStdString(), "1500.0 m (cursor)");
    // Moving over a plot: the readout reads there and the playback does not take it back.
    QTest::mouseMove(plot, plot->axisRect(1)->rect().center());
    EXPECT_TRUE(readout->Cell(0, 0).endsWith("m (mouse)")) << readout->Cell(0, 0).toStdString();
    View().SetPlaybackTime(200);
    Paint();
    QTest::qWait(150);
    EXPECT_TRUE(readout->Cell(0, 0).endsWith("m (mouse)")) << readout->Cell(0, 0).toStdString();
    // Leaving the plots gives it back to the playback at once.
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(plot, &leave);
    EXPECT_EQ(readout->Cell(0, 0).toStdString(), "2000.0 m (cursor)");
}

// A text wider than its column widens the column and moves the columns after it, so no text
// is cut or runs into its neighbour; a new grid starts empty, a message replaces it.
TEST(TraceReadoutGrid, WidensAColumnForAWiderTextAndStartsEachGridEmpty) {
    TraceReadout readout;
    readout.SetGrid(2, {10, 10, 10});
    readout.SetCell(0, 1, "Speed");
    readout.SetCell(1, 1, "-88888.8");
    readout.SetCell(1, 2, "7");
    const int wide = readout.TextWidth("-88888.8", false);
    EXPECT_GE(readout.CellRect(1, 1).width(), wide);
    EXPECT_GE(readout.CellRect(0, 1).width(), readout.TextWidth("Speed", true));
    EXPECT_LT(readout.CellRect(1, 1).right(), readout.CellRect(1, 2).left());
    EXPECT_GE(readout.sizeHint().width(), readout.CellRect(1, 2).right());
    EXPECT_EQ(readout.Text(), "\tSpeed\t\n\t-88888.8\t7\n");
    readout.SetGrid(1, {10});
    EXPECT_EQ(readout.Cell(0, 0), "");
    readout.ShowMessage("Nothing open");
    EXPECT_EQ(readout.Text(), "Nothing open");
    EXPECT_EQ(readout.Rows(), 0u);
}

// Following the cursor repaints the cells whose text changed and nothing else: here the
// distance and every channel change while the laps stay level, so the delta column and the
// names are left alone; the same place again repaints nothing.
TEST_F(PanesTest, ReadoutRepaintsOnlyTheCellsThatChanged) {
    Open(3);
    View().SetPlaybackTime(231);
    Paint();
    QTest::qWait(150);
    Settle();
    TraceReadout* readout = Traces().Readout();
    const QString before = readout->Text();
    PaintRecorder recorder(readout);
    View().SetPlaybackTime(232);
    Paint();
    QTest::qWait(150);
    Settle();
    ASSERT_NE(readout->Text(), before);
    EXPECT_EQ(readout->Cell(1, 2), "981.0");
    QRegion changed = readout->CellRect(0, 0);
    for (std::size_t r = 1; r < readout->Rows(); ++r) {
        for (std::size_t c = 2; c < readout->Columns(); ++c) changed += readout->CellRect(r, c);
        EXPECT_FALSE(recorder.painted.intersects(readout->CellRect(r, 0))) << "name of row " << r;
        EXPECT_FALSE(recorder.painted.intersects(readout->CellRect(r, 1))) << "delta of row " << r;
    }
    EXPECT_GT(recorder.paints, 0);
    EXPECT_TRUE(recorder.painted.intersects(readout->CellRect(0, 0)));
    EXPECT_TRUE((recorder.painted - changed).isEmpty()) << recorder.painted.boundingRect().width();
    for (std::size_t c = 1; c < readout->Columns(); ++c) {
        EXPECT_FALSE(recorder.painted.intersects(readout->CellRect(0, c))) << "heading " << c;
    }

    // Frames at the same place: the readout keeps its pixels.
    recorder.painted = QRegion();
    recorder.paints = 0;
    Paint();
    Paint();
    QTest::qWait(150);
    Settle();
    EXPECT_EQ(recorder.paints, 0) << recorder.painted.boundingRect().width();
    EXPECT_EQ(readout->Cell(1, 2), "981.0");
}

// The program starts, opens laps and shows their traces without a line on the console.
TEST_F(PanesTest, StartsAndShowsLapsWithoutAWarning) {
    frame_.reset();
    static QStringList messages;
    messages.clear();
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString& m) { messages << m; });
    frame_ = std::make_unique<CMainFrame>(&settings_);
    frame_->View().SetQuietMessages(true);
    frame_->resize(800, 600);
    Open(3);
    QTest::qWait(100);
    qInstallMessageHandler(previous);
    EXPECT_TRUE(messages.isEmpty()) << messages.join('\n').toStdString();
}

// The section names stand on a strip of their own above the delta plot, level, each between
// its section's lines: never on each other nor on the plot's name "Delta s", on a wide window
// and on the narrow ones a larger scale gives (1280 or 960 pixels of screen at 150 % and 200 %
// leave a window of about 850 or 640 pixels). What does not fit shows shortened or not at all;
// the tooltip over the strip still names the section in full.
TEST_F(PanesTest, SectionNamesStandOnTheirOwnStripAndNeverOverlap) {
    const auto box = [](const QCPItemText* t) {
        QPolygonF corners;
        for (const QCPItemAnchor* a : {t->topLeft, t->topRight, t->bottomRight, t->bottomLeft}) {
            corners << a->pixelPosition();
        }
        return corners.boundingRect();
    };
    const QStringList full = {"Start", "Turn 1", "The Esses"};
    const QStringList shortened = {"S", "T1", "TE"};
    for (const int width : {1600, 850, 640}) {
        SCOPED_TRACE(width);
        frame_->resize(width, 700);
        Open(3);
        QTest::qWait(150);
        QCustomPlot* plot = Traces().Plot();
        const QRect delta = plot->axisRect(0)->rect();
        QCPItemText* deltaName = nullptr;
        std::vector<QCPItemText*> labels;
        for (int i = 0; i < plot->itemCount(); ++i) {
            auto* t = qobject_cast<QCPItemText*>(plot->item(i));
            if (!t) continue;
            if (t->text() == "Delta s") deltaName = t;
            if (!t->clipToAxisRect()) labels.push_back(t);
        }
        ASSERT_NE(deltaName, nullptr);
        ASSERT_EQ(labels.size(), 3u);  // Start, Turn 1, The Esses
        const QRectF name = box(deltaName);
        ASSERT_GT(name.width(), 0);
        std::vector<QRectF> shown;
        for (std::size_t i = 0; i < labels.size(); ++i) {
            const QCPItemText* label = labels[i];
            const QString text = label->text();
            if (!label->visible()) continue;
            const QRectF b = box(label);
            SCOPED_TRACE(text.toStdString());
            EXPECT_FALSE(b.intersects(name));
            EXPECT_LE(b.bottom(), delta.top() + 0.5);
            EXPECT_GE(b.top(), -0.5);
            EXPECT_GE(b.left(), delta.left());
            EXPECT_LE(b.right(), delta.right() + 1);
            EXPECT_GE(b.height(), QFontMetrics(label->font()).height() - 1);  // level, not turned
            for (const QRectF& other : shown) EXPECT_FALSE(b.intersects(other));
            shown.push_back(b);
            const bool elided = text.endsWith(QChar(0x2026)) &&
                                full[i].startsWith(text.chopped(1)) && text.size() > 4;
            EXPECT_TRUE(text == full[i] || text == shortened[i] || elided);
        }
        // Each section's name, whatever its strip shows, on hover.
        const int stripY = delta.top() - 3;
        EXPECT_EQ(Traces().SectionNameAt({Traces().PixelAtDistance(1500.0).x(), stripY}),
                  "The Esses");
        EXPECT_EQ(Traces().SectionNameAt({Traces().PixelAtDistance(500.0).x(), stripY}), "Turn 1");
        EXPECT_EQ(Traces().SectionNameAt({Traces().PixelAtDistance(60.0).x(), stripY}), "Start");
        EXPECT_EQ(Traces().SectionNameAt(Traces().PixelAtDistance(1500.0)),
                  "");  // on the plot itself
        if (width == 1600) {
            // Room enough for the long sections' names in full (Start's 120 m are a few
            // letters wide); "The Esses" where its section starts.
            for (std::size_t i = 1; i < labels.size(); ++i) EXPECT_EQ(labels[i]->text(), full[i]);
            EXPECT_NEAR(box(labels[2]).left(), Traces().PixelAtDistance(980.0).x(), 6);
        }
        // Zoomed to Turn 1, its name has the plot's width; the names of the sections cut at the
        // plot's edges still keep inside it.
        Traces().ShowRange({100.0, 1000.0});
        for (const QCPItemText* label : labels) {
            if (!label->visible()) continue;
            EXPECT_GE(box(label).left(), delta.left());
            EXPECT_LE(box(label).right(), delta.right() + 1);
        }
        EXPECT_EQ(labels[1]->text(), "Turn 1");
    }
}

// On plots a few lines tall the value labels keep at least a label's height apart.
TEST_F(PanesTest, ValueLabelsNeverRunIntoEachOther) {
    frame_->resize(800, 480);
    Open(3);
    QTest::qWait(150);
    QCustomPlot* plot = Traces().Plot();
    ASSERT_EQ(plot->axisRectCount(), 6);
    for (int k = 0; k < plot->axisRectCount(); ++k) {
        QCPAxis* y = plot->axisRect(k)->axis(QCPAxis::atLeft);
        const int labelHeight = QFontMetrics(y->tickLabelFont()).height();
        std::vector<double> shown;
        for (double v : y->tickVector()) {
            if (y->range().contains(v)) shown.push_back(y->coordToPixel(v));
        }
        EXPECT_GE(shown.size(), 1u) << "plot " << k;
        for (std::size_t i = 1; i < shown.size(); ++i) {
            EXPECT_GE(std::abs(shown[i] - shown[i - 1]), labelHeight)
                << "plot " << k << ", " << plot->axisRect(k)->height() << " pixels tall";
        }
    }
}

}  // namespace
}  // namespace lapquill
