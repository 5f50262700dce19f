// The main frame's desktop conventions, added around the first program's menus: standard
// shortcuts for Open, Add, Exit and About (none of them a key the map uses: the map's keys
// carry no Ctrl and F1 is free), File > Open Recent, View > Table Panel, a window title that
// names the track, a minimum size, and the status bar's visibility remembered like the
// toolbar's.
#include <QAction>
#include <QFileInfo>
#include <QKeySequence>
#include <QMenu>
#include <QSettings>
#include <QStatusBar>

#include "app/main_frame.h"
#include "app/recent_files.h"
#include "app/view_widget.h"
#include "files/text_encoding.h"
#include "view/analysis_view.h"

namespace lapquill {

namespace {

constexpr const char* kStatusBarKey = "Status bar";
constexpr const char* kTablePanelKey = "Table panel";
constexpr int kNoteMilliseconds = 10000;
// Small enough for a laptop at 200 %, large enough for six columns of the table at 100 %.
constexpr QSize kMinimumWindowSize(720, 480);

QSettings Store() { return QSettings(QStringLiteral("Harrowmere"), QStringLiteral("Lapquill")); }

}  // namespace

QString CMainFrame::TitleFor(const std::string& trackName, const std::string& trackConfig) {
    const QString app = QStringLiteral("Lapquill");
    const QString track = QString::fromStdString(trackName).trimmed();
    const QString config = QString::fromStdString(trackConfig).trimmed();
    if (track.isEmpty()) return app;
    const QString place = config.isEmpty() ? track : QStringLiteral("%1 (%2)").arg(track, config);
    return place + QStringLiteral(" \u2014 ") + app;
}

void CMainFrame::UpdateWindowTitle() {
    const CAnalysisView& view = view_->View();
    QString title = QStringLiteral("Lapquill");
    if (view.ReplayCount() > 0) {
        const ReplayHeader& header = view.Replays().replays[0].header;
        title = TitleFor(DecodeWindows1252(header.TrackName()), DecodeWindows1252(header.TrackConfig()));
    }
    if (windowTitle() != title) setWindowTitle(title);
}

void CMainFrame::BuildDesktopItems(QMenu* file, QMenu* view) {
    Action(ID_FILE_OPEN_REPLAYS)->setShortcut(QKeySequence::Open);
    Action(ID_FILE_ADD_REPLAYS)->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O));
    Action(ID_APP_EXIT)->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    Action(ID_APP_ABOUT)->setShortcut(QKeySequence(Qt::Key_F1));
    setMinimumSize(kMinimumWindowSize);

    // Between the first program's items and Set Data Folder..., which stays last.
    auto* recent = new QMenu(tr("Open &Recent"), file);
    const QList<QAction*> fileItems = file->actions();
    if (fileItems.isEmpty()) {
        file->addMenu(recent);
    } else {
        file->insertMenu(fileItems.back(), recent);
    }
    recentMenu_ = new RecentMenu(recent, this);
    connect(recentMenu_, &RecentMenu::openRequested, this, &CMainFrame::OpenRecent);
    connect(recentMenu_, &RecentMenu::missingRemoved, this, [this](const QStringList& removed) {
        statusBar()->showMessage(MissingRecentNote(removed), kNoteMilliseconds);
    });

    view->addSeparator();
    tablePanel_ = view->addAction(tr("Table &Panel"));
    tablePanel_->setObjectName(QStringLiteral("tablePanel"));
    tablePanel_->setCheckable(true);
    tablePanel_->setChecked(true);
    tablePanel_->setStatusTip(tr("Show or hide the dark panel behind the statistics table"));
    connect(tablePanel_, &QAction::toggled, this, &CMainFrame::SetTablePanel);
}

void CMainFrame::SetTablePanel(bool visible) {
    view_->View().SetStatsBackdrop(visible);
    if (tablePanel_->isChecked() != visible) tablePanel_->setChecked(visible);
    Store().setValue(QLatin1String(kTablePanelKey), visible);
}

void CMainFrame::RestoreDesktopState() {
    QSettings store = Store();
    statusBar()->setHidden(!store.value(QLatin1String(kStatusBarKey), true).toBool());
    const bool panel = store.value(QLatin1String(kTablePanelKey), true).toBool();
    view_->View().SetStatsBackdrop(panel);
    tablePanel_->setChecked(panel);
    UpdateCommandStates();
}

void CMainFrame::SaveDesktopState() {
    Store().setValue(QLatin1String(kStatusBarKey), !statusBar()->isHidden());
}

void CMainFrame::NoteOpened(bool replace, int countBefore) {
    const CAnalysisView& view = view_->View();
    QStringList accepted;
    for (int slot = replace ? 0 : countBefore; slot < view.ReplayCount(); ++slot) {
        accepted.push_back(QString::fromStdString(view.ReplayPath(slot)));
    }
    AddRecentFiles(accepted);
}

void CMainFrame::OpenRecent(const QString& path) {
    if (!QFileInfo(path).isFile()) {
        RemoveRecentFile(path);
        statusBar()->showMessage(MissingRecentNote({path}), kNoteMilliseconds);
        ReturnFocusToMap();
        return;
    }
    OpenFiles({path.toStdString()}, true);
    ReturnFocusToMap();
}

void CMainFrame::ReturnFocusToMap() { view_->setFocus(Qt::OtherFocusReason); }

}  // namespace lapquill
