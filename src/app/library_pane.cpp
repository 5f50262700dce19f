// The Library pane. See library_pane.h.
#include "app/library_pane.h"

#include <QAction>
#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QStyle>
#include <QThread>
#include <QTimer>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <numbers>

#include "files/text_encoding.h"
#include "library/lap_browse.h"

namespace lapquill {

namespace {

QString FromRaw(const std::string& bytes) { return QString::fromStdString(DecodeWindows1252(bytes)); }

QString FromPath(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }

// A gold star: the mark of a track's best lap, drawn rather than taken from a font that may
// lack the glyph.
QIcon BestLapIcon() {
    static const QIcon icon = [] {
        QPixmap pixmap(16, 16);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        QPainterPath star;
        for (int i = 0; i < 10; ++i) {
            const double r = i % 2 ? 3.2 : 7.5;
            const double a = -std::numbers::pi / 2 + i * std::numbers::pi / 5;
            const QPointF point(8 + r * std::cos(a), 8.5 + r * std::sin(a));
            if (i == 0) {
                star.moveTo(point);
            } else {
                star.lineTo(point);
            }
        }
        star.closeSubpath();
        p.setPen(QPen(QColor(150, 110, 0), 1));
        p.setBrush(QColor(250, 200, 30));
        p.drawPath(star);
        return QIcon(pixmap);
    }();
    return icon;
}

QString SectorText(const LapEntry& lap) {
    QStringList sectors;
    for (const std::int64_t ms : SectorTimesMs(lap.splitTimesMs)) {
        sectors << QString::number(static_cast<double>(ms) / 1000.0, 'f', 3);
    }
    return sectors.join(QStringLiteral("  "));
}

// "1 lap", "2 laps": the program has no translations that would resolve %n plurals.
QString Counted(qsizetype n, const QString& one, const QString& many) {
    return (n == 1 ? one : many).arg(n);
}

}  // namespace

// ---- The laps as a table -------------------------------------------------------------------

void LibraryLapModel::SetLaps(std::vector<LapEntry> laps) {
    beginResetModel();
    const std::vector<bool> best = BestLapFlags(laps);
    rows_.clear();
    rows_.reserve(laps.size());
    for (std::size_t i = 0; i < laps.size(); ++i) {
        Row row;
        row.lap = std::move(laps[i]);
        row.best = best[i];
        row.track = FromRaw(row.lap.track);
        row.config = FromRaw(row.lap.config);
        row.driver = FromRaw(row.lap.playerPlain);
        row.car = FromRaw(row.lap.car);
        row.lapTime = QString::fromStdString(FormatLapTime(row.lap.lapTimeMs));
        row.weather = FromRaw(row.lap.weather);
        row.modified = QDateTime::fromMSecsSinceEpoch(row.lap.modifiedNs / 1000000)
                           .toString(QStringLiteral("yyyy-MM-dd HH:mm"));
        row.file = QFileInfo(FromPath(row.lap.path)).fileName();
        row.search = QStringList{row.track, row.config, row.driver, row.car, row.lapTime,
                                 row.weather, row.modified, row.file}
                         .join(QLatin1Char('\n'))
                         .toCaseFolded();
        rows_.push_back(std::move(row));
    }
    endResetModel();
}

int LibraryLapModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int LibraryLapModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant LibraryLapModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= LapCount()) return {};
    const Row& row = rows_[static_cast<std::size_t>(index.row())];
    const int column = index.column();
    if (role == Qt::DisplayRole) {
        switch (column) {
            case kTrack: return row.track;
            case kConfig: return row.config;
            case kDriver: return row.driver;
            case kCar: return row.car;
            case kLapTime: return row.lapTime;
            case kWeather: return row.weather;
            case kModified: return row.modified;
            case kFile: return row.file;
            default: return {};
        }
    }
    if (role == kSortRole) {
        // Times sort as numbers (10:00 after 9:59), laps without one last.
        if (column == kLapTime) {
            return row.lap.lapTimeMs ? qlonglong{*row.lap.lapTimeMs} : std::numeric_limits<qlonglong>::max();
        }
        if (column == kModified) return qlonglong{row.lap.modifiedNs};
        return data(index, Qt::DisplayRole);
    }
    if (role == Qt::FontRole && row.best) {
        QFont bold;
        bold.setBold(true);
        return bold;
    }
    if (role == Qt::DecorationRole && column == kLapTime && row.best) return BestLapIcon();
    if (role == Qt::TextAlignmentRole && column == kLapTime) {
        return static_cast<int>(Qt::AlignRight | Qt::AlignVCenter);
    }
    if (role == Qt::ToolTipRole) {
        if (column == kLapTime) {
            QString tip = tr("Sectors: %1").arg(row.lap.splitTimesMs.empty() ? tr("none") : SectorText(row.lap));
            if (row.best) tip = tr("The best lap at %1 %2").arg(row.track, row.config) + QLatin1Char('\n') + tip;
            return tip;
        }
        if (column == kFile) return FromPath(row.lap.path);
        if (column == kDriver) return FromRaw(row.lap.player);
    }
    return {};
}

