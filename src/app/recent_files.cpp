#include "app/recent_files.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QSettings>

namespace lapquill {

namespace {

constexpr const char* kRecentKey = "Recent files";

void StoreRecentFiles(const QStringList& files) {
    QSettings store(QStringLiteral("Harrowmere"), QStringLiteral("Lapquill"));
    if (files.isEmpty()) {
        store.remove(QLatin1String(kRecentKey));
    } else {
        store.setValue(QLatin1String(kRecentKey), files);
    }
}

}  // namespace

QStringList RecentFiles() {
    QStringList files =
        QSettings(QStringLiteral("Harrowmere"), QStringLiteral("Lapquill")).value(QLatin1String(kRecentKey)).toStringList();
    files.removeAll(QString());
    while (files.size() > kRecentFileCount) files.removeLast();
    return files;
}

void AddRecentFiles(const QStringList& paths) {
    QStringList files = RecentFiles();
    for (const QString& path : paths) {
        if (path.isEmpty()) continue;
        const QString absolute = QFileInfo(path).absoluteFilePath();
        files.removeAll(absolute);
        files.prepend(absolute);
    }
    while (files.size() > kRecentFileCount) files.removeLast();
    StoreRecentFiles(files);
}

void RemoveRecentFile(const QString& path) {
    QStringList files = RecentFiles();
    files.removeAll(path);
    StoreRecentFiles(files);
}

void ClearRecentFiles() { StoreRecentFiles({}); }

QStringList RemoveMissingRecentFiles() {
    QStringList kept, removed;
    for (const QString& f : RecentFiles()) {
        (QFileInfo(f).isFile() ? kept : removed).push_back(f);
    }
    if (!removed.isEmpty()) StoreRecentFiles(kept);
    return removed;
}

QString MissingRecentNote(const QStringList& removed) {
    QStringList names;
    for (const QString& f : removed) names.push_back(QFileInfo(f).fileName());
    return removed.size() == 1
               ? QObject::tr("%1 no longer exists and was removed from the recent list")
                     .arg(names.front())
               : QObject::tr("%1 replay files no longer exist and were removed from the recent list: %2")
                     .arg(removed.size())
                     .arg(names.join(QStringLiteral(", ")));
}

RecentMenu::RecentMenu(QMenu* menu, QObject* parent) : QObject(parent), menu_(menu) {
    menu_->setObjectName(QStringLiteral("recentMenu"));
    connect(menu_, &QMenu::aboutToShow, this, [this] { Rebuild(); });
}

QStringList RecentMenu::Rebuild() {
    menu_->clear();
    const QStringList removed = RemoveMissingRecentFiles();
    if (!removed.isEmpty()) {
        // The note stays in the menu while it is open; the status bar shows it too.
        QAction* note = menu_->addAction(MissingRecentNote(removed));
        note->setEnabled(false);
        menu_->addSeparator();
        emit missingRemoved(removed);
    }
    const QStringList files = RecentFiles();
    int number = 1;
    for (const QString& f : files) {
        // Numbered for the keyboard (1 .. 9, then 0); the full path is the status prompt.
        const QString name = QFileInfo(f).fileName().replace(QLatin1Char('&'), QStringLiteral("&&"));
        const QString text = number <= 9 ? QStringLiteral("&%1 %2").arg(number).arg(name)
                                         : QStringLiteral("1&0 %1").arg(name);
        QAction* a = menu_->addAction(text);
        a->setData(f);
        a->setStatusTip(QDir::toNativeSeparators(f));
        connect(a, &QAction::triggered, this, [this, f] { emit openRequested(f); });
        ++number;
    }
    if (files.isEmpty()) {
        menu_->addAction(tr("(No recent replays)"))->setEnabled(false);
    } else {
        menu_->addSeparator();
        QAction* clear = menu_->addAction(tr("&Clear List"));
        clear->setObjectName(QStringLiteral("clearRecent"));
        connect(clear, &QAction::triggered, this, [] { ClearRecentFiles(); });
    }
    return removed;
}

}  // namespace lapquill
