// The open dialog of Open Replay(s) and Add Replay(s): its title, its filters and the folder it
// starts in, which is data/raf below the current folder when there is one, else the folder the
// last chosen replays came from, else home. The folder is always one that exists, so the dialog
// never turns a missing path into text in its name field.
#pragma once

#include <QString>
#include <QStringList>

#include "view/view_window.h"

class QWidget;

namespace lapquill {

struct ReplayDialogSetup {
    QString title;
    QString directory;      // absolute, existing
    QStringList filters;    // the replay filter first, then all files
};

// lastFolder is what the settings remember (may be empty or gone).
ReplayDialogSetup MakeReplayDialogSetup(bool adding, const OpenReplayDialog& dialog,
                                        const QString& lastFolder);

// The folder remembered after the last confirmed dialog, from the settings store.
QString LastReplayFolder();

// Runs the dialog modally over parent and remembers the folder of a confirmed choice. Returns
// the chosen files' absolute paths, or nothing when cancelled.
QStringList RunReplayDialog(QWidget* parent, bool adding, const OpenReplayDialog& dialog);

}  // namespace lapquill