QVariant LibraryLapModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    switch (section) {
        case kTrack: return tr("Track");
        case kConfig: return tr("Config");
        case kDriver: return tr("Driver");
        case kCar: return tr("Car");
        case kLapTime: return tr("Lap");
        case kWeather: return tr("Weather");
        case kModified: return tr("Date");
        case kFile: return tr("File");
        default: return {};
    }
}

Qt::ItemFlags LibraryLapModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
}

QStringList LibraryLapModel::mimeTypes() const { return {QStringLiteral("text/uri-list")}; }

QMimeData* LibraryLapModel::mimeData(const QModelIndexList& indexes) const {
    // One URL per lap, however many of its cells are chosen, in the order of the rows.
    QList<int> rows;
    for (const QModelIndex& index : indexes) {
        if (index.isValid() && !rows.contains(index.row())) rows << index.row();
    }
    std::sort(rows.begin(), rows.end());
    QList<QUrl> urls;
    for (const int row : rows) urls << QUrl::fromLocalFile(FromPath(Lap(row).path));
    auto* mime = new QMimeData;
    mime->setUrls(urls);
    return mime;
}

// ---- Filters -------------------------------------------------------------------------------

void LibraryLapFilter::SetLoadedTrack(const std::string& track, const std::string& config) {
    if (track == track_ && config == config_) return;
    track_ = track;
    config_ = config;
    invalidateFilter();
}

void LibraryLapFilter::SetTrackOnly(bool on) {
    if (on == trackOnly_) return;
    trackOnly_ = on;
    invalidateFilter();
}

void LibraryLapFilter::SetText(const QString& text) {
    static const QRegularExpression space(QStringLiteral("\\s+"));
    words_ = text.toCaseFolded().split(space, Qt::SkipEmptyParts);
    invalidateFilter();
}

bool LibraryLapFilter::filterAcceptsRow(int sourceRow, const QModelIndex&) const {
    const auto* laps = qobject_cast<const LibraryLapModel*>(sourceModel());
    if (!laps || sourceRow >= laps->LapCount()) return false;
    if (FiltersTrack()) {
        const LapEntry& lap = laps->Lap(sourceRow);
        if (lap.track != track_ || lap.config != config_) return false;
    }
    const QString& text = laps->SearchText(sourceRow);
    for (const QString& word : words_) {
        if (!text.contains(word)) return false;
    }
    return true;
}

// ---- The pane ------------------------------------------------------------------------------

// A run of the scan thread: folder changes, then a scan of every watched folder, on a
// connection of its own. The pane reads the results once the thread has finished.
struct LibraryPane::Job {
    std::string databasePath;
    std::vector<std::string> add, remove;
    std::atomic<bool> cancel{false};
    std::atomic<int> done{0}, total{0};  // files read of those that need reading
    bool ok = true;
    std::string error;
    ScanReport report;
};

