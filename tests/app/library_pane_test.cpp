// The Library pane in the main frame, offscreen: laps of two tracks and a damaged file in a
// watched folder, scanned on the pane's thread; filters, sorting, best-lap marks, the ways of
// opening and adding laps, folder changes, a quit in the middle of a scan, and library files
// the pane must refuse without touching them.
#include "app/library_pane.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QThread>
#include <QTreeView>
#include <QUrl>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "app/analyzer_app.h"
#include "app/app_settings.h"
#include "app/main_frame.h"
#include "app/view_widget.h"
#include "library/sqlite_db.h"
#include "support/replay_builder.h"
#include "view/analysis_view.h"

namespace lapquill {
namespace {

namespace fs = std::filesystem;

struct LapFile {
    const char* name;
    const char* player;
    const char* car;
    const char* track;
    const char* config;
    std::int32_t lapMs;
};

// Two configurations of one track and a second track; Ben is fastest at Harrow Vale GP, Anna
// alone at Harrow Vale Club, Erik at Kestrel Ring. Carla and Dan differ in the minutes digit
// count, which a sort by text would put in the wrong order.
constexpr LapFile kLaps[] = {
    {"anna_gp", "^1Anna", "Formula Vee", "Harrow Vale", "GP", 83456},
    {"ben_gp", "Ben", "Sable 400", "Harrow Vale", "GP", 81200},
    {"carla_gp", "Carla", "Sable 400", "Harrow Vale", "GP", 599000},
    {"dan_gp", "Dan", "Kestrel GT", "Harrow Vale", "GP", 600000},
    {"anna_club", "Anna", "Formula Vee", "Harrow Vale", "Club", 70000},
    {"ben_ring", "Ben", "Sable 400", "Kestrel Ring", "GP", 90000},
    {"erik_ring", "Erik", "Kestrel GT", "Kestrel Ring", "GP", 88500},
};
constexpr int kLapCount = static_cast<int>(std::size(kLaps));
constexpr int kValeGpCount = 4;

std::vector<std::uint8_t> LapBytes(const LapFile& f) {
    test::LapPlan plan;
    plan.player = f.player;
    plan.car = f.car;
    plan.track = f.track;
    plan.config = f.config;
    plan.splitTimes = {f.lapMs / 3, 2 * (f.lapMs / 3), f.lapMs};
    plan.records = 200;
    return EncodeReplayFile(test::BuildLap(plan));
}

std::vector<char> FileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Lets queued events run until the pane's scans are done, or the deadline passes.
bool WaitForScans(const LibraryPane& pane) {
    QElapsedTimer clock;
    clock.start();
    while (pane.Scanning() && clock.elapsed() < 30000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return !pane.Scanning();
}

class LibraryPaneTest : public ::testing::Test {
protected:
    void SetUp() override {
        world_.AddTrack("Harrow Vale", "vale.smx");
        world_.AddTrack("Kestrel Ring", "kestrel.smx");
        lapDir_ = fs::path(world_.Root()) / "laps";
        for (const LapFile& f : kLaps) WriteLap(lapDir_ / (std::string(f.name) + ".raf"), f);
        const std::vector<std::uint8_t> cut = LapBytes(kLaps[0]);
        WriteBytes(lapDir_ / "cut.raf", {cut.begin(), cut.begin() + 300});
        dbPath_ = fs::path(world_.Root()) / "db" / "library.db";
        frame_ = std::make_unique<CMainFrame>(&settings_);
        frame_->View().SetQuietMessages(true);
        frame_->resize(1200, 700);
    }
    void TearDown() override { frame_.reset(); }

    static void WriteBytes(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
        fs::create_directories(path.parent_path());
        ASSERT_TRUE(WriteBytesToFile(path.string(), bytes));
    }
    static void WriteLap(const fs::path& path, const LapFile& f) { WriteBytes(path, LapBytes(f)); }
    std::string LapPath(const char* name) const { return (lapDir_ / (std::string(name) + ".raf")).string(); }

    LibraryPane& Pane() { return frame_->Library(); }
    // Opens the library and watches the lap folder, waiting for the scan.
    void OpenWatched() {
        ASSERT_TRUE(Pane().OpenLibrary(QString::fromStdString(dbPath_.string()))) << Pane().Problem().toStdString();
        Pane().AddFolder(QString::fromStdString(lapDir_.string()));
        ASSERT_TRUE(WaitForScans(Pane()));
        ASSERT_EQ(Pane().Model()->LapCount(), kLapCount);
    }
    // The view row of a lap file, or an invalid index when the filters hide it.
    QModelIndex RowOf(const std::string& path, int column = 0) {
        LibraryLapFilter* filter = Pane().Filter();
        for (int row = 0; row < filter->rowCount(); ++row) {
            const QModelIndex index = filter->index(row, column);
            if (Pane().Model()->Lap(filter->mapToSource(index).row()).path == path) return index;
        }
        return {};
    }
    void Choose(const std::vector<std::string>& paths) {
        QItemSelection selection;
        for (const auto& p : paths) {
            const QModelIndex index = RowOf(p);
            EXPECT_TRUE(index.isValid()) << p;
            selection.select(index, index);
        }
        Pane().LapView()->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect |
                                                                  QItemSelectionModel::Rows);
    }
    void RunMenuItem(const std::string& path, const char* objectName) {
        std::unique_ptr<QMenu> menu(Pane().ContextMenuFor(RowOf(path)));
        QAction* action = menu->findChild<QAction*>(QString::fromLatin1(objectName));
        ASSERT_TRUE(action);
        ASSERT_TRUE(action->isEnabled());
        action->trigger();
    }
    std::vector<std::string> ShownPaths() {
        const ReplaySet& set = frame_->View().View().Replays();
        return {set.replayPaths.begin(), set.replayPaths.begin() + set.replayCount};
    }
    int ShownRows() { return Pane().Filter()->rowCount(); }

    test::TestWorld world_;
    fs::path lapDir_, dbPath_;
    AppSettings settings_;
    std::unique_ptr<CMainFrame> frame_;
};

TEST_F(LibraryPaneTest, ListsEveryLapAndFiltersToTheLoadedTrackAndByText) {
    OpenWatched();
    EXPECT_EQ(frame_->findChild<LibraryPane*>(QStringLiteral("LibraryDock")), &Pane());
    EXPECT_EQ(frame_->dockWidgetArea(&Pane()), Qt::LeftDockWidgetArea);
    EXPECT_NE(Pane().CountLabel()->text().indexOf(QStringLiteral("1 file not listed")), -1)
        << Pane().CountLabel()->text().toStdString();
    EXPECT_NE(Pane().CountLabel()->toolTip().indexOf(QStringLiteral("cut.raf")), -1);

    // With no lap on the map the track filter has nothing to hold to.
    ASSERT_TRUE(Pane().TrackOnlyBox()->isChecked());
    EXPECT_EQ(ShownRows(), kLapCount);

    frame_->OpenFiles({LapPath("ben_gp")}, true);
    ASSERT_EQ(frame_->View().ReplayCount(), 1);
    EXPECT_EQ(ShownRows(), kValeGpCount);
    Pane().TrackOnlyBox()->setChecked(false);
    EXPECT_EQ(ShownRows(), kLapCount);
    Pane().TrackOnlyBox()->setChecked(true);
    EXPECT_EQ(ShownRows(), kValeGpCount);

    // Words match the shown texts in any case; every word must match. The colour codes of a
    // name are not part of it.
    Pane().TextBox()->setText(QStringLiteral("ANNA"));
    EXPECT_EQ(ShownRows(), 1);
    Pane().TrackOnlyBox()->setChecked(false);
    EXPECT_EQ(ShownRows(), 2);
    Pane().TextBox()->setText(QStringLiteral("  anna   club "));
    EXPECT_EQ(ShownRows(), 1);
    EXPECT_TRUE(RowOf(LapPath("anna_club")).isValid());
    Pane().TextBox()->setText(QStringLiteral("sable ring"));
    EXPECT_EQ(ShownRows(), 1);
    EXPECT_TRUE(RowOf(LapPath("ben_ring")).isValid());
    Pane().TextBox()->setText(QStringLiteral("1:21.200"));
    EXPECT_EQ(ShownRows(), 1);
    Pane().TextBox()->setText(QStringLiteral("nobody"));
    EXPECT_EQ(ShownRows(), 0);
    Pane().TextBox()->clear();
    EXPECT_EQ(ShownRows(), kLapCount);

    // Laps of another track on the map move the filter to that track.
    frame_->OpenFiles({LapPath("erik_ring")}, true);
    Pane().TrackOnlyBox()->setChecked(true);
    EXPECT_EQ(ShownRows(), 2);
}

TEST_F(LibraryPaneTest, SortsTimesAsNumbersAndMarksEachTracksBestLap) {
    OpenWatched();
    Pane().TrackOnlyBox()->setChecked(false);
    QTreeView* view = Pane().LapView();
    // The default order: fastest first.
    EXPECT_EQ(view->header()->sortIndicatorSection(), LibraryLapModel::kLapTime);
    std::vector<std::string> order;
    for (int row = 0; row < ShownRows(); ++row) {
        order.push_back(Pane().Model()->Lap(Pane().Filter()->mapToSource(Pane().Filter()->index(row, 0)).row()).path);
    }
    const std::vector<std::string> fastestFirst = {LapPath("anna_club"), LapPath("ben_gp"), LapPath("anna_gp"),
                                                   LapPath("erik_ring"), LapPath("ben_ring"), LapPath("carla_gp"),
                                                   LapPath("dan_gp")};
    EXPECT_EQ(order, fastestFirst);

    view->sortByColumn(LibraryLapModel::kDriver, Qt::DescendingOrder);
    EXPECT_EQ(Pane().Filter()->index(0, LibraryLapModel::kDriver).data().toString(), QStringLiteral("Erik"));
    view->sortByColumn(LibraryLapModel::kLapTime, Qt::DescendingOrder);
    EXPECT_EQ(Pane().Filter()->index(0, LibraryLapModel::kLapTime).data().toString(), QStringLiteral("10:00.000"));

    const std::set<std::string> best = {LapPath("ben_gp"), LapPath("anna_club"), LapPath("erik_ring")};
    for (int row = 0; row < kLapCount; ++row) {
        const std::string& path = Pane().Model()->Lap(row).path;
        const bool expected = best.count(path) > 0;
        EXPECT_EQ(Pane().Model()->IsBest(row), expected) << path;
        const QModelIndex time = Pane().Model()->index(row, LibraryLapModel::kLapTime);
        EXPECT_EQ(!time.data(Qt::DecorationRole).isNull(), expected) << path;
        EXPECT_EQ(time.data(Qt::FontRole).value<QFont>().bold(), expected) << path;
    }
}

TEST_F(LibraryPaneTest, DoubleClickAndEnterOpenTheChosenLaps) {
    OpenWatched();
    frame_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frame_.get()));
    QTreeView* view = Pane().LapView();

