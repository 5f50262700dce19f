#include "app/analyzer_app.h"

#include <algorithm>

#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>

#include "app/dialogs.h"
#include "app/library_pane.h"
#include "app/main_frame.h"
#include "app/view_widget.h"

namespace lapquill {

CAnalyzerApp::CAnalyzerApp(std::string executablePath) : executablePath_(std::move(executablePath)) {}

CAnalyzerApp::~CAnalyzerApp() = default;

bool CAnalyzerApp::InitInstance(const std::vector<std::string>& replayFiles) {
    {
        QSettings store(QStringLiteral("Harrowmere"), QStringLiteral("Lapquill"));
        ReadSettings(store, &settings_);
    }
    ApplyOptionsFile(OptionsFileName(executablePath_), &settings_);

    frame_ = std::make_unique<CMainFrame>(&settings_);
    connect(frame_.get(), &CMainFrame::preferencesRequested, this, &CAnalyzerApp::OnPreferences);
    connect(frame_.get(), &CMainFrame::aboutRequested, this, &CAnalyzerApp::OnAbout);

    QSettings store(QStringLiteral("Harrowmere"), QStringLiteral("Lapquill"));
    const QByteArray geometry = store.value(QStringLiteral("Window geometry")).toByteArray();
    if (geometry.isEmpty() || !frame_->restoreGeometry(geometry)) {
        // First start: most of the screen, centred; on a small screen (or a large one at a
        // high scale) all of it, up to 1280 x 800, so the map and the panes have room.
        const QRect screen = QGuiApplication::primaryScreen()
                                 ? QGuiApplication::primaryScreen()->availableGeometry()
                                 : QRect(0, 0, 1280, 800);
        frame_->resize(std::max(screen.width() * 4 / 5, std::min(screen.width(), 1280)),
                       std::max(screen.height() * 4 / 5, std::min(screen.height(), 800)));
        frame_->move(screen.center() - frame_->rect().center());
    }
    frame_->restoreState(store.value(QStringLiteral("Window state")).toByteArray());
    frame_->show();
    if (!replayFiles.empty()) frame_->OpenFiles(replayFiles, true);
    // The library rescans its folders on its own thread; the window is usable meanwhile.
    frame_->Library().OpenLibrary(QFile::decodeName(QByteArray::fromStdString(DefaultLibraryPath())));
    return true;
}

int CAnalyzerApp::ExitInstance(int code) {
    frame_.reset();  // the view releases its device and replays first
    QSettings store(QStringLiteral("Harrowmere"), QStringLiteral("Lapquill"));
    WriteSettings(store, settings_);
    return code;
}

void CAnalyzerApp::OnPreferences() {
    CPreferencesDialog dialog(&settings_, frame_.get());
    dialog.exec();
    frame_->View().viewport()->update();
    frame_->ReturnFocusToMap();
}

void CAnalyzerApp::OnAbout() {
    CAboutDialog dialog(frame_.get());
    dialog.exec();
    frame_->ReturnFocusToMap();
}

}  // namespace lapquill
