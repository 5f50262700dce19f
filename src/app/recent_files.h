// File > Open Recent: the last ten replay files opened, newest first, kept in the settings
// store so that they survive the program. Files that no longer exist leave the list when the
// menu opens, and the menu says how many went.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class QMenu;

namespace lapquill {

inline constexpr int kRecentFileCount = 10;

// The list itself, read from and written to the settings store on every call.
QStringList RecentFiles();
// Puts each path at the front in turn (so the last one given ends first), without duplicates,
// keeping the newest ten.
void AddRecentFiles(const QStringList& paths);
void RemoveRecentFile(const QString& path);
void ClearRecentFiles();
// Drops the entries that are no longer regular files; returns them.
QStringList RemoveMissingRecentFiles();

// The submenu. It is rebuilt each time it opens; choosing an entry emits openRequested.
class RecentMenu : public QObject {
    Q_OBJECT
public:
    RecentMenu(QMenu* menu, QObject* parent);
    QMenu* Menu() const { return menu_; }
    // Rebuilds the entries (done before the menu shows); returns the files it removed.
    QStringList Rebuild();

signals:
    void openRequested(const QString& path);
    // Files found missing and removed, for the status bar.
    void missingRemoved(const QStringList& paths);

private:
    QMenu* menu_;
};

// "2 replay files no longer exist and were removed from the recent list: a.raf, b.raf"
QString MissingRecentNote(const QStringList& removed);

}  // namespace lapquill
