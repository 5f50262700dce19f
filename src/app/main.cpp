// The Lapquill desktop program. Replay files named on the command line open as if chosen in
// File > Open Replay(s), which is also how a file manager opens a double-clicked lap.
#include <QApplication>
#include <QFileInfo>
#include <string>
#include <vector>

#include "app/analyzer_app.h"

int main(int argc, char** argv) {
    QApplication qt(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Lapquill"));
    QApplication::setOrganizationName(QStringLiteral("Harrowmere"));
    QApplication::setApplicationDisplayName(QStringLiteral("Lapquill"));
    QApplication::setDesktopFileName(QStringLiteral("lapquill"));

    std::vector<std::string> replays;
    for (const QString& arg : QApplication::arguments().mid(1)) {
        if (arg.endsWith(QStringLiteral(".raf"), Qt::CaseInsensitive)) {
            replays.push_back(QFileInfo(arg).absoluteFilePath().toStdString());
        }
    }

    lapquill::CAnalyzerApp app(QFileInfo(QString::fromLocal8Bit(argv[0])).fileName().toStdString());
    if (!app.InitInstance(replays)) return 1;
    const int code = QApplication::exec();
    return app.ExitInstance(code);
}
