// The frame's desktop conventions, offscreen: shortcuts beside the map's keys, the recent list,
// the title, the empty hint, dragging the map, focus after dialogs, the open dialog, remembered
// bars and panel, the viewport's true size, the density of the table, and --help / --version.
#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QProcess>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStatusBar>
#include <cstdio>
#include <fstream>

#include "app/analyzer_app.h"
#include "app/command_line.h"
#include "app/open_dialog.h"
#include "app/recent_files.h"
#include "render/camera.h"
#include "app/desktop_fixture.h"

namespace lapquill {
namespace {

using test::DesktopFixture;

QAction* MenuItem(QMenu* menu, const QString& path) {
    for (QAction* a : menu->actions()) {
        if (a->data().toString() == path) return a;
    }
    return nullptr;
}

TEST_F(DesktopFixture, ShortcutsWorkAndTheMapKeysStayTheMaps) {
    ShowActive();
    frame_->OpenFiles(Laps(1), true);
    QWidget* map = &frame_->View();
    ASSERT_EQ(QApplication::focusWidget(), map);

    // Q alone is the map's: it toggles the table and leaves the window open.
    const bool stats = View().StatsVisible();
    QTest::keyClick(map, Qt::Key_Q);
    EXPECT_NE(View().StatsVisible(), stats);
    EXPECT_TRUE(frame_->isVisible());

    QSignalSpy about(frame_.get(), &CMainFrame::aboutRequested);
    QTest::keyClick(map, Qt::Key_F1);
    EXPECT_EQ(about.count(), 1);

    // Ctrl+Shift+O is Add and Ctrl+O is Open: each brings up its own dialog.
    for (const auto& [modifiers, title] :
         {std::pair{Qt::ControlModifier | Qt::ShiftModifier, QStringLiteral("Add Replay(s)")},
          std::pair{Qt::KeyboardModifiers(Qt::ControlModifier), QStringLiteral("Open Replay(s)")}}) {
        MoveFocusAwayFromTheMap();
        WithModal([&] { QTest::keyClick(QApplication::focusWidget(), Qt::Key_O, modifiers); },
                  [&](QWidget* dialog) {
                      EXPECT_EQ(dialog->windowTitle(), title);
                      qobject_cast<QDialog*>(dialog)->reject();
                  });
        EXPECT_EQ(View().ReplayCount(), 1);
        EXPECT_TRUE(MapGetsTheKeyboard()) << title.toStdString();
    }
    EXPECT_EQ(View().StatsVisible(), !stats);  // none of them reached the map as Q or O

    QTest::keyClick(map, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_FALSE(frame_->isVisible());
}

TEST_F(DesktopFixture, RecentListKeepsTheLastTenNewestFirstAndDropsMissingFilesWithANote) {
    frame_->OpenFiles(Laps(2), true);
    const QString lap0 = QString::fromStdString(LapPath(0));
    const QString lap1 = QString::fromStdString(LapPath(1));
    EXPECT_EQ(RecentFiles(), (QStringList{lap1, lap0}));
    // Only accepted laps join: a missing file does not.
    frame_->OpenFiles({LapPath(2), (dir_.path() / "data/raf/none.raf").string()}, false);
    EXPECT_EQ(RecentFiles(), (QStringList{QString::fromStdString(LapPath(2)), lap1, lap0}));
    // Opening a lap again moves it to the front instead of listing it twice.
    frame_->OpenFiles({LapPath(0)}, true);
    EXPECT_EQ(RecentFiles(), (QStringList{lap0, QString::fromStdString(LapPath(2)), lap1}));

    QStringList many;
    for (int i = 0; i < 12; ++i) many << QStringLiteral("/nowhere/%1.raf").arg(i);
    AddRecentFiles(many);
    ASSERT_EQ(RecentFiles().size(), kRecentFileCount);
    EXPECT_EQ(RecentFiles().front(), QStringLiteral("/nowhere/11.raf"));

    // The list survives the window; the menu drops what has gone and says so.
    ClearRecentFiles();
    frame_->OpenFiles(Laps(3), true);
    ASSERT_TRUE(std::filesystem::remove(LapPath(1)));
    NewFrame();
    const QStringList removed = frame_->Recent().Rebuild();
    EXPECT_EQ(removed, QStringList{lap1});
    EXPECT_TRUE(frame_->statusBar()->currentMessage().contains(QStringLiteral("lap1.raf")));
    EXPECT_EQ(RecentFiles(), (QStringList{QString::fromStdString(LapPath(2)), lap0}));
    QMenu* menu = frame_->Recent().Menu();
    EXPECT_TRUE(menu->actions().front()->text().contains(QStringLiteral("lap1.raf")));
    EXPECT_FALSE(menu->actions().front()->isEnabled());
    EXPECT_EQ(MenuItem(menu, lap1), nullptr);

    // Choosing an entry opens it; one that went since the menu was built is dropped instead.
    MenuItem(menu, lap0)->trigger();
    EXPECT_EQ(View().ReplayCount(), 1);
    EXPECT_EQ(View().ReplayPath(0), LapPath(0));
    ASSERT_TRUE(std::filesystem::remove(LapPath(2)));
    MenuItem(menu, QString::fromStdString(LapPath(2)))->trigger();
    EXPECT_EQ(View().ReplayPath(0), LapPath(0));
    EXPECT_TRUE(frame_->View().Messages().empty());
    EXPECT_TRUE(frame_->statusBar()->currentMessage().contains(QStringLiteral("lap2.raf")));
    EXPECT_EQ(RecentFiles(), QStringList{lap0});
}

TEST_F(DesktopFixture, TitleNamesTheTrackAndConfiguration) {
    EXPECT_EQ(frame_->windowTitle(), QStringLiteral("Lapquill"));
    frame_->OpenFiles(Laps(2), true);
    EXPECT_EQ(frame_->windowTitle(), QStringLiteral("Harrow Vale (GP) \u2014 Lapquill"));
    EXPECT_EQ(CMainFrame::TitleFor("Ashvale Park", ""), QStringLiteral("Ashvale Park \u2014 Lapquill"));
    EXPECT_EQ(CMainFrame::TitleFor("", "GP"), QStringLiteral("Lapquill"));
    // A replay that fails leaves the title of the set shown.
    frame_->OpenFiles({(dir_.path() / "missing.raf").string()}, false);
    EXPECT_EQ(frame_->windowTitle(), QStringLiteral("Harrow Vale (GP) \u2014 Lapquill"));
}

// Pixels of the hint's grey in the middle band of the map.
int HintPixels(QWidget* viewport) {
    const QImage image = viewport->grab().toImage().convertToFormat(QImage::Format_RGB32);
    int count = 0;
    for (int y = image.height() / 3; y < image.height() * 2 / 3; ++y) {
        for (int x = 0; x < image.width(); ++x) count += image.pixel(x, y) == qRgb(0xD0, 0xD0, 0xD0);
    }
    return count;
}

TEST_F(DesktopFixture, EmptyMapShowsTheHintUntilLapsAreOpen) {
    ShowActive();
    EXPECT_EQ(CViewWidget::EmptyHint(),
              QStringLiteral("Open replays with File > Open Replay(s)\u2026 or drop .raf files here"));
    EXPECT_GT(HintPixels(frame_->View().viewport()), 30);
    frame_->OpenFiles(Laps(1), true);
    EXPECT_EQ(HintPixels(frame_->View().viewport()), 0);
}

TEST_F(DesktopFixture, LeftDragMovesTheGroundWithThePointer) {
    ShowActive();
    frame_->OpenFiles(Laps(1), true);
    for (int i = 0; i < 12; ++i) frame_->View().SendKey('Z');  // close enough to move freely
    QWidget* viewport = frame_->View().viewport();
    const qreal ratio = viewport->devicePixelRatioF();
    const ClientRect rc = frame_->View().GetClientRect();
    const GroundRect ground = VisibleGroundRect(View().Projection(), View().ViewMatrix(), rc);
    const float metresPerPixelX = (ground.x1 - ground.x0) / static_cast<float>(rc.right);
    const float metresPerPixelY = (ground.y0 - ground.y1) / static_cast<float>(rc.bottom);
    const Vector3 before = View().CameraTarget();

    const QPointF from(200, 200), to(230, 220);
    QMouseEvent press(QEvent::MouseButtonPress, from, viewport->mapToGlobal(from), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &press);
    for (int step = 1; step <= 3; ++step) {
        const QPointF at = from + (to - from) * step / 3.0;
        QMouseEvent move(QEvent::MouseMove, at, viewport->mapToGlobal(at), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &move);
    }
    QMouseEvent release(QEvent::MouseButtonRelease, to, viewport->mapToGlobal(to), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &release);

    // Right and down by 30 and 20 pixels: the camera moves west and north by as much ground.
    const Vector3 after = View().CameraTarget();
    EXPECT_NEAR(after.x - before.x, -30 * ratio * metresPerPixelX, 0.02 * std::fabs(30 * metresPerPixelX));
    EXPECT_NEAR(after.y - before.y, 20 * ratio * metresPerPixelY, 0.02 * std::fabs(20 * metresPerPixelY));
    EXPECT_FLOAT_EQ(after.z, before.z);

    // A move without the button held drags nothing.
    QMouseEvent hover(QEvent::MouseMove, QPointF(400, 300), viewport->mapToGlobal(QPointF(400, 300)),
                      Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &hover);
    EXPECT_FLOAT_EQ(View().CameraTarget().x, after.x);
}

TEST_F(DesktopFixture, MessageBoxesShowWhyAndGiveTheKeyboardBackToTheMap) {
    ShowActive();
    frame_->View().SetQuietMessages(false);
    std::filesystem::create_directories(dir_.path() / "folder.raf");
    const std::vector<char> lap = [&] {
        std::ifstream in(LapPath(0), std::ios::binary);
        return std::vector<char>(std::istreambuf_iterator<char>(in), {});
    }();
    std::ofstream((dir_.path() / "cut.raf").string(), std::ios::binary).write(lap.data(), 100);
    std::ofstream((dir_.path() / "short.raf").string(), std::ios::binary).write(lap.data(), 1000);
    std::ofstream((dir_.path() / "other.raf").string(), std::ios::binary) << "PNG and more, not a lap at all";
    struct Case {
        const char* file;
        const char* reason;
    };
    for (const Case& c : {Case{"missing.raf", "does not exist"}, Case{"folder.raf", "not a regular file"},
                          Case{"cut.raf", "cut short"}, Case{"short.raf", "needs more bytes than the file holds"},
                          Case{"other.raf", "does not start with the right marker"}}) {
        const std::string path = (dir_.path() / c.file).string();
        MoveFocusAwayFromTheMap();
        WithModal([&] { frame_->OpenFiles({path}, true); },
                  [&](QWidget* w) {
                      auto* box = qobject_cast<QMessageBox*>(w);
                      ASSERT_NE(box, nullptr);
                      EXPECT_EQ(box->text().toStdString(), "Could not load replay \"" + path + "\"!");
                      EXPECT_TRUE(box->detailedText().contains(QLatin1String(c.reason)))
                          << c.file << ": " << box->detailedText().toStdString();
                      box->accept();
                  });
        EXPECT_TRUE(MapGetsTheKeyboard()) << c.file;
    }
    // S plays at once, without a click on the map.
    frame_->OpenFiles(Laps(1), true);
    ASSERT_TRUE(MapGetsTheKeyboard());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_S);
    EXPECT_TRUE(View().Playback().isPlaying);
}

TEST_F(DesktopFixture, FocusReturnsToTheMapAfterPreferencesAboutAndTheOpenDialog) {
    // The program's own start-up, since Preferences and About are run by the application.
    frame_.reset();
    CAnalyzerApp app("lapquill");
    ASSERT_TRUE(app.InitInstance());
    CMainFrame* frame = app.Frame();
    QWidget* map = &frame->View();
    auto* away = new QLineEdit(frame);
    away->show();
    for (int id : {ID_PREFERENCES, ID_APP_ABOUT, ID_FILE_OPEN_REPLAYS}) {
        frame->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(frame));
        away->setFocus();
        WithModal([&] { frame->RunCommand(id); },
                  [&](QWidget* dialog) {
                      // Something inside the dialog holds the keyboard while it is up.
                      EXPECT_NE(QApplication::focusWidget(), map);
                      qobject_cast<QDialog*>(dialog)->reject();
                  });
        frame->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(frame));
        EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::focusWidget() == map; }, 2000)) << id;
    }
    app.ExitInstance(0);
}