LibraryPane::LibraryPane(QWidget* parent) : QDockWidget(tr("Library"), parent) {
    setObjectName(QStringLiteral("LibraryDock"));
    // Laps dragged from the list and let go over the pane itself add nothing.
    setAcceptDrops(true);

    auto* content = new QWidget(this);
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(4, 4, 4, 4);

    folders_ = new QListWidget(content);
    folders_->setObjectName(QStringLiteral("libraryFolders"));
    folders_->setMaximumHeight(fontMetrics().height() * 4 + 8);
    folders_->setToolTip(tr("Folders whose replay files the library lists"));
    layout->addWidget(new QLabel(tr("Folders:"), content));
    layout->addWidget(folders_);

    auto* buttons = new QHBoxLayout;
    addFolder_ = new QPushButton(tr("Add Folder..."), content);
    removeFolder_ = new QPushButton(tr("Remove"), content);
    rescan_ = new QPushButton(tr("Rescan"), content);
    addFolder_->setToolTip(tr("Watch another folder of replay files"));
    removeFolder_->setToolTip(tr("Stop watching the chosen folder; its files stay on disk"));
    rescan_->setToolTip(tr("Look for new, changed and deleted replay files now"));
    for (QPushButton* b : {addFolder_, removeFolder_, rescan_}) buttons->addWidget(b);
    buttons->addStretch();
    layout->addLayout(buttons);

    auto* filters = new QHBoxLayout;
    trackOnly_ = new QCheckBox(tr("Loaded track only"), content);
    trackOnly_->setChecked(true);
    trackOnly_->setToolTip(tr("List only laps of the track and configuration on the map"));
    text_ = new QLineEdit(content);
    text_->setPlaceholderText(tr("Filter: driver, car, track..."));
    text_->setClearButtonEnabled(true);
    filters->addWidget(trackOnly_);
    filters->addWidget(text_, 1);
    layout->addLayout(filters);

    model_ = new LibraryLapModel(this);
    filter_ = new LibraryLapFilter(this);
    filter_->setSourceModel(model_);
    filter_->setSortRole(LibraryLapModel::kSortRole);
    filter_->setSortCaseSensitivity(Qt::CaseInsensitive);

    lapView_ = new QTreeView(content);
    lapView_->setObjectName(QStringLiteral("libraryLaps"));
    lapView_->setModel(filter_);
    lapView_->setRootIsDecorated(false);
    lapView_->setUniformRowHeights(true);
    lapView_->setAlternatingRowColors(true);
    lapView_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lapView_->setSelectionBehavior(QAbstractItemView::SelectRows);
    lapView_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lapView_->setDragEnabled(true);
    lapView_->setDragDropMode(QAbstractItemView::DragOnly);
    lapView_->setDefaultDropAction(Qt::CopyAction);
    lapView_->setContextMenuPolicy(Qt::CustomContextMenu);
    lapView_->setSortingEnabled(true);
    lapView_->sortByColumn(LibraryLapModel::kLapTime, Qt::AscendingOrder);
    lapView_->header()->setStretchLastSection(true);
    lapView_->installEventFilter(this);
    layout->addWidget(lapView_, 1);

    count_ = new QLabel(content);
    count_->setObjectName(QStringLiteral("libraryCount"));
    layout->addWidget(count_);
    problemLabel_ = new QLabel(content);
    problemLabel_->setObjectName(QStringLiteral("libraryProblem"));
    problemLabel_->setWordWrap(true);
    problemLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    problemLabel_->setStyleSheet(QStringLiteral("color: #a00000;"));
    problemLabel_->hide();
    layout->addWidget(problemLabel_);
    setWidget(content);

    progress_ = new QProgressBar;
    progress_->setObjectName(QStringLiteral("libraryProgress"));
    progress_->setMaximumWidth(160);
    progress_->setFormat(tr("Library %v/%m"));
    progress_->hide();
    progressTimer_ = new QTimer(this);
    progressTimer_->setInterval(100);
    connect(progressTimer_, &QTimer::timeout, this, &LibraryPane::ShowProgress);

    connect(addFolder_, &QPushButton::clicked, this, &LibraryPane::ChooseFolder);
    connect(removeFolder_, &QPushButton::clicked, this, &LibraryPane::RemoveChosenFolder);
    connect(rescan_, &QPushButton::clicked, this, &LibraryPane::Rescan);
    connect(folders_, &QListWidget::itemSelectionChanged, this,
            [this] { removeFolder_->setEnabled(library_ && !folders_->selectedItems().isEmpty()); });
    connect(trackOnly_, &QCheckBox::toggled, this, [this](bool on) {
        filter_->SetTrackOnly(on);
        UpdateCount();
    });
    connect(text_, &QLineEdit::textChanged, this, [this](const QString& text) {
        filter_->SetText(text);
        UpdateCount();
    });
    connect(lapView_, &QTreeView::doubleClicked, this, [this](const QModelIndex& index) {
        if (index.isValid()) OpenSelected();
    });
    connect(lapView_, &QTreeView::customContextMenuRequested, this, [this](const QPoint& at) {
        std::unique_ptr<QMenu> menu(ContextMenuFor(lapView_->indexAt(at)));
        menu->exec(lapView_->viewport()->mapToGlobal(at));
    });

    Disable(tr("No lap library is open."));
    problemLabel_->hide();  // not a fault: nothing has been opened yet
}

