// The Analysis menu: what the program offers beyond the first program's menus, added after
// them. It owns nothing but its actions (parented to the frame) and talks to the map view.
// CMainFrame builds it once, after its own menus.
#pragma once

#include <QObject>

class QAction;
class QActionGroup;
class QMainWindow;
class QMenu;

namespace lapquill {

class CViewWidget;

class AnalysisMenu : public QObject {
    Q_OBJECT
public:
    AnalysisMenu(QMainWindow* frame, CViewWidget* view);

    QMenu* Menu() const { return menu_; }
    QAction* WholeTrack() const { return wholeTrack_; }
    // The colouring actions in the order lap, speed, pedals.
    QAction* Colouring(int index) const;

private:
    void SyncChecks();

    CViewWidget* view_;
    QMenu* menu_ = nullptr;
    QAction* wholeTrack_ = nullptr;
    QActionGroup* colourings_ = nullptr;
};

}  // namespace lapquill
