#include "app/open_dialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QSettings>

namespace lapquill {

namespace {
constexpr const char* kLastFolderKey = "Last replay folder";
}  // namespace

ReplayDialogSetup MakeReplayDialogSetup(bool adding, const OpenReplayDialog& dialog,
                                        const QString& lastFolder) {
    ReplayDialogSetup setup;
    setup.title = adding ? QObject::tr("Add Replay(s)") : QObject::tr("Open Replay(s)");
    const QFileInfo initial(QString::fromStdString(dialog.initialDirectory));
    const QFileInfo last(lastFolder);
    if (initial.isDir()) {
        setup.directory = initial.absoluteFilePath();
    } else if (!lastFolder.isEmpty() && last.isDir()) {
        setup.directory = last.absoluteFilePath();
    } else {
        setup.directory = QDir::homePath();
    }
    setup.filters = {QObject::tr("QZR Replay files (*.raf)"), QObject::tr("All files (*)")};
    return setup;
}

QString LastReplayFolder() {
    return QSettings(QStringLiteral("Harrowmere"), QStringLiteral("Lapquill"))
        .value(QLatin1String(kLastFolderKey))
        .toString();
}

QStringList RunReplayDialog(QWidget* parent, bool adding, const OpenReplayDialog& dialog) {
    const ReplayDialogSetup setup = MakeReplayDialogSetup(adding, dialog, LastReplayFolder());
    QFileDialog box(parent, setup.title, setup.directory);
    box.setObjectName(QStringLiteral("replayDialog"));
    box.setAcceptMode(QFileDialog::AcceptOpen);
    box.setFileMode(dialog.allowMultiple ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    box.setNameFilters(setup.filters);
    box.setDefaultSuffix(QString::fromStdString(dialog.defaultExtension));
    if (box.exec() != QDialog::Accepted) return {};
    QStringList files;
    for (const QString& f : box.selectedFiles()) files.push_back(QFileInfo(f).absoluteFilePath());
    if (!files.isEmpty()) {
        QSettings(QStringLiteral("Harrowmere"), QStringLiteral("Lapquill"))
            .setValue(QLatin1String(kLastFolderKey), QFileInfo(files.front()).absolutePath());
    }
    return files;
}

}  // namespace lapquill