LibraryPane::~LibraryPane() {
    StopJob();
    if (progress_ && !progress_->parent()) delete progress_.data();
}

void LibraryPane::StopJob() {
    if (!thread_) return;
    // The scan checks the flag before every file and rolls its transaction back.
    job_->cancel = true;
    thread_->disconnect(this);
    thread_->wait();
    delete thread_;
    thread_ = nullptr;
    job_.reset();
    progressTimer_->stop();
    if (progress_) progress_->hide();
}

void LibraryPane::Disable(const QString& problem) {
    StopJob();
    library_.reset();
    problem_ = problem;
    problemLabel_->setText(problem);
    problemLabel_->show();
    for (QWidget* w : {static_cast<QWidget*>(addFolder_), static_cast<QWidget*>(removeFolder_),
                       static_cast<QWidget*>(rescan_)}) {
        w->setEnabled(false);
    }
    pendingAdd_.clear();
    pendingRemove_.clear();
    pendingScan_ = false;
    model_->SetLaps({});
    folders_->clear();
    UpdateCount();
}

bool LibraryPane::OpenLibrary(const QString& path) {
    StopJob();
    path_ = path;
    std::string error;
    std::unique_ptr<LapLibrary> library = LapLibrary::Open(QFile::encodeName(path).toStdString(), &error);
    if (!library) {
        Disable(QString::fromStdString(error));
        emit statusMessage(problem_, 15000);
        return false;
    }
    library_ = std::move(library);
    problem_.clear();
    problemLabel_->hide();
    addFolder_->setEnabled(true);
    rescan_->setEnabled(true);
    removeFolder_->setEnabled(!folders_->selectedItems().isEmpty());
    RefreshFolders();
    RefreshLaps();
    Rescan();
    return true;
}

void LibraryPane::ChooseFolder() {
    const QString folder = QFileDialog::getExistingDirectory(this, tr("Add Folder to the Library"), QDir::homePath());
    if (!folder.isEmpty()) AddFolder(folder);
}

void LibraryPane::RemoveChosenFolder() {
    for (const QListWidgetItem* item : folders_->selectedItems()) RemoveFolder(item->data(Qt::UserRole).toString());
}

void LibraryPane::AddFolder(const QString& folder) {
    if (!library_ || folder.isEmpty()) return;
    const QString absolute = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    pendingRemove_.removeAll(absolute);
    if (!pendingAdd_.contains(absolute)) pendingAdd_ << absolute;
    pendingScan_ = true;
    RefreshFolders();
    StartJob();
}