TEST_F(DesktopFixture, OpenDialogStartsInAnExistingFolderWithAnEmptyNameField) {
    ShowActive();
    WithModal([&] { frame_->RunCommand(ID_FILE_OPEN_REPLAYS); },
              [&](QWidget* w) {
                  auto* dialog = qobject_cast<QFileDialog*>(w);
                  ASSERT_NE(dialog, nullptr);
                  EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Open Replay(s)"));
                  EXPECT_EQ(QDir(dialog->directory()).canonicalPath(),
                            QDir(QString::fromStdString((dir_.path() / "data/raf").string())).canonicalPath());
                  EXPECT_EQ(dialog->nameFilters(),
                            (QStringList{QStringLiteral("QZR Replay files (*.raf)"), QStringLiteral("All files (*)")}));
                  auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
                  ASSERT_NE(name, nullptr);
                  EXPECT_TRUE(name->text().isEmpty()) << name->text().toStdString();
                  dialog->reject();
              });

    // Without data/raf: the folder of the last chosen laps, else home; never a path that is gone.
    const OpenReplayDialog plain;
    const QString elsewhere = QString::fromStdString((dir_.path() / "elsewhere").string());
    QDir().mkpath(elsewhere);
    std::filesystem::remove_all(dir_.path() / "data/raf");
    EXPECT_EQ(MakeReplayDialogSetup(false, plain, elsewhere).directory, elsewhere);
    EXPECT_EQ(MakeReplayDialogSetup(false, plain, elsewhere + "/gone").directory, QDir::homePath());
    EXPECT_EQ(MakeReplayDialogSetup(false, plain, QString()).directory, QDir::homePath());
    EXPECT_EQ(MakeReplayDialogSetup(true, plain, QString()).title, QStringLiteral("Add Replay(s)"));
}

