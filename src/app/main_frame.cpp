#include "app/main_frame.h"

#include "app/analysis_menu.h"
#include "app/analysis_panes.h"

#include <QAction>
#include <QActionGroup>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDir>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QSettings>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>
#include <QUrl>

#include "app/app_icon.h"
#include "app/app_settings.h"
#include "app/key_mapping.h"
#include "app/library_pane.h"
#include "analysis/replay_set.h"
#include "app/view_widget.h"
#include "view/analysis_view.h"

namespace lapquill {

namespace {

// Commands that stand for a key of the view, and the key they send.
struct KeyCommand {
    int id;
    std::uint32_t key;
};
constexpr KeyCommand kKeyCommands[] = {
    {ID_REPLAY_START, VK_HOME},       {ID_REPLAY_END, VK_END},
    {ID_REPLAY_PLAY_PAUSE, 'S'},      {ID_REPLAY_DEC_SPEED, 'A'},
    {ID_REPLAY_INC_SPEED, 'D'},       {ID_REPLAY_REVERSE, 'F'},
    {ID_VIEW_ZOOM_IN, 'Z'},           {ID_VIEW_ZOOM_OUT, 'X'},
    {ID_VIEW_MOVE_LEFT, VK_LEFT},     {ID_VIEW_MOVE_RIGHT, VK_RIGHT},
    {ID_VIEW_MOVE_UP, VK_UP},         {ID_VIEW_MOVE_DOWN, VK_DOWN},
    {ID_VIEW_TOGGLE_STATS, 'Q'},      {ID_SEGMENT_PREVIOUS, VK_PRIOR},
    {ID_SEGMENT_NEXT, VK_NEXT},
};

// The settings value that holds the user's data folder.
constexpr const char* kDataFolderKey = "Data folder";

bool IsReplayPath(const QString& path) { return path.endsWith(QStringLiteral(".raf"), Qt::CaseInsensitive); }

}  // namespace

CMainFrame::CMainFrame(AppSettings* settings, QWidget* parent)
    : QMainWindow(parent), settings_(settings) {
    setWindowTitle(QStringLiteral("Lapquill"));
    setWindowIcon(AppIcon());
    view_ = new CViewWidget(settings_, this);
    setCentralWidget(view_);
    BuildMenus();
    analysisMenu_ = new AnalysisMenu(this, view_);
    panes_ = new AnalysisPanes(this, view_, settings_, analysisMenu_->Menu());
    BuildToolBar();
    BuildStatusBar();
    BuildLibraryPane();
    setAcceptDrops(true);
    UpdateCommandStates();
    SetDataFolder(QSettings(QStringLiteral("Harrowmere"), QStringLiteral("Lapquill"))
                      .value(QLatin1String(kDataFolderKey))
                      .toString());
    RestoreDesktopState();
    view_->setFocus();
}

void CMainFrame::SetDataFolder(const QString& folder) {
    QSettings store(QStringLiteral("Harrowmere"), QStringLiteral("Lapquill"));
    if (folder.isEmpty()) {
        store.remove(QLatin1String(kDataFolderKey));
    } else {
        store.setValue(QLatin1String(kDataFolderKey), folder);
    }
    TrackSearch search = view_->View().GetTrackSearch();
    search.userDataFolder = folder.toStdString();
    view_->View().SetTrackSearch(search);
}

QString CMainFrame::DataFolder() const {
    return QString::fromStdString(view_->View().GetTrackSearch().userDataFolder);
}

void CMainFrame::ChooseDataFolder() {
    const QString start = DataFolder().isEmpty() ? QDir::homePath() : DataFolder();
    const QString folder = QFileDialog::getExistingDirectory(this, tr("Set Data Folder"), start);
    // A cancelled dialog keeps the folder there was.
    if (!folder.isEmpty()) SetDataFolder(folder);
    view_->setFocus();
}

CMainFrame::~CMainFrame() = default;

void CMainFrame::BuildLibraryPane() {
    library_ = new LibraryPane(this);
    // The library runs the whole height at the left, so its list never shares the height
    // with the panes below the map; the first start sizes it (AnalysisPanes).
    setCorner(Qt::BottomLeftCorner, Qt::LeftDockWidgetArea);
    addDockWidget(Qt::LeftDockWidgetArea, library_);
    statusBar()->insertPermanentWidget(0, library_->Progress());
    analysisMenu_->Menu()->addSeparator();
    QAction* show = library_->toggleViewAction();
    show->setText(tr("&Library"));
    show->setStatusTip(tr("Show or hide the lap library"));
    analysisMenu_->Menu()->addAction(show);
    connect(library_, &LibraryPane::statusMessage, statusBar(), &QStatusBar::showMessage);
    // Laps opened from the library leave the keys to the map, ready to play.
    connect(library_, &LibraryPane::openLaps, this, [this](const std::vector<std::string>& paths) {
        OpenFiles(paths, true);
        view_->setFocus();
    });
    connect(library_, &LibraryPane::addLaps, this, [this](const std::vector<std::string>& paths) {
        AddFiles(paths);
        view_->setFocus();
    });
}

QAction* CMainFrame::AddCommand(QMenu* menu, int id, const QString& text) {
    // The text after a tab is the key hint: a menu shows it in its shortcut column, but it is
    // no shortcut, because the keys themselves reach the view.
    auto* action = new QAction(text, this);
    action->setData(id);
    if (prompts_.count(id)) action->setStatusTip(prompts_[id]);
    connect(action, &QAction::triggered, this, [this, id] { RunCommand(id); });
    if (menu) menu->addAction(action);
    actions_[id] = action;
    return action;
}

void CMainFrame::BuildMenus() {
    prompts_ = {
        {ID_FILE_OPEN_REPLAYS, tr("Open replay files, replacing the ones shown")},
        {ID_FILE_ADD_REPLAYS, tr("Add replay files to the ones shown")},
        {ID_APP_EXIT, tr("Quit the application; prompts to save documents")},
        {ID_VIEW_TOOLBAR, tr("Show or hide the toolbar")},
        {ID_VIEW_STATUS_BAR, tr("Show or hide the status bar")},
        {ID_PREFERENCES, QStringLiteral("View and edit preferences")},
        {ID_APP_ABOUT, tr("Display program information, version number and copyright")},
    };
    QMenuBar* bar = menuBar();

    QMenu* file = bar->addMenu(QStringLiteral("&File"));
    AddCommand(file, ID_FILE_OPEN_REPLAYS, QStringLiteral("&Open Replay(s)..."));
    AddCommand(file, ID_FILE_ADD_REPLAYS, QStringLiteral("&Add Replay(s)..."));
    file->addSeparator();
    AddCommand(file, ID_APP_EXIT, QStringLiteral("E&xit"));
    file->addSeparator();
    auto* dataFolder = new QAction(tr("Set &Data Folder..."), this);
    dataFolder->setObjectName(QStringLiteral("setDataFolder"));
    dataFolder->setStatusTip(tr("Choose a folder to search for tracks that are not found beside the replays"));
    connect(dataFolder, &QAction::triggered, this, &CMainFrame::ChooseDataFolder);
    file->addAction(dataFolder);

    // Menus as lists of commands; id 0 is a separator.
    struct Entry {
        int id;
        const char* text;
        bool checkable = false;
    };
    const auto add = [this](QMenu* menu, std::initializer_list<Entry> entries) {
        for (const Entry& e : entries) {
            if (e.id == 0) {
                menu->addSeparator();
            } else {
                AddCommand(menu, e.id, QString::fromUtf8(e.text))->setCheckable(e.checkable);
            }
        }
    };
    QMenu* replay = bar->addMenu(QStringLiteral("&Replay"));
    add(replay, {{ID_REPLAY_START, "&Start of lap\tHome"},
                 {ID_REPLAY_END, "&End of lap\tEnd"},
                 {0, nullptr},
                 {ID_REPLAY_PLAY_PAUSE, "&Play/pause\tS"},
                 {ID_REPLAY_DEC_SPEED, "&Dec speed/step back\tA"},
                 {ID_REPLAY_INC_SPEED, "&Inc speed/step forward\tD"},
                 {ID_REPLAY_REVERSE, "&Reverse direction\tF"},
                 {0, nullptr}});
    QMenu* sync = replay->addMenu(QStringLiteral("&Sync to start of"));
    add(sync, {{ID_SYNC_LAP, "&Lap\t1", true},
               {ID_SYNC_DETECTED_CORNER, "Auto Detected &Corner\t2", true},
               {ID_SYNC_SEGMENT_MARKER, "&Segment Marker\t3", true}});

    QMenu* segment = bar->addMenu(QStringLiteral("&Track Segment"));
    add(segment, {{ID_SEGMENT_MARK_START, "Mark &Start Custom Segment\t,"},
                  {ID_SEGMENT_MARK_END, "Mark &End Custom Segment\t."},
                  {0, nullptr},
                  {ID_SEGMENT_PREVIOUS, "Move to &Previous Segment\tPage Up"},
                  {ID_SEGMENT_NEXT, "Move to &Next Segment\tPage Down"}});

    QMenu* view = bar->addMenu(QStringLiteral("&View"));
    add(view, {{ID_VIEW_ZOOM_IN, "Zoom &In\tZ"},
               {ID_VIEW_ZOOM_OUT, "Zoom &Out\tX"},
               {0, nullptr},
               {ID_VIEW_MOVE_LEFT, "Move &Left\tLeft Arrow"},
               {ID_VIEW_MOVE_RIGHT, "Move &Right\tRight Arrow"},
               {ID_VIEW_MOVE_UP, "Move &Up\tUp Arrow"},
               {ID_VIEW_MOVE_DOWN, "Move &Down\tDown Arrow"},
               {0, nullptr},
               {ID_VIEW_TOGGLE_STATS, "Toggle St&ats\tQ", true},
               {0, nullptr},
               {ID_VIEW_TOOLBAR, "&Toolbar", true},
               {ID_VIEW_STATUS_BAR, "&Status Bar", true},
               {0, nullptr}});
    AddCommand(view, ID_PREFERENCES, QStringLiteral("Preferences"));

    QMenu* help = bar->addMenu(QStringLiteral("&Help"));
    AddCommand(help, ID_APP_ABOUT, QStringLiteral("&About Lapquill..."));
    BuildDesktopItems(file, view);

    for (QMenu* menu : {file, replay, sync, segment, view, help}) {
        connect(menu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandStates);
    }
}

void CMainFrame::BuildToolBar() {
    toolBar_ = addToolBar(QStringLiteral("Standard"));
    toolBar_->setObjectName(QStringLiteral("toolbar"));
    toolBar_->setIconSize(QSize(16, 15));
    QStyle* s = style();
    // Nothing handles the editing commands: their buttons stay disabled.
    struct Button {
        int id;
        const char* text;
        QIcon icon;
    };
    const Button buttons[] = {
        {ID_EDIT_CUT, "Cut", QIcon::fromTheme(QStringLiteral("edit-cut"))},
        {ID_EDIT_COPY, "Copy", QIcon::fromTheme(QStringLiteral("edit-copy"))},
        {ID_EDIT_PASTE, "Paste", QIcon::fromTheme(QStringLiteral("edit-paste"))},
    };
    for (const auto& b : buttons) {
        auto* a = AddCommand(nullptr, b.id, QString::fromLatin1(b.text));
        a->setIcon(b.icon.isNull() ? s->standardIcon(QStyle::SP_FileIcon) : b.icon);
        a->setEnabled(false);
        toolBar_->addAction(a);
    }
    toolBar_->addSeparator();
    QAction* about = actions_[ID_APP_ABOUT];
    about->setIcon(s->standardIcon(QStyle::SP_MessageBoxQuestion));
    toolBar_->addAction(about);
}

void CMainFrame::BuildStatusBar() {
    statusBar()->showMessage(tr("Ready"));
    // The keyboard lock indicators of the classic status bar; Qt cannot read the lock state
    // portably, so the panes show their names only.
    for (const char* name : {"CAP", "NUM", "SCRL"}) {
        auto* pane = new QLabel(QString::fromLatin1(name), this);
        pane->setEnabled(false);
        pane->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        statusBar()->addPermanentWidget(pane);
    }
}

QAction* CMainFrame::Action(int id) const {
    const auto it = actions_.find(id);
    return it == actions_.end() ? nullptr : it->second;
}

void CMainFrame::RunCommand(int id) {
    for (const auto& k : kKeyCommands) {
        if (k.id == id) {
            view_->SendKey(k.key);
            UpdateCommandStates();
            return;
        }
    }
    switch (id) {
        case ID_FILE_OPEN_REPLAYS: {
            const int before = view_->ReplayCount();
            view_->OpenReplays(true);
            NoteOpened(true, before);
            break;
        }
        case ID_FILE_ADD_REPLAYS:
            if (Action(id)->isEnabled()) {
                const int before = view_->ReplayCount();
                view_->OpenReplays(false);
                NoteOpened(false, before);
            }
            break;
        case ID_SEGMENT_MARK_START: view_->MarkCustomStart(); break;
        case ID_SEGMENT_MARK_END: view_->MarkCustomEnd(); break;
        case ID_SYNC_LAP: view_->SetSyncMode(0); break;
        case ID_SYNC_SEGMENT_MARKER: view_->SetSyncMode(1); break;
        case ID_SYNC_DETECTED_CORNER: view_->SetSyncMode(2); break;
        case ID_RENDER_FRAME: view_->repaint(); break;
        case ID_APP_EXIT: close(); break;
        case ID_VIEW_TOOLBAR: toolBar_->setVisible(!toolBar_->isVisible()); break;
        case ID_VIEW_STATUS_BAR:
            statusBar()->setVisible(statusBar()->isHidden());
            SaveDesktopState();
            break;
        case ID_PREFERENCES: emit preferencesRequested(); break;
        case ID_APP_ABOUT: emit aboutRequested(); break;
        default: break;
    }
    UpdateCommandStates();
}

void CMainFrame::UpdateCommandStates() {
    const int count = view_->ReplayCount();
    Action(ID_FILE_ADD_REPLAYS)->setEnabled(count > 0 && count < 6);
    Action(ID_VIEW_TOGGLE_STATS)->setChecked(view_->StatsVisible());
    const int mode = view_->SyncModeValue();
    Action(ID_SYNC_LAP)->setChecked(mode == 0);
    Action(ID_SYNC_SEGMENT_MARKER)->setChecked(mode == 1);
    Action(ID_SYNC_DETECTED_CORNER)->setChecked(mode == 2);
    Action(ID_VIEW_TOOLBAR)->setChecked(toolBar_ ? !toolBar_->isHidden() : true);
    Action(ID_VIEW_STATUS_BAR)->setChecked(!statusBar()->isHidden());
    UpdateWindowTitle();
    if (library_) {
        const ReplaySet& set = view_->View().Replays();
        std::vector<std::string> shown(set.replayPaths.begin(), set.replayPaths.begin() + count);
        library_->SetShownLaps(count ? std::string(set.replays[0].header.TrackName()) : std::string(),
                               count ? std::string(set.replays[0].header.TrackConfig()) : std::string(), shown);
    }
}

void CMainFrame::OpenFiles(const std::vector<std::string>& paths, bool replace) {
    const int before = view_->ReplayCount();
    view_->OpenReplayFiles(paths, replace);
    if (!paths.empty()) NoteOpened(replace, before);
    UpdateCommandStates();
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event) {
    if (!event->mimeData()->hasUrls()) return;
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile() && IsReplayPath(url.toLocalFile())) {
            event->acceptProposedAction();
            return;
        }
    }
}

void CMainFrame::dropEvent(QDropEvent* event) {
    if (DropUrls(event->mimeData()->urls())) event->acceptProposedAction();
}

bool CMainFrame::DropUrls(const QList<QUrl>& urls) {
    std::vector<std::string> paths;
    for (const QUrl& url : urls) {
        if (url.isLocalFile() && IsReplayPath(url.toLocalFile())) {
            paths.push_back(QFileInfo(url.toLocalFile()).absoluteFilePath().toStdString());
        }
    }
    if (paths.empty()) return false;
    AddFiles(paths);
    return true;
}

void CMainFrame::AddFiles(const std::vector<std::string>& paths) {
    // Added laps join the ones shown; with none shown they open a new set. A full set takes
    // no more, as Add would not.
    const int count = view_->ReplayCount();
    if (count >= 6) {
        view_->MessageBox(ReplayLimitMessage());
        return;
    }
    OpenFiles(paths, count == 0);
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    QSettings store(QStringLiteral("Harrowmere"), QStringLiteral("Lapquill"));
    store.setValue(QStringLiteral("Window geometry"), saveGeometry());
    store.setValue(QStringLiteral("Window state"), saveState());
    SaveDesktopState();
    QMainWindow::closeEvent(event);
}

}  // namespace lapquill