void LibraryPane::RemoveFolder(const QString& folder) {
    if (!library_ || folder.isEmpty()) return;
    pendingAdd_.removeAll(folder);
    if (!pendingRemove_.contains(folder)) pendingRemove_ << folder;
    pendingScan_ = true;
    RefreshFolders();
    StartJob();
}

void LibraryPane::Rescan() {
    if (!library_) return;
    pendingScan_ = true;
    StartJob();
}

QStringList LibraryPane::Folders() const {
    QStringList out;
    for (int i = 0; i < folders_->count(); ++i) out << folders_->item(i)->data(Qt::UserRole).toString();
    return out;
}

void LibraryPane::StartJob() {
    if (thread_ || !library_) return;
    if (!pendingScan_ && pendingAdd_.isEmpty() && pendingRemove_.isEmpty()) return;
    auto job = std::make_shared<Job>();
    job->databasePath = library_->Path();
    for (const QString& f : pendingAdd_) job->add.push_back(QFile::encodeName(f).toStdString());
    for (const QString& f : pendingRemove_) job->remove.push_back(QFile::encodeName(f).toStdString());
    pendingAdd_.clear();
    pendingRemove_.clear();
    pendingScan_ = false;
    job_ = job;

    thread_ = QThread::create([job] {
        const auto fail = [&](const std::string& error) {
            job->ok = false;
            job->error = error;
        };
        std::string error;
        const std::unique_ptr<LapLibrary> library = LapLibrary::Open(job->databasePath, &error);
        if (!library) return fail(error);
        for (const std::string& f : job->remove) {
            if (!library->RemoveFolder(f, &error)) return fail(error);
        }
        for (const std::string& f : job->add) {
            if (!library->AddFolder(f, &error)) return fail(error);
        }
        const std::vector<std::string> folders = library->Folders(&error);
        if (!error.empty()) return fail(error);
        const auto progress = [job](int done, int total) {
            job->done = done;
            job->total = total;
        };
        if (!library->Scan(folders, &job->report, &job->error, progress, &job->cancel)) job->ok = false;
    });
    connect(thread_, &QThread::finished, this, &LibraryPane::OnJobFinished);
    thread_->start(QThread::LowPriority);
    if (progress_) {
        progress_->setRange(0, 0);  // busy until the files to read are counted
        progress_->show();
    }
    progressTimer_->start();
    emit statusMessage(tr("Scanning the lap library..."), 0);
}

void LibraryPane::ShowProgress() {
    if (!job_ || !progress_) return;
    const int total = job_->total;
    if (total > 0) {
        progress_->setRange(0, total);
        progress_->setValue(job_->done);
    }
}

void LibraryPane::OnJobFinished() {
    if (!thread_) return;
    thread_->wait();
    thread_->deleteLater();
    thread_ = nullptr;
    const std::shared_ptr<Job> job = std::move(job_);
    progressTimer_->stop();
    if (progress_) progress_->hide();

    if (!job->ok) {
        emit statusMessage(tr("The lap library could not be updated: %1").arg(QString::fromStdString(job->error)), 15000);
    } else if (!job->report.cancelled) {
        const ScanReport& r = job->report;
        folderErrors_ = r.folderErrors;
        QString text = tr("Lap library: %1 added, %2 updated, %3 removed, %4 unchanged, %5 rejected")
                           .arg(r.added)
                           .arg(r.updated)
                           .arg(r.removed)
                           .arg(r.unchanged)
                           .arg(r.rejected.size());
        if (!r.folderErrors.empty()) {
            text += Counted(static_cast<qsizetype>(r.folderErrors.size()), tr("; %1 folder could not be read"),
                            tr("; %1 folders could not be read"));
        }
        emit statusMessage(text, 10000);
    }
    RefreshFolders();
    RefreshLaps();
    StartJob();
    if (!thread_) emit scanFinished();
}