TEST_F(DesktopFixture, StatusBarAndTablePanelAreRememberedAndTheWindowHasAMinimumSize) {
    EXPECT_FALSE(frame_->statusBar()->isHidden());
    EXPECT_TRUE(View().StatsBackdrop());
    frame_->RunCommand(ID_VIEW_STATUS_BAR);
    QAction* panel = frame_->findChild<QAction*>(QStringLiteral("tablePanel"));
    ASSERT_NE(panel, nullptr);
    panel->trigger();
    EXPECT_FALSE(View().StatsBackdrop());
    NewFrame();
    EXPECT_TRUE(frame_->statusBar()->isHidden());
    EXPECT_FALSE(frame_->Action(ID_VIEW_STATUS_BAR)->isChecked());
    EXPECT_FALSE(View().StatsBackdrop());
    EXPECT_FALSE(frame_->findChild<QAction*>(QStringLiteral("tablePanel"))->isChecked());
    frame_->RunCommand(ID_VIEW_STATUS_BAR);
    NewFrame();
    EXPECT_FALSE(frame_->statusBar()->isHidden());

    EXPECT_GE(frame_->minimumWidth(), 640);
    EXPECT_GE(frame_->minimumHeight(), 400);
    frame_->resize(200, 150);
    EXPECT_GE(frame_->width(), frame_->minimumWidth());
}

