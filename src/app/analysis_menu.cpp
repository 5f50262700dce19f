// The Analysis menu. See analysis_menu.h.
#include "app/analysis_menu.h"

#include <QAction>
#include <QActionGroup>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>

#include "app/view_widget.h"
#include "view/analysis_view.h"

namespace lapquill {

namespace {

struct ColouringItem {
    const char* text;
    const char* prompt;
    RibbonColouring colouring;
};

constexpr ColouringItem kColourings[] = {
    {"By &Lap", "Colour each lap's path in its own colour", RibbonColouring::ByLap},
    {"By &Speed", "Colour the paths by speed, from dark violet (slow) to yellow (fast)",
     RibbonColouring::BySpeed},
    {"By &Throttle and Brake", "Colour the paths green on the throttle and red on the brake",
     RibbonColouring::ByPedals},
    {"By &Delta", "Colour the paths green where a lap gains on the reference lap and red where it loses",
     RibbonColouring::ByDelta},
};

}  // namespace

AnalysisMenu::AnalysisMenu(QMainWindow* frame, CViewWidget* view) : QObject(frame), view_(view) {
    menu_ = frame->menuBar()->addMenu(QStringLiteral("A&nalysis"));

    // W is free among the first program's keys; the action's shortcut reaches it from anywhere
    // in the window.
    wholeTrack_ = menu_->addAction(QStringLiteral("&Whole Track"));
    wholeTrack_->setShortcut(QKeySequence(Qt::Key_W));
    wholeTrack_->setStatusTip(QStringLiteral("Show the whole circuit from above"));
    connect(wholeTrack_, &QAction::triggered, this, [this] {
        view_->View().FrameWholeTrack();
        view_->viewport()->update();
    });

    menu_->addSeparator();
    QMenu* colouring = menu_->addMenu(QStringLiteral("Path &Colouring"));
    colourings_ = new QActionGroup(this);
    colourings_->setExclusive(true);
    for (const ColouringItem& item : kColourings) {
        QAction* a = colouring->addAction(QString::fromUtf8(item.text));
        a->setCheckable(true);
        a->setStatusTip(QString::fromUtf8(item.prompt));
        colourings_->addAction(a);
        const RibbonColouring c = item.colouring;
        connect(a, &QAction::triggered, this, [this, c] {
            view_->View().SetRibbonColouring(c);
            view_->viewport()->update();
        });
    }
    connect(menu_, &QMenu::aboutToShow, this, &AnalysisMenu::SyncChecks);
    connect(colouring, &QMenu::aboutToShow, this, &AnalysisMenu::SyncChecks);
    SyncChecks();
}

QAction* AnalysisMenu::Colouring(int index) const {
    const QList<QAction*> all = colourings_->actions();
    return index >= 0 && index < all.size() ? all[index] : nullptr;
}

void AnalysisMenu::SyncChecks() {
    const RibbonColouring now = view_->View().RibbonColouringNow();
    const QList<QAction*> all = colourings_->actions();
    for (int i = 0; i < all.size(); ++i) {
        all[i]->setChecked(kColourings[i].colouring == now);
    }
}

}  // namespace lapquill