void LibraryPane::RefreshFolders() {
    const QStringList selected = [this] {
        QStringList s;
        for (const QListWidgetItem* item : folders_->selectedItems()) s << item->data(Qt::UserRole).toString();
        return s;
    }();
    folders_->clear();
    if (!library_) return;
    std::string error;
    QStringList shown;
    for (const std::string& f : library_->Folders(&error)) shown << FromPath(f);
    // Changes not yet made by the scan thread show at once.
    QStringList adding = pendingAdd_, removing = pendingRemove_;
    if (job_) {
        for (const std::string& f : job_->add) adding << FromPath(f);
        for (const std::string& f : job_->remove) removing << FromPath(f);
    }
    for (const QString& f : adding) {
        if (!shown.contains(f)) shown << f;
    }
    for (const QString& f : removing) shown.removeAll(f);
    for (const QString& f : shown) {
        auto* item = new QListWidgetItem(QDir::toNativeSeparators(f), folders_);
        item->setData(Qt::UserRole, f);
        item->setToolTip(f);
        for (const RejectedFile& e : folderErrors_) {
            if (FromPath(e.path) == f) {
                item->setIcon(style()->standardIcon(QStyle::SP_MessageBoxWarning));
                item->setToolTip(f + QStringLiteral(": ") + QString::fromStdString(e.reason));
            }
        }
        if (adding.contains(f)) item->setToolTip(tr("%1 (not scanned yet)").arg(f));
        item->setSelected(selected.contains(f));
    }
    if (!error.empty()) emit statusMessage(tr("The lap library could not be read: %1").arg(QString::fromStdString(error)), 15000);
}

void LibraryPane::RefreshLaps() {
    if (!library_) return;
    std::vector<LapEntry> laps;
    std::vector<RejectedFile> rejected;
    std::string error;
    if (!library_->List({}, &laps, &error) || !library_->Rejected(&rejected, &error)) {
        emit statusMessage(tr("The lap library could not be read: %1").arg(QString::fromStdString(error)), 15000);
        return;
    }
    // The chosen laps stay chosen across the refresh.
    const std::vector<std::string> chosen = SelectedPaths();
    const bool first = model_->LapCount() == 0;
    model_->SetLaps(std::move(laps));
    // The first laps size the columns; later refreshes keep the widths the user chose.
    if (first && model_->LapCount() > 0) {
        for (int c = 0; c < LibraryLapModel::kColumnCount - 1; ++c) lapView_->resizeColumnToContents(c);
    }
    if (!chosen.empty()) {
        QItemSelection keep;
        for (int row = 0; row < filter_->rowCount(); ++row) {
            const QModelIndex index = filter_->index(row, 0);
            const std::string& path = model_->Lap(filter_->mapToSource(index).row()).path;
            if (std::find(chosen.begin(), chosen.end(), path) != chosen.end()) {
                keep.select(index, filter_->index(row, LibraryLapModel::kColumnCount - 1));
            }
        }
        lapView_->selectionModel()->select(keep, QItemSelectionModel::ClearAndSelect);
    }
    QStringList reasons;
    for (std::size_t i = 0; i < rejected.size() && i < 30; ++i) {
        reasons << FromPath(rejected[i].path) + QStringLiteral(": ") + QString::fromStdString(rejected[i].reason);
    }
    if (rejected.size() > 30) reasons << tr("... and %1 more").arg(rejected.size() - 30);
    count_->setToolTip(reasons.isEmpty() ? QString() : tr("Files not listed:\n") + reasons.join(QLatin1Char('\n')));
    count_->setProperty("rejected", static_cast<int>(rejected.size()));
    UpdateCount();
}