TEST_F(DesktopFixture, FramesAreDrawnAtTheViewportsSizeOnceTheScrollBarsShow) {
    ShowActive();
    CViewWidget& widget = frame_->View();
    QWidget* viewport = widget.viewport();
    // The device is made on the first paint, without bars; one lap then brings the bars in
    // while its device objects are made, after the device was sized.
    viewport->repaint();
    ASSERT_NE(View().Device(), nullptr);
    ASSERT_FALSE(widget.verticalScrollBar()->isVisible());
    frame_->OpenFiles(Laps(1), true);
    viewport->repaint();
    ASSERT_TRUE(widget.verticalScrollBar()->isVisible());
    ASSERT_NE(View().Device(), nullptr);
    // The table's last column ends at the viewport's edge, not under the bar beside it.
    const qreal ratio = viewport->devicePixelRatioF();
    EXPECT_EQ(View().Device()->GetPresentedFrame().width, qRound(viewport->width() * ratio));
    EXPECT_EQ(View().Device()->GetPresentedFrame().height, qRound(viewport->height() * ratio));
    EXPECT_EQ(widget.GetClientRect().right, qRound(viewport->width() * ratio));
}

// The height in device pixels of the table's panel over two laps, and the ratio it was drawn at.
std::pair<double, qreal> TableHeight(CMainFrame& frame) {
    QWidget* viewport = frame.View().viewport();
    viewport->repaint();
    const CAnalysisView& view = frame.View().View();
    const std::vector<ScreenVertex> v =
        BuildStatsPanelVertices(view.Overlay(), frame.View().GetClientRect().right, view.ReplayCount(),
                                view.Replays().replays[0].header.SectorCount());
    double bottom = 0;
    for (std::size_t i = 0; i < static_cast<std::size_t>(kQuadVertices) && i < v.size(); ++i) {
        bottom = std::max(bottom, static_cast<double>(v[i].y));
    }
    return {bottom, viewport->devicePixelRatioF()};
}