    const QModelIndex anna = RowOf(LapPath("anna_gp"));
    ASSERT_TRUE(anna.isValid());
    view->scrollTo(anna);
    const QPoint at = view->visualRect(anna).center();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
    EXPECT_EQ(ShownPaths(), std::vector<std::string>{LapPath("anna_gp")});

    // Enter replaces the laps shown by the chosen ones, in the list's order (fastest first).
    Choose({LapPath("dan_gp"), LapPath("ben_gp")});
    view->setFocus();
    QTest::keyClick(view, Qt::Key_Return);
    EXPECT_EQ(ShownPaths(), (std::vector<std::string>{LapPath("ben_gp"), LapPath("dan_gp")}));
}

TEST_F(LibraryPaneTest, ContextMenuAddsAndPutsALapFirst) {
    OpenWatched();
    frame_->OpenFiles({LapPath("anna_gp")}, true);

    RunMenuItem(LapPath("carla_gp"), "libraryAdd");
    EXPECT_EQ(ShownPaths(), (std::vector<std::string>{LapPath("anna_gp"), LapPath("carla_gp")}));
    // A lap shown already is not added a second time; of two chosen, the new one is.
    RunMenuItem(LapPath("anna_gp"), "libraryAdd");
    EXPECT_EQ(ShownPaths(), (std::vector<std::string>{LapPath("anna_gp"), LapPath("carla_gp")}));
    EXPECT_NE(frame_->statusBar()->currentMessage().indexOf(QStringLiteral("shown already")), -1);
    Choose({LapPath("ben_gp"), LapPath("carla_gp")});
    Pane().AddSelected();
    EXPECT_EQ(ShownPaths(), (std::vector<std::string>{LapPath("anna_gp"), LapPath("carla_gp"), LapPath("ben_gp")}));

    // The right-clicked lap leads; the laps shown follow it, without itself twice.
    RunMenuItem(LapPath("dan_gp"), "libraryOpenFirst");
    EXPECT_EQ(ShownPaths(), (std::vector<std::string>{LapPath("dan_gp"), LapPath("anna_gp"), LapPath("carla_gp"),
                                                      LapPath("ben_gp")}));
    RunMenuItem(LapPath("carla_gp"), "libraryOpenFirst");
    EXPECT_EQ(ShownPaths(), (std::vector<std::string>{LapPath("carla_gp"), LapPath("dan_gp"), LapPath("anna_gp"),
                                                      LapPath("ben_gp")}));

    // A lap of another track cannot join them: it opens alone, with no refusals to read.
    Pane().TrackOnlyBox()->setChecked(false);
    const std::size_t messages = frame_->View().Messages().size();
    RunMenuItem(LapPath("erik_ring"), "libraryOpenFirst");
    EXPECT_EQ(ShownPaths(), std::vector<std::string>{LapPath("erik_ring")});
    EXPECT_EQ(frame_->View().Messages().size(), messages + 1);  // only the missing segment file

    // With nothing chosen and no row under the pointer there is nothing to act on.
    Pane().LapView()->clearSelection();
    std::unique_ptr<QMenu> menu(Pane().ContextMenuFor({}));
    for (QAction* a : menu->actions()) EXPECT_FALSE(a->isEnabled()) << a->text().toStdString();
}