void LibraryPane::UpdateCount() {
    const int all = model_->LapCount();
    const int shown = filter_->rowCount();
    QString text;
    if (!library_) {
        text = tr("Library unavailable");
    } else if (all == 0) {
        text = folders_->count() == 0 ? tr("Add a folder of replay files to list its laps.") : tr("No laps found yet.");
    } else if (shown == all) {
        text = Counted(all, tr("%1 lap"), tr("%1 laps"));
    } else if (shown == 0 && filter_->FiltersTrack() && text_->text().trimmed().isEmpty()) {
        text = tr("No laps of %1 %2 (%3 in all)").arg(FromRaw(shownTrack_), FromRaw(shownConfig_)).arg(all);
    } else {
        text = tr("%1 of %2").arg(shown).arg(Counted(all, tr("%1 lap"), tr("%1 laps")));
    }
    const int rejected = count_->property("rejected").toInt();
    if (library_ && rejected > 0) text += Counted(rejected, tr(", %1 file not listed"), tr(", %1 files not listed"));
    count_->setText(text);
}

void LibraryPane::SetShownLaps(const std::string& track, const std::string& config,
                               const std::vector<std::string>& paths) {
    shownPaths_ = paths;
    if (track == shownTrack_ && config == shownConfig_) return;
    shownTrack_ = track;
    shownConfig_ = config;
    filter_->SetLoadedTrack(track, config);
    UpdateCount();
}

std::vector<std::string> LibraryPane::SelectedPaths() const {
    QModelIndexList rows = lapView_->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    std::vector<std::string> out;
    for (const QModelIndex& index : rows) out.push_back(model_->Lap(filter_->mapToSource(index).row()).path);
    return out;
}

void LibraryPane::OpenSelected() {
    const std::vector<std::string> paths = SelectedPaths();
    if (!paths.empty()) emit openLaps(paths);
}

void LibraryPane::AddSelected() {
    const std::vector<std::string> chosen = SelectedPaths();
    if (chosen.empty()) return;
    const std::vector<std::string> paths = LapsNotShown(chosen, shownPaths_);
    if (paths.empty()) {
        emit statusMessage(chosen.size() == 1 ? tr("That lap is shown already.") : tr("Those laps are shown already."), 5000);
        return;
    }
    emit addLaps(paths);
}

void LibraryPane::OpenFirst(const LapEntry& lap) {
    const bool sameTrack = lap.track == shownTrack_ && lap.config == shownConfig_;
    emit openLaps(LapsWithFirst(lap.path, shownPaths_, sameTrack));
}

QMenu* LibraryPane::ContextMenuFor(const QModelIndex& index) {
    auto* menu = new QMenu(this);
    QItemSelectionModel* selection = lapView_->selectionModel();
    // A right click on a lap outside the chosen ones chooses it alone, as file managers do.
    if (index.isValid() && !selection->isRowSelected(index.row(), index.parent())) {
        selection->select(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        selection->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    }
    QAction* open = menu->addAction(tr("&Open"), this, &LibraryPane::OpenSelected);
    open->setObjectName(QStringLiteral("libraryOpen"));
    QFont bold = open->font();
    bold.setBold(true);
    open->setFont(bold);
    QAction* add = menu->addAction(tr("&Add to comparison"), this, &LibraryPane::AddSelected);
    add->setObjectName(QStringLiteral("libraryAdd"));
    QAction* first = menu->addAction(tr("Open with this lap &first"));
    first->setObjectName(QStringLiteral("libraryOpenFirst"));
    if (index.isValid()) {
        const LapEntry lap = model_->Lap(filter_->mapToSource(index).row());
        connect(first, &QAction::triggered, this, [this, lap] { OpenFirst(lap); });
    }
    const bool any = index.isValid() || selection->hasSelection();
    open->setEnabled(any);
    add->setEnabled(any);
    first->setEnabled(index.isValid());
    return menu;
}

bool LibraryPane::eventFilter(QObject* watched, QEvent* event) {
    if (watched == lapView_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            OpenSelected();
            return true;
        }
    }
    return QDockWidget::eventFilter(watched, event);
}

}  // namespace lapquill
