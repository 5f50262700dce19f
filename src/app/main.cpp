// The Lapquill desktop program. Replay files named on the command line open as if chosen in
// File > Open Replay(s), which is also how a file manager opens a double-clicked lap. --help
// and --version print and exit before any window (or display) is needed.
#include <QApplication>
#include <QFileInfo>
#include <cstdio>
#include <string>
#include <vector>

#include "app/analyzer_app.h"
#include "app/command_line.h"

int main(int argc, char** argv) {
    const lapquill::CommandLine line =
        lapquill::ParseCommandLine(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
    if (line.printAndExit) {
        std::fputs(line.output.c_str(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }

    QApplication qt(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Lapquill"));
    QApplication::setApplicationVersion(QString::fromLatin1(lapquill::kProgramVersion));
    QApplication::setOrganizationName(QStringLiteral("Harrowmere"));
    QApplication::setApplicationDisplayName(QStringLiteral("Lapquill"));
    QApplication::setDesktopFileName(QStringLiteral("lapquill"));

    std::vector<std::string> replays;
    for (const std::string& arg : line.replays) {
        replays.push_back(QFileInfo(QString::fromLocal8Bit(arg.c_str())).absoluteFilePath().toStdString());
    }

    lapquill::CAnalyzerApp app(QFileInfo(QString::fromLocal8Bit(argv[0])).fileName().toStdString());
    if (!app.InitInstance(replays)) return 1;
    const int code = QApplication::exec();
    return app.ExitInstance(code);
}