TEST_F(LibraryPaneTest, DraggedLapsCarryTheirFilesAndDropOnTheMapAsAdded) {
    OpenWatched();
    frame_->OpenFiles({LapPath("anna_gp")}, true);
    // Every cell of two rows: one URL per lap.
    QModelIndexList cells;
    for (const char* name : {"ben_gp", "dan_gp"}) {
        const int row = Pane().Filter()->mapToSource(RowOf(LapPath(name))).row();
        for (int c = 0; c < LibraryLapModel::kColumnCount; ++c) cells << Pane().Model()->index(row, c);
    }
    std::unique_ptr<QMimeData> mime(Pane().Model()->mimeData(cells));
    ASSERT_EQ(mime->urls().size(), 2);
    EXPECT_TRUE(Pane().Model()->mimeTypes().contains(QStringLiteral("text/uri-list")));
    EXPECT_TRUE(Pane().Model()->flags(cells.front()) & Qt::ItemIsDragEnabled);
    EXPECT_TRUE(frame_->DropUrls(mime->urls()));
    ASSERT_EQ(frame_->View().ReplayCount(), 3);
    const std::vector<std::string> shown = ShownPaths();
    EXPECT_EQ(std::set<std::string>(shown.begin() + 1, shown.end()),
              (std::set<std::string>{LapPath("ben_gp"), LapPath("dan_gp")}));
    // Laps let go over the pane itself stop there rather than reaching the frame.
    EXPECT_TRUE(Pane().acceptDrops());
}

