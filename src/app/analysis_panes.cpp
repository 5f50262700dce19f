// The analysis panes and their menu items. See analysis_panes.h.
#include "app/analysis_panes.h"

#include <QAction>
#include <QActionGroup>
#include <QDir>
#include <QDockWidget>
#include <QEvent>
#include <QFileDialog>
#include <QMainWindow>
#include <QMenu>
#include <QSaveFile>
#include <QSettings>
#include <QTimer>
#include <qcustomplot.h>
#include <sstream>

#include "app/app_settings.h"
#include "app/sections_pane.h"
#include "app/traces_pane.h"
#include "app/view_widget.h"
#include "compare/compare.h"
#include "compare/export_table.h"
#include "compare/lap_traces.h"
#include "compare/section_table.h"
#include "files/text_encoding.h"
#include "view/analysis_view.h"

namespace lapquill {

namespace {

struct ExportItem {
    const char* text;
    const char* prompt;
    const char* shortcut;
    const char* suffix;  // of the suggested name
    const char* filter;
};

// In the order of AnalysisPanes::Export.
constexpr ExportItem kExports[] = {
    {"Export &Comparison (CSV)...",
     "Save every lap's time, delta and channels along the reference lap's distance as CSV",
     "Ctrl+E", ".csv", "CSV files (*.csv)"},
    {"Export &Map Image (PNG)...", "Save the map as it is shown as a PNG image", "Ctrl+Shift+M",
     " map.png", "PNG images (*.png)"},
    {"Export &Traces Image (PNG)...", "Save the traces as they are shown as a PNG image",
     "Ctrl+Shift+T", " traces.png", "PNG images (*.png)"},
    {"Export &Sections (CSV)...", "Save the section table as CSV", "Ctrl+Shift+E",
     " sections.csv", "CSV files (*.csv)"},
};

// A segment shown in the traces gets this share of its length before and after it, so that its
// boundaries and the car at its start are not on the plot's edge.
constexpr double kSegmentMargin = 0.03;
constexpr double kExportStep = 1.0;  // m, the comparison CSV's step, as lapquill-cli export's

// The first start's layout: percentages of the window, and the narrowest window (in its own
// pixels) that shows the library beside the map rather than in a tab behind the sections.
constexpr int kLibraryShare = 22;
constexpr int kPanesHeightShare = 46;
constexpr int kLibraryBesideWidth = 1100;

QString ToQString(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

AnalysisPanes::AnalysisPanes(QMainWindow* frame, CViewWidget* view, AppSettings* settings,
                             QMenu* menu)
    : QObject(frame), frame_(frame), view_(view), settings_(settings) {
    traces_ = new TracesPane;
    sections_ = new SectionsPane;
    tracesDock_ = new QDockWidget(tr("Traces"), frame);
    tracesDock_->setObjectName(QStringLiteral("TracesDock"));
    tracesDock_->setWidget(traces_);
    sectionsDock_ = new QDockWidget(tr("Sections"), frame);
    sectionsDock_->setObjectName(QStringLiteral("SectionsDock"));
    sectionsDock_->setWidget(sections_);
    frame->addDockWidget(Qt::BottomDockWidgetArea, tracesDock_);
    frame->splitDockWidget(tracesDock_, sectionsDock_, Qt::Horizontal);
    // On a first start (no saved layout to restore) the panes take two fifths of the window's
    // height once it is shown with its size, the traces two thirds of their width.
    firstLayout_ = !QSettings(QStringLiteral("Harrowmere"), QStringLiteral("Lapquill"))
                        .contains(QStringLiteral("Window state"));
    frame->installEventFilter(this);

    menu->addSeparator();
    QAction* showTraces = tracesDock_->toggleViewAction();
    showTraces->setStatusTip(tr("Show or hide the traces of every lap against distance"));
    menu->addAction(showTraces);
    QAction* showSections = sectionsDock_->toggleViewAction();
    showSections->setStatusTip(tr("Show or hide the time of every lap in each section"));
    menu->addAction(showSections);
    NameToggles();

    referenceMenu_ = menu->addMenu(tr("&Reference Lap"));
    referenceMenu_->menuAction()->setStatusTip(
        tr("Choose the lap the traces, the sections and the delta colouring measure against"));
    referenceGroup_ = new QActionGroup(this);
    referenceGroup_->setExclusive(true);
    connect(referenceMenu_, &QMenu::aboutToShow, this, &AnalysisPanes::FillReferenceMenu);
    FillReferenceMenu();

    menu->addSeparator();
    QMenu* exportMenu = menu->addMenu(tr("E&xport"));
    for (std::size_t i = 0; i < std::size(kExports); ++i) {
        QAction* a = exportMenu->addAction(tr(kExports[i].text));
        a->setStatusTip(tr(kExports[i].prompt));
        a->setShortcut(QKeySequence(QString::fromLatin1(kExports[i].shortcut)));
        const auto what = static_cast<Export>(i);
        connect(a, &QAction::triggered, this, [this, what] { RunExport(what); });
        exports_[i] = a;
    }
    connect(exportMenu, &QMenu::aboutToShow, this, [this] {
        for (QAction* a : exports_) a->setEnabled(cmp_ != nullptr);
    });

    // Queued: the frame is announced from inside the map's paint event, and the panes must not
    // replot or refill while the window is being painted.
    connect(view_, &CViewWidget::frameShown, this, &AnalysisPanes::OnFrame, Qt::QueuedConnection);
    connect(view_, &CViewWidget::keyApplied, this, &AnalysisPanes::OnKey);
    connect(view_, &CViewWidget::replaysChanging, this, [this] {
        // The comparison points into the replays about to change: let it go before they do.
        traces_->SetComparison(nullptr, {}, units_);
        sections_->SetComparison(nullptr, {}, units_);
        cmp_.reset();
        version_ = ~std::uint64_t{0};
        QTimer::singleShot(0, this, &AnalysisPanes::Refresh);
    });
    connect(traces_, &TracesPane::scrubbed, this, &AnalysisPanes::OnScrub);
    connect(sections_, &SectionsPane::sectionChosen, this, &AnalysisPanes::OnSection);
    UpdateTitles();
}

AnalysisPanes::~AnalysisPanes() = default;

bool AnalysisPanes::eventFilter(QObject* watched, QEvent* event) {
    if (watched == frame_ && event->type() == QEvent::Show && firstLayout_) {
        firstLayout_ = false;
        QTimer::singleShot(0, this, [this] { FirstLayout(); });
    }
    return QObject::eventFilter(watched, event);
}

void AnalysisPanes::FirstLayout() {
    // The map keeps the largest share. The library takes a fifth of the width at the left,
    // from the toolbar to the status bar; on a window too narrow for it beside plots of a
    // useful width it waits in a tab behind the sections. The panes take a little under
    // half the height, the traces seven tenths of the width they share with the sections.
    auto* library = frame_->findChild<QDockWidget*>(QStringLiteral("LibraryDock"));
    int shared = frame_->width();
    if (library && frame_->dockWidgetArea(library) == Qt::LeftDockWidgetArea) {
        if (frame_->width() >= kLibraryBesideWidth) {
            const int width = frame_->width() * kLibraryShare / 100;
            frame_->resizeDocks({library}, {width}, Qt::Horizontal);
            shared -= width;
        } else {
            frame_->tabifyDockWidget(sectionsDock_, library);
            sectionsDock_->raise();
        }
    }
    const int height = frame_->height() * kPanesHeightShare / 100;
    frame_->resizeDocks({tracesDock_, sectionsDock_}, {height, height}, Qt::Vertical);
    frame_->resizeDocks({tracesDock_, sectionsDock_}, {shared * 7 / 10, shared * 3 / 10},
                        Qt::Horizontal);
}

void AnalysisPanes::SetReference(std::int32_t request) {
    if (request == request_) return;
    request_ = request;
    Rebuild();
}

void AnalysisPanes::Refresh() {
    const CAnalysisView& v = view_->View();
    const DisplayUnits& u = settings_->units;
    const bool unitsChanged = u.distanceUnit != units_.distanceUnit ||
                              u.speedUnit != units_.speedUnit;
    if (v.ReplaySetVersion() != version_ || unitsChanged) {
        Rebuild();
        return;
    }
    if (!cmp_) return;
    traces_->SetCursor(ReferenceDistanceAt(*cmp_, v.Segments(), v.Playback().syncMode,
                                           v.Playback().playbackTime));
}

void AnalysisPanes::OnFrame() { Refresh(); }

void AnalysisPanes::Rebuild() {
    const CAnalysisView& v = view_->View();
    units_ = settings_->units;
    version_ = v.ReplaySetVersion();
    traces_->SetComparison(nullptr, {}, units_);
    sections_->SetComparison(nullptr, {}, units_);
    cmp_.reset();
    if (v.ReplayCount() > 0) {
        // A slot no loaded lap holds (the set was replaced by a smaller one) means slot 0.
        std::int32_t reference = request_;
        if (reference != kFastestReference && (reference < 0 || reference >= v.ReplayCount())) {
            reference = 0;
        }
        cmp_ = std::make_unique<Comparison>(CompareLaps(v.Replays(), CompareOptions{reference}));
        if (cmp_->Empty()) cmp_.reset();
    }
    if (cmp_) {
        view_->View().SetComparisonReference(cmp_->laps[static_cast<std::size_t>(cmp_->reference)].slot);
        const auto& colours = v.Overlay().replayColours;
        const std::span<const std::uint32_t> slotColours(colours.data(), colours.size());
        traces_->SetComparison(cmp_.get(), slotColours, units_);
        sections_->SetComparison(cmp_.get(), slotColours, units_);
        traces_->SetCursor(ReferenceDistanceAt(*cmp_, v.Segments(), v.Playback().syncMode,
                                               v.Playback().playbackTime));
    }
    UpdateTitles();
}

void AnalysisPanes::UpdateTitles() {
    if (!cmp_) {
        tracesDock_->setWindowTitle(tr("Traces"));
        sectionsDock_->setWindowTitle(tr("Sections"));
        NameToggles();
        return;
    }
    const QString ref = ToQString(cmp_->laps[static_cast<std::size_t>(cmp_->reference)].title);
    tracesDock_->setWindowTitle(tr("Traces against %1").arg(ref));
    sectionsDock_->setWindowTitle(tr("Sections against %1").arg(ref));
    // A dock names its menu toggle after its title; the menu keeps its own short names.
    NameToggles();
}

void AnalysisPanes::NameToggles() {
    tracesDock_->toggleViewAction()->setText(tr("T&races Pane"));
    sectionsDock_->toggleViewAction()->setText(tr("S&ections Pane"));
}

void AnalysisPanes::FillReferenceMenu() {
    referenceMenu_->clear();
    for (QAction* a : referenceGroup_->actions()) referenceGroup_->removeAction(a);
    const CAnalysisView& v = view_->View();
    const auto add = [this](const QString& text, const QString& tip, std::int32_t request) {
        QAction* a = referenceMenu_->addAction(text);
        a->setCheckable(true);
        a->setStatusTip(tip);
        a->setData(request);
        a->setChecked(request == request_ ||
                      (request == 0 && request_ >= view_->ReplayCount() && request_ != kFastestReference));
        referenceGroup_->addAction(a);
        connect(a, &QAction::triggered, this, [this, request] { SetReference(request); });
    };
    add(tr("&Fastest Lap"), tr("Measure against the lap with the smallest lap time"),
        kFastestReference);
    referenceMenu_->addSeparator();
    for (std::int32_t i = 0; i < v.ReplayCount(); ++i) {
        const QString title = ToQString(v.Replays().replayTitles[static_cast<std::size_t>(i)]);
        add(QStringLiteral("&%1 %2").arg(i + 1).arg(title),
            tr("Measure against %1").arg(title), i);
    }
    if (v.ReplayCount() == 0) {
        QAction* none = referenceMenu_->addAction(tr("(no laps open)"));
        none->setEnabled(false);
    }
}

void AnalysisPanes::OnKey(std::uint32_t virtualKey) {
    if (!cmp_ || (virtualKey != VK_PRIOR && virtualKey != VK_NEXT)) return;
    const CAnalysisView& v = view_->View();
    traces_->ShowRange(PaddedWithin(
        SegmentDistanceRange(*cmp_, v.Segments(), v.Segments().currentSegment), kSegmentMargin,
        WholeLapRange(*cmp_)));
    sections_->MarkSection(SectionOfSegment(*cmp_, v.Segments().currentSegment,
                                            v.Replays().segmentMarkerDistances));
    Refresh();
}

void AnalysisPanes::OnScrub(double x) {
    if (!cmp_) return;
    CAnalysisView& v = view_->View();
    v.SetPlaybackTime(PlaybackTimeAtDistance(*cmp_, v.Segments(), v.Playback().syncMode, x));
    view_->viewport()->update();
    Refresh();
}

void AnalysisPanes::OnSection(std::size_t section) {
    if (!cmp_ || section >= cmp_->sections.size()) return;
    CAnalysisView& v = view_->View();
    const ComparedSection& sec = cmp_->sections[section];
    const std::optional<std::int32_t> marker =
        SectionMarker(*cmp_, section, v.Replays().segmentMarkerDistances);
    if (marker) {
        v.SelectSegment(*marker);
    } else {
        // Before the first marker there is no track segment to select: go to its start.
        v.SetPlaybackTime(PlaybackTimeAtDistance(*cmp_, v.Segments(), v.Playback().syncMode, sec.start));
    }
    traces_->ShowRange(PaddedWithin({sec.start, sec.end}, kSegmentMargin, WholeLapRange(*cmp_)));
    view_->viewport()->update();
    Refresh();
}

QString AnalysisPanes::SuggestedFileName(Export what) const {
    const ReplaySet& set = view_->View().Replays();
    std::string track, config;
    if (set.replayCount > 0) {
        track = DecodeWindows1252(set.replays[0].header.TrackName());
        config = DecodeWindows1252(set.replays[0].header.TrackConfig());
    }
    const std::string stem = ExportFileStem(
        track, config, {set.replayTitles.data(), static_cast<std::size_t>(std::max(set.replayCount, 0))});
    const ExportItem& item = kExports[static_cast<std::size_t>(what)];
    return ToQString(stem) + QString::fromLatin1(item.suffix);
}

QAction* AnalysisPanes::ExportAction(Export what) const {
    return exports_[static_cast<std::size_t>(what)];
}

bool AnalysisPanes::RunExport(Export what) {
    if (!cmp_) return false;
    const ExportItem& item = kExports[static_cast<std::size_t>(what)];
    const QString suggested = QDir::home().filePath(SuggestedFileName(what));
    const QString filter = tr(item.filter);
    const QString path = chooser_ ? chooser_(suggested, filter)
                                  : QFileDialog::getSaveFileName(frame_, tr("Export"), suggested, filter);
    view_->setFocus();
    if (path.isEmpty()) return false;
    return ExportTo(what, path);
}

bool AnalysisPanes::WriteFile(const QString& path, const std::function<bool(QIODevice&)>& write) {
    // Written beside the target and renamed over it at the end, so a failure never leaves a
    // half-written file in place of a good one.
    QSaveFile file(path);
    QString reason;
    if (!file.open(QIODevice::WriteOnly)) {
        reason = file.errorString();
    } else if (!write(file)) {
        reason = file.errorString().isEmpty() || file.error() == QFileDevice::NoError
                     ? tr("The data could not be encoded.")
                     : file.errorString();
        file.cancelWriting();
    } else if (!file.commit()) {
        reason = file.errorString();
    }
    if (reason.isEmpty()) return true;
    view_->MessageBoxWithDetails(tr("Could not write %1.").arg(QDir::toNativeSeparators(path)).toStdString(),
                                 reason.toStdString());
    return false;
}

bool AnalysisPanes::ExportTo(Export what, const QString& path) {
    if (!cmp_) return false;
    switch (what) {
        case Export::ComparisonCsv:
        case Export::SectionsCsv: {
            std::ostringstream text;
            if (what == Export::ComparisonCsv) {
                WriteCsv(BuildExportTable(*cmp_, kExportStep), text);
            } else {
                WriteSectionCsv(*cmp_, text);
            }
            const std::string bytes = text.str();
            return WriteFile(path, [&bytes](QIODevice& f) {
                return f.write(bytes.data(), static_cast<qint64>(bytes.size())) ==
                       static_cast<qint64>(bytes.size());
            });
        }
        case Export::MapPng: {
            const QPixmap map = view_->viewport()->grab();
            return WriteFile(path, [&map](QIODevice& f) { return map.save(&f, "PNG"); });
        }
        case Export::TracesPng: {
            const QPixmap plot = traces_->Image();
            return WriteFile(path, [&plot](QIODevice& f) { return plot.save(&f, "PNG"); });
        }
    }
    return false;
}

}  // namespace lapquill
