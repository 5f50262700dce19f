// The Library pane: a dock listing the laps of the lap library, the folders it watches, and
// the ways to open laps from it. Scans run on a thread of their own with their own connection
// to the database, so the map and its playback never wait for them; the pane's own connection
// only reads. The main frame owns the pane, opens the library file at start-up, tells it after
// every command which laps are shown, and opens or adds the laps the pane's signals ask for.
#pragma once

#include <QAbstractTableModel>
#include <QDockWidget>
#include <QPointer>
#include <QProgressBar>
#include <QSortFilterProxyModel>
#include <memory>
#include <string>
#include <vector>

#include "library/lap_library.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPushButton;
class QThread;
class QTimer;
class QTreeView;

namespace lapquill {

// The laps of the library as a table, one row per lap, in the library's order (track,
// configuration, lap time). Rows drag as file URLs, so that dropping them on the map adds them.
class LibraryLapModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // Who drove what how fast first: the track columns say little once the list holds one track.
    enum Column { kDriver, kCar, kLapTime, kTrack, kConfig, kWeather, kModified, kFile, kColumnCount };
    static constexpr int kSortRole = Qt::UserRole;  // numbers for times and dates, text otherwise

    using QAbstractTableModel::QAbstractTableModel;

    void SetLaps(std::vector<LapEntry> laps);
    const LapEntry& Lap(int row) const { return rows_[static_cast<std::size_t>(row)].lap; }
    bool IsBest(int row) const { return rows_[static_cast<std::size_t>(row)].best; }
    // Every shown text of the row, lower case: what the text filter searches.
    const QString& SearchText(int row) const { return rows_[static_cast<std::size_t>(row)].search; }
    int LapCount() const { return static_cast<int>(rows_.size()); }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;

private:
    struct Row {
        LapEntry lap;
        bool best = false;
        QString track, config, driver, car, lapTime, weather, modified, file;
        QString search;
    };
    std::vector<Row> rows_;
};

// The filters over the laps: the loaded track (on by default, and only when laps are shown)
// and a text of words that must all appear in a row, in any letter case.
class LibraryLapFilter : public QSortFilterProxyModel {
    Q_OBJECT
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

    // Raw track and configuration names as the replay files hold them; empty: no lap shown.
    void SetLoadedTrack(const std::string& track, const std::string& config);
    void SetTrackOnly(bool on);
    bool TrackOnly() const { return trackOnly_; }
    bool FiltersTrack() const { return trackOnly_ && !track_.empty(); }
    void SetText(const QString& text);

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    std::string track_, config_;
    bool trackOnly_ = true;
    QStringList words_;
};

class LibraryPane : public QDockWidget {
    Q_OBJECT
public:
    explicit LibraryPane(QWidget* parent = nullptr);
    // A scan still running is cancelled (nothing of it is kept) and its thread waited for.
    ~LibraryPane() override;

    // Opens the library file and rescans the watched folders. A file that cannot be used is
    // left as it is: the pane says why, and the program goes on without the library.
    bool OpenLibrary(const QString& path);
    bool HasLibrary() const { return library_ != nullptr; }
    // Why the library is unavailable; empty when it is open.
    QString Problem() const { return problem_; }

    // Folder changes and rescans are done by the scan thread, one after the other.
    void AddFolder(const QString& folder);
    void RemoveFolder(const QString& folder);
    QStringList Folders() const;
    void Rescan();
    bool Scanning() const { return thread_ != nullptr; }

    // The laps shown on the map (raw names of their track, and their files in slot order).
    void SetShownLaps(const std::string& track, const std::string& config,
                      const std::vector<std::string>& paths);

    // The laps chosen in the list, in the list's order.
    std::vector<std::string> SelectedPaths() const;
    void OpenSelected();
    void AddSelected();
    // Opens the lap as slot 0, the reference, followed by the laps shown now when they are of
    // its track and configuration.
    void OpenFirst(const LapEntry& lap);
    // The list's context menu for the row at `index`; the caller owns it.
    QMenu* ContextMenuFor(const QModelIndex& index);

    QTreeView* LapView() const { return lapView_; }
    LibraryLapModel* Model() const { return model_; }
    LibraryLapFilter* Filter() const { return filter_; }
    QCheckBox* TrackOnlyBox() const { return trackOnly_; }
    QLineEdit* TextBox() const { return text_; }
    QListWidget* FolderList() const { return folders_; }
    QLabel* CountLabel() const { return count_; }
    // Shown in the status bar while a scan runs.
    QProgressBar* Progress() const { return progress_.data(); }

signals:
    void openLaps(const std::vector<std::string>& paths);  // replacing the laps shown
    void addLaps(const std::vector<std::string>& paths);
    void statusMessage(const QString& text, int timeoutMs);
    void scanFinished();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Job;
    void ChooseFolder();
    void RemoveChosenFolder();
    void StartJob();
    void StopJob();
    void OnJobFinished();
    void ShowProgress();
    void RefreshLaps();
    void RefreshFolders();
    void UpdateCount();
    void Disable(const QString& problem);

    std::unique_ptr<LapLibrary> library_;  // reads only; the scan thread writes
    QString path_;
    QString problem_;
    std::vector<std::string> shownPaths_;
    std::string shownTrack_, shownConfig_;

    // The job running on thread_, and what is to be done after it.
    std::shared_ptr<Job> job_;
    QThread* thread_ = nullptr;
    QStringList pendingAdd_, pendingRemove_;
    bool pendingScan_ = false;
    std::vector<RejectedFile> folderErrors_;

    LibraryLapModel* model_ = nullptr;
    LibraryLapFilter* filter_ = nullptr;
    QListWidget* folders_ = nullptr;
    QPushButton* addFolder_ = nullptr;
    QPushButton* removeFolder_ = nullptr;
    QPushButton* rescan_ = nullptr;
    QCheckBox* trackOnly_ = nullptr;
    QLineEdit* text_ = nullptr;
    QTreeView* lapView_ = nullptr;
    QLabel* count_ = nullptr;
    QLabel* problemLabel_ = nullptr;
    QPointer<QProgressBar> progress_;  // the status bar takes it over
    QTimer* progressTimer_ = nullptr;
};

}  // namespace lapquill