TEST_F(LibraryPaneTest, FoldersAreKeptInTheLibraryAndRescansFollowTheDisk) {
    OpenWatched();
    const QStringList folders = Pane().Folders();
    ASSERT_EQ(folders.size(), 1);
    EXPECT_EQ(folders.front().toStdString(), lapDir_.string());
    {
        std::string error;
        auto other = LapLibrary::Open(dbPath_.string(), &error);
        ASSERT_TRUE(other) << error;
        EXPECT_EQ(other->Folders(), std::vector<std::string>{lapDir_.string()});
    }

    // A new file and a deleted one show after a rescan; the progress bar is gone after it.
    WriteLap(lapDir_ / "sub" / "fay_gp.raf", {"fay", "Fay", "Formula Vee", "Harrow Vale", "GP", 80000});
    fs::remove(LapPath("dan_gp"));
    Pane().Rescan();
    EXPECT_TRUE(Pane().Scanning());
    ASSERT_TRUE(WaitForScans(Pane()));
    EXPECT_EQ(Pane().Model()->LapCount(), kLapCount);
    EXPECT_TRUE(RowOf((lapDir_ / "sub" / "fay_gp.raf").string()).isValid());
    EXPECT_FALSE(RowOf(LapPath("dan_gp")).isValid());
    EXPECT_TRUE(Pane().Progress()->isHidden());
    EXPECT_NE(frame_->statusBar()->currentMessage().indexOf(QStringLiteral("1 added")), -1)
        << frame_->statusBar()->currentMessage().toStdString();
    // The best mark moved to the new, faster lap.
    EXPECT_TRUE(Pane().Model()->IsBest(Pane().Filter()->mapToSource(RowOf((lapDir_ / "sub" / "fay_gp.raf").string())).row()));
    EXPECT_FALSE(Pane().Model()->IsBest(Pane().Filter()->mapToSource(RowOf(LapPath("ben_gp"))).row()));

    // Removing the folder drops its laps; the files stay on disk.
    Pane().RemoveFolder(folders.front());
    EXPECT_TRUE(Pane().Folders().isEmpty());  // at once, before the thread has run
    ASSERT_TRUE(WaitForScans(Pane()));
    EXPECT_TRUE(Pane().Folders().isEmpty());
    EXPECT_EQ(Pane().Model()->LapCount(), 0);
    EXPECT_TRUE(fs::exists(LapPath("anna_gp")));

    // A folder that has gone is marked in the list and named in the status bar.
    const fs::path gone = fs::path(world_.Root()) / "gone";
    Pane().AddFolder(QString::fromStdString(gone.string()));
    ASSERT_TRUE(WaitForScans(Pane()));
    ASSERT_EQ(Pane().FolderList()->count(), 1);
    EXPECT_NE(Pane().FolderList()->item(0)->toolTip().indexOf(QStringLiteral("folder not found")), -1);
    EXPECT_NE(frame_->statusBar()->currentMessage().indexOf(QStringLiteral("could not be read")), -1);
}