TEST_F(DesktopFixture, DevicePixelRatioTwoGivesATableTwiceAsManyPixelsTall) {
    ShowActive();
    frame_->OpenFiles(Laps(2), true);
    const auto [height, ratio] = TableHeight(*frame_);
    if (qEnvironmentVariableIsSet("LAPQUILL_TABLE_REPORT")) {
        // The second run, under QT_SCALE_FACTOR=2: report for the first.
        std::printf("table-height %.1f ratio %.2f\n", height, ratio);
        return;
    }
    ASSERT_EQ(ratio, 1.0);
    ASSERT_GT(height, 50.0);
    // The density is fixed when the application starts, so the same test runs again in a
    // process of its own at twice the density.
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_SCALE_FACTOR"), QStringLiteral("2"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("LAPQUILL_TABLE_REPORT"), QStringLiteral("1"));
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=DesktopFixture.DevicePixelRatioTwoGivesATableTwiceAsManyPixelsTall")});
    ASSERT_TRUE(child.waitForFinished(60000));
    const QString out = QString::fromLocal8Bit(child.readAllStandardOutput());
    ASSERT_EQ(child.exitCode(), 0) << out.toStdString();
    const QStringList report = out.section(QStringLiteral("table-height "), 1).split(QLatin1Char(' '));
    ASSERT_GE(report.size(), 3) << out.toStdString();
    EXPECT_DOUBLE_EQ(report[2].left(4).toDouble(), 2.0);
    EXPECT_NEAR(report[0].toDouble() / height, 2.0, 0.08) << report[0].toStdString() << " vs " << height;
}

TEST(CommandLine, HelpAndVersionPrintAndEndEverythingElseIsLeftToTheProgram) {
    const CommandLine version = ParseCommandLine({"a.raf", "--version", "b.raf"});
    EXPECT_TRUE(version.printAndExit);
    EXPECT_EQ(version.output, "Lapquill 0.06b\n");
    for (const char* help : {"--help", "-h"}) {
        const CommandLine line = ParseCommandLine({help});
        EXPECT_TRUE(line.printAndExit);
        EXPECT_EQ(line.output.rfind("Usage: lapquill", 0), 0u) << line.output;
    }
    const CommandLine run = ParseCommandLine({"-style", "fusion", "x.RAF", "notes.txt", "--", "--version", "y.raf"});
    EXPECT_FALSE(run.printAndExit);
    EXPECT_EQ(run.replays, (std::vector<std::string>{"x.RAF", "y.raf"}));
}

TEST(CommandLine, TheProgramPrintsItsVersionWithoutADisplay) {
    const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/../src/app/lapquill");
    if (!QFileInfo(program).isExecutable()) GTEST_SKIP() << "no program at " << program.toStdString();
    for (const auto& [arg, start] : {std::pair{"--version", "Lapquill 0.06b\n"}, std::pair{"--help", "Usage: lapquill"}}) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        // With no display to reach, a program that opened a window would fail here.
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        p.setProcessEnvironment(env);
        p.start(program, {QString::fromLatin1(arg)});
        ASSERT_TRUE(p.waitForFinished(20000));
        EXPECT_EQ(p.exitCode(), 0) << arg;
        EXPECT_TRUE(QString::fromLocal8Bit(p.readAllStandardOutput()).startsWith(QLatin1String(start))) << arg;
    }
}

}  // namespace
}  // namespace lapquill
