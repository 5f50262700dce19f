// CMainFrame: the one top-level window, with the menu, the toolbar, the status bar and the
// map view as its central widget. Menu commands that stand for keys send the same virtual-key
// codes to the view; the frame keeps the enable and check state of the menu in step with the
// view. CAnalyzerApp creates it and handles Preferences and About.
#pragma once

#include <QMainWindow>
#include <map>
#include <string>
#include <vector>

#include "app/command_ids.h"

class QAction;
class QMenu;
class QLabel;
class QToolBar;
class QUrl;

namespace lapquill {

class AnalysisMenu;
class AnalysisPanes;
class RecentMenu;
class CViewWidget;
class LibraryPane;
struct AppSettings;

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    explicit CMainFrame(AppSettings* settings, QWidget* parent = nullptr);
    ~CMainFrame() override;

    CViewWidget& View() { return *view_; }
    AnalysisMenu& Analysis() { return *analysisMenu_; }
    AnalysisPanes& Panes() { return *panes_; }
    LibraryPane& Library() { return *library_; }
    // The action carrying a command id, or null.
    QAction* Action(int id) const;
    // Runs a command as the menu would.
    void RunCommand(int id);
    // Brings the enable and check states up to date (done before every menu shows, and after
    // every command so that the toolbar and tests see the current state).
    void UpdateCommandStates();
    // Opens the given replay files as Open Replay(s) would (replace) or adds them (Add).
    void OpenFiles(const std::vector<std::string>& paths, bool replace);
    // The data folder searched for tracks and segment files that neither data/smx nor the
    // replay's own data folder holds: remembered in the settings store and handed to the view.
    // An empty folder clears it.
    void SetDataFolder(const QString& folder);
    QString DataFolder() const;
    // The replay files among dropped URLs join the set (or open one when none is shown).
    // Returns true when any was a replay file.
    bool DropUrls(const QList<QUrl>& urls);
    // Adds replay files to the ones shown, or opens them when none is; a full set takes no more.
    void AddFiles(const std::vector<std::string>& paths);

    // The desktop side added around the first program's menus (desktop_frame.cpp).
    // "Track (Configuration) — Lapquill" while replays are shown, else "Lapquill".
    static QString TitleFor(const std::string& trackName, const std::string& trackConfig);
    void UpdateWindowTitle();
    // View > Table Panel: the dark panel behind the table, remembered in the settings.
    void SetTablePanel(bool visible);
    RecentMenu& Recent() { return *recentMenu_; }
    // Opens a File > Open Recent entry; a file that has gone is removed with a note instead.
    void OpenRecent(const QString& path);
    // Focus back on the map, after a dialog or anything else that took it.
    void ReturnFocusToMap();

signals:
    void preferencesRequested();
    void aboutRequested();

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QAction* AddCommand(QMenu* menu, int id, const QString& text);
    void BuildMenus();
    void BuildToolBar();
    void BuildStatusBar();
    void ChooseDataFolder();
    void BuildDesktopItems(QMenu* file, QMenu* view);
    void RestoreDesktopState();
    void SaveDesktopState();
    // Recent files gain what an open just accepted: every shown lap after a replacing open,
    // the laps past `countBefore` after an add.
    void NoteOpened(bool replace, int countBefore);
    void BuildLibraryPane();

    AppSettings* settings_;
    CViewWidget* view_ = nullptr;
    QToolBar* toolBar_ = nullptr;
    std::map<int, QAction*> actions_;
    std::map<int, QString> prompts_;
    AnalysisMenu* analysisMenu_ = nullptr;  // owned by the frame as its child
    AnalysisPanes* panes_ = nullptr;        // the docks beside the map; a child of the frame
    RecentMenu* recentMenu_ = nullptr;      // likewise
    QAction* tablePanel_ = nullptr;
    LibraryPane* library_ = nullptr;        // a dock of the frame
};

}  // namespace lapquill