TEST_F(LibraryPaneTest, QuitInTheMiddleOfAScanKeepsWhatWasIndexedBefore) {
    OpenWatched();
    const fs::path many = fs::path(world_.Root()) / "many";
    const std::vector<std::uint8_t> bytes = LapBytes(kLaps[1]);
    for (int i = 0; i < 400; ++i) WriteBytes(many / ("lap" + std::to_string(i) + ".raf"), bytes);
    Pane().AddFolder(QString::fromStdString(many.string()));
    ASSERT_TRUE(Pane().Scanning());
    frame_.reset();  // cancels the scan and waits for its thread

    std::string error;
    auto library = LapLibrary::Open(dbPath_.string(), &error);
    ASSERT_TRUE(library) << error;
    std::vector<LapEntry> laps;
    ASSERT_TRUE(library->List({}, &laps, &error)) << error;
    // Either the scan was stopped and kept nothing, or it had finished: never a part of it.
    EXPECT_TRUE(laps.size() == kLapCount || laps.size() == kLapCount + 400) << laps.size();
}

TEST_F(LibraryPaneTest, StartUpOpensTheLibraryInTheUsersDataFolder) {
    CAnalyzerApp app("lapquill");
    ASSERT_TRUE(app.InitInstance());
    LibraryPane& pane = app.Frame()->Library();
    EXPECT_TRUE(pane.HasLibrary()) << pane.Problem().toStdString();
    EXPECT_TRUE(WaitForScans(pane));
    const fs::path expected = fs::path(qEnvironmentVariable("XDG_DATA_HOME").toStdString()) / "Harrowmere/Lapquill/library.db";
    EXPECT_TRUE(fs::is_regular_file(expected)) << expected;
    app.ExitInstance(0);
}

