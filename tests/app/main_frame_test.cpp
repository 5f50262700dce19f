#include "app/main_frame.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QRadioButton>
#include <QSettings>
#include <QTest>
#include <QUrl>
#include <filesystem>
#include <map>

#include "app/analyzer_app.h"
#include "app/app_settings.h"
#include "app/dialogs.h"
#include "app/key_mapping.h"
#include "app/view_widget.h"
#include "support/app_fixture.h"
#include "support/sample_files.h"
#include "view/analysis_view.h"

namespace lapquill {
namespace {

using AppFixture = test::MainWindowFixture;

TEST_F(AppFixture, MenuTreeCarriesTextsAndCommandIds) {
    struct Item {
        const char* menu;
        const char* text;
        int id;
    };
    const Item items[] = {
        {"&File", "&Open Replay(s)...", 156},
        {"&File", "&Add Replay(s)...", 157},
        {"&File", "E&xit", 57665},
        {"&Replay", "&Start of lap\tHome", 150},
        {"&Replay", "&End of lap\tEnd", 151},
        {"&Replay", "&Play/pause\tS", 152},
        {"&Replay", "&Dec speed/step back\tA", 153},
        {"&Replay", "&Inc speed/step forward\tD", 154},
        {"&Replay", "&Reverse direction\tF", 155},
        {"&Sync to start of", "&Lap\t1", 162},
        {"&Sync to start of", "Auto Detected &Corner\t2", 164},
        {"&Sync to start of", "&Segment Marker\t3", 163},
        {"&Track Segment", "Mark &Start Custom Segment\t,", 159},
        {"&Track Segment", "Mark &End Custom Segment\t.", 160},
        {"&Track Segment", "Move to &Previous Segment\tPage Up", 165},
        {"&Track Segment", "Move to &Next Segment\tPage Down", 166},
        {"&View", "Zoom &In\tZ", 144},
        {"&View", "Zoom &Out\tX", 145},
        {"&View", "Move &Left\tLeft Arrow", 146},
        {"&View", "Move &Right\tRight Arrow", 147},
        {"&View", "Move &Up\tUp Arrow", 148},
        {"&View", "Move &Down\tDown Arrow", 149},
        {"&View", "Toggle St&ats\tQ", 158},
        {"&View", "&Toolbar", 59392},
        {"&View", "&Status Bar", 59393},
        {"&View", "Preferences", 32774},
        {"&Help", "&About Lapquill...", 57664},
    };
    QStringList topLevel;
    for (QAction* a : frame_->menuBar()->actions()) topLevel << a->text();
    EXPECT_EQ(topLevel, (QStringList{"&File", "&Replay", "&Track Segment", "&View", "&Help", "A&nalysis"}));
    for (const auto& item : items) {
        QAction* a = frame_->Action(item.id);
        ASSERT_NE(a, nullptr) << item.id;
        EXPECT_EQ(a->text().toStdString(), item.text);
        EXPECT_EQ(a->data().toInt(), item.id);
        // The key hints are shown, never registered as shortcuts: the keys reach the view. Only
        // the four desktop shortcuts are registered, and each holds Ctrl or is F1, which no map
        // key does.
        const std::map<int, QKeySequence> desktop = {
            {156, QKeySequence(QStringLiteral("Ctrl+O"))},
            {157, QKeySequence(QStringLiteral("Ctrl+Shift+O"))},
            {57665, QKeySequence(QStringLiteral("Ctrl+Q"))},
            {57664, QKeySequence(QStringLiteral("F1"))},
        };
        const auto it = desktop.find(item.id);
        EXPECT_EQ(a->shortcut(), it == desktop.end() ? QKeySequence() : it->second) << item.text;
        bool inMenu = false;
        for (QObject* o : a->associatedObjects()) {
            if (auto* m = qobject_cast<QMenu*>(o)) inMenu |= m->title() == QLatin1String(item.menu);
        }
        EXPECT_TRUE(inMenu) << item.text << " not in " << item.menu;
    }
    EXPECT_EQ(frame_->Action(32774)->statusTip(), QStringLiteral("View and edit preferences"));
    for (int id : {57635, 57634, 57637}) EXPECT_FALSE(frame_->Action(id)->isEnabled()) << id;
}

TEST_F(AppFixture, AddIsEnabledOnlyWithOneToFiveReplays) {
    EXPECT_FALSE(frame_->Action(ID_FILE_ADD_REPLAYS)->isEnabled());
    frame_->OpenFiles(Laps(1), true);
    ASSERT_EQ(View().ReplayCount(), 1);
    EXPECT_TRUE(frame_->Action(ID_FILE_ADD_REPLAYS)->isEnabled());
    frame_->OpenFiles({LapPath(1), LapPath(2), LapPath(3), LapPath(4)}, false);
    ASSERT_EQ(View().ReplayCount(), 5);
    EXPECT_TRUE(frame_->Action(ID_FILE_ADD_REPLAYS)->isEnabled());
    frame_->OpenFiles({LapPath(5)}, false);
    ASSERT_EQ(View().ReplayCount(), 6);
    EXPECT_FALSE(frame_->Action(ID_FILE_ADD_REPLAYS)->isEnabled());
    EXPECT_TRUE(frame_->Action(ID_FILE_OPEN_REPLAYS)->isEnabled());
}

TEST_F(AppFixture, SyncCommandsMoveTheCheckMarkWithOrWithoutReplays) {
    EXPECT_TRUE(frame_->Action(ID_SYNC_LAP)->isChecked());
    frame_->RunCommand(ID_SYNC_DETECTED_CORNER);
    EXPECT_EQ(View().Playback().syncMode, SyncMode::DetectedCorner);
    EXPECT_TRUE(frame_->Action(ID_SYNC_DETECTED_CORNER)->isChecked());
    EXPECT_FALSE(frame_->Action(ID_SYNC_LAP)->isChecked());
    frame_->RunCommand(ID_SYNC_SEGMENT_MARKER);
    EXPECT_TRUE(frame_->Action(ID_SYNC_SEGMENT_MARKER)->isChecked());
    EXPECT_FALSE(frame_->Action(ID_SYNC_DETECTED_CORNER)->isChecked());
    // The digit keys change the mode too, and the menu follows.
    QTest::keyClick(&frame_->View(), Qt::Key_1);
    frame_->UpdateCommandStates();
    EXPECT_EQ(View().Playback().syncMode, SyncMode::SegmentMarker);  // no replay: not handled
    frame_->OpenFiles(Laps(1), true);
    QTest::keyClick(&frame_->View(), Qt::Key_1);
    frame_->UpdateCommandStates();
    EXPECT_TRUE(frame_->Action(ID_SYNC_LAP)->isChecked());
}

TEST_F(AppFixture, ToggleStatsShowsItsCheckMark) {
    EXPECT_TRUE(frame_->Action(ID_VIEW_TOGGLE_STATS)->isChecked());
    frame_->RunCommand(ID_VIEW_TOGGLE_STATS);
    EXPECT_FALSE(View().StatsVisible());
    EXPECT_FALSE(frame_->Action(ID_VIEW_TOGGLE_STATS)->isChecked());
    QTest::keyClick(&frame_->View(), Qt::Key_Q);
    frame_->UpdateCommandStates();
    EXPECT_TRUE(frame_->Action(ID_VIEW_TOGGLE_STATS)->isChecked());
}

TEST_F(AppFixture, MenuCommandsAndKeysHaveTheSameEffect) {
    frame_->OpenFiles(Laps(2), true);
    ASSERT_EQ(View().ReplayCount(), 2);
    struct Pair {
        int command;
        Qt::Key key;
    };
    const Pair pairs[] = {{ID_REPLAY_INC_SPEED, Qt::Key_D}, {ID_REPLAY_END, Qt::Key_End},
                          {ID_REPLAY_DEC_SPEED, Qt::Key_A}, {ID_REPLAY_START, Qt::Key_Home},
                          {ID_VIEW_ZOOM_OUT, Qt::Key_X},   {ID_VIEW_MOVE_LEFT, Qt::Key_Left},
                          {ID_SEGMENT_NEXT, Qt::Key_PageDown}};
    auto state = [&] {
        return std::make_tuple(View().Playback().playbackTime, View().Playback().playbackSpeed,
                               View().Playback().playForward, View().CameraHeight(),
                               View().CameraTarget().x, View().Segments().currentSegment);
    };
    for (const auto& p : pairs) {
        frame_->OpenFiles(Laps(2), true);
        frame_->RunCommand(p.command);
        const auto afterCommand = state();
        frame_->OpenFiles(Laps(2), true);
        QTest::keyClick(&frame_->View(), p.key);
        EXPECT_EQ(afterCommand, state()) << "command " << p.command;
    }
}

TEST_F(AppFixture, KeysHeldWithAltAreLeftToTheMenus) {
    frame_->OpenFiles(Laps(1), true);
    QTest::keyClick(&frame_->View(), Qt::Key_S, Qt::AltModifier);
    EXPECT_FALSE(View().Playback().isPlaying);
    QTest::keyClick(&frame_->View(), Qt::Key_S, Qt::ShiftModifier);  // S whatever the shift state
    EXPECT_TRUE(View().Playback().isPlaying);
}

TEST_F(AppFixture, PlayPauseAndReverseFromMenuAndKeyAgree) {
    frame_->OpenFiles(Laps(1), true);
    // The direction survives a new set, so the command and the key each turn it over.
    frame_->RunCommand(ID_REPLAY_REVERSE);
    EXPECT_FALSE(View().Playback().playForward);
    QTest::keyClick(&frame_->View(), Qt::Key_F);
    EXPECT_TRUE(View().Playback().playForward);
    frame_->RunCommand(ID_REPLAY_PLAY_PAUSE);
    EXPECT_TRUE(View().Playback().isPlaying);
    QTest::keyClick(&frame_->View(), Qt::Key_S);
    EXPECT_FALSE(View().Playback().isPlaying);
    QTest::keyClick(&frame_->View(), Qt::Key_S);
    EXPECT_TRUE(View().Playback().isPlaying);
    frame_->RunCommand(ID_REPLAY_PLAY_PAUSE);
    EXPECT_FALSE(View().Playback().isPlaying);
}

TEST_F(AppFixture, WheelZoomsOnlyWhenTheSettingAllowsIt) {
    frame_->show();
    frame_->OpenFiles(Laps(1), true);
    const float start = View().CameraHeight();
    auto turn = [&](int delta) {
        QWheelEvent e(QPointF(10, 10), QPointF(10, 10), QPoint(), QPoint(0, delta), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(frame_->View().viewport(), &e);
    };
    settings_.mouseWheelZooms = 0;
    turn(-120);
    EXPECT_EQ(View().CameraHeight(), start);
    settings_.mouseWheelZooms = 1;
    turn(-120);
    EXPECT_GT(View().CameraHeight(), start);
    const float out = View().CameraHeight();
    turn(120);
    EXPECT_LT(View().CameraHeight(), out);
    const float in = View().CameraHeight();
    turn(0);
    EXPECT_EQ(View().CameraHeight(), in);
}

TEST_F(AppFixture, UnknownKeysAreLeftToTheFrame) {
    EXPECT_FALSE(VirtualKeyFromQtKey(Qt::Key_F5, false));
    EXPECT_FALSE(VirtualKeyFromQtKey(Qt::Key_1, true));  // number pad
    EXPECT_EQ(VirtualKeyFromQtKey(Qt::Key_1, false), 0x31u);
    EXPECT_EQ(VirtualKeyFromQtKey(Qt::Key_S, false), 0x53u);
    EXPECT_EQ(VirtualKeyFromQtKey(Qt::Key_Comma, false), VK_OEM_COMMA);
    EXPECT_EQ(VirtualKeyFromQtKey(Qt::Key_Period, false), VK_OEM_PERIOD);
    EXPECT_EQ(VirtualKeyFromQtKey(Qt::Key_Backslash, false), VK_OEM_5);
    EXPECT_EQ(VirtualKeyFromQtKey(Qt::Key_PageUp, false), VK_PRIOR);
}

TEST_F(AppFixture, DroppedFilesOpenWhenEmptyAndAddOtherwise) {
    auto drop = [&](const std::vector<std::string>& paths) {
        QList<QUrl> urls;
        for (const auto& p : paths) urls << QUrl::fromLocalFile(QString::fromStdString(p));
        urls << QUrl::fromLocalFile(QStringLiteral("/tmp/notes.txt"));  // not a replay: skipped
        return frame_->DropUrls(urls);
    };
    EXPECT_FALSE(frame_->DropUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/notes.txt"))}));
    EXPECT_TRUE(drop({LapPath(0), LapPath(1)}));
    EXPECT_EQ(View().ReplayCount(), 2);
    EXPECT_TRUE(drop({LapPath(2)}));
    EXPECT_EQ(View().ReplayCount(), 3);
    EXPECT_EQ(View().Replays().replayTitles[2], "lap2");
    drop({LapPath(3), LapPath(4), LapPath(5)});
    EXPECT_EQ(View().ReplayCount(), 6);
    EXPECT_TRUE(drop({LapPath(6)}));  // a full set takes no more
    EXPECT_EQ(View().ReplayCount(), 6);
    EXPECT_EQ(frame_->View().Messages().back(), "Only 6 replays are allowed.  Extra replays ignored.");
}

TEST_F(AppFixture, MoreThanSixFilesGiveTheLimitMessage) {
    frame_->OpenFiles(Laps(7), true);
    EXPECT_EQ(View().ReplayCount(), 6);
    ASSERT_FALSE(frame_->View().Messages().empty());
    EXPECT_EQ(frame_->View().Messages().back(), "Only 6 replays are allowed.  Extra replays ignored.");
}

TEST(PreferencesDialog, StoredSevenOpensWithMilesAndOkStoresTwo) {
    AppSettings s;
    s.units = {7, 0, 1};
    CPreferencesDialog d(&s);
    EXPECT_EQ(d.CheckStates(), (std::array<int, 7>{0, 0, 1, 1, 0, 0, 1}));
    EXPECT_TRUE(d.Radio(CPreferencesDialog::kMiles)->isChecked());
    d.accept();
    EXPECT_EQ(s.units.distanceUnit, 2);
    EXPECT_EQ(s.units.speedUnit, 0);
    EXPECT_EQ(s.units.accelerationUnit, 1);
}

TEST(PreferencesDialog, OkStoresTheChosenRadiosAndCancelChangesNothing) {
    AppSettings s;
    {
        CPreferencesDialog d(&s);
        d.Radio(CPreferencesDialog::kKm)->setChecked(true);
        d.Radio(CPreferencesDialog::kMph)->setChecked(true);
        d.Radio(CPreferencesDialog::kG)->setChecked(true);
        d.reject();
        EXPECT_EQ(s.units.distanceUnit, 0);
        EXPECT_EQ(s.units.speedUnit, 0);
        EXPECT_EQ(s.units.accelerationUnit, 0);
    }
    CPreferencesDialog d(&s);
    d.Radio(CPreferencesDialog::kKm)->setChecked(true);
    d.Radio(CPreferencesDialog::kMph)->setChecked(true);
    d.Radio(CPreferencesDialog::kG)->setChecked(true);
    d.accept();
    EXPECT_EQ(s.units.distanceUnit, 1);
    EXPECT_EQ(s.units.speedUnit, 1);
    EXPECT_EQ(s.units.accelerationUnit, 1);
}

TEST(Settings, DefaultsOnFirstStartAndRoundTrip) {
    QSettings store(QStringLiteral("Harrowmere"), QStringLiteral("Lapquill"));
    store.clear();
    AppSettings s;
    s.mouseWheelZooms = 42;
    s.units = {9, 9, 9};
    ReadSettings(store, &s);
    EXPECT_EQ(s.mouseWheelZooms, 1);
    EXPECT_EQ(s.units.distanceUnit, 0);
    EXPECT_EQ(s.units.speedUnit, 0);
    EXPECT_EQ(s.units.accelerationUnit, 0);

    s.mouseWheelZooms = 0;
    s.units = {2, 1, 1};
    WriteSettings(store, s);
    AppSettings back;
    ReadSettings(store, &back);
    EXPECT_EQ(back.mouseWheelZooms, 0);
    EXPECT_EQ(back.units.distanceUnit, 2);
    EXPECT_EQ(back.units.speedUnit, 1);
    EXPECT_EQ(back.units.accelerationUnit, 1);

    store.setValue(QStringLiteral("Distance"), 258);  // only the low byte counts
    ReadSettings(store, &back);
    EXPECT_EQ(back.units.distanceUnit, 2);
    store.clear();
}

TEST(OptionsFile, VersionOneOverridesAndOtherVersionsAreIgnored) {
    test::TempDir dir;
    const std::string path = dir.File("lapquill.opt");
    auto write = [&](std::int32_t version, std::vector<std::uint8_t> block) {
        std::vector<std::uint8_t> bytes(4);
        SetHeaderI32(bytes.data(), version);
        bytes.insert(bytes.end(), block.begin(), block.end());
        ASSERT_TRUE(WriteBytesToFile(path, bytes));
    };
    AppSettings s;
    write(1, {0, 0, 0, 0, 2, 1, 1, 0x55});
    EXPECT_TRUE(ApplyOptionsFile(path, &s));
    EXPECT_EQ(s.mouseWheelZooms, 0);
    EXPECT_EQ(s.units.distanceUnit, 2);
    EXPECT_EQ(s.units.speedUnit, 1);
    EXPECT_EQ(s.units.accelerationUnit, 1);
    EXPECT_EQ(s.spare, 0x55);

    for (std::int32_t version : {0, 2, -1}) {
        AppSettings t;
        write(version, {0, 0, 0, 0, 2, 1, 1, 0});
        EXPECT_FALSE(ApplyOptionsFile(path, &t)) << version;
        EXPECT_EQ(t.mouseWheelZooms, 1);
        EXPECT_EQ(t.units.distanceUnit, 0);
    }

    AppSettings shortRead;
    write(1, {0, 0, 0, 0, 1});  // stops inside the units: the rest stays
    EXPECT_TRUE(ApplyOptionsFile(path, &shortRead));
    EXPECT_EQ(shortRead.mouseWheelZooms, 0);
    EXPECT_EQ(shortRead.units.distanceUnit, 1);
    EXPECT_EQ(shortRead.units.speedUnit, 0);
    EXPECT_FALSE(ApplyOptionsFile(dir.File("missing.opt"), &shortRead));
    EXPECT_EQ(OptionsFileName("/usr/bin/lapquill"), "lapquill.opt");
}

TEST_F(AppFixture, OptionsFileOverridesTheStoreOnEveryStart) {
    std::vector<std::uint8_t> bytes(4);
    SetHeaderI32(bytes.data(), 1);
    bytes.insert(bytes.end(), {1, 0, 0, 0, 1, 1, 0, 0});
    ASSERT_TRUE(WriteBytesToFile("lapquill.opt", bytes));
    for (int start = 0; start < 2; ++start) {
        CAnalyzerApp app("lapquill");
        ASSERT_TRUE(app.InitInstance());
        EXPECT_EQ(app.Settings().units.distanceUnit, 1) << "start " << start;
        EXPECT_EQ(app.Settings().units.speedUnit, 1);
        app.Settings().units = {2, 0, 1};  // as if the user chose other units
        app.ExitInstance(0);
    }
    QSettings store(QStringLiteral("Harrowmere"), QStringLiteral("Lapquill"));
    EXPECT_EQ(store.value(QStringLiteral("Distance")).toInt(), 2);
}

TEST_F(AppFixture, CommandLineFilesOpenAsTheOpenCommandWould) {
    CAnalyzerApp app("lapquill");
    ASSERT_TRUE(app.InitInstance({LapPath(0), LapPath(1)}));
    EXPECT_EQ(app.Frame()->View().ReplayCount(), 2);
    app.ExitInstance(0);
}

TEST_F(AppFixture, DataFolderIsRememberedAndSearchedForTracks) {
    // The item comes after the first program's File items, and a folder set once is handed to
    // the view again by the next window, as after a restart.
    QMenu* file = nullptr;
    for (QAction* a : frame_->menuBar()->actions()) {
        if (a->text() == QStringLiteral("&File")) file = a->menu();
    }
    ASSERT_NE(file, nullptr);
    const QList<QAction*> items = file->actions();
    ASSERT_FALSE(items.isEmpty());
    EXPECT_EQ(items.back()->text(), QStringLiteral("Set &Data Folder..."));
    EXPECT_FALSE(items.back()->statusTip().isEmpty());

    EXPECT_TRUE(frame_->DataFolder().isEmpty());
    const QString folder = QString::fromStdString((dir_.path() / "tracks").string());
    frame_->SetDataFolder(folder);
    EXPECT_EQ(View().GetTrackSearch().userDataFolder, folder.toStdString());

    frame_ = std::make_unique<CMainFrame>(&settings_);
    EXPECT_EQ(frame_->DataFolder(), folder);
    EXPECT_EQ(View().GetTrackSearch().userDataFolder, folder.toStdString());

    frame_->SetDataFolder(QString());
    frame_ = std::make_unique<CMainFrame>(&settings_);
    EXPECT_TRUE(frame_->DataFolder().isEmpty());
}

}  // namespace
}  // namespace lapquill
