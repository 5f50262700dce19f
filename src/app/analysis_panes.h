// AnalysisPanes: the Traces and Sections docks beside the map, the comparison they show, the
// reference lap it is measured against, and the exports. It adds its items to the Analysis menu
// (pane toggles, Reference Lap, Export) and keeps the panes in step with the map view: a new
// replay set or new units rebuild the comparison; every frame moves the traces' cursor to the
// reference lap's place at the playback time; Page Up and Page Down zoom the traces to the
// segment they select. A click on a trace moves the playback time, a click on a section selects
// its segment. The frame creates it once, after the Analysis menu.
#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "analysis/stats_text.h"

class QAction;
class QActionGroup;
class QDockWidget;
class QIODevice;
class QMainWindow;
class QMenu;

namespace lapquill {

class CViewWidget;
class SectionsPane;
class TracesPane;
struct AppSettings;
struct Comparison;

class AnalysisPanes : public QObject {
    Q_OBJECT
public:
    AnalysisPanes(QMainWindow* frame, CViewWidget* view, AppSettings* settings, QMenu* menu);
    ~AnalysisPanes() override;

    QDockWidget* TracesDock() const { return tracesDock_; }
    QDockWidget* SectionsDock() const { return sectionsDock_; }
    TracesPane& Traces() const { return *traces_; }
    SectionsPane& Sections() const { return *sections_; }
    // The comparison shown, or null while no lap is open.
    const Comparison* Shown() const { return cmp_.get(); }

    // The reference: a slot, or kFastestReference. A slot no lap holds falls back to slot 0.
    void SetReference(std::int32_t request);
    std::int32_t ReferenceRequest() const { return request_; }
    // Catches up with the view now (the panes also do after every frame).
    void Refresh();

    // The exports, to a chosen file; false (with a message box giving the reason) when writing
    // failed, false without one when the user cancelled or nothing is open.
    enum class Export { ComparisonCsv, MapPng, TracesPng, SectionsCsv };
    bool ExportTo(Export what, const QString& path);
    bool RunExport(Export what);
    QAction* ExportAction(Export what) const;
    QMenu* ReferenceMenu() const { return referenceMenu_; }
    // Answers the save dialog instead of the user (tests): given the suggested path and the
    // filter, returns the chosen path or an empty string for a cancel.
    void SetSaveChooser(std::function<QString(const QString&, const QString&)> chooser) {
        chooser_ = std::move(chooser);
    }
    QString SuggestedFileName(Export what) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FirstLayout();
    void Rebuild();
    void OnFrame();
    void OnKey(std::uint32_t virtualKey);
    void OnScrub(double x);
    void OnSection(std::size_t section);
    void FillReferenceMenu();
    void UpdateTitles();
    // The pane toggles' menu texts, which a dock resets to its title whenever that changes.
    void NameToggles();
    bool WriteFile(const QString& path, const std::function<bool(QIODevice&)>& write);

    QMainWindow* frame_;
    CViewWidget* view_;
    AppSettings* settings_;
    QDockWidget* tracesDock_ = nullptr;
    QDockWidget* sectionsDock_ = nullptr;
    TracesPane* traces_ = nullptr;
    SectionsPane* sections_ = nullptr;
    QAction* exports_[4] = {};
    std::function<QString(const QString&, const QString&)> chooser_;

    std::unique_ptr<Comparison> cmp_;
    // The reference lap asked for (a slot, or kFastestReference) and the menu that chooses it.
    std::int32_t request_ = 0;
    QMenu* referenceMenu_ = nullptr;
    QActionGroup* referenceGroup_ = nullptr;
    std::uint64_t version_ = ~std::uint64_t{0};  // the view's set version the comparison is of
    DisplayUnits units_;
    bool firstLayout_ = false;  // no saved layout: size the docks when the frame first shows
};

}  // namespace lapquill