// Files the library must refuse; each is left byte for byte as it was.
TEST_F(LibraryPaneTest, UnusableLibraryFilesAreLeftAloneAndTheProgramGoesOn) {
    struct Case {
        const char* name;
        const char* says;
    };
    const fs::path dir = fs::path(world_.Root()) / "bad";
    fs::create_directories(dir);
    WriteBytes(dir / "text.db", std::vector<std::uint8_t>(4096, 'x'));
    {
        SqliteDb other;
        std::string error;
        ASSERT_TRUE(other.Open((dir / "other.db").string(), &error)) << error;
        ASSERT_TRUE(other.Exec("CREATE TABLE notes(body TEXT); INSERT INTO notes VALUES ('mine')", &error)) << error;
    }
    {
        std::string error;
        ASSERT_TRUE(LapLibrary::Open((dir / "newer.db").string(), &error)) << error;
        SqliteDb db;
        ASSERT_TRUE(db.Open((dir / "newer.db").string(), &error));
        ASSERT_TRUE(db.Exec("PRAGMA user_version = 99; PRAGMA journal_mode = DELETE", &error)) << error;
    }
    const Case cases[] = {
        {"text.db", "is not an SQLite database"},
        {"other.db", "another program"},
        {"newer.db", "newer version"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path path = dir / c.name;
        const std::vector<char> before = FileBytes(path);
        EXPECT_FALSE(Pane().OpenLibrary(QString::fromStdString(path.string())));
        EXPECT_FALSE(Pane().HasLibrary());
        EXPECT_NE(Pane().Problem().indexOf(QString::fromLatin1(c.says)), -1) << Pane().Problem().toStdString();
        EXPECT_NE(frame_->statusBar()->currentMessage().indexOf(QString::fromLatin1(c.says)), -1);
        EXPECT_TRUE(Pane().findChild<QLabel*>(QStringLiteral("libraryProblem"))->isVisibleTo(&Pane()));
        // Nothing reaches the file: no folder is taken, no scan starts.
        Pane().AddFolder(QString::fromStdString(lapDir_.string()));
        Pane().Rescan();
        EXPECT_FALSE(Pane().Scanning());
        EXPECT_EQ(Pane().Model()->LapCount(), 0);
        EXPECT_EQ(FileBytes(path), before);
        EXPECT_FALSE(fs::exists(path.string() + "-wal"));
    }
    // The map works as ever.
    frame_->OpenFiles({LapPath("anna_gp")}, true);
    EXPECT_EQ(frame_->View().ReplayCount(), 1);
}

}  // namespace
}  // namespace lapquill
